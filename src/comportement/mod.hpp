#pragma once
// Behaviour analysis engine: thresholds, signals, score, risk level and the angular steps.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "comportement/telemetrie.hpp"

namespace comportement {

// Exact difference of two signed 64-bit times: never overflows, compares and converts exactly.
__extension__ typedef __int128 EcartMs;

inline constexpr EcartMs ecart_ms(std::int64_t plus_tard, std::int64_t plus_tot) {
    return static_cast<EcartMs>(plus_tard) - static_cast<EcartMs>(plus_tot);
}

struct EngineThresholds {
    double aimSnapMinVelocityDegPerSec = 520.0;
    double aimSnapMaxFinalErrorDeg = 0.85;
    double aimSnapStopWindowMs = 180.0;
    double aimSnapMinAccelDegPerSec2 = 3000.0;
    double microMaxTargetErrorDeg = 2.5;
    double microSmallStepDeg = 0.9;
    std::int64_t microWindowMs = 280;
    std::int64_t reactionVeryFastMs = 105;
    std::int64_t reactionSuspectMs = 135;
    std::int64_t reactionSearchWindowMs = 500;
    double trackingExcellentErrorDeg = 0.65;
    double trackingMinTargetSpeedDegPerSec = 18.0;
    std::int64_t visibleTrackingMinDurationMs = 350;
    double preAimMaxOccludedErrorDeg = 1.25;
    std::int64_t preAimMinHoldMs = 120;
    std::int64_t preAimMaxRevealDelayMs = 325;
    double occludedTrackingMaxErrorDeg = 1.4;
    std::int64_t occludedTrackingMinDurationMs = 240;
    std::int64_t shotCorrelationBeforeRevealMs = 160;
    std::int64_t shotCorrelationAfterRevealMs = 90;
    std::size_t maxSignalsPerCategory = 8;
    std::int32_t microMinDirectionReversals = 3;
};

enum class SignalCategory : std::uint8_t {
    AimSnap = 0,
    MicroCorrection = 1,
    ReactionTime = 2,
    VisibleTracking = 3,
    PreAim = 4,
    OccludedTracking = 5,
    VisibilityShotCorrelation = 6,
    StatisticalPersistence = 7,
};

inline constexpr std::size_t kNombreCategories = 8;

std::string_view category_name(SignalCategory c);
double category_weight(SignalCategory c);
double category_cap(SignalCategory c);  // always 2.5 x the weight

using Evidence = std::vector<std::pair<std::string, double>>;

struct Signal {
    std::string id;  // random UUID v4, 32 lower-case hex digits
    std::string matchId;
    std::string playerId;
    std::string description;
    Evidence evidence;
    std::vector<std::int64_t> frameTimestamps;
    std::int64_t startMs = 0;
    std::int64_t endMs = 0;
    double strength = 0.0;
    SignalCategory category = SignalCategory::AimSnap;
};

struct MatchAnalysis {
    std::string matchId;
    std::string playerId;
    std::string analyzedAt;
    std::string level;
    std::vector<Signal> signals;  // strongest first
    std::vector<std::pair<std::string, double>> metrics;
    double score = 0.0;
};

// Kinematics between frame i and frame i+1, attributed to the later frame.
struct AngularStep {
    const TrameTelemetrie* frame = nullptr;  // frame i+1
    double dtSec = 0.0;
    double deltaYawDeg = 0.0;
    double deltaPitchDeg = 0.0;
    double angularDistanceDeg = 0.0;
    double angularVelocityDegPerSec = 0.0;
    double angularAccelerationDegPerSec2 = 0.0;
    std::int32_t yawDirection = 0;
    std::int32_t pitchDirection = 0;
};

// One step per consecutive pair of the time-ordered frames; the steps point into `frames`.
std::vector<AngularStep> compute_angular_steps(std::span<const TrameTelemetrie> frames);

// The id comes from the system's random generator; its failure throws and is not caught here.
Signal make_signal(SignalCategory category, const TrameTelemetrie& start, std::int64_t endMs, double strength,
                   std::string_view description, std::initializer_list<std::pair<std::string_view, double>> evidence,
                   std::vector<std::int64_t> frameTimestamps);

std::expected<MatchAnalysis, std::string> analyse_match(const EngineThresholds& seuils, const LotTrames& lot);

std::expected<MatchAnalysis, std::string> run_engine(const EngineThresholds& seuils,
                                                     std::span<const TrameTelemetrie> frames,
                                                     std::optional<Signal> extra = std::nullopt);

double score_signals(std::span<const Signal> signals, const EngineThresholds& seuils);

std::string risk_level(double score);

// Strict weak ordering "stronger first"; a NaN strength (only from a caller's extra signal) sorts last.
bool plus_fort(double a, double b);

}  // namespace comportement
