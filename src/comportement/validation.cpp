#include "comportement/validation.hpp"

#include "comportement/validation_regles.hpp"

namespace comportement {

namespace {

// A batch of full records: each frame carries its own ids.
struct VueLotTrames {
    const LotTrames& lot;
    std::string_view matchId() const { return lot.matchId; }
    std::string_view playerId() const { return lot.playerId; }
    std::size_t taille() const { return lot.trames.size(); }
    const TrameTelemetrie& trame(std::size_t i) const { return lot.trames[i]; }
    bool autre_match(const TrameTelemetrie& t) const { return t.matchId != lot.matchId; }
    bool autre_joueur(const TrameTelemetrie& t) const { return t.playerId != lot.playerId; }
    static bool sans_cible(const TrameTelemetrie& t) { return !t.targetId || commun::est_blanc_unicode(*t.targetId); }
};

template <bool Avertissements>
ValidationLot valider(const LotTrames& lot) {
    regles::SortieValidation<Avertissements> sortie;
    regles::verifier(VueLotTrames{lot}, sortie);
    sortie.v.valide = sortie.v.erreurs.empty();
    return std::move(sortie.v);
}

}  // namespace

ValidationLot valider_lot(const LotTrames& lot) { return valider<true>(lot); }

// The analysis drops the warnings, so it does not build them.
std::vector<std::string> erreurs_lot(const LotTrames& lot) { return valider<false>(lot).erreurs; }

}  // namespace comportement
