#include "comportement/ecriture_telemetrie.hpp"

#include "commun/json_ecriture.hpp"

namespace comportement {

void ajouter_trame_json(std::string& sortie, const TrameTelemetrie& t) {
    commun::json::EcrivainJson e(sortie);
    e.debut_objet();
    e.cle("matchId");
    e.chaine(t.matchId);
    e.cle("playerId");
    e.chaine(t.playerId);
    e.cle("timestampMs");
    e.entier(t.timestampMs);
    e.cle("yawDeg");
    e.flottant(t.yawDeg);
    e.cle("pitchDeg");
    e.flottant(t.pitchDeg);
    e.cle("mouseDx");
    e.entier(t.mouseDx);
    e.cle("mouseDy");
    e.entier(t.mouseDy);
    e.cle("targetId");
    e.chaine_optionnelle(t.targetId);
    e.cle("targetVisible");
    e.booleen(t.targetVisible);
    e.cle("targetOccluded");
    e.booleen(t.targetOccluded);
    e.cle("targetAngularErrorDeg");
    e.flottant(t.targetAngularErrorDeg);
    e.cle("occludedTargetAngularErrorDeg");
    e.flottant(t.occludedTargetAngularErrorDeg);
    e.cle("targetAngularSpeedDegPerSec");
    e.flottant(t.targetAngularSpeedDegPerSec);
    e.cle("shotFired");
    e.booleen(t.shotFired);
    e.cle("hit");
    e.booleen(t.hit);
    e.cle("headshot");
    e.booleen(t.headshot);
    e.cle("weaponId");
    e.chaine(t.weaponId);
    e.cle("acquisitionMode");
    e.chaine_optionnelle(t.acquisitionMode);
    e.cle("acquisitionConfidence");
    e.flottant(t.acquisitionConfidence);
    e.fin_objet();
}

std::expected<void, std::string> ecrire_trame(commun::SortieOctets& sortie, const TrameTelemetrie& trame) {
    // Reused between calls: no allocation per frame once it has grown.
    thread_local std::string ligne;
    ligne.clear();
    ajouter_trame_json(ligne, trame);
    ligne += '\n';
    return sortie.ecrire(ligne);
}

}  // namespace comportement
