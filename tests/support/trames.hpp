#pragma once
// Telemetry frames for tests: one builder whose setters chain, batches, and the JSON Lines text of frames.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "comportement/ecriture_telemetrie.hpp"
#include "comportement/telemetrie.hpp"

namespace essai {

// A frame of match "m1", player "p1"; setters chain. Visible or occluded frames get target "t1" unless told.
// clang-format off
class T {
public:
    explicit T(std::int64_t ts) { f_.matchId = "m1"; f_.playerId = "p1"; f_.timestampMs = ts; }
    T& yaw(double v) { f_.yawDeg = v; return *this; }
    T& pitch(double v) { f_.pitchDeg = v; return *this; }
    T& visible(double err = 0.0) {
        f_.targetVisible = true; f_.targetAngularErrorDeg = err;
        if (!f_.targetId) f_.targetId = "t1";
        return *this;
    }
    T& occulte(double occErr = 0.0) {
        f_.targetOccluded = true; f_.occludedTargetAngularErrorDeg = occErr;
        if (!f_.targetId) f_.targetId = "t1";
        return *this;
    }
    T& erreurOcc(double v) { f_.occludedTargetAngularErrorDeg = v; return *this; }
    T& sansCible() { f_.targetId.reset(); return *this; }
    T& cible(std::string id) { f_.targetId = std::move(id); return *this; }
    T& vitesse(double v) { f_.targetAngularSpeedDegPerSec = v; return *this; }
    T& tir(bool oui = true) { f_.shotFired = oui; return *this; }
    T& touche() { f_.hit = true; return *this; }
    T& tete() { f_.headshot = true; return *this; }
    T& confiance(double c) { f_.acquisitionConfidence = c; return *this; }
    T& souris(std::int32_t dx, std::int32_t dy) { f_.mouseDx = dx; f_.mouseDy = dy; return *this; }
    T& match(std::string m) { f_.matchId = std::move(m); return *this; }
    T& joueur(std::string p) { f_.playerId = std::move(p); return *this; }
    operator comportement::TrameTelemetrie() const { return f_; }

private:
    comportement::TrameTelemetrie f_;
};
// clang-format on

inline comportement::LotTrames lot(std::vector<comportement::TrameTelemetrie> trames, std::string match = "m1",
                                   std::string joueur = "p1") {
    return comportement::LotTrames{std::move(match), std::move(joueur), std::move(trames)};
}

// One line per frame, as the writer writes them, each ended by LF.
inline std::string jsonl(const std::vector<comportement::TrameTelemetrie>& trames) {
    std::string texte;
    for (const auto& t : trames) {
        comportement::ajouter_trame_json(texte, t);
        texte += '\n';
    }
    return texte;
}

}  // namespace essai
