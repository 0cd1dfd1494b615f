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
