#pragma once
// World snapshots as seen by the local player, in the form the converter reads.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cohorte {

struct Vec3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

struct JoueurInstantane {
    std::string entityId;
    std::int32_t teamId = 0;
    bool isAlive = false;
    bool isVisibleFromLocalPlayer = false;
    bool isInFrustum = false;
    Vec3 worldPosition;
    Vec3 aimPoint;
};

struct Instantane {
    std::string matchId;
    std::string localPlayerId;
    std::string localEntityId;
    std::int32_t localTeamId = 0;
    std::int64_t timestampMs = 0;
    Vec3 camera;
    double yawDeg = 0.0;
    double pitchDeg = 0.0;
    std::int32_t mouseDx = 0;
    std::int32_t mouseDy = 0;
    bool shotFired = false;
    bool hit = false;
    bool headshot = false;
    std::string weaponId;
    std::vector<JoueurInstantane> players;
    std::optional<std::string> acquisitionMode;
    double acquisitionConfidence = 1.0;
};

// Appends the snapshot as one compact JSON line, LF included.
void ajouter_instantane(std::string& sortie, const Instantane& s);

}  // namespace cohorte
