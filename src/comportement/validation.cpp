#include "comportement/validation.hpp"

#include <cmath>
#include <cstdint>

#include "commun/unicode.hpp"

namespace comportement {

namespace {

std::string prefixe(std::size_t i) { return "frame[" + std::to_string(i) + "]"; }

bool grand_delta(std::int32_t d) {
    const std::int64_t v = d;
    return (v < 0 ? -v : v) > kLimiteDeltaSouris;
}

}  // namespace

namespace {

// Both entry points share the checks; the analysis drops the warnings, so it does not build them.
ValidationLot valider(const LotTrames& lot, bool avec_avertissements) {
    ValidationLot v;
    if (commun::est_blanc_unicode(lot.matchId)) {
        v.erreurs.emplace_back("Missing match id.");
    }
    if (commun::est_blanc_unicode(lot.playerId)) {
        v.erreurs.emplace_back("Missing player id.");
    }
    if (lot.trames.size() < 3) {
        v.erreurs.emplace_back("At least three telemetry frames are required.");
    }

    for (std::size_t i = 0; i < lot.trames.size(); ++i) {
        const TrameTelemetrie& t = lot.trames[i];
        const auto erreur = [&](std::string_view message) { v.erreurs.push_back(prefixe(i).append(message)); };
        if (t.matchId != lot.matchId) {
            erreur(": match id differs from batch.");
        }
        if (t.playerId != lot.playerId) {
            erreur(": player id differs from batch.");
        }
        if (i >= 1 && t.timestampMs <= lot.trames[i - 1].timestampMs) {
            erreur(": timestamps must be strictly increasing.");
        }
        if (!std::isfinite(t.yawDeg) || !std::isfinite(t.pitchDeg) || !std::isfinite(t.targetAngularErrorDeg) ||
            !std::isfinite(t.occludedTargetAngularErrorDeg) || !std::isfinite(t.targetAngularSpeedDegPerSec)) {
            erreur(": numeric fields must be finite.");
        }
        if (t.targetAngularErrorDeg < 0.0 || t.occludedTargetAngularErrorDeg < 0.0 ||
            t.targetAngularSpeedDegPerSec < 0.0) {
            erreur(": angular errors/speeds cannot be negative.");
        }
        if (t.targetVisible && t.targetOccluded) {
            erreur(": a target cannot be visible and occluded at the same instant.");
        }
        if (!avec_avertissements) {
            continue;
        }
        if ((t.targetVisible || t.targetOccluded) && (!t.targetId || commun::est_blanc_unicode(*t.targetId))) {
            v.avertissements.push_back(prefixe(i).append(": target state present without target id."));
        }
        if (grand_delta(t.mouseDx) || grand_delta(t.mouseDy)) {
            v.avertissements.push_back(prefixe(i).append(": unusually large raw mouse delta; verify source scaling."));
        }
    }
    v.valide = v.erreurs.empty();
    return v;
}

}  // namespace

ValidationLot valider_lot(const LotTrames& lot) { return valider(lot, true); }

std::vector<std::string> erreurs_lot(const LotTrames& lot) { return valider(lot, false).erreurs; }

}  // namespace comportement
