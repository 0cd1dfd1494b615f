#pragma once
// Small builders for telemetry frames in engine tests.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "comportement/mod.hpp"
#include "comportement/telemetrie.hpp"

namespace comportement::essai {

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
    T& tir() { f_.shotFired = true; return *this; }
    T& touche() { f_.hit = true; return *this; }
    T& tete() { f_.headshot = true; return *this; }
    T& confiance(double c) { f_.acquisitionConfidence = c; return *this; }
    T& souris(std::int32_t dx, std::int32_t dy) { f_.mouseDx = dx; f_.mouseDy = dy; return *this; }
    T& match(std::string m) { f_.matchId = std::move(m); return *this; }
    T& joueur(std::string p) { f_.playerId = std::move(p); return *this; }
    operator TrameTelemetrie() const { return f_; }

private:
    TrameTelemetrie f_;
};
// clang-format on

inline LotTrames lot(std::vector<TrameTelemetrie> trames, std::string match = "m1", std::string joueur = "p1") {
    return LotTrames{std::move(match), std::move(joueur), std::move(trames)};
}

inline std::vector<std::string> cles(const Signal& s) {
    std::vector<std::string> c;
    for (const auto& [k, v] : s.evidence) c.push_back(k);
    return c;
}

inline double preuve(const Signal& s, std::string_view cle) {
    for (const auto& [k, v] : s.evidence) {
        if (k == cle) return v;
    }
    ADD_FAILURE() << "no evidence " << cle;
    return -1.0;
}

inline std::vector<SignalCategory> categories(std::span<const Signal> signaux) {
    std::vector<SignalCategory> c;
    for (const Signal& s : signaux) c.push_back(s.category);
    return c;
}

}  // namespace comportement::essai
