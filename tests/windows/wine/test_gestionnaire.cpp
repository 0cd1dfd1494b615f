// The FrameArrived and Closed handlers driven by a fake frame pool whose frames are real
// textures of the system's D3D11 device: every pending frame taken, the latest image sized
// and filled, the pool recreated once per content-size change, references all given back.
#include "test_gestionnaire.hpp"

#include <windows.h>
#include <d3d11.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <new>
#include <system_error>
#include <vector>

#include "capture/gestionnaires_windows.hpp"
#include "capture/peripherique_windows.hpp"
#include "capture/wgc_abi_windows.hpp"
#include "commun/windows/com.hpp"
#include "commun/windows/hresult.hpp"
#include "support/windows/faux_winrt.hpp"

namespace {

namespace abi = capture::abi;
using commun::Com;

template <typename I>
using Faux = essai::InspectableNonImplemente<I>;

struct FausseSurface final : Faux<abi::IDirect3DSurface>, abi::IDirect3DDxgiInterfaceAccess {
    ID3D11Texture2D* texture = nullptr;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** objet) override {
        if (IsEqualIID(riid, abi::IDirect3DDxgiInterfaceAccess::iid)) {
            *objet = static_cast<abi::IDirect3DDxgiInterfaceAccess*>(this);
            AddRef();
            return S_OK;
        }
        return Faux<abi::IDirect3DSurface>::QueryInterface(riid, objet);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Faux<abi::IDirect3DSurface>::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Faux<abi::IDirect3DSurface>::Release(); }
    HRESULT STDMETHODCALLTYPE get_Description(abi::Direct3DSurfaceDescription*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInterface(REFIID riid, void** objet) override {
        return texture->QueryInterface(riid, objet);
    }
};

struct FausseImage final : Faux<abi::IDirect3D11CaptureFrame> {
    FausseSurface* surface = nullptr;
    abi::SizeInt32 contenu{};
    HRESULT STDMETHODCALLTYPE get_Surface(abi::IDirect3DSurface** valeur) override {
        surface->AddRef();
        *valeur = surface;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_SystemRelativeTime(abi::TimeSpan*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ContentSize(abi::SizeInt32* valeur) override {
        *valeur = contenu;
        return S_OK;
    }
};

struct FauxPool final : Faux<abi::IDirect3D11CaptureFramePool> {
    std::deque<FausseImage*> en_attente;
    int demandes = 0;
    std::vector<abi::SizeInt32> recreations;
    HRESULT STDMETHODCALLTYPE Recreate(abi::IDirect3DDevice*, abi::DirectXPixelFormat format, INT32 tampons,
                                       abi::SizeInt32 taille) override {
        if (format != abi::DirectXPixelFormat_B8G8R8A8UIntNormalized || tampons != 3) {
            return E_INVALIDARG;
        }
        recreations.push_back(taille);
        return S_OK;
    }
    enum class Lancer { rien, memoire, verrou } lancer = Lancer::rien;  // what the next call throws
    HRESULT STDMETHODCALLTYPE TryGetNextFrame(abi::IDirect3D11CaptureFrame** resultat) override {
        ++demandes;
        if (lancer == Lancer::memoire) {
            throw std::bad_alloc();
        }
        if (lancer == Lancer::verrou) {
            throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur), "verrou");
        }
        *resultat = nullptr;
        if (!en_attente.empty()) {
            *resultat = en_attente.front();
            en_attente.pop_front();
            (*resultat)->AddRef();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_FrameArrived(abi::IGestionnaireFrameArrived*, EventRegistrationToken*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE remove_FrameArrived(EventRegistrationToken) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateCaptureSession(abi::IGraphicsCaptureItem*,
                                                   abi::IGraphicsCaptureSession**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE get_DispatcherQueue(IInspectable**) override { return E_NOTIMPL; }
};

Com<ID3D11Texture2D> texture_bgra(ID3D11Device* peripherique, UINT largeur, UINT hauteur, std::uint32_t couleur) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(largeur) * hauteur, couleur);
    D3D11_TEXTURE2D_DESC d{};
    d.Width = largeur;
    d.Height = hauteur;
    d.MipLevels = 1;
    d.ArraySize = 1;
    d.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    d.SampleDesc.Count = 1;
    d.Usage = D3D11_USAGE_DEFAULT;
    d.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    D3D11_SUBRESOURCE_DATA donnees{};
    donnees.pSysMem = pixels.data();
    donnees.SysMemPitch = largeur * 4;
    Com<ID3D11Texture2D> t;
    peripherique->CreateTexture2D(&d, &donnees, t.put());
    return t;
}

// The first pixel of a texture, read back through a staging copy.
std::uint32_t premier_pixel(capture::PeripheriqueD3D& d3d, ID3D11Texture2D* texture) {
    D3D11_TEXTURE2D_DESC d{};
    texture->GetDesc(&d);
    d.Usage = D3D11_USAGE_STAGING;
    d.BindFlags = 0;
    d.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    Com<ID3D11Texture2D> lecture;
    if (FAILED(d3d.peripherique->CreateTexture2D(&d, nullptr, lecture.put()))) {
        return 0;
    }
    d3d.contexte->CopyResource(lecture.get(), texture);
    D3D11_MAPPED_SUBRESOURCE carte{};
    if (FAILED(d3d.contexte->Map(lecture.get(), 0, D3D11_MAP_READ, 0, &carte))) {
        return 0;
    }
    const std::uint32_t pixel = *static_cast<const std::uint32_t*>(carte.pData);
    d3d.contexte->Unmap(lecture.get(), 0);
    return pixel;
}

}  // namespace

void verifier_gestionnaires(capture::PeripheriqueD3D& d3d, void (*verifier)(bool, const char*)) {
    constexpr std::uint32_t rouge = 0xffff0000;
    auto source = texture_bgra(d3d.peripherique.get(), 64, 48, rouge);
    verifier(static_cast<bool>(source), "texture source");
    if (!source) {
        return;
    }
    FausseSurface surface;
    surface.texture = source.get();
    FauxPool pool;
    auto etat = std::make_shared<capture::EtatCapture>();
    auto gestionnaire = capture::creer_gestionnaire_frame_arrived(d3d.peripherique, d3d.contexte, etat, nullptr,
                                                                  abi::SizeInt32{64, 48});
    auto livrer = [&](std::initializer_list<abi::SizeInt32> tailles) {
        std::vector<FausseImage> images(tailles.size());
        std::size_t i = 0;
        for (const auto& t : tailles) {
            images[i].surface = &surface;
            images[i].contenu = t;
            pool.en_attente.push_back(&images[i]);
            ++i;
        }
        pool.demandes = 0;
        const HRESULT hr = gestionnaire->Invoke(&pool, nullptr);
        verifier(hr == S_OK, "Invoke réussit");
        verifier(pool.en_attente.empty() && pool.demandes == static_cast<int>(tailles.size()) + 1,
                 "toutes les images en attente sont prises");
        for (const auto& image : images) {
            verifier(image.compte == 1, "chaque image est rendue");
        }
        verifier(surface.compte == 1, "la surface est rendue");
    };
    auto taille_image = [&](std::uint32_t l, std::uint32_t h) {
        std::lock_guard garde(etat->verrou);
        return etat->image && etat->image->largeur == l && etat->image->hauteur == h;
    };
    auto texture_image = [&]() {
        std::lock_guard garde(etat->verrou);
        return etat->image ? static_cast<capture::TextureD3D&>(*etat->image->texture).texture.get() : nullptr;
    };

    // Two pending frames of the pool's own size: both taken, no recreation.
    livrer({{64, 48}, {64, 48}});
    verifier(taille_image(64, 48), "image 64 × 48");
    verifier(pool.recreations.empty(), "pas de recréation à la taille de départ");
    verifier(premier_pixel(d3d, texture_image()) == rouge, "l'image reçoit la copie");

    // Smaller content: a new image, one recreation; the same size again changes nothing.
    livrer({{32, 16}});
    ID3D11Texture2D* petite = texture_image();
    verifier(taille_image(32, 16) && pool.recreations.size() == 1 && pool.recreations.back().Width == 32 &&
                 pool.recreations.back().Height == 16,
             "recréation à 32 × 16");
    livrer({{32, 16}});
    verifier(texture_image() == petite && pool.recreations.size() == 1, "même taille : même image, pas de recréation");

    // An empty content gives a 1 × 1 image and a pool of 1 × 1.
    livrer({{0, 0}});
    verifier(taille_image(1, 1) && pool.recreations.size() == 2 && pool.recreations.back().Width == 1 &&
                 pool.recreations.back().Height == 1,
             "contenu vide : 1 × 1");

    // Content larger than the pool's buffer (before the recreation takes effect): the copy
    // stays inside the source.
    livrer({{100, 80}});
    verifier(taille_image(100, 80) && pool.recreations.size() == 3, "agrandissement : nouvelle image et recréation");
    verifier(premier_pixel(d3d, texture_image()) == rouge, "copie limitée à la source");

    // What the handler's body throws (an allocation, a lock) never reaches the system's frames:
    // the call fails and the capture keeps the error.
    for (const auto lancer : {FauxPool::Lancer::memoire, FauxPool::Lancer::verrou}) {
        auto etat_erreur = std::make_shared<capture::EtatCapture>();
        auto g = capture::creer_gestionnaire_frame_arrived(d3d.peripherique, d3d.contexte, etat_erreur, nullptr,
                                                           abi::SizeInt32{64, 48});
        pool.lancer = lancer;
        const HRESULT hr = g->Invoke(&pool, nullptr);
        pool.lancer = FauxPool::Lancer::rien;
        const auto e = etat_erreur->erreur();
        const std::string attendu =
            lancer == FauxPool::Lancer::memoire
                ? commun::texte_hresult(E_OUTOFMEMORY)
                : std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur), "verrou").what();
        const HRESULT code = lancer == FauxPool::Lancer::memoire ? E_OUTOFMEMORY : E_FAIL;
        verifier(hr == code && e && e->chaine() == attendu,
                 "exception dans Invoke : échec rendu, erreur de la capture");
    }
    verifier(!etat->erreur(), "sans exception, pas d'erreur de capture");

    // Closed handler; the handlers' hold on the state ends with their last reference.
    auto ferme = capture::creer_gestionnaire_closed(etat);
    verifier(ferme->Invoke(nullptr, nullptr) == S_OK && etat->fermee.load(), "Closed marque l'état");
    verifier(etat.use_count() == 3, "les deux gestionnaires tiennent l'état");
    gestionnaire.reset();
    ferme.reset();
    verifier(etat.use_count() == 1, "l'état est rendu avec la dernière référence");
    verifier(pool.compte == 1, "le pool est rendu");
}
