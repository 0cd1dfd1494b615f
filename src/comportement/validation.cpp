#include "comportement/validation.hpp"

#include <cmath>
#include <cstdint>

namespace comportement {

namespace {

// UTF-8 forms of the 25 White_Space code points beyond ASCII; ASCII ones are tested directly.
constexpr std::string_view kBlancsMultioctets[] = {
    "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81", "\xE2\x80\x82",
    "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F",
    "\xE3\x80\x80",
};

bool blanc_ascii(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Length of the white-space code point at the start of `t`, 0 when there is none.
std::size_t blanc_en_tete(std::string_view t) {
    if (t.empty()) {
        return 0;
    }
    if (blanc_ascii(t.front())) {
        return 1;
    }
    for (std::string_view b : kBlancsMultioctets) {
        if (t.starts_with(b)) {
            return b.size();
        }
    }
    return 0;
}

// Same at the end. Lead bytes never occur as continuation bytes, so a matching suffix is a whole code point.
std::size_t blanc_en_queue(std::string_view t) {
    if (t.empty()) {
        return 0;
    }
    if (blanc_ascii(t.back())) {
        return 1;
    }
    for (std::string_view b : kBlancsMultioctets) {
        if (t.ends_with(b)) {
            return b.size();
        }
    }
    return 0;
}

std::string prefixe(std::size_t i) { return "frame[" + std::to_string(i) + "]"; }

bool grand_delta(std::int32_t d) {
    const std::int64_t v = d;
    return (v < 0 ? -v : v) > kLimiteDeltaSouris;
}

}  // namespace

std::string_view rogner_blancs(std::string_view texte) {
    while (const std::size_t n = blanc_en_tete(texte)) {
        texte.remove_prefix(n);
    }
    while (const std::size_t n = blanc_en_queue(texte)) {
        texte.remove_suffix(n);
    }
    return texte;
}

ValidationLot valider_lot(const LotTrames& lot) {
    ValidationLot v;
    if (rogner_blancs(lot.matchId).empty()) {
        v.erreurs.emplace_back("Missing match id.");
    }
    if (rogner_blancs(lot.playerId).empty()) {
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
        if ((t.targetVisible || t.targetOccluded) && (!t.targetId || rogner_blancs(*t.targetId).empty())) {
            v.avertissements.push_back(prefixe(i).append(": target state present without target id."));
        }
        if (grand_delta(t.mouseDx) || grand_delta(t.mouseDy)) {
            v.avertissements.push_back(prefixe(i).append(": unusually large raw mouse delta; verify source scaling."));
        }
    }
    v.valide = v.erreurs.empty();
    return v;
}

}  // namespace comportement
