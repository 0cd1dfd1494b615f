#include "comportement/ecriture_telemetrie.hpp"

#include "commun/json_ecriture.hpp"

namespace comportement {

void ajouter_trame_json(std::string& sortie, const TrameTelemetrie& trame) {
    commun::json::EcrivainJson e(sortie);
    commun::json::ecrire(e, schema_trame(), trame);
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
