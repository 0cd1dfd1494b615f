#include "cohorte/mesures.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "comportement/calibration.hpp"
#include "comportement/detecteurs.hpp"
#include "comportement/mod.hpp"

namespace cohorte {

using comportement::percentile;

void Mesures::ajouter(std::span<const comportement::TrameTelemetrie> t) {
    ++matchs;
    trames += t.size();
    for (const comportement::TrameTelemetrie& f : t) {
        tirs += f.shotFired;
        touches += f.hit;
        tetes += f.headshot;
        if (f.targetOccluded) {
            ++tramesOcculte;
            tramesOcculteProche += f.occludedTargetAngularErrorDeg <= 1.25;
        }
    }
    comportement::EchantillonsMetriques e;
    comportement::collecter_echantillons(t, e);
    reactions.insert(reactions.end(), e.visibilityToActionReactionMs.begin(), e.visibilityToActionReactionMs.end());
    erreursSuivi.insert(erreursSuivi.end(), e.movingVisibleTargetErrorDeg.begin(), e.movingVisibleTargetErrorDeg.end());
    // A fast movement is a run of steps faster than a reaction; keep its peak if it ends on a visible target.
    const std::vector<comportement::AngularStep> pas = comportement::compute_angular_steps(t);
    const auto rapide = [](const comportement::AngularStep& s) {
        return s.angularVelocityDegPerSec > comportement::kVitesseReactionDegParSec;
    };
    for (std::size_t j = 0; j < pas.size();) {
        if (!rapide(pas[j])) {
            ++j;
            continue;
        }
        double pic = 0.0;
        while (j < pas.size() && rapide(pas[j])) pic = std::fmax(pic, pas[j++].angularVelocityDegPerSec);
        if (pas[j - 1].frame->targetVisible) picsVisibles.push_back(pic);
    }
}

std::string Mesures::resume() const {
    std::string r;
    char ligne[256];
    const double minutes = static_cast<double>(trames) / 64.0 / 60.0;
    std::snprintf(ligne, sizeof ligne, "  tirs/min %.1f, précision %.1f %%, tirs à la tête %.1f %% des touches\n",
                  static_cast<double>(tirs) / std::fmax(minutes, 1e-9),
                  100.0 * static_cast<double>(touches) / std::fmax(1.0, static_cast<double>(tirs)),
                  100.0 * static_cast<double>(tetes) / std::fmax(1.0, static_cast<double>(touches)));
    r += ligne;
    static constexpr double bornes[] = {0, 50, 100, 135, 180, 250, 350, 501};
    r += "  réaction (révélation → pas > 60°/s ou tir), ms :";
    for (std::size_t b = 0; b + 1 < std::size(bornes); ++b) {
        const auto n = std::count_if(reactions.begin(), reactions.end(),
                                     [&](double d) { return d >= bornes[b] && d < bornes[b + 1]; });
        std::snprintf(ligne, sizeof ligne, " [%g,%g) %.1f%%", bornes[b], bornes[b + 1],
                      100.0 * static_cast<double>(n) / std::fmax(1.0, static_cast<double>(reactions.size())));
        r += ligne;
    }
    std::snprintf(ligne, sizeof ligne, "\n    n=%zu p1=%.0f p50=%.0f\n", reactions.size(), percentile(reactions, 0.01),
                  percentile(reactions, 0.5));
    r += ligne;
    const auto rapides = std::count_if(picsVisibles.begin(), picsVisibles.end(), [](double v) { return v >= 520.0; });
    std::snprintf(ligne, sizeof ligne,
                  "  pics des mouvements rapides finissant sur cible visible, °/s : n=%zu p50=%.0f p95=%.0f p99=%.0f, "
                  "≥520 : %.1f%%\n",
                  picsVisibles.size(), percentile(picsVisibles, 0.5), percentile(picsVisibles, 0.95),
                  percentile(picsVisibles, 0.99),
                  100.0 * static_cast<double>(rapides) / std::fmax(1.0, static_cast<double>(picsVisibles.size())));
    r += ligne;
    std::snprintf(ligne, sizeof ligne,
                  "  erreur de suivi (cible visible ≥ 18°/s), ° : n=%zu p1=%.2f p10=%.2f p50=%.2f p90=%.2f\n",
                  erreursSuivi.size(), percentile(erreursSuivi, 0.01), percentile(erreursSuivi, 0.1),
                  percentile(erreursSuivi, 0.5), percentile(erreursSuivi, 0.9));
    r += ligne;
    std::snprintf(ligne, sizeof ligne, "  cible occultée à ≤ 1,25° : %.1f %% des %zu trames occultées\n",
                  100.0 * static_cast<double>(tramesOcculteProche) / std::fmax(1.0, static_cast<double>(tramesOcculte)),
                  tramesOcculte);
    r += ligne;
    return r;
}

}  // namespace cohorte
