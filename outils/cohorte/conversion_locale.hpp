#pragma once
// The frames telemetry derives from one local player's snapshots: the same target choice
// as the real conversion (closest opponent, visible ones preferred, 250 ms lock), in a
// compact form. The simulation uses it to know which opponent the player is credited
// with aiming at; the self-check measures its output.
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "cohorte/instantane.hpp"

namespace cohorte {

struct Trame {
    std::int64_t ts = 0;
    double yaw = 0.0;
    double pitch = 0.0;
    bool aCible = false;
    int cible = -1;  // index of the target in the snapshot's player list
    bool visible = false;
    bool occulte = false;
    double erreur = 180.0;
    double erreurOcculte = 180.0;
    double vitesseCible = 0.0;
    bool tir = false;
    bool touche = false;
    bool tete = false;
};

// Target choice with lock and visibility preference, one local player.
class ConvertisseurLocal {
public:
    std::optional<Trame> convertir(const Instantane& s);

private:
    struct Direction {
        std::int64_t ts;
        double yaw;
        double pitch;
    };
    std::optional<std::string> verrou_;
    std::int64_t verrouJusqua_ = 0;
    std::unordered_map<std::string, Direction> historique_;
    std::int64_t dernier_ = INT64_MIN;
};

}  // namespace cohorte
