#pragma once
// World snapshots seen by the local player, and their conversion into
// telemetry frames: target choice with a short lock and a visibility
// preference, angular error and angular speed of the chosen target.
#include <cstdint>
#include <expected>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "commun/fichier.hpp"
#include "comportement/telemetrie.hpp"

namespace comportement {

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

struct ReglagesConversion {
    double angleCibleMaxDeg = 35.0;
    double hystereseDeg = 5.0;
    std::int64_t verrouMs = 250;
};

// Direction toward a player when it was last a candidate.
struct DirectionVue {
    std::int64_t timestampMs = 0;
    double yawDeg = 0.0;
    double pitchDeg = 0.0;
};

struct EtatConversion {
    ReglagesConversion reglages;
    std::optional<std::string> cibleVerrouillee;
    // Saturates at the largest time instead of overflowing: comparisons with
    // any snapshot time give the same answer as the exact sum.
    std::int64_t verrouJusquA = 0;
    std::unordered_map<std::string, DirectionVue> historique;
    std::int64_t dernierInstant = std::numeric_limits<std::int64_t>::min();
};

struct BilanConversion {
    std::uint64_t instantanes = 0;
    std::uint64_t trames = 0;
};

// One snapshot from one JSON document; the error is the JSON reader's message.
std::expected<Instantane, std::string> instantane_depuis_json(std::string_view texte);

// The frame of one snapshot; updates the lock and the history of `etat`.
TrameTelemetrie convertir_instantane(const Instantane& instantane, EtatConversion& etat);

// Converts a JSON Lines stream of snapshots into frame lines, with fresh
// per-player states. Errors: the read error's description, "ligne N : " +
// the JSON reader's message, or the write error's description.
std::expected<BilanConversion, std::string> convertir_flux(commun::SourceOctets& entree, commun::SortieOctets& sortie);

}  // namespace comportement
