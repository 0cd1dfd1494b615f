#pragma once
// The X11 device and window capture behind the portable capture interfaces.
#include <memory>
#include <string>

#include "capture/affichage_x11.hpp"
#include "capture/capture.hpp"
#include "capture/sondage_x11.hpp"

namespace capture {

// No graphics adapter is involved on Linux: the "device" is the X display, which every
// piece of the recording needs.
class PeripheriqueX11 : public Peripherique {
public:
    explicit PeripheriqueX11(ConnexionX11 c) : connexion(std::move(c)) {}
    ConnexionX11 connexion;
};

// Copies a polled X image into the capture state by the portable arrival rule.
class ImageArriveeX11 : public ImageArrivee {
public:
    ImageArriveeX11(const std::uint8_t* pixels, std::size_t pas) : pixels_(pixels), pas_(pas) {}
    std::expected<RefTexture, commun::Erreur> creer_image(std::uint32_t largeur, std::uint32_t hauteur) override;
    void copier_vers(Texture& destination, std::uint32_t largeur, std::uint32_t hauteur) override;

private:
    const std::uint8_t* pixels_;
    std::size_t pas_;
};

class CaptureFenetreX11 : public CaptureFenetre {
public:
    explicit CaptureFenetreX11(std::shared_ptr<EtatCapture> etat) : CaptureFenetre(std::move(etat)) {}
    // Declared after the base's state so it stops (and joins its thread) first.
    std::unique_ptr<SondageX11> sondage;
};

}  // namespace capture
