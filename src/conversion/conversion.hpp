#pragma once
// Conversion of the captured BGRA image to NV12 at the output size, letterboxed.
//
// The portable `ConvertisseurNv12` owns the ring of output surfaces' cycling and the
// input-view rule; the back end (D3D11 video processor, libswscale) supplies a
// `MoteurNv12` that scales into one surface of its ring.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>

#include "capture/capture.hpp"
#include "commun/erreur.hpp"

namespace conversion {

// Where the scaled image lands in the output: `largeur` × `hauteur` at (x, y).
struct Placement {
    float echelle = 0.0f;
    std::int32_t largeur = 0;
    std::int32_t hauteur = 0;
    std::int32_t x = 0;
    std::int32_t y = 0;
};

// Computed in 32-bit float: echelle = min(out_w / max(in_w, 1), out_h / max(in_h, 1));
// scaled sizes truncated then made even; offsets centred with integer division.
Placement calculer_placement(std::uint32_t in_w, std::uint32_t in_h, std::uint32_t out_w, std::uint32_t out_h);

struct ParametresConversion {
    std::uint32_t largeur_entree = 0;
    std::uint32_t hauteur_entree = 0;
    std::uint32_t largeur_sortie = 0;
    std::uint32_t hauteur_sortie = 0;
    std::uint32_t images_par_seconde = 0;
    std::uint32_t nombre_sorties = 0;
    // Destination rectangle inside the output (from `calculer_placement`); the rest of the
    // output is the back end's background fill.
    Placement placement;
};

// One NV12 output surface of the ring (Windows: NV12 texture + output view; Linux: a CPU
// NV12 frame). The encoder's back end casts it to its own type.
class SortieNv12 {
public:
    virtual ~SortieNv12() = default;
};

// Back-end conversion engine for one input size; its surfaces are built at creation.
class MoteurNv12 {
public:
    virtual ~MoteurNv12() = default;
    virtual std::size_t nombre_sorties() const = 0;
    virtual SortieNv12& sortie(std::size_t indice) = 0;
    // Binds the engine's input to `source` (Windows: creates the input view). Called before
    // the first conversion and again whenever the source image changes.
    virtual std::expected<void, commun::Erreur> preparer_entree(const capture::RefTexture& source) = 0;
    // Scales and converts the bound source into surface `indice`.
    virtual std::expected<void, commun::Erreur> convertir(std::size_t indice) = 0;
};

// Ring index: 0, 1, …, n − 1, 0, … One step per conversion.
class Anneau {
public:
    explicit Anneau(std::size_t taille) : taille_(taille == 0 ? 1 : taille) {}
    // The index to write now; moves on to the next one.
    std::size_t avancer() {
        const std::size_t i = suivante_;
        suivante_ = (i + 1) % taille_;
        return i;
    }
    std::size_t suivante() const { return suivante_; }

private:
    std::size_t taille_;
    std::size_t suivante_ = 0;
};

class ConvertisseurNv12 {
public:
    explicit ConvertisseurNv12(std::unique_ptr<MoteurNv12> moteur);

    // Converts `source` into the next surface of the ring and returns its index. The input
    // is bound again when `source` is not the image bound last time, so a replaced image is
    // never read through a stale binding. A failing conversion has still used its index.
    std::expected<std::size_t, commun::Erreur> convertir_image(const capture::RefTexture& source);

    SortieNv12& sortie(std::size_t indice) { return moteur_->sortie(indice); }
    std::size_t nombre_sorties() const { return moteur_->nombre_sorties(); }

private:
    std::unique_ptr<MoteurNv12> moteur_;
    Anneau anneau_;
    capture::RefTexture source_liee_;  // the image the input is bound to; held so its identity stays unique
};

// Implemented by the back end of the platform.
std::expected<std::unique_ptr<MoteurNv12>, commun::Erreur> creer_moteur_nv12(capture::Peripherique& peripherique,
                                                                             const ParametresConversion& parametres);

// Portable: fills the placement and builds the converter on the platform's engine.
std::expected<ConvertisseurNv12, commun::Erreur> creer_convertisseur(capture::Peripherique& peripherique,
                                                                     std::uint32_t in_w, std::uint32_t in_h,
                                                                     std::uint32_t out_w, std::uint32_t out_h,
                                                                     std::uint32_t images_par_seconde,
                                                                     std::uint32_t nombre_sorties);
ParametresConversion parametres_conversion(std::uint32_t in_w, std::uint32_t in_h, std::uint32_t out_w,
                                           std::uint32_t out_h, std::uint32_t images_par_seconde,
                                           std::uint32_t nombre_sorties);

}  // namespace conversion
