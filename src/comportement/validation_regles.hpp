#pragma once
// The batch checks, written once for every form a batch is held in: full records (LotTrames) and compact
// frames (LotCompact). Internal to the module.
//
// `Lot` gives matchId(), playerId(), taille(), trame(i) in the batch's order (a frame with the members
// named as in TrameTelemetrie), autre_match(t), autre_joueur(t) and sans_cible(t) (targetId absent or
// blank). `Sortie` takes erreur(texte) for a batch error and erreur(i, texte) / avertissement(i, texte)
// for frame i; erreur returns false to stop the checks there. Sortie::kAvertissements says whether the
// warnings are wanted at all.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "commun/unicode.hpp"
#include "comportement/validation.hpp"

namespace comportement::regles {

inline std::string prefixe_trame(std::size_t i) { return "frame[" + std::to_string(i) + "]"; }

inline bool grand_delta(std::int32_t d) {
    const std::int64_t v = d;
    return (v < 0 ? -v : v) > kLimiteDeltaSouris;
}

template <class Lot, class Sortie>
void verifier(const Lot& lot, Sortie& sortie) {
    if (commun::est_blanc_unicode(lot.matchId()) && !sortie.erreur("Missing match id.")) {
        return;
    }
    if (commun::est_blanc_unicode(lot.playerId()) && !sortie.erreur("Missing player id.")) {
        return;
    }
    const std::size_t n = lot.taille();
    if (n < 3 && !sortie.erreur("At least three telemetry frames are required.")) {
        return;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const auto& t = lot.trame(i);
        if (lot.autre_match(t) && !sortie.erreur(i, ": match id differs from batch.")) {
            return;
        }
        if (lot.autre_joueur(t) && !sortie.erreur(i, ": player id differs from batch.")) {
            return;
        }
        if (i >= 1 && t.timestampMs <= lot.trame(i - 1).timestampMs &&
            !sortie.erreur(i, ": timestamps must be strictly increasing.")) {
            return;
        }
        if ((!std::isfinite(t.yawDeg) || !std::isfinite(t.pitchDeg) || !std::isfinite(t.targetAngularErrorDeg) ||
             !std::isfinite(t.occludedTargetAngularErrorDeg) || !std::isfinite(t.targetAngularSpeedDegPerSec)) &&
            !sortie.erreur(i, ": numeric fields must be finite.")) {
            return;
        }
        if ((t.targetAngularErrorDeg < 0.0 || t.occludedTargetAngularErrorDeg < 0.0 ||
             t.targetAngularSpeedDegPerSec < 0.0) &&
            !sortie.erreur(i, ": angular errors/speeds cannot be negative.")) {
            return;
        }
        if (t.targetVisible && t.targetOccluded &&
            !sortie.erreur(i, ": a target cannot be visible and occluded at the same instant.")) {
            return;
        }
        if constexpr (Sortie::kAvertissements) {
            if ((t.targetVisible || t.targetOccluded) && lot.sans_cible(t)) {
                sortie.avertissement(i, ": target state present without target id.");
            }
            if (grand_delta(t.mouseDx) || grand_delta(t.mouseDy)) {
                sortie.avertissement(i, ": unusually large raw mouse delta; verify source scaling.");
            }
        }
    }
}

// Errors and, when asked, warnings, as ValidationLot lists them.
template <bool Avertissements>
struct SortieValidation {
    static constexpr bool kAvertissements = Avertissements;
    ValidationLot v;
    bool erreur(std::string_view texte) {
        v.erreurs.emplace_back(texte);
        return true;
    }
    bool erreur(std::size_t i, std::string_view texte) {
        v.erreurs.push_back(prefixe_trame(i).append(texte));
        return true;
    }
    void avertissement(std::size_t i, std::string_view texte) {
        v.avertissements.push_back(prefixe_trame(i).append(texte));
    }
};

// Whether the batch is valid, stopping at its first error.
struct SortieValide {
    static constexpr bool kAvertissements = false;
    bool valide = true;
    bool erreur(std::string_view) { return valide = false; }
    bool erreur(std::size_t, std::string_view) { return valide = false; }
    void avertissement(std::size_t, std::string_view) {}
};

// The errors joined with `separateur` as they are found, without a list of texts in between: a batch of
// millions of bad frames refuses itself in one string.
struct SortieJointe {
    static constexpr bool kAvertissements = false;
    std::string_view separateur;
    std::string texte;
    bool vide = true;
    void suite() {
        if (!vide) {
            texte += separateur;
        }
        vide = false;
    }
    bool erreur(std::string_view message) {
        suite();
        texte += message;
        return true;
    }
    bool erreur(std::size_t i, std::string_view message) {
        suite();
        texte += "frame[";
        texte += std::to_string(i);
        texte += ']';
        texte += message;
        return true;
    }
    void avertissement(std::size_t, std::string_view) {}
};

}  // namespace comportement::regles
