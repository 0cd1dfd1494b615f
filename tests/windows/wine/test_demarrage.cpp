// The capture's start and stop against a fake window-capture runtime: the calls, their
// arguments and their order; the handlers registered as real event sources hold them; what
// a failed start undoes; older systems without the cursor and border settings.
#include "test_demarrage.hpp"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "capture/capture_windows.hpp"
#include "capture/wgc_abi_windows.hpp"
#include "commun/windows/com.hpp"
#include "support/windows/faux_winrt.hpp"

namespace {

namespace abi = capture::abi;
using commun::Com;

std::vector<std::string> journal;

void noter(const std::string& ligne) { journal.push_back(ligne); }

#define INSPECTABLE_SANS_EFFET                                                             \
    HRESULT STDMETHODCALLTYPE GetIids(ULONG*, IID**) override { return E_NOTIMPL; }        \
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING*) override { return E_NOTIMPL; } \
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel*) override { return E_NOTIMPL; }    \
    ULONG STDMETHODCALLTYPE AddRef() override { return ++compte; }                         \
    ULONG STDMETHODCALLTYPE Release() override { return --compte; }

struct FauxPeripherique final : essai::InspectableNonImplemente<abi::IDirect3DDevice> {
    HRESULT STDMETHODCALLTYPE Trim() override { return S_OK; }
};

// A source of events as the runtime is one: it keeps its own reference to the handler.
template <typename Gestionnaire>
struct Source {
    Com<Gestionnaire> gestionnaire;
    HRESULT ajouter(Gestionnaire* g, EventRegistrationToken* jeton, INT64 valeur) {
        gestionnaire = Com<Gestionnaire>::partager(g);
        jeton->value = valeur;
        return S_OK;
    }
};

// A capture item has no IClosable.
struct FauxItem final : essai::InspectableNonImplemente<abi::IGraphicsCaptureItem> {
    Source<abi::IGestionnaireClosed> closed;
    HRESULT STDMETHODCALLTYPE get_DisplayName(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Size(abi::SizeInt32* taille) override {
        noter("get_Size");
        *taille = abi::SizeInt32{800, 600};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_Closed(abi::IGestionnaireClosed* g, EventRegistrationToken* jeton) override {
        noter("add_Closed");
        return closed.ajouter(g, jeton, 11);
    }
    HRESULT STDMETHODCALLTYPE remove_Closed(EventRegistrationToken jeton) override {
        noter("remove_Closed " + std::to_string(jeton.value));
        closed.gestionnaire.reset();
        return S_OK;
    }
};

struct FausseSession final : abi::IGraphicsCaptureSession,
                             abi::IGraphicsCaptureSession2,
                             abi::IGraphicsCaptureSession3,
                             abi::IClosable {
    ULONG compte = 1;
    bool recente = true;  // offers the cursor and border settings
    HRESULT demarrage = S_OK;
    INSPECTABLE_SANS_EFFET
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** objet) override {
        *objet = nullptr;
        if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, abi::iid_inspectable) ||
            IsEqualIID(riid, abi::IGraphicsCaptureSession::iid)) {
            *objet = static_cast<abi::IGraphicsCaptureSession*>(this);
        } else if (recente && IsEqualIID(riid, abi::IGraphicsCaptureSession2::iid)) {
            *objet = static_cast<abi::IGraphicsCaptureSession2*>(this);
        } else if (recente && IsEqualIID(riid, abi::IGraphicsCaptureSession3::iid)) {
            *objet = static_cast<abi::IGraphicsCaptureSession3*>(this);
        } else if (IsEqualIID(riid, abi::IClosable::iid)) {
            *objet = static_cast<abi::IClosable*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE StartCapture() override {
        noter("StartCapture");
        return demarrage;
    }
    HRESULT STDMETHODCALLTYPE get_IsCursorCaptureEnabled(boolean*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_IsCursorCaptureEnabled(boolean valeur) override {
        noter("put_IsCursorCaptureEnabled " + std::to_string(valeur));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsBorderRequired(boolean*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_IsBorderRequired(boolean valeur) override {
        noter("put_IsBorderRequired " + std::to_string(valeur));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override {
        noter("session Close");
        return S_OK;
    }
};

struct FauxPool final : abi::IDirect3D11CaptureFramePool, abi::IClosable {
    ULONG compte = 1;
    FauxItem* item = nullptr;
    FausseSession* session = nullptr;
    Source<abi::IGestionnaireFrameArrived> frame_arrived;
    INSPECTABLE_SANS_EFFET
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** objet) override {
        *objet = nullptr;
        if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, abi::iid_inspectable) ||
            IsEqualIID(riid, abi::IDirect3D11CaptureFramePool::iid)) {
            *objet = static_cast<abi::IDirect3D11CaptureFramePool*>(this);
        } else if (IsEqualIID(riid, abi::IClosable::iid)) {
            *objet = static_cast<abi::IClosable*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Recreate(abi::IDirect3DDevice*, abi::DirectXPixelFormat, INT32, abi::SizeInt32) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE TryGetNextFrame(abi::IDirect3D11CaptureFrame** image) override {
        *image = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE add_FrameArrived(abi::IGestionnaireFrameArrived* g,
                                               EventRegistrationToken* jeton) override {
        noter("add_FrameArrived");
        return frame_arrived.ajouter(g, jeton, 22);
    }
    HRESULT STDMETHODCALLTYPE remove_FrameArrived(EventRegistrationToken jeton) override {
        noter("remove_FrameArrived " + std::to_string(jeton.value));
        frame_arrived.gestionnaire.reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateCaptureSession(abi::IGraphicsCaptureItem* i,
                                                   abi::IGraphicsCaptureSession** s) override {
        noter(std::string("CreateCaptureSession ") + (i == item ? "item" : "autre"));
        session->AddRef();
        *s = session;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_DispatcherQueue(IInspectable**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Close() override {
        noter("pool Close");
        return S_OK;
    }
};

struct FauxInterop final : abi::IGraphicsCaptureItemInterop {
    ULONG compte = 1;
    FauxItem* item = nullptr;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** objet) override {
        *objet = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++compte; }
    ULONG STDMETHODCALLTYPE Release() override { return --compte; }
    HRESULT STDMETHODCALLTYPE CreateForWindow(HWND fenetre, REFIID riid, void** resultat) override {
        noter("CreateForWindow " + std::to_string(reinterpret_cast<std::intptr_t>(fenetre)) +
              (IsEqualIID(riid, abi::IGraphicsCaptureItem::iid) ? " IGraphicsCaptureItem" : " ?"));
        item->AddRef();
        *resultat = static_cast<abi::IGraphicsCaptureItem*>(item);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateForMonitor(HMONITOR, REFIID, void**) override { return E_NOTIMPL; }
};

struct FaussesStatiques final : abi::IDirect3D11CaptureFramePoolStatics2 {
    ULONG compte = 1;
    FauxPool* pool = nullptr;
    FauxPeripherique* peripherique = nullptr;
    INSPECTABLE_SANS_EFFET
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** objet) override {
        *objet = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE CreateFreeThreaded(abi::IDirect3DDevice* p, abi::DirectXPixelFormat format, INT32 n,
                                                 abi::SizeInt32 taille, abi::IDirect3D11CaptureFramePool** r) override {
        noter("CreateFreeThreaded " + std::string(p == peripherique ? "peripherique " : "? ") + std::to_string(format) +
              " " + std::to_string(n) + " " + std::to_string(taille.Width) + "x" + std::to_string(taille.Height));
        pool->AddRef();
        *r = pool;
        return S_OK;
    }
};

struct Fabriques final : capture::FabriquesCapture {
    FauxInterop* interop = nullptr;
    FaussesStatiques* statiques = nullptr;
    FauxPeripherique* peripherique = nullptr;
    HRESULT interop_item(Com<abi::IGraphicsCaptureItemInterop>& sortie) override {
        noter("activation item");
        sortie = Com<abi::IGraphicsCaptureItemInterop>::partager(interop);
        return S_OK;
    }
    HRESULT statiques_pool(Com<abi::IDirect3D11CaptureFramePoolStatics2>& sortie) override {
        noter("activation pool");
        sortie = Com<abi::IDirect3D11CaptureFramePoolStatics2>::partager(statiques);
        return S_OK;
    }
    HRESULT peripherique_winrt(IDXGIDevice* dxgi, Com<IInspectable>& sortie) override {
        noter(std::string("peripherique_winrt ") + (dxgi != nullptr ? "dxgi" : "nul"));
        sortie = Com<IInspectable>::partager(peripherique);
        return S_OK;
    }
};

struct Monde {
    FauxPeripherique peripherique;
    FauxItem item;
    FausseSession session;
    FauxPool pool;
    FauxInterop interop;
    FaussesStatiques statiques;
    Fabriques fabriques;
    Monde() {
        pool.item = &item;
        pool.session = &session;
        interop.item = &item;
        statiques.pool = &pool;
        statiques.peripherique = &peripherique;
        fabriques.interop = &interop;
        fabriques.statiques = &statiques;
        fabriques.peripherique = &peripherique;
    }
    bool tout_rendu() const {
        return peripherique.compte == 1 && item.compte == 1 && session.compte == 1 && pool.compte == 1 &&
               interop.compte == 1 && statiques.compte == 1 && !item.closed.gestionnaire &&
               !pool.frame_arrived.gestionnaire;
    }
};

const std::vector<std::string> demarrage_attendu{
    "activation item",
    "CreateForWindow 4660 IGraphicsCaptureItem",
    "get_Size",
    "peripherique_winrt dxgi",
    "activation pool",
    "CreateFreeThreaded peripherique 87 3 800x600",
    "add_FrameArrived",
    "add_Closed",
    "CreateCaptureSession item",
};
const std::vector<std::string> arret_attendu{"remove_FrameArrived 22", "remove_Closed 11", "session Close",
                                             "pool Close"};

std::vector<std::string> concatener(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void afficher_journal() {
    for (const auto& ligne : journal) {
        std::printf("    | %s\n", ligne.c_str());
    }
}

}  // namespace

void verifier_demarrage(capture::PeripheriqueD3D& d3d, void (*verifier)(bool, const char*)) {
    constexpr capture::PoigneeFenetre fenetre = 0x1234;
    {
        Monde monde;
        journal.clear();
        auto capture = capture::demarrer_capture_avec(monde.fabriques, d3d, fenetre, false);
        verifier(capture.has_value(), "capture démarrée");
        if (!capture) {
            afficher_journal();
            return;
        }
        auto attendu =
            concatener(demarrage_attendu, {"put_IsCursorCaptureEnabled 0", "put_IsBorderRequired 0", "StartCapture"});
        verifier(journal == attendu, "appels de démarrage, arguments et ordre");
        if (journal != attendu) {
            afficher_journal();
        }
        // The runtime holds the handlers: raising the events reaches the shared state.
        verifier(monde.pool.frame_arrived.gestionnaire && monde.item.closed.gestionnaire, "gestionnaires enregistrés");
        if (monde.pool.frame_arrived.gestionnaire && monde.item.closed.gestionnaire) {
            verifier(monde.pool.frame_arrived.gestionnaire->Invoke(&monde.pool, nullptr) == S_OK, "FrameArrived");
            verifier(monde.item.closed.gestionnaire->Invoke(&monde.item, nullptr) == S_OK &&
                         (*capture)->etat().fermee.load(),
                     "Closed ferme l'état");
        }
        std::weak_ptr<capture::EtatCapture> etat = (*capture)->etat_partage();
        journal.clear();
        capture->reset();
        verifier(journal == arret_attendu, "arrêt : gestionnaires retirés, session puis pool fermés");
        if (journal != arret_attendu) {
            afficher_journal();
        }
        verifier(etat.expired(), "l'état part avec le dernier gestionnaire");
        verifier(monde.tout_rendu(), "toutes les références rendues");
    }
    {
        // A system without the second and third session interfaces; the cursor asked for.
        Monde monde;
        monde.session.recente = false;
        journal.clear();
        auto capture = capture::demarrer_capture_avec(monde.fabriques, d3d, fenetre, true);
        verifier(capture.has_value() && journal == concatener(demarrage_attendu, {"StartCapture"}),
                 "sans curseur ni bordure réglables, la capture démarre");
        capture = std::unexpected(commun::Erreur("fin"));
        verifier(monde.tout_rendu(), "toutes les références rendues (système ancien)");
    }
    {
        Monde monde;
        journal.clear();
        auto capture = capture::demarrer_capture_avec(monde.fabriques, d3d, fenetre, true);
        verifier(capture.has_value() && journal.size() > demarrage_attendu.size() &&
                     journal[demarrage_attendu.size()] == "put_IsCursorCaptureEnabled 1",
                 "curseur demandé");
    }
    {
        // StartCapture fails: the error is returned and everything done is undone.
        Monde monde;
        monde.session.demarrage = E_ACCESSDENIED;
        journal.clear();
        auto capture = capture::demarrer_capture_avec(monde.fabriques, d3d, fenetre, false);
        verifier(!capture.has_value(), "échec de StartCapture rendu");
        const auto attendu = concatener(
            concatener(demarrage_attendu, {"put_IsCursorCaptureEnabled 0", "put_IsBorderRequired 0", "StartCapture"}),
            arret_attendu);
        verifier(journal == attendu, "échec : gestionnaires retirés, session et pool fermés");
        if (journal != attendu) {
            afficher_journal();
        }
        verifier(monde.tout_rendu(), "toutes les références rendues (échec)");
    }
}
