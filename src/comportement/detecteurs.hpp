#pragma once
// The seven detectors of the engine. Every one takes frames sorted by timestampMs.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "comportement/mod.hpp"

namespace comportement {

// An aim step faster than this (deg/s, strictly) counts as a reaction; fixed, not a threshold.
inline constexpr double kVitesseReactionDegParSec = 60.0;

// Frame k (k >= 1) is a reveal for reaction timing: frame k-1 not visible, frame k visible, with a
// targetId present (an empty one counts as present).
bool is_reaction_reveal(std::span<const TrameTelemetrie> frames, std::size_t k);

struct Reaction {
    std::size_t frameIndex = 0;  // the frame that reacts (the reveal itself possibly)
    EcartMs delayMs = 0;         // its time minus the reveal's
};

// First frame from `reveal` on, within `searchWindowMs`, whose incoming step is faster than
// kVitesseReactionDegParSec or which fires. `steps` are those of `frames` (steps[k-1] ends on frame k).
std::optional<Reaction> find_reaction(std::span<const TrameTelemetrie> frames, std::span<const AngularStep> steps,
                                      std::size_t reveal, std::int64_t searchWindowMs);

std::vector<Signal> detect_aim_snap(std::span<const TrameTelemetrie> frames, std::span<const AngularStep> steps,
                                    const EngineThresholds& seuils);
std::vector<Signal> detect_micro_correction(std::span<const TrameTelemetrie> frames, std::span<const AngularStep> steps,
                                            const EngineThresholds& seuils);
std::vector<Signal> detect_reaction_time(std::span<const TrameTelemetrie> frames, std::span<const AngularStep> steps,
                                         const EngineThresholds& seuils);
std::vector<Signal> detect_visible_tracking(std::span<const TrameTelemetrie> frames, const EngineThresholds& seuils);
std::vector<Signal> detect_pre_aim(std::span<const TrameTelemetrie> frames, const EngineThresholds& seuils);
std::vector<Signal> detect_occluded_tracking(std::span<const TrameTelemetrie> frames, const EngineThresholds& seuils);
std::vector<Signal> detect_visibility_shot_correlation(std::span<const TrameTelemetrie> frames,
                                                       const EngineThresholds& seuils);

// What the detectors read of one frame, packed: on a long match the engine's passes then stay in cache
// instead of streaming the full records again for every detector.
struct VueTrame {
    std::int64_t timestampMs = 0;
    double targetAngularErrorDeg = 0.0;
    double occludedTargetAngularErrorDeg = 0.0;
    double targetAngularSpeedDegPerSec = 0.0;
    std::uint8_t drapeaux = 0;  // VueTrame::kVisible | ...

    static constexpr std::uint8_t kVisible = 1;
    static constexpr std::uint8_t kOcculte = 2;
    static constexpr std::uint8_t kTir = 4;
    static constexpr std::uint8_t kTouche = 8;
    static constexpr std::uint8_t kTete = 16;
    static constexpr std::uint8_t kCible = 32;  // targetId present

    static VueTrame de(const TrameTelemetrie& t);
};

// The engine's detector passes in their fixed order, appended to `sortie`. `vues[i]` describes `frames[i]`;
// the first pass (AimSnap, MicroCorrection, ReactionTime, VisibleTracking) runs only with 3 frames or more,
// and `steps` are those of `frames`.
void detect_all(std::span<const TrameTelemetrie> frames, std::span<const VueTrame> vues,
                std::span<const AngularStep> steps, const EngineThresholds& seuils, std::vector<Signal>& sortie);

}  // namespace comportement
