#include "conversion/conversion_ffmpeg.hpp"

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/mem.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <limits>
#include <new>

#include "capture/texture_x11.hpp"
#include "conversion/journal_ffmpeg.hpp"

namespace conversion {

namespace {
// Rows aligned for the scaler's vector stores.
constexpr std::size_t alignement = 64;

bool inscriptible(SurfaceNv12Cpu& s) {
    try {
        s.rendre_inscriptible();
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
}  // namespace

SurfaceNv12Cpu::SurfaceNv12Cpu(std::uint32_t largeur, std::uint32_t hauteur)
    : largeur_(largeur),
      hauteur_(hauteur),
      pas_((static_cast<std::size_t>(largeur) + alignement - 1) / alignement * alignement),
      tampon_(av_buffer_alloc(taille())) {
    if (tampon_ == nullptr) {
        throw std::bad_alloc();
    }
}

SurfaceNv12Cpu::~SurfaceNv12Cpu() { av_buffer_unref(&tampon_); }

std::uint8_t* SurfaceNv12Cpu::donnees() const { return tampon_->data; }

void SurfaceNv12Cpu::remplir_noir() {
    std::memset(luma(), 16, pas_ * hauteur_);
    std::memset(chroma(), 128, pas_ * ((hauteur_ + 1) / 2));
}

bool SurfaceNv12Cpu::rendre_inscriptible() {
    if (av_buffer_is_writable(tampon_) != 0) {
        return false;
    }
    // The encoder still holds the previous picture: it keeps that storage, we take new one.
    AVBufferRef* neuf = av_buffer_alloc(taille());
    if (neuf == nullptr) {
        throw std::bad_alloc();
    }
    av_buffer_unref(&tampon_);
    tampon_ = neuf;
    remplir_noir();
    return true;
}

AVBufferRef* SurfaceNv12Cpu::referencer() const { return av_buffer_ref(tampon_); }

void MoteurSws::LibererSws::operator()(SwsContext* c) const { sws_freeContext(c); }

void MoteurSws::LibererAv::operator()(std::uint8_t* p) const { av_free(p); }

std::expected<std::unique_ptr<MoteurSws>, commun::Erreur> MoteurSws::creer(const ParametresConversion& parametres) {
    const std::uint32_t in_w = parametres.largeur_entree;
    const std::uint32_t in_h = parametres.hauteur_entree;
    const std::uint32_t out_w = parametres.largeur_sortie;
    const std::uint32_t out_h = parametres.hauteur_sortie;
    constexpr auto limite = static_cast<std::uint32_t>(1U << 16);
    if (in_w == 0 || in_h == 0 || in_w > limite || in_h > limite || out_w < 2 || out_h < 2 || out_w % 2 != 0 ||
        out_h % 2 != 0 || out_w > limite || out_h > limite || parametres.nombre_sorties == 0) {
        return std::unexpected(commun::Erreur("taille de conversion invalide"));
    }
    Placement p = parametres.placement;
    p.x &= ~1;
    p.y &= ~1;
    p.largeur &= ~1;
    p.hauteur &= ~1;
    if (p.x < 0 || p.y < 0 || p.largeur < 0 || p.hauteur < 0 ||
        static_cast<std::int64_t>(p.x) + p.largeur > static_cast<std::int64_t>(out_w) ||
        static_cast<std::int64_t>(p.y) + p.hauteur > static_cast<std::int64_t>(out_h)) {
        return std::unexpected(commun::Erreur("placement hors de l'image de sortie"));
    }

    router_journal_ffmpeg();
    auto m = std::make_unique<MoteurSws>(Cle{});
    m->in_w_ = in_w;
    m->in_h_ = in_h;
    m->placement_ = p;
    if (p.largeur == 0 || p.hauteur == 0) {
        // A very thin window scales to less than one chroma pair: nothing of it shows, the
        // frames are all bars, and no scaler is needed.
        return creer_sorties(std::move(m), out_w, out_h, parametres.nombre_sorties);
    }
    // The alpha byte of an X image is undefined for depth-24 windows: read it as padding.
    m->contexte_.reset(sws_getContext(static_cast<int>(in_w), static_cast<int>(in_h), AV_PIX_FMT_BGR0, p.largeur,
                                      p.hauteur, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!m->contexte_) {
        return std::unexpected(commun::Erreur("contexte de conversion"));
    }
    // Full-range RGB in, limited-range BT.709 out.
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    if (sws_setColorspaceDetails(m->contexte_.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16) < 0) {
        return std::unexpected(commun::Erreur("espace colorimétrique BT.709"));
    }
    const auto demi_l = static_cast<std::size_t>(p.largeur / 2);
    const auto demi_h = static_cast<std::size_t>(p.hauteur / 2);
    m->pas_chroma_ = (demi_l + alignement - 1) / alignement * alignement;
    m->cb_.reset(static_cast<std::uint8_t*>(av_malloc(m->pas_chroma_ * demi_h)));
    m->cr_.reset(static_cast<std::uint8_t*>(av_malloc(m->pas_chroma_ * demi_h)));
    if (!m->cb_ || !m->cr_) {
        return std::unexpected(commun::Erreur("surface NV12 : mémoire insuffisante"));
    }
    return creer_sorties(std::move(m), out_w, out_h, parametres.nombre_sorties);
}

std::expected<std::unique_ptr<MoteurSws>, commun::Erreur> MoteurSws::creer_sorties(std::unique_ptr<MoteurSws> m,
                                                                                   std::uint32_t out_w,
                                                                                   std::uint32_t out_h,
                                                                                   std::uint32_t nombre) {
    try {
        m->sorties_.reserve(nombre);
        for (std::uint32_t i = 0; i < nombre; ++i) {
            // The bars never change while the engine lives: painted once, outside the placement.
            m->sorties_.push_back(std::make_unique<SurfaceNv12Cpu>(out_w, out_h));
            m->sorties_.back()->remplir_noir();
        }
    } catch (const std::bad_alloc&) {
        return std::unexpected(commun::Erreur("surface NV12 : mémoire insuffisante"));
    }
    return m;
}

std::expected<void, commun::Erreur> MoteurSws::preparer_entree(const capture::RefTexture& source) {
    auto* image = dynamic_cast<capture::TextureCpu*>(source.get());
    if (image == nullptr || image->largeur != in_w_ || image->hauteur != in_h_) {
        return std::unexpected(commun::Erreur("image d'entrée incompatible"));
    }
    source_ = source;
    generation_convertie_.reset();
    return {};
}

std::expected<void, commun::Erreur> MoteurSws::convertir(std::size_t indice) {
    auto* image = dynamic_cast<capture::TextureCpu*>(source_.get());
    if (image == nullptr) {
        return std::unexpected(commun::Erreur("aucune image d'entrée"));
    }
    if (indice >= sorties_.size()) {
        return std::unexpected(commun::Erreur("surface NV12 inexistante"));
    }
    // Held for the whole scale: the capture thread must not rewrite the image meanwhile.
    std::lock_guard garde(image->verrou);
    if (generation_convertie_ == image->generation) {
        // Same content as the last tick (a still window): its converted surface is reused.
        if (indice != derniere_sortie_) {
            SurfaceNv12Cpu& s = *sorties_[indice];
            const SurfaceNv12Cpu& d = *sorties_[derniere_sortie_];
            if (!inscriptible(s)) {
                return std::unexpected(commun::Erreur("surface NV12 : mémoire insuffisante"));
            }
            std::memcpy(s.luma(), d.luma(), s.taille());
            derniere_sortie_ = indice;
        }
        return {};
    }
    auto r = convertir_pixels(indice, image->pixels.data(), image->pas);
    if (r) {
        generation_convertie_ = image->generation;
        derniere_sortie_ = indice;
    }
    return r;
}

std::expected<void, commun::Erreur> MoteurSws::convertir_pixels(std::size_t indice, const std::uint8_t* bgra,
                                                                std::size_t pas) {
    // Whatever the bound source's last conversion left in the ring is no longer known.
    generation_convertie_.reset();
    if (indice >= sorties_.size()) {
        return std::unexpected(commun::Erreur("surface NV12 inexistante"));
    }
    if (bgra == nullptr || pas < static_cast<std::size_t>(in_w_) * 4 ||
        pas > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
        return std::unexpected(commun::Erreur("image source invalide"));
    }
    SurfaceNv12Cpu& s = *sorties_[indice];
    if (!inscriptible(s)) {
        return std::unexpected(commun::Erreur("surface NV12 : mémoire insuffisante"));
    }
    if (!contexte_) {
        return {};  // nothing of the source shows: the surface stays black
    }
    const std::uint8_t* const source[4] = {bgra, nullptr, nullptr, nullptr};
    const int pas_source[4] = {static_cast<int>(pas), 0, 0, 0};
    const auto x = static_cast<std::size_t>(placement_.x);
    const auto y = static_cast<std::size_t>(placement_.y);
    std::uint8_t* const destination[4] = {s.luma() + y * s.pas() + x, cb_.get(), cr_.get(), nullptr};
    const int pas_destination[4] = {static_cast<int>(s.pas()), static_cast<int>(pas_chroma_),
                                    static_cast<int>(pas_chroma_), 0};
    const int lignes =
        sws_scale(contexte_.get(), source, pas_source, 0, static_cast<int>(in_h_), destination, pas_destination);
    if (lignes <= 0) {
        return std::unexpected(commun::Erreur("conversion NV12"));
    }
    const auto demi_l = static_cast<std::size_t>(placement_.largeur / 2);
    const auto demi_h = static_cast<std::size_t>(placement_.hauteur / 2);
    for (std::size_t r = 0; r < demi_h; ++r) {
        std::uint8_t* uv = s.chroma() + (y / 2 + r) * s.pas() + x;
        const std::uint8_t* cb = cb_.get() + r * pas_chroma_;
        const std::uint8_t* cr = cr_.get() + r * pas_chroma_;
        for (std::size_t i = 0; i < demi_l; ++i) {
            uv[2 * i] = cb[i];
            uv[2 * i + 1] = cr[i];
        }
    }
    return {};
}

std::expected<std::unique_ptr<MoteurNv12>, commun::Erreur> creer_moteur_nv12(capture::Peripherique& /*peripherique*/,
                                                                             const ParametresConversion& parametres) {
    auto m = MoteurSws::creer(parametres);
    if (!m) {
        return std::unexpected(m.error());
    }
    return std::unique_ptr<MoteurNv12>(std::move(*m));
}

}  // namespace conversion
