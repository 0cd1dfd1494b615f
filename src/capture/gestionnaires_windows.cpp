// The capture's event handlers: FrameArrived copies every pending frame into the latest
// image and recreates the pool when the content size changes; Closed marks the state. Both
// run on the system's threads and let no exception out.
#include "capture/gestionnaires_windows.hpp"

#include <d3d11.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <new>

#include "capture/delegue_windows.hpp"
#include "capture/peripherique_windows.hpp"
#include "commun/windows/hresult.hpp"

namespace capture {

using commun::Com;
using commun::Erreur;

namespace {

static_assert(static_cast<int>(abi::DirectXPixelFormat_B8G8R8A8UIntNormalized) ==
              static_cast<int>(DXGI_FORMAT_B8G8R8A8_UNORM));
static_assert((D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET) == 0x28);

// One delivered frame, for the portable arrival rule.
class ArriveeD3D final : public ImageArrivee {
public:
    ArriveeD3D(ID3D11Device* peripherique, ID3D11DeviceContext* contexte, ID3D11Texture2D* source)
        : peripherique_(peripherique), contexte_(contexte), source_(source) {}

    std::expected<RefTexture, Erreur> creer_image(std::uint32_t largeur, std::uint32_t hauteur) override {
        D3D11_TEXTURE2D_DESC description{};
        description.Width = largeur;
        description.Height = hauteur;
        description.MipLevels = 1;
        description.ArraySize = 1;
        description.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        description.SampleDesc.Count = 1;
        description.SampleDesc.Quality = 0;
        description.Usage = D3D11_USAGE_DEFAULT;
        description.BindFlags = D3D11_BIND_SHADER_RESOURCE | D3D11_BIND_RENDER_TARGET;  // 0x28
        description.CPUAccessFlags = 0;
        description.MiscFlags = 0;
        Com<ID3D11Texture2D> texture;
        if (HRESULT hr = peripherique_->CreateTexture2D(&description, nullptr, texture.put()); FAILED(hr)) {
            return std::unexpected(commun::erreur_hresult(hr));
        }
        if (!texture) {
            return std::unexpected(Erreur("texture image"));
        }
        return std::make_shared<TextureD3D>(std::move(texture));
    }

    void copier_vers(Texture& destination, std::uint32_t largeur, std::uint32_t hauteur) override {
        // The pool's buffer keeps its old size until Recreate takes effect: a box larger
        // than the source is invalid for the copy, so it is kept inside the source.
        D3D11_TEXTURE2D_DESC source{};
        source_->GetDesc(&source);
        D3D11_BOX boite{};
        boite.left = 0;
        boite.top = 0;
        boite.front = 0;
        boite.right = std::min<UINT>(largeur, source.Width);
        boite.bottom = std::min<UINT>(hauteur, source.Height);
        boite.back = 1;
        contexte_->CopySubresourceRegion(static_cast<TextureD3D&>(destination).texture.get(), 0, 0, 0, 0, source_, 0,
                                         &boite);
    }

private:
    ID3D11Device* peripherique_;
    ID3D11DeviceContext* contexte_;
    ID3D11Texture2D* source_;
};

std::uint32_t dimension(INT32 valeur) { return valeur > 0 ? static_cast<std::uint32_t>(valeur) : 0; }

// A handler runs inside the system's frames, which an exception must never cross: what the
// body throws (an allocation, a lock) becomes the capture's error and the call reports a
// failure.
template <typename Corps>
HRESULT sans_exception(EtatCapture& etat, Corps&& corps) noexcept {
    try {
        return corps();
    } catch (const std::bad_alloc&) {
        try {
            etat.signaler_erreur(commun::erreur_hresult(E_OUTOFMEMORY));
        } catch (...) {
        }
        return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        try {
            etat.signaler_erreur(Erreur(e.what()));
        } catch (...) {
        }
        return E_FAIL;
    } catch (...) {
        try {
            etat.signaler_erreur(commun::erreur_hresult(E_UNEXPECTED));
        } catch (...) {
        }
        return E_UNEXPECTED;
    }
}

class GestionnaireFrameArrived final : public Delegue<abi::IGestionnaireFrameArrived, GestionnaireFrameArrived> {
public:
    GestionnaireFrameArrived(Com<ID3D11Device> peripherique, Com<ID3D11DeviceContext> contexte,
                             std::shared_ptr<EtatCapture> etat, Com<abi::IDirect3DDevice> peripherique_winrt,
                             abi::SizeInt32 taille_initiale)
        : peripherique_(std::move(peripherique)),
          contexte_(std::move(contexte)),
          etat_(std::move(etat)),
          peripherique_winrt_(std::move(peripherique_winrt)),
          suivi_(dimension(taille_initiale.Width), dimension(taille_initiale.Height)) {}

    HRESULT STDMETHODCALLTYPE Invoke(abi::IDirect3D11CaptureFramePool* pool, IInspectable*) override {
        return sans_exception(*etat_, [&] { return prendre_images(pool); });
    }

private:
    HRESULT prendre_images(abi::IDirect3D11CaptureFramePool* pool) {
        if (pool == nullptr) {
            return S_OK;
        }
        // Every pending frame is taken; the last one wins. An empty pool answers with success
        // and no frame.
        for (;;) {
            Com<abi::IDirect3D11CaptureFrame> image;
            if (FAILED(pool->TryGetNextFrame(image.put())) || !image) {
                break;
            }
            abi::SizeInt32 contenu{};
            if (HRESULT hr = image->get_ContentSize(&contenu); FAILED(hr)) {
                return hr;
            }
            const std::uint32_t w = dimension(contenu.Width);
            const std::uint32_t h = dimension(contenu.Height);

            Com<abi::IDirect3DSurface> surface;
            if (HRESULT hr = image->get_Surface(surface.put()); FAILED(hr)) {
                return hr;
            }
            if (!surface) {
                return E_POINTER;
            }
            Com<abi::IDirect3DDxgiInterfaceAccess> acces;
            if (HRESULT hr = surface.interroger(acces); FAILED(hr)) {
                return hr;
            }
            Com<ID3D11Texture2D> source;
            if (HRESULT hr = acces->GetInterface(__uuidof(ID3D11Texture2D), source.put_void()); FAILED(hr)) {
                return hr;
            }
            if (!source) {
                return E_POINTER;
            }

            ArriveeD3D arrivee(peripherique_.get(), contexte_.get(), source.get());
            deposer_image(*etat_, w, h, arrivee);

            {
                // Two deliveries racing must not both recreate the pool for one change.
                std::lock_guard garde(verrou_taille_);
                if (suivi_.changer(w, h)) {
                    const abi::SizeInt32 taille{static_cast<INT32>(std::max<std::uint32_t>(w, 1)),
                                                static_cast<INT32>(std::max<std::uint32_t>(h, 1))};
                    (void)pool->Recreate(peripherique_winrt_.get(), abi::DirectXPixelFormat_B8G8R8A8UIntNormalized,
                                         nombre_tampons, taille);
                }
            }
            // Frame, surface and source texture are released here, in reverse order.
        }
        return S_OK;
    }

    Com<ID3D11Device> peripherique_;
    Com<ID3D11DeviceContext> contexte_;
    std::shared_ptr<EtatCapture> etat_;
    Com<abi::IDirect3DDevice> peripherique_winrt_;
    std::mutex verrou_taille_;
    SuiviTaille suivi_;
};

class GestionnaireClosed final : public Delegue<abi::IGestionnaireClosed, GestionnaireClosed> {
public:
    explicit GestionnaireClosed(std::shared_ptr<EtatCapture> etat) : etat_(std::move(etat)) {}

    // An atomic store: nothing here can throw.
    HRESULT STDMETHODCALLTYPE Invoke(abi::IGraphicsCaptureItem*, IInspectable*) override {
        etat_->fermee.store(true);
        return S_OK;
    }

private:
    std::shared_ptr<EtatCapture> etat_;
};

}  // namespace

Com<abi::IGestionnaireFrameArrived> creer_gestionnaire_frame_arrived(Com<ID3D11Device> peripherique,
                                                                     Com<ID3D11DeviceContext> contexte,
                                                                     std::shared_ptr<EtatCapture> etat,
                                                                     Com<abi::IDirect3DDevice> peripherique_winrt,
                                                                     abi::SizeInt32 taille_initiale) {
    return GestionnaireFrameArrived::creer(std::move(peripherique), std::move(contexte), std::move(etat),
                                           std::move(peripherique_winrt), taille_initiale);
}

Com<abi::IGestionnaireClosed> creer_gestionnaire_closed(std::shared_ptr<EtatCapture> etat) {
    return GestionnaireClosed::creer(std::move(etat));
}

}  // namespace capture
