// BGRA to NV12 on the GPU with the D3D11 video processor: scaling into the placement
// rectangle, full-range RGB to studio-range BT.709, one blit per frame.
#include <windows.h>
#include <d3d11.h>
#include <d3d11_1.h>

#include <memory>
#include <vector>

#include "capture/peripherique_windows.hpp"
#include "commun/windows/com.hpp"
#include "commun/windows/hresult.hpp"
#include "conversion/conversion.hpp"
#include "conversion/conversion_windows.hpp"

namespace conversion {

using commun::Com;
using commun::Erreur;

namespace {

static_assert(DXGI_COLOR_SPACE_RGB_FULL_G22_NONE_P709 == 0);
static_assert(DXGI_COLOR_SPACE_YCBCR_STUDIO_G22_LEFT_P709 == 8);
static_assert(D3D11_BIND_RENDER_TARGET == 0x20);
static_assert(DXGI_FORMAT_NV12 == 103);

class MoteurD3D final : public MoteurNv12 {
public:
    std::size_t nombre_sorties() const override { return sorties_.size(); }
    SortieNv12& sortie(std::size_t indice) override { return *sorties_.at(indice); }

    std::expected<void, Erreur> preparer_entree(const capture::RefTexture& source) override {
        vue_entree_.reset();
        if (!source) {
            return std::unexpected(Erreur("vue d'entrée"));
        }
        auto& texture = static_cast<capture::TextureD3D&>(*source);
        D3D11_VIDEO_PROCESSOR_INPUT_VIEW_DESC description{};
        description.FourCC = 0;
        description.ViewDimension = D3D11_VPIV_DIMENSION_TEXTURE2D;
        description.Texture2D.MipSlice = 0;
        description.Texture2D.ArraySlice = 0;
        if (HRESULT hr = video_->CreateVideoProcessorInputView(texture.texture.get(), enumerateur_.get(), &description,
                                                               vue_entree_.put());
            FAILED(hr)) {
            return std::unexpected(commun::erreur_hresult(hr));
        }
        if (!vue_entree_) {
            return std::unexpected(Erreur("vue d'entrée"));
        }
        return {};
    }

    std::expected<void, Erreur> convertir(std::size_t indice) override {
        D3D11_VIDEO_PROCESSOR_STREAM flux{};
        flux.Enable = TRUE;
        flux.OutputIndex = 0;
        flux.InputFrameOrField = 0;
        flux.PastFrames = 0;
        flux.FutureFrames = 0;
        flux.pInputSurface = vue_entree_.get();
        if (HRESULT hr =
                contexte_video_->VideoProcessorBlt(processeur_.get(), sorties_.at(indice)->vue.get(), 0, 1, &flux);
            FAILED(hr)) {
            return std::unexpected(commun::erreur_hresult(hr));
        }
        return {};
    }

    // Declaration order is creation order, so members go in reverse: views and surfaces first.
    Com<ID3D11Device> peripherique_;
    Com<ID3D11VideoDevice> video_;
    Com<ID3D11VideoContext> contexte_video_;
    Com<ID3D11VideoProcessorEnumerator> enumerateur_;
    Com<ID3D11VideoProcessor> processeur_;
    std::vector<std::unique_ptr<SortieNv12D3D>> sorties_;
    Com<ID3D11VideoProcessorInputView> vue_entree_;
};

RECT rectangle(LONG gauche, LONG haut, LONG droite, LONG bas) {
    RECT r{};
    r.left = gauche;
    r.top = haut;
    r.right = droite;
    r.bottom = bas;
    return r;
}

}  // namespace

std::expected<std::unique_ptr<MoteurNv12>, Erreur> creer_moteur_nv12(capture::Peripherique& peripherique,
                                                                     const ParametresConversion& p) {
    auto& d3d = static_cast<capture::PeripheriqueD3D&>(peripherique);
    auto echec = [](HRESULT hr) { return std::unexpected(commun::erreur_hresult(hr)); };
    auto moteur = std::make_unique<MoteurD3D>();
    moteur->peripherique_ = d3d.peripherique;

    if (HRESULT hr = d3d.peripherique.interroger(moteur->video_); FAILED(hr)) {
        return echec(hr);
    }
    if (!moteur->video_) {
        return echec(E_NOINTERFACE);
    }
    if (HRESULT hr = d3d.contexte.interroger(moteur->contexte_video_); FAILED(hr)) {
        return echec(hr);
    }
    if (!moteur->contexte_video_) {
        return echec(E_NOINTERFACE);
    }

    D3D11_VIDEO_PROCESSOR_CONTENT_DESC contenu{};
    contenu.InputFrameFormat = D3D11_VIDEO_FRAME_FORMAT_PROGRESSIVE;
    contenu.InputFrameRate.Numerator = p.images_par_seconde;
    contenu.InputFrameRate.Denominator = 1;
    contenu.InputWidth = p.largeur_entree;
    contenu.InputHeight = p.hauteur_entree;
    contenu.OutputFrameRate.Numerator = p.images_par_seconde;
    contenu.OutputFrameRate.Denominator = 1;
    contenu.OutputWidth = p.largeur_sortie;
    contenu.OutputHeight = p.hauteur_sortie;
    contenu.Usage = D3D11_VIDEO_USAGE_PLAYBACK_NORMAL;
    if (HRESULT hr = moteur->video_->CreateVideoProcessorEnumerator(&contenu, moteur->enumerateur_.put()); FAILED(hr)) {
        return echec(hr);
    }
    if (!moteur->enumerateur_) {
        return echec(E_POINTER);
    }
    if (HRESULT hr = moteur->video_->CreateVideoProcessor(moteur->enumerateur_.get(), 0, moteur->processeur_.put());
        FAILED(hr)) {
        return echec(hr);
    }
    if (!moteur->processeur_) {
        return echec(E_POINTER);
    }

    ID3D11VideoContext* video = moteur->contexte_video_.get();
    ID3D11VideoProcessor* processeur = moteur->processeur_.get();

    // Without the newer context the driver's default colour spaces apply.
    Com<ID3D11VideoContext1> video1;
    if (SUCCEEDED(d3d.contexte.interroger(video1)) && video1) {
        video1->VideoProcessorSetStreamColorSpace1(processeur, 0, DXGI_COLOR_SPACE_RGB_FULL_G22_NONE_P709);
        video1->VideoProcessorSetOutputColorSpace1(processeur, DXGI_COLOR_SPACE_YCBCR_STUDIO_G22_LEFT_P709);
    }
    video->VideoProcessorSetStreamAutoProcessingMode(processeur, 0, FALSE);

    const Placement& pl = p.placement;
    const RECT source = rectangle(0, 0, static_cast<LONG>(p.largeur_entree), static_cast<LONG>(p.hauteur_entree));
    const RECT destination = rectangle(pl.x, pl.y, pl.x + pl.largeur, pl.y + pl.hauteur);
    const RECT cible = rectangle(0, 0, static_cast<LONG>(p.largeur_sortie), static_cast<LONG>(p.hauteur_sortie));
    video->VideoProcessorSetStreamSourceRect(processeur, 0, TRUE, &source);
    video->VideoProcessorSetStreamDestRect(processeur, 0, TRUE, &destination);
    video->VideoProcessorSetOutputTargetRect(processeur, TRUE, &cible);

    for (std::uint32_t i = 0; i < p.nombre_sorties; ++i) {
        auto sortie = std::make_unique<SortieNv12D3D>();
        D3D11_TEXTURE2D_DESC description{};
        description.Width = p.largeur_sortie;
        description.Height = p.hauteur_sortie;
        description.MipLevels = 1;
        description.ArraySize = 1;
        description.Format = DXGI_FORMAT_NV12;
        description.SampleDesc.Count = 1;
        description.SampleDesc.Quality = 0;
        description.Usage = D3D11_USAGE_DEFAULT;
        description.BindFlags = D3D11_BIND_RENDER_TARGET;  // 0x20
        description.CPUAccessFlags = 0;
        description.MiscFlags = 0;
        if (HRESULT hr = d3d.peripherique->CreateTexture2D(&description, nullptr, sortie->texture.put()); FAILED(hr)) {
            return echec(hr);
        }
        if (!sortie->texture) {
            return std::unexpected(Erreur("texture NV12"));
        }
        D3D11_VIDEO_PROCESSOR_OUTPUT_VIEW_DESC vue{};
        vue.ViewDimension = D3D11_VPOV_DIMENSION_TEXTURE2D;
        vue.Texture2D.MipSlice = 0;
        if (HRESULT hr = moteur->video_->CreateVideoProcessorOutputView(
                sortie->texture.get(), moteur->enumerateur_.get(), &vue, sortie->vue.put());
            FAILED(hr)) {
            return echec(hr);
        }
        if (!sortie->vue) {
            return std::unexpected(Erreur("vue de sortie"));
        }
        moteur->sorties_.push_back(std::move(sortie));
    }
    return moteur;
}

}  // namespace conversion
