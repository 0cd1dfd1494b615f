#include "cohorte/instantane.hpp"

#include "cohorte/json_sortie.hpp"

namespace cohorte {

namespace {

void ajouter_vec3(std::string& sortie, const Vec3& v) {
    sortie += "{\"x\":";
    ajouter_flottant(sortie, v.x);
    sortie += ",\"y\":";
    ajouter_flottant(sortie, v.y);
    sortie += ",\"z\":";
    ajouter_flottant(sortie, v.z);
    sortie += '}';
}

}  // namespace

void ajouter_instantane(std::string& sortie, const Instantane& s) {
    sortie += "{\"matchId\":";
    ajouter_texte(sortie, s.matchId);
    sortie += ",\"localPlayerId\":";
    ajouter_texte(sortie, s.localPlayerId);
    sortie += ",\"localEntityId\":";
    ajouter_texte(sortie, s.localEntityId);
    sortie += ",\"localTeamId\":";
    ajouter_entier(sortie, s.localTeamId);
    sortie += ",\"timestampMs\":";
    ajouter_entier(sortie, s.timestampMs);
    sortie += ",\"camera\":";
    ajouter_vec3(sortie, s.camera);
    sortie += ",\"yawDeg\":";
    ajouter_flottant(sortie, s.yawDeg);
    sortie += ",\"pitchDeg\":";
    ajouter_flottant(sortie, s.pitchDeg);
    sortie += ",\"mouseDx\":";
    ajouter_entier(sortie, s.mouseDx);
    sortie += ",\"mouseDy\":";
    ajouter_entier(sortie, s.mouseDy);
    sortie += ",\"shotFired\":";
    ajouter_booleen(sortie, s.shotFired);
    sortie += ",\"hit\":";
    ajouter_booleen(sortie, s.hit);
    sortie += ",\"headshot\":";
    ajouter_booleen(sortie, s.headshot);
    sortie += ",\"weaponId\":";
    ajouter_texte(sortie, s.weaponId);
    sortie += ",\"players\":[";
    bool premier = true;
    for (const JoueurInstantane& j : s.players) {
        if (!premier) sortie += ',';
        premier = false;
        sortie += "{\"entityId\":";
        ajouter_texte(sortie, j.entityId);
        sortie += ",\"teamId\":";
        ajouter_entier(sortie, j.teamId);
        sortie += ",\"isAlive\":";
        ajouter_booleen(sortie, j.isAlive);
        sortie += ",\"isVisibleFromLocalPlayer\":";
        ajouter_booleen(sortie, j.isVisibleFromLocalPlayer);
        sortie += ",\"isInFrustum\":";
        ajouter_booleen(sortie, j.isInFrustum);
        sortie += ",\"worldPosition\":";
        ajouter_vec3(sortie, j.worldPosition);
        sortie += ",\"aimPoint\":";
        ajouter_vec3(sortie, j.aimPoint);
        sortie += '}';
    }
    sortie += "],\"acquisitionMode\":";
    if (s.acquisitionMode)
        ajouter_texte(sortie, *s.acquisitionMode);
    else
        sortie += "null";
    sortie += ",\"acquisitionConfidence\":";
    ajouter_flottant(sortie, s.acquisitionConfidence);
    sortie += "}\n";
}

}  // namespace cohorte
