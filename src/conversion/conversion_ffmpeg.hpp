#pragma once
// BGRA to NV12 on the CPU with libswscale: scaled into the placement rectangle of the
// output, full-range RGB to limited-range BT.709, black bars around, written into one of a
// ring of CPU NV12 surfaces.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <vector>

#include "capture/capture.hpp"
#include "commun/erreur.hpp"
#include "conversion/conversion.hpp"

struct SwsContext;
struct AVBufferRef;

namespace conversion {

// One NV12 image in CPU memory: a luma plane then an interleaved chroma plane, rows `pas`
// bytes apart in both. Its storage is reference-counted so that the encoder can take the
// image without copying it; a writer calls `rendre_inscriptible` first, which gives the
// surface fresh storage (black) while an earlier reference is still held.
class SurfaceNv12Cpu : public SortieNv12 {
public:
    SurfaceNv12Cpu(std::uint32_t largeur, std::uint32_t hauteur);
    ~SurfaceNv12Cpu() override;
    SurfaceNv12Cpu(const SurfaceNv12Cpu&) = delete;
    SurfaceNv12Cpu& operator=(const SurfaceNv12Cpu&) = delete;

    std::uint32_t largeur() const { return largeur_; }
    std::uint32_t hauteur() const { return hauteur_; }
    std::size_t pas() const { return pas_; }
    std::size_t taille() const { return pas_ * (hauteur_ + (hauteur_ + 1) / 2); }
    std::uint8_t* luma() { return donnees(); }
    const std::uint8_t* luma() const { return donnees(); }
    std::uint8_t* chroma() { return donnees() + pas_ * hauteur_; }
    const std::uint8_t* chroma() const { return donnees() + pas_ * hauteur_; }

    // Limited-range black: Y 16, Cb Cr 128.
    void remplir_noir();
    // True when the surface's storage was replaced (and so holds black only).
    bool rendre_inscriptible();
    // A new reference to the storage (an AVBufferRef), for the encoder; null when out of memory.
    AVBufferRef* referencer() const;

private:
    std::uint8_t* donnees() const;

    std::uint32_t largeur_;
    std::uint32_t hauteur_;
    std::size_t pas_;
    AVBufferRef* tampon_ = nullptr;
};

// The conversion engine for one input size.
class MoteurSws : public MoteurNv12 {
public:
    // Chroma is subsampled by two, so the placement's corner is moved down to even
    // coordinates (at most one pixel) and its size made even; a placement that does not fit
    // the output, odd output sizes and empty inputs are errors. A placement left empty by
    // that (a source too thin to cover one chroma pair) gives black frames.
    static std::expected<std::unique_ptr<MoteurSws>, commun::Erreur> creer(const ParametresConversion& parametres);

    std::size_t nombre_sorties() const override { return sorties_.size(); }
    SurfaceNv12Cpu& sortie(std::size_t indice) override { return *sorties_.at(indice); }
    // The source must be a CPU image of the engine's input size.
    std::expected<void, commun::Erreur> preparer_entree(const capture::RefTexture& source) override;
    std::expected<void, commun::Erreur> convertir(std::size_t indice) override;

    // Converts `bgra` (rows `pas` bytes apart, input size) into surface `indice`.
    std::expected<void, commun::Erreur> convertir_pixels(std::size_t indice, const std::uint8_t* bgra, std::size_t pas);

    Placement placement() const { return placement_; }

    class Cle {
        friend class MoteurSws;
        Cle() = default;
    };
    explicit MoteurSws(Cle) {}

private:
    // Builds the ring of black surfaces.
    static std::expected<std::unique_ptr<MoteurSws>, commun::Erreur> creer_sorties(std::unique_ptr<MoteurSws> m,
                                                                                   std::uint32_t out_w,
                                                                                   std::uint32_t out_h,
                                                                                   std::uint32_t nombre);

    struct LibererSws {
        void operator()(SwsContext* c) const;
    };

    struct LibererAv {
        void operator()(std::uint8_t* p) const;
    };

    std::unique_ptr<SwsContext, LibererSws> contexte_;
    std::vector<std::unique_ptr<SurfaceNv12Cpu>> sorties_;
    // Planar chroma written by the scaler, interleaved into the surface afterwards: the
    // scaler's planar output is faster than its NV12 one by more than the interleave costs.
    std::unique_ptr<std::uint8_t[], LibererAv> cb_;
    std::unique_ptr<std::uint8_t[], LibererAv> cr_;
    std::size_t pas_chroma_ = 0;
    std::uint32_t in_w_ = 0;
    std::uint32_t in_h_ = 0;
    Placement placement_;
    capture::RefTexture source_;
    // The last conversion of the bound source: its content generation and the surface
    // written. An unchanged image is copied from that surface instead of scaled again.
    std::optional<std::uint64_t> generation_convertie_;
    std::size_t derniere_sortie_ = 0;
};

}  // namespace conversion
