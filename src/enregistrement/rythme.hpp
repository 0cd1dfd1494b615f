#pragma once
// Frame pacing of the recording: absolute deadlines from a fixed origin; a tick late by
// four periods or more resynchronises the frame index instead of bursting.
#include <chrono>
#include <cstdint>
#include <optional>

namespace enregistrement {

inline constexpr std::chrono::nanoseconds periode_image{33'333'333};
inline constexpr std::chrono::nanoseconds seuil_resynchronisation{133'333'333};

// Deadline of tick `indice`: origine + indice × period.
std::chrono::nanoseconds echeance(std::chrono::nanoseconds origine, std::uint64_t indice);

struct DecisionRythme {
    enum class Action { dormir, continuer, resynchroniser };
    Action action = Action::continuer;
    std::chrono::nanoseconds attente{0};  // for `dormir`
};

// What to do at tick `indice` at time `maintenant`: sleep until the deadline when it is
// later than now; otherwise go on, or resynchronise when late by the threshold or more.
DecisionRythme decider_rythme(std::chrono::nanoseconds origine, std::uint64_t indice,
                              std::chrono::nanoseconds maintenant);

// Whole periods elapsed since `origine` (0 when the clock reads earlier).
std::uint64_t indice_resynchronise(std::chrono::nanoseconds origine, std::chrono::nanoseconds maintenant);

}  // namespace enregistrement
