#include "conversion/conversion.hpp"

#include <algorithm>

namespace conversion {

Placement calculer_placement(std::uint32_t in_w, std::uint32_t in_h, std::uint32_t out_w, std::uint32_t out_h) {
    const float ex = static_cast<float>(out_w) / static_cast<float>(std::max<std::uint32_t>(in_w, 1));
    const float ey = static_cast<float>(out_h) / static_cast<float>(std::max<std::uint32_t>(in_h, 1));
    Placement p;
    p.echelle = std::min(ex, ey);
    // Truncation toward zero into i32 (the product is never negative), saturating rather
    // than overflowing for absurd sizes.
    const auto tronquer = [](float v) -> std::int32_t {
        return v >= 2147483648.0f ? INT32_MAX : static_cast<std::int32_t>(v);
    };
    // Even sizes, so that chroma rows and columns pair up.
    p.largeur = tronquer(static_cast<float>(in_w) * p.echelle) & ~std::int32_t{1};
    p.hauteur = tronquer(static_cast<float>(in_h) * p.echelle) & ~std::int32_t{1};
    p.x = (static_cast<std::int32_t>(out_w) - p.largeur) / 2;
    p.y = (static_cast<std::int32_t>(out_h) - p.hauteur) / 2;
    return p;
}

ParametresConversion parametres_conversion(std::uint32_t in_w, std::uint32_t in_h, std::uint32_t out_w,
                                           std::uint32_t out_h, std::uint32_t images_par_seconde,
                                           std::uint32_t nombre_sorties) {
    return ParametresConversion{
        in_w, in_h, out_w, out_h, images_par_seconde, nombre_sorties, calculer_placement(in_w, in_h, out_w, out_h)};
}

ConvertisseurNv12::ConvertisseurNv12(std::unique_ptr<MoteurNv12> moteur)
    : moteur_(std::move(moteur)), anneau_(moteur_->nombre_sorties()) {}

std::expected<std::size_t, commun::Erreur> ConvertisseurNv12::convertir_image(const capture::RefTexture& source) {
    if (source_liee_ != source) {
        // Drop the old binding first: a failed rebinding must not leave the engine reading
        // the previous image as if it were this one.
        source_liee_.reset();
        if (auto r = moteur_->preparer_entree(source); !r) {
            return std::unexpected(r.error());
        }
        source_liee_ = source;
    }
    const std::size_t i = anneau_.avancer();
    if (auto r = moteur_->convertir(i); !r) {
        return std::unexpected(r.error());
    }
    return i;
}

}  // namespace conversion
