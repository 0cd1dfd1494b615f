#include "capture/capture_x11.hpp"

#include <algorithm>
#include <cstring>

#include "capture/texture_x11.hpp"

namespace capture {

std::expected<RefTexture, commun::Erreur> ImageArriveeX11::creer_image(std::uint32_t largeur, std::uint32_t hauteur) {
    try {
        return std::make_shared<TextureCpu>(largeur, hauteur);
    } catch (const std::bad_alloc&) {
        return std::unexpected(commun::Erreur("image de capture : mémoire insuffisante"));
    }
}

void ImageArriveeX11::copier_vers(Texture& destination, std::uint32_t largeur, std::uint32_t hauteur) {
    auto* image = dynamic_cast<TextureCpu*>(&destination);
    if (image == nullptr) {
        return;
    }
    std::lock_guard garde(image->verrou);
    ++image->generation;
    // The portable rule only copies into an image of the frame's size; stay inside both anyway.
    const std::size_t octets = static_cast<std::size_t>(std::min(largeur, image->largeur)) * 4;
    const std::uint32_t lignes = std::min(hauteur, image->hauteur);
    if (pas_ == image->pas && octets == image->pas) {
        std::memcpy(image->pixels.data(), pixels_, octets * lignes);
        return;
    }
    for (std::uint32_t y = 0; y < lignes; ++y) {
        std::memcpy(image->pixels.data() + y * image->pas, pixels_ + y * pas_, octets);
    }
}

std::expected<std::unique_ptr<Peripherique>, commun::Erreur> creer_peripherique() {
    auto connexion = ConnexionX11::ouvrir();
    if (!connexion) {
        return std::unexpected(connexion.error());
    }
    auto peripherique = std::make_unique<PeripheriqueX11>(std::move(*connexion));
    peripherique->nom = "X11 " + peripherique->connexion.fournisseur();
    peripherique->id_fournisseur = 0;
    return peripherique;
}

std::expected<std::unique_ptr<CaptureFenetre>, commun::Erreur> demarrer_capture(Peripherique& /*peripherique*/,
                                                                                PoigneeFenetre fenetre,
                                                                                bool /*curseur*/) {
    // X window ids are 29-bit values; anything else cannot name a window.
    if (fenetre <= 0 || fenetre > 0xFFFF'FFFF) {
        return std::unexpected(commun::Erreur("fenêtre X introuvable"));
    }
    auto etat = std::make_shared<EtatCapture>();
    auto resultat = std::make_unique<CaptureFenetreX11>(etat);
    // X images never show the pointer (it is not part of a window's contents), which is what
    // the recording asks for; the cursor flag has no effect here.
    auto sondage = SondageX11::demarrer(
        static_cast<std::uint32_t>(fenetre),
        [etat](const std::uint8_t* pixels, std::uint32_t largeur, std::uint32_t hauteur, std::size_t pas) {
        ImageArriveeX11 arrivee(pixels, pas);
        deposer_image(*etat, largeur, hauteur, arrivee);
        },
        [etat] { etat->fermee.store(true); });
    if (!sondage) {
        return std::unexpected(sondage.error());
    }
    resultat->sondage = std::move(*sondage);
    return resultat;
}

}  // namespace capture
