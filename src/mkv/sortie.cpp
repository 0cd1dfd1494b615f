#include "mkv/sortie.hpp"

#include "mkv/h264.hpp"

namespace mkv {

std::int64_t temps_relatif_ms(std::int64_t horodatage, std::int64_t premier) {
    // The exact difference may need 65 bits; the quotient always fits in 64.
    __extension__ typedef __int128 entier128;
    const entier128 difference = static_cast<entier128>(horodatage) - premier;
    return static_cast<std::int64_t>(difference / 10000);
}

std::expected<void, commun::Erreur> ecrire_images_encodees(pipeline::Recepteur<pipeline::ImageEncodee>& recepteur,
                                                           const std::filesystem::path& chemin, EtatSortie& etat,
                                                           std::atomic<std::uint64_t>& octets) {
    pipeline::ImageEncodee image;
    while (recepteur.essayer_recevoir(image) == pipeline::EtatReception::recu) {
        if (!etat.ecrivain) {
            if (!image.cle) {
                continue;
            }
            const auto config = config_avc(image.donnees);
            if (!config) {
                return std::unexpected(commun::Erreur("image clé sans SPS/PPS"));
            }
            auto ecrivain = EcrivainMkv::creer(chemin, *config, etat.largeur, etat.hauteur, false);
            if (!ecrivain) {
                return std::unexpected(ecrivain.error());
            }
            etat.ecrivain.emplace(std::move(*ecrivain));
            etat.premier_horodatage = image.horodatage;
        }
        const std::int64_t temps =
            etat.premier_horodatage ? temps_relatif_ms(image.horodatage, *etat.premier_horodatage) : 0;
        annexb_vers_longueurs(image.donnees, etat.tampon);
        if (auto r = etat.ecrivain->ecrire_bloc(1, temps, image.cle, etat.tampon); !r) {
            return r;
        }
        octets.store(etat.ecrivain->position_apres_dernier_cluster());
    }
    return {};
}

}  // namespace mkv
