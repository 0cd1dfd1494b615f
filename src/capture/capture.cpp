#include "capture/capture.hpp"

#include <algorithm>

namespace capture {

bool deposer_image(EtatCapture& etat, std::uint32_t w, std::uint32_t h, ImageArrivee& image) {
    const std::uint32_t cw = std::max<std::uint32_t>(w, 1);
    const std::uint32_t ch = std::max<std::uint32_t>(h, 1);
    std::lock_guard garde(etat.verrou);
    if (!etat.image || etat.image->largeur != cw || etat.image->hauteur != ch) {
        auto nouvelle = image.creer_image(cw, ch);
        if (!nouvelle || !*nouvelle) {
            return false;
        }
        etat.image = ImageSource{std::move(*nouvelle), cw, ch};
    }
    image.copier_vers(*etat.image->texture, cw, ch);
    return true;
}

void EtatCapture::signaler_erreur(const commun::Erreur& erreur) noexcept {
    try {
        std::lock_guard garde(verrou_erreur_);
        if (!erreur_) {
            erreur_ = erreur;
            en_erreur_.store(true);
        }
    } catch (...) {
        // Out of memory or a broken lock: the error cannot be kept.
    }
}

std::optional<commun::Erreur> EtatCapture::erreur() const {
    if (!en_erreur_.load()) {
        return std::nullopt;
    }
    std::lock_guard garde(verrou_erreur_);
    return erreur_;
}

bool SuiviTaille::changer(std::uint32_t w, std::uint32_t h) {
    std::lock_guard garde(verrou_);
    if (w == largeur_ && h == hauteur_) {
        return false;
    }
    largeur_ = w;
    hauteur_ = h;
    return true;
}

}  // namespace capture
