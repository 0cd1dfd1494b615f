#pragma once
// One telemetry frame of one player, and the frames of one player in one match.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "commun/json_schema.hpp"

namespace comportement {

struct TrameTelemetrie {
    std::string matchId;
    std::string playerId;
    std::int64_t timestampMs = 0;
    double yawDeg = 0.0;
    double pitchDeg = 0.0;
    std::int32_t mouseDx = 0;
    std::int32_t mouseDy = 0;
    std::optional<std::string> targetId;
    bool targetVisible = false;
    bool targetOccluded = false;
    double targetAngularErrorDeg = 0.0;
    double occludedTargetAngularErrorDeg = 0.0;
    double targetAngularSpeedDegPerSec = 0.0;
    bool shotFired = false;
    bool hit = false;
    bool headshot = false;
    std::string weaponId;
    std::optional<std::string> acquisitionMode;
    double acquisitionConfidence = 1.0;
};

// The JSON form of a frame, for reading and writing: 19 keys in this order, each also accepted
// with an upper-case first letter; the array form gives the values in that order.
const commun::json::Schema& schema_trame();

// Frames sorted by timestampMs ascending (stable).
struct LotTrames {
    std::string matchId;
    std::string playerId;
    std::vector<TrameTelemetrie> trames;
};

}  // namespace comportement
