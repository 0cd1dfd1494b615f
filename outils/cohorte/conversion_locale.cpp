#include "cohorte/conversion_locale.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace cohorte {

namespace {

constexpr double kDegParRad = 57.29577951308232;

double reduire(double m) {
    m = std::fmod(m, 360.0);
    if (m > 180.0) m -= 360.0;
    if (m < -180.0) m += 360.0;
    return m;
}

struct Candidat {
    const JoueurInstantane* joueur;
    double erreur;
    double yaw;
    double pitch;
    double vitesse;
};

}  // namespace

std::optional<Trame> ConvertisseurLocal::convertir(const Instantane& s) {
    if (s.timestampMs <= dernier_) return std::nullopt;
    dernier_ = s.timestampMs;
    std::vector<Candidat> candidats;
    for (const JoueurInstantane& j : s.players) {
        if (!j.isAlive || j.teamId == s.localTeamId || j.entityId == s.localEntityId) continue;
        const double dx = j.aimPoint.x - s.camera.x;
        const double dy = j.aimPoint.y - s.camera.y;
        const double dz = j.aimPoint.z - s.camera.z;
        const double y = std::atan2(dy, dx) * kDegParRad;
        const double p = std::atan2(dz, std::sqrt(dx * dx + dy * dy)) * kDegParRad;
        const double m = reduire(y - s.yawDeg);
        const double erreur = std::sqrt((p - s.pitchDeg) * (p - s.pitchDeg) + m * m);
        double vitesse = 0.0;
        if (const auto it = historique_.find(j.entityId); it != historique_.end()) {
            const double dt = static_cast<double>(s.timestampMs - it->second.ts) / 1000.0;
            if (dt > 0.0) {
                const double w = reduire(y - it->second.yaw);
                vitesse = std::sqrt((p - it->second.pitch) * (p - it->second.pitch) + w * w) / dt;
            }
        }
        if (erreur <= 40.0) candidats.push_back({&j, erreur, y, p, vitesse});
    }
    std::stable_sort(candidats.begin(), candidats.end(),
                     [](const Candidat& a, const Candidat& b) { return a.erreur < b.erreur; });
    for (const Candidat& c : candidats) historique_[c.joueur->entityId] = {s.timestampMs, c.yaw, c.pitch};
    if (historique_.size() > 256) {
        std::erase_if(historique_, [&](const auto& entree) {
            return std::none_of(s.players.begin(), s.players.end(),
                                [&](const JoueurInstantane& j) { return j.entityId == entree.first; });
        });
    }
    const Candidat* choisi = nullptr;
    if (candidats.empty()) {
        verrou_.reset();
    } else {
        if (verrou_ && s.timestampMs <= verrouJusqua_) {
            for (const Candidat& c : candidats)
                if (c.joueur->entityId == *verrou_) {
                    choisi = &c;
                    break;
                }
        }
        if (!choisi) {
            const Candidat* v = nullptr;
            const Candidat* b = nullptr;
            for (const Candidat& c : candidats) {
                if (c.erreur > 35.0) continue;
                if (!b) b = &c;
                if (!v && c.joueur->isVisibleFromLocalPlayer) v = &c;
            }
            if (b) {
                choisi = (!v || (!b->joueur->isVisibleFromLocalPlayer && v->erreur - b->erreur > 0.45)) ? b : v;
                verrou_ = choisi->joueur->entityId;
                verrouJusqua_ = s.timestampMs + 250;
            }
        }
    }
    Trame t;
    t.ts = s.timestampMs;
    t.yaw = s.yawDeg;
    t.pitch = s.pitchDeg;
    t.tir = s.shotFired;
    t.touche = s.hit;
    t.tete = s.headshot;
    if (choisi) {
        t.aCible = true;
        t.cible = static_cast<int>(choisi->joueur - s.players.data());
        t.visible = choisi->joueur->isVisibleFromLocalPlayer;
        t.occulte = !t.visible;
        (t.visible ? t.erreur : t.erreurOcculte) = choisi->erreur;
        t.vitesseCible = choisi->vitesse;
    }
    return t;
}

}  // namespace cohorte
