// Kept apart from the portable code: it needs the back end, which unit tests do not link.
#include "conversion/conversion.hpp"

namespace conversion {

std::expected<ConvertisseurNv12, commun::Erreur> creer_convertisseur(capture::Peripherique& peripherique,
                                                                     std::uint32_t in_w, std::uint32_t in_h,
                                                                     std::uint32_t out_w, std::uint32_t out_h,
                                                                     std::uint32_t images_par_seconde,
                                                                     std::uint32_t nombre_sorties) {
    auto moteur = creer_moteur_nv12(
        peripherique, parametres_conversion(in_w, in_h, out_w, out_h, images_par_seconde, nombre_sorties));
    if (!moteur) {
        return std::unexpected(moteur.error());
    }
    return ConvertisseurNv12(std::move(*moteur));
}

}  // namespace conversion
