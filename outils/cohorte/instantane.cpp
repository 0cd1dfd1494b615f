#include "cohorte/instantane.hpp"

#include "commun/json_ecriture.hpp"

namespace cohorte {

namespace {

using commun::json::EcrivainJson;

void ecrire_vec3(EcrivainJson& w, const Vec3& v) {
    w.debut_objet();
    w.cle("x");
    w.flottant(v.x);
    w.cle("y");
    w.flottant(v.y);
    w.cle("z");
    w.flottant(v.z);
    w.fin_objet();
}

void ecrire_joueur(EcrivainJson& w, const JoueurInstantane& j) {
    w.debut_objet();
    w.cle("entityId");
    w.chaine(j.entityId);
    w.cle("teamId");
    w.entier(j.teamId);
    w.cle("isAlive");
    w.booleen(j.isAlive);
    w.cle("isVisibleFromLocalPlayer");
    w.booleen(j.isVisibleFromLocalPlayer);
    w.cle("isInFrustum");
    w.booleen(j.isInFrustum);
    w.cle("worldPosition");
    ecrire_vec3(w, j.worldPosition);
    w.cle("aimPoint");
    ecrire_vec3(w, j.aimPoint);
    w.fin_objet();
}

}  // namespace

void ajouter_instantane(std::string& sortie, const Instantane& s) {
    EcrivainJson w(sortie);
    w.debut_objet();
    w.cle("matchId");
    w.chaine(s.matchId);
    w.cle("localPlayerId");
    w.chaine(s.localPlayerId);
    w.cle("localEntityId");
    w.chaine(s.localEntityId);
    w.cle("localTeamId");
    w.entier(s.localTeamId);
    w.cle("timestampMs");
    w.entier(s.timestampMs);
    w.cle("camera");
    ecrire_vec3(w, s.camera);
    w.cle("yawDeg");
    w.flottant(s.yawDeg);
    w.cle("pitchDeg");
    w.flottant(s.pitchDeg);
    w.cle("mouseDx");
    w.entier(s.mouseDx);
    w.cle("mouseDy");
    w.entier(s.mouseDy);
    w.cle("shotFired");
    w.booleen(s.shotFired);
    w.cle("hit");
    w.booleen(s.hit);
    w.cle("headshot");
    w.booleen(s.headshot);
    w.cle("weaponId");
    w.chaine(s.weaponId);
    w.cle("players");
    w.debut_tableau();
    for (const JoueurInstantane& j : s.players) ecrire_joueur(w, j);
    w.fin_tableau();
    w.cle("acquisitionMode");
    w.chaine_optionnelle(s.acquisitionMode);
    w.cle("acquisitionConfidence");
    w.flottant(s.acquisitionConfidence);
    w.fin_objet();
    sortie += '\n';
}

std::optional<comportement::TrameTelemetrie> trame_suivante(const Instantane& s, comportement::EtatConversion& etat) {
    if (s.timestampMs <= etat.dernierInstant) return std::nullopt;
    etat.dernierInstant = s.timestampMs;
    return comportement::convertir_instantane(s, etat);
}

}  // namespace cohorte
