#pragma once
// Simulation of one small match seen from one local player, tick by tick.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "cohorte/instantane.hpp"
#include "comportement/telemetrie.hpp"

namespace cohorte {

// How the local player aims: a plain human, or a human helped by one kind of cheat.
enum class Profil { humain, snap, trigger, wallhack };

std::optional<Profil> profil_depuis_texte(std::string_view texte);
std::string_view nom_profil(Profil profil);

struct ParametresMatch {
    Profil profil = Profil::humain;
    std::uint64_t graine = 1;
    std::uint64_t indice = 0;  // match number: each match draws from its own stream
    double dureeS = 180.0;
    std::string matchId;
    std::string joueurId;
};

inline constexpr int kTicksParSeconde = 64;

class SimulationMatch {
public:
    explicit SimulationMatch(const ParametresMatch& parametres);
    ~SimulationMatch();
    SimulationMatch(const SimulationMatch&) = delete;
    SimulationMatch& operator=(const SimulationMatch&) = delete;

    // Fills `s` with the next snapshot (reusing its storage); false once the match is over.
    bool suivant(Instantane& s);

private:
    struct Etat;
    std::unique_ptr<Etat> etat_;
};

// The frames of one whole simulated match, as `calibrage convertir` would write them.
comportement::LotTrames lot_du_match(const ParametresMatch& parametres);

}  // namespace cohorte
