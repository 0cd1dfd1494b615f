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
std::vector<Signal> detect_micro_correction(std::span<const TrameTelemetrie> frames,
                                            std::span<const AngularStep> steps, const EngineThresholds& seuils);
std::vector<Signal> detect_reaction_time(std::span<const TrameTelemetrie> frames, std::span<const AngularStep> steps,
                                         const EngineThresholds& seuils);
std::vector<Signal> detect_visible_tracking(std::span<const TrameTelemetrie> frames, const EngineThresholds& seuils);
std::vector<Signal> detect_pre_aim(std::span<const TrameTelemetrie> frames, const EngineThresholds& seuils);
std::vector<Signal> detect_occluded_tracking(std::span<const TrameTelemetrie> frames, const EngineThresholds& seuils);
std::vector<Signal> detect_visibility_shot_correlation(std::span<const TrameTelemetrie> frames,
                                                       const EngineThresholds& seuils);

}  // namespace comportement
