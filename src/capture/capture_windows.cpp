// Window capture through the system's capture service, on the recording's D3D11 device.
// A free-threaded frame pool raises FrameArrived on a system thread; the handler copies each
// frame into the latest-image texture of the shared state.
#include <windows.h>
#include <d3d11.h>
#include <dxgi.h>
#include <objidl.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "capture/capture.hpp"
#include "capture/capture_windows.hpp"
#include "capture/gestionnaires_windows.hpp"
#include "capture/peripherique_windows.hpp"
#include "capture/wgc_abi_windows.hpp"
#include "commun/windows/com.hpp"
#include "commun/windows/hresult.hpp"

namespace capture {

using commun::Com;
using commun::Erreur;
namespace abi = capture::abi;

namespace {

class Hstring {
public:
    explicit Hstring(std::wstring_view texte) {
        resultat_ = WindowsCreateString(texte.data(), static_cast<UINT32>(texte.size()), &h_);
    }
    ~Hstring() {
        if (h_ != nullptr) {
            WindowsDeleteString(h_);
        }
    }
    Hstring(const Hstring&) = delete;
    Hstring& operator=(const Hstring&) = delete;
    HRESULT resultat() const { return resultat_; }
    HSTRING get() const { return h_; }

private:
    HSTRING h_ = nullptr;
    HRESULT resultat_ = E_FAIL;
};

// Activation factory of a runtime class. A thread outside any apartment gets the
// multithreaded one (kept for the life of the process) and one more try.
template <typename I>
HRESULT fabrique_activation(std::wstring_view classe, Com<I>& sortie) {
    Hstring nom(classe);
    if (FAILED(nom.resultat())) {
        return nom.resultat();
    }
    HRESULT hr = RoGetActivationFactory(nom.get(), commun::iid_de<I>(), sortie.put_void());
    if (hr == CO_E_NOTINITIALIZED) {
        CO_MTA_USAGE_COOKIE cookie{};
        (void)CoIncrementMTAUsage(&cookie);
        hr = RoGetActivationFactory(nom.get(), commun::iid_de<I>(), sortie.put_void());
    }
    return hr;
}

void fermer(IUnknown* objet) {
    if (objet == nullptr) {
        return;
    }
    Com<abi::IClosable> fermable;
    if (SUCCEEDED(objet->QueryInterface(abi::IClosable::iid, fermable.put_void())) && fermable) {
        (void)fermable->Close();
    }
}

// Built step by step, so that a failed start undoes exactly what was done.
class CaptureD3D final : public CaptureFenetre {
public:
    explicit CaptureD3D(std::shared_ptr<EtatCapture> etat) : CaptureFenetre(std::move(etat)) {}

    ~CaptureD3D() override {
        if (jeton_frame_arrived_ && pool_) {
            (void)pool_->remove_FrameArrived(*jeton_frame_arrived_);
        }
        if (jeton_closed_ && item_) {
            (void)item_->remove_Closed(*jeton_closed_);
        }
        fermer(session_.get());
        fermer(pool_.get());
        session_.reset();
        pool_.reset();
        item_.reset();
    }

    Com<abi::IGraphicsCaptureItem> item_;
    Com<abi::IDirect3D11CaptureFramePool> pool_;
    Com<abi::IGraphicsCaptureSession> session_;
    std::optional<EventRegistrationToken> jeton_frame_arrived_;
    std::optional<EventRegistrationToken> jeton_closed_;
};

class FabriquesSysteme final : public FabriquesCapture {
public:
    HRESULT interop_item(Com<abi::IGraphicsCaptureItemInterop>& sortie) override {
        return fabrique_activation(L"Windows.Graphics.Capture.GraphicsCaptureItem", sortie);
    }
    HRESULT statiques_pool(Com<abi::IDirect3D11CaptureFramePoolStatics2>& sortie) override {
        return fabrique_activation(L"Windows.Graphics.Capture.Direct3D11CaptureFramePool", sortie);
    }
    HRESULT peripherique_winrt(IDXGIDevice* dxgi, Com<IInspectable>& sortie) override {
        return CreateDirect3D11DeviceFromDXGIDevice(dxgi, sortie.put());
    }
};

// The steps of demarrer_capture_avec, in their order. What a failed step has built is in the
// capture object, whose destruction undoes it.

std::unexpected<Erreur> echec(HRESULT hr) { return std::unexpected(commun::erreur_hresult(hr)); }

// The capture item of the window.
std::expected<void, Erreur> creer_item(FabriquesCapture& fabriques, HWND fenetre, CaptureD3D& capture) {
    Com<abi::IGraphicsCaptureItemInterop> interop;
    if (HRESULT hr = fabriques.interop_item(interop); FAILED(hr)) {
        return echec(hr);
    }
    if (HRESULT hr = interop->CreateForWindow(fenetre, abi::IGraphicsCaptureItem::iid, capture.item_.put_void());
        FAILED(hr)) {
        return echec(hr);
    }
    if (!capture.item_) {
        return echec(E_POINTER);
    }
    return {};
}

// The runtime's view of our device.
std::expected<Com<abi::IDirect3DDevice>, Erreur> peripherique_runtime(FabriquesCapture& fabriques,
                                                                      const PeripheriqueD3D& d3d) {
    Com<IDXGIDevice> dxgi;
    if (HRESULT hr = d3d.peripherique.interroger(dxgi); FAILED(hr)) {
        return echec(hr);
    }
    Com<IInspectable> inspectable;
    if (HRESULT hr = fabriques.peripherique_winrt(dxgi.get(), inspectable); FAILED(hr)) {
        return echec(hr);
    }
    Com<abi::IDirect3DDevice> peripherique_winrt;
    if (HRESULT hr = inspectable.interroger(peripherique_winrt); FAILED(hr)) {
        return echec(hr);
    }
    return peripherique_winrt;
}

// A free-threaded pool: events on system threads, no dispatcher needed.
std::expected<void, Erreur> creer_pool(FabriquesCapture& fabriques, abi::IDirect3DDevice* peripherique_winrt,
                                       abi::SizeInt32 taille, CaptureD3D& capture) {
    Com<abi::IDirect3D11CaptureFramePoolStatics2> statiques;
    if (HRESULT hr = fabriques.statiques_pool(statiques); FAILED(hr)) {
        return echec(hr);
    }
    if (HRESULT hr = statiques->CreateFreeThreaded(peripherique_winrt, abi::DirectXPixelFormat_B8G8R8A8UIntNormalized,
                                                   nombre_tampons, taille, capture.pool_.put());
        FAILED(hr)) {
        return echec(hr);
    }
    if (!capture.pool_) {
        return echec(E_POINTER);
    }
    return {};
}

// Handlers; the sources keep their own references, ours go at the end of each block.
std::expected<void, Erreur> brancher_gestionnaires(CaptureD3D& capture, const PeripheriqueD3D& d3d,
                                                   const Com<abi::IDirect3DDevice>& peripherique_winrt,
                                                   abi::SizeInt32 taille) {
    {
        auto gestionnaire = creer_gestionnaire_frame_arrived(d3d.peripherique, d3d.contexte, capture.etat_partage(),
                                                             peripherique_winrt, taille);
        EventRegistrationToken jeton{};
        if (HRESULT hr = capture.pool_->add_FrameArrived(gestionnaire.get(), &jeton); FAILED(hr)) {
            return echec(hr);
        }
        capture.jeton_frame_arrived_ = jeton;
    }
    {
        auto gestionnaire = creer_gestionnaire_closed(capture.etat_partage());
        EventRegistrationToken jeton{};
        if (HRESULT hr = capture.item_->add_Closed(gestionnaire.get(), &jeton); FAILED(hr)) {
            return echec(hr);
        }
        capture.jeton_closed_ = jeton;
    }
    return {};
}

std::expected<void, Erreur> creer_session(CaptureD3D& capture) {
    if (HRESULT hr = capture.pool_->CreateCaptureSession(capture.item_.get(), capture.session_.put()); FAILED(hr)) {
        return echec(hr);
    }
    if (!capture.session_) {
        return echec(E_POINTER);
    }
    return {};
}

// Cursor and border: newer session interfaces, absent on older systems; ignored then.
void regler_session(const CaptureD3D& capture, bool curseur) {
    Com<abi::IGraphicsCaptureSession2> session2;
    if (SUCCEEDED(capture.session_.interroger(session2)) && session2) {
        (void)session2->put_IsCursorCaptureEnabled(static_cast<boolean>(curseur ? 1 : 0));
    }
    Com<abi::IGraphicsCaptureSession3> session3;
    if (SUCCEEDED(capture.session_.interroger(session3)) && session3) {
        (void)session3->put_IsBorderRequired(static_cast<boolean>(0));
    }
}

}  // namespace

FabriquesCapture& fabriques_systeme() {
    static FabriquesSysteme systeme;
    return systeme;
}

std::expected<std::unique_ptr<CaptureFenetre>, Erreur> demarrer_capture(Peripherique& peripherique,
                                                                        PoigneeFenetre fenetre, bool curseur) {
    return demarrer_capture_avec(fabriques_systeme(), peripherique, fenetre, curseur);
}

std::expected<std::unique_ptr<CaptureFenetre>, Erreur> demarrer_capture_avec(FabriquesCapture& fabriques,
                                                                             Peripherique& peripherique,
                                                                             PoigneeFenetre fenetre, bool curseur) {
    auto& d3d = static_cast<PeripheriqueD3D&>(peripherique);
    const HWND hwnd = reinterpret_cast<HWND>(static_cast<std::intptr_t>(fenetre));

    auto capture = std::make_unique<CaptureD3D>(std::make_shared<EtatCapture>());
    if (auto r = creer_item(fabriques, hwnd, *capture); !r) {
        return std::unexpected(r.error());
    }
    // Its size: the pool's first size and the handler's first "last content size".
    abi::SizeInt32 taille{};
    if (HRESULT hr = capture->item_->get_Size(&taille); FAILED(hr)) {
        return echec(hr);
    }
    auto peripherique_winrt = peripherique_runtime(fabriques, d3d);
    if (!peripherique_winrt) {
        return std::unexpected(peripherique_winrt.error());
    }
    if (auto r = creer_pool(fabriques, peripherique_winrt->get(), taille, *capture); !r) {
        return std::unexpected(r.error());
    }
    if (auto r = brancher_gestionnaires(*capture, d3d, *peripherique_winrt, taille); !r) {
        return std::unexpected(r.error());
    }
    if (auto r = creer_session(*capture); !r) {
        return std::unexpected(r.error());
    }
    regler_session(*capture, curseur);
    if (HRESULT hr = capture->session_->StartCapture(); FAILED(hr)) {
        return echec(hr);
    }
    return capture;
}

}  // namespace capture
