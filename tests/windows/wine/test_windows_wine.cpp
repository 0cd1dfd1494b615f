// Reference counting of our COM pointer and of the capture's handler objects, and the
// system texts of HRESULTs and the pacing sleep, checked on Windows (wine) without a GPU.
#include <windows.h>
#include <objidl.h>
#include <unknwn.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>

#include "bin/vextrel/arret_console_windows.hpp"
#include "capture/capture.hpp"
#include "capture/delegue_windows.hpp"
#include "capture/peripherique_windows.hpp"
#include "capture/wgc_abi_windows.hpp"
#include "commun/windows/com.hpp"
#include "commun/windows/console.hpp"
#include "commun/windows/hresult.hpp"
#include "commun/windows/temporaire.hpp"
#include "conversion/conversion.hpp"
#include "test_creation_encodeur.hpp"
#include "test_demarrage.hpp"
#include "encodeur/config.hpp"
#include "encodeur/encodeur.hpp"
#include "test_encodeur.hpp"
#include "enregistrement/plateforme.hpp"
#include "enregistrement/session.hpp"
#include "test_gestionnaire.hpp"
#include "pipeline/canal.hpp"

namespace {

int echecs = 0;

void verifier(bool condition, const char* description) {
    if (!condition) {
        std::fprintf(stderr, "ÉCHEC : %s\n", description);
        ++echecs;
    }
}

// A plain COM object that records its count and its end.
struct Compteur final : IUnknown {
    ULONG compte = 1;
    bool* detruit;
    explicit Compteur(bool* d) : detruit(d) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** objet) override {
        if (IsEqualIID(riid, __uuidof(IUnknown))) {
            *objet = this;
            AddRef();
            return S_OK;
        }
        *objet = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++compte; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG reste = --compte;
        if (reste == 0) {
            *detruit = true;
        }
        return reste;
    }
};

void pointeur_com() {
    bool detruit = false;
    Compteur objet(&detruit);
    {
        auto a = commun::Com<IUnknown>::adopter(&objet);
        verifier(objet.compte == 1, "adopter n'ajoute pas de référence");
        {
            commun::Com<IUnknown> b = a;
            verifier(objet.compte == 2, "la copie ajoute une référence");
            commun::Com<IUnknown> c = std::move(b);
            verifier(objet.compte == 2 && !b, "le déplacement transfère la référence");
            c = a;
            verifier(objet.compte == 2, "l'affectation du même objet garde le compte");
        }
        verifier(objet.compte == 1, "les copies rendent leurs références");
        commun::Com<IUnknown> d;
        verifier(SUCCEEDED(a.interroger(d)) && objet.compte == 2, "interroger ajoute une référence");
        commun::Com<IInspectable> e;
        verifier(a.interroger(e) == E_NOINTERFACE && !e, "interface absente : pointeur vide");
        IUnknown** sortie = d.put();
        verifier(objet.compte == 1 && *sortie == nullptr, "put libère l'ancienne référence");
        auto f = commun::Com<IUnknown>::partager(&objet);
        verifier(objet.compte == 2, "partager ajoute une référence");
    }
    verifier(objet.compte == 0 && detruit, "dernière référence rendue");
}

struct Gestionnaire final : capture::Delegue<capture::abi::IGestionnaireClosed, Gestionnaire> {
    bool* detruit;
    int* appels;
    Gestionnaire(bool* d, int* a) : detruit(d), appels(a) {}
    ~Gestionnaire() { *detruit = true; }
    HRESULT STDMETHODCALLTYPE Invoke(capture::abi::IGraphicsCaptureItem*, IInspectable*) override {
        ++*appels;
        return S_OK;
    }
};

void delegue() {
    bool detruit = false;
    int appels = 0;
    auto gestionnaire = Gestionnaire::creer(&detruit, &appels);
    IUnknown* inconnu = nullptr;
    verifier(gestionnaire->QueryInterface(__uuidof(IUnknown), reinterpret_cast<void**>(&inconnu)) == S_OK &&
                 inconnu != nullptr,
             "IUnknown");
    void* agile = nullptr;
    verifier(gestionnaire->QueryInterface(__uuidof(IAgileObject), &agile) == S_OK && agile != nullptr, "IAgileObject");
    void* propre = nullptr;
    verifier(gestionnaire->QueryInterface(capture::abi::IGestionnaireClosed::iid, &propre) == S_OK && propre != nullptr,
             "interface du gestionnaire");
    void* autre = reinterpret_cast<void*>(1);
    verifier(gestionnaire->QueryInterface(capture::abi::IGestionnaireFrameArrived::iid, &autre) == E_NOINTERFACE &&
                 autre == nullptr,
             "l'autre gestionnaire est refusé");
    verifier(gestionnaire->QueryInterface(__uuidof(IUnknown), nullptr) == E_POINTER, "sortie nulle");
    if (propre != nullptr) {
        static_cast<capture::abi::IGestionnaireClosed*>(propre)->Invoke(nullptr, nullptr);
    }
    verifier(appels == 1, "Invoke par l'interface obtenue");
    // What an event source does: hold a reference beyond the creator's.
    if (inconnu == nullptr || agile == nullptr || propre == nullptr) {
        return;
    }
    gestionnaire->AddRef();
    inconnu->Release();
    static_cast<IUnknown*>(agile)->Release();
    static_cast<IUnknown*>(propre)->Release();
    gestionnaire.reset();
    verifier(!detruit, "la source garde l'objet en vie");
    verifier(static_cast<capture::abi::IGestionnaireClosed*>(propre)->Release() == 0 && detruit,
             "libéré à la dernière référence");
}

void textes_hresult() {
    const std::string refus = commun::texte_hresult(E_ACCESSDENIED);
    verifier(!refus.empty() && refus.find('\r') == std::string::npos && refus.find('\n') == std::string::npos,
             "texte du système sur une ligne");
    verifier(commun::texte_hresult(static_cast<HRESULT>(0xA0001234)) == "HRESULT 0xA0001234",
             "code inconnu en hexadécimal");
    verifier(commun::erreur_hresult(E_ACCESSDENIED).chaine() == refus, "erreur porte le texte");
}

void dossier_temporaire() {
    const std::wstring dossier = commun::dossier_temporaire_windows().wstring();
    wchar_t attendu[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, attendu);
    verifier(!dossier.empty() && dossier.back() == L'\\', "dossier temporaire terminé par une barre oblique inverse");
    verifier(dossier == std::wstring(attendu, n), "même dossier que GetTempPathW pour un processus ordinaire");
}

// The recording's pacing sleep on the real timer: a wrong sign or unit in the due time shows
// as a wait that returns at once or lasts far too long.
void sommeil() {
    using namespace std::chrono_literals;
    auto plateforme = enregistrement::plateforme_systeme();
    for (const std::chrono::nanoseconds duree :
         {std::chrono::nanoseconds(400us), std::chrono::nanoseconds(30ms), std::chrono::nanoseconds(120ms)}) {
        const auto debut = std::chrono::steady_clock::now();
        plateforme->dormir(duree);
        const auto ecoule = std::chrono::steady_clock::now() - debut;
        verifier(ecoule >= duree, "le sommeil dure au moins ce qui est demandé");
        verifier(ecoule < duree + 250ms, "le sommeil ne dure pas beaucoup plus");
    }
    const auto debut = std::chrono::steady_clock::now();
    plateforme->dormir(0ns);
    plateforme->dormir(-5ms);
    verifier(std::chrono::steady_clock::now() - debut < 20ms, "durée nulle ou négative : pas d'attente");
}

// The encoder's event thread over a transform that never has an event: between two polls it
// must really sleep (the game being recorded runs on the same machine), yet poll often enough
// to see its stop at once. A pause that rounds down to nothing shows as millions of turns a
// second and a thread that burns a whole core.
struct Repos {
    std::atomic<std::uint64_t> tours{0};
    HANDLE fil = nullptr;
};

class TransformeMuette final : public encodeur::TransformeAsync {
public:
    explicit TransformeMuette(Repos& r) : repos_(r) {}
    void initialiser_fil() override {
        DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &repos_.fil,
                        THREAD_QUERY_LIMITED_INFORMATION, FALSE, 0);
    }
    encodeur::TypeEvenement evenement_suivant() override {
        repos_.tours.fetch_add(1, std::memory_order_relaxed);
        return encodeur::TypeEvenement::aucun;
    }
    std::expected<void, commun::Erreur> soumettre(conversion::SortieNv12&, std::int64_t, std::int64_t) override {
        return std::unexpected(commun::Erreur("muette"));
    }
    std::expected<std::optional<pipeline::ImageEncodee>, commun::Erreur> collecter_sortie() override {
        return std::nullopt;
    }
    void terminer_flux() override {}

private:
    Repos& repos_;
};

std::uint64_t centaines_ns(const FILETIME& f) { return (std::uint64_t{f.dwHighDateTime} << 32) | f.dwLowDateTime; }

void boucle_au_repos() {
    Repos repos;
    auto [emetteur, recepteur] = pipeline::creer_canal<pipeline::ImageEncodee>(1);
    auto encodeur =
        encodeur::EncodeurMateriel::creer(std::make_unique<TransformeMuette>(repos), 30, std::move(emetteur));
    verifier(encodeur.has_value(), "encodeur sur une transformée muette");
    if (!encodeur) {
        return;
    }
    const auto debut = std::chrono::steady_clock::now();
    const std::uint64_t tours_debut = repos.tours.load();
    Sleep(1000);
    const std::uint64_t tours = repos.tours.load() - tours_debut;
    const double secondes = std::chrono::duration<double>(std::chrono::steady_clock::now() - debut).count();
    FILETIME creation{}, fin{}, noyau{}, utilisateur{};
    const bool temps_lus = repos.fil != nullptr && GetThreadTimes(repos.fil, &creation, &fin, &noyau, &utilisateur);
    const double cpu = static_cast<double>(centaines_ns(noyau) + centaines_ns(utilisateur)) / 1e7;
    std::move(*encodeur).arreter();
    if (repos.fil != nullptr) {
        CloseHandle(repos.fil);
    }
    const double par_seconde = static_cast<double>(tours) / secondes;
    std::printf("boucle d'événements au repos : %.0f tours/s, temps CPU du fil %.0f ms sur %.0f ms\n", par_seconde,
                cpu * 1000, secondes * 1000);
    verifier(temps_lus, "temps CPU du fil d'événements lu");
    verifier(par_seconde >= 100 && par_seconde <= 20000, "quelques milliers de tours par seconde, pas des millions");
    verifier(cpu <= 0.25 * secondes, "le fil d'événements dort entre deux tours");
}

// The console's stop requests as the handler sees them (the system calls it on a thread of
// its own): the first Ctrl+C is taken, a second one is left to the default handler, which
// ends the process; a closing console is held until the file is finished. The system's own
// delivery is run by vextrel_wine.sh (wine turns SIGINT into CTRL_C_EVENT).
void arret_console() {
    {
        vextrel::ArretConsole arret;
        verifier(!arret.arret_demande() && WaitForSingleObject(arret.evenement_arret(), 0) == WAIT_TIMEOUT,
                 "pas d'arrêt avant Ctrl+C");
        verifier(arret.recevoir(CTRL_C_EVENT) == TRUE && arret.arret_demande() &&
                     WaitForSingleObject(arret.evenement_arret(), 0) == WAIT_OBJECT_0,
                 "premier Ctrl+C : arrêt demandé, traité");
        verifier(arret.recevoir(CTRL_BREAK_EVENT) == FALSE, "second Ctrl+Break : laissé au gestionnaire par défaut");
    }
    {
        vextrel::ArretConsole arret;
        std::atomic<bool> rendu{false};
        std::thread fil([&] {
            arret.recevoir(CTRL_CLOSE_EVENT);
            rendu = true;
        });
        const bool arret_vu = WaitForSingleObject(arret.evenement_arret(), 2000) == WAIT_OBJECT_0;
        Sleep(200);
        const bool retenu = !rendu.load();
        arret.terminer();
        fil.join();
        verifier(arret_vu && retenu && rendu.load(),
                 "fermeture : arrêt demandé, processus retenu jusqu'au fichier fini");
    }
}

// The pipeline's set-up calls against the system's own D3D11, DXGI, capture and Media
// Foundation: prints what each step gave, one line each, for the script to judge.
int chaine_de_traitement() {
    auto peripherique = capture::creer_peripherique();
    if (!peripherique) {
        std::printf("peripherique : erreur %s\n", peripherique.error().chaine().c_str());
        return 0;
    }
    auto& d3d = static_cast<capture::PeripheriqueD3D&>(**peripherique);
    std::printf("peripherique : %s (0x%04X)\n", d3d.nom.c_str(), d3d.id_fournisseur);
    verifier(d3d.peripherique && d3d.contexte, "périphérique et contexte présents");
    verifier(!d3d.nom.empty() && d3d.nom.find('\0') == std::string::npos, "nom de la carte sans NUL");
    const int avant = echecs;
    verifier_gestionnaires(d3d, verifier);
    std::printf("gestionnaires : %s\n", echecs == avant ? "ok" : "ÉCHEC");
    const int avant_demarrage = echecs;
    verifier_demarrage(d3d, verifier);
    std::printf("démarrage et arrêt de la capture : %s\n", echecs == avant_demarrage ? "ok" : "ÉCHEC");
    const int avant_encodeur = echecs;
    verifier_transformee(d3d, verifier);
    std::printf("transformée : %s\n", echecs == avant_encodeur ? "ok" : "ÉCHEC");
    const int avant_creation = echecs;
    verifier_creation_encodeur(d3d, verifier);
    std::printf("création de l'encodeur : %s\n", echecs == avant_creation ? "ok" : "ÉCHEC");

    auto moteur =
        conversion::creer_moteur_nv12(**peripherique, conversion::parametres_conversion(1920, 1080, 1280, 720, 30, 4));
    if (moteur) {
        std::printf("conversion : %zu surfaces\n", (*moteur)->nombre_sorties());
        verifier((*moteur)->nombre_sorties() == 4, "quatre surfaces NV12");
    } else {
        std::printf("conversion : erreur %s\n", moteur.error().chaine().c_str());
    }

    encodeur::OptionsDiagnostic options;
    auto transformee = encodeur::creer_transformee(**peripherique, enregistrement::config_enregistrement(), options);
    if (transformee) {
        std::printf("encodeur : créé\n");
        (*transformee)->terminer_flux();
    } else {
        const std::string texte = transformee.error().chaine();
        std::printf("encodeur : erreur %s\n", texte.c_str());
        verifier(texte.find('\0') == std::string::npos, "message d'erreur sans NUL");
        if (texte.starts_with("aucun encodeur")) {
            verifier(texte == encodeur::message_aucun_encodeur(d3d.nom), "message complet avec le nom de la carte");
            verifier(texte.ends_with(" \xc2\xbb"), "message fermé par un guillemet");
        }
    }

    auto capture = capture::demarrer_capture(
        **peripherique, static_cast<capture::PoigneeFenetre>(reinterpret_cast<std::intptr_t>(GetDesktopWindow())),
        false);
    if (capture) {
        std::printf("capture : démarrée\n");
    } else {
        std::printf("capture : erreur %s\n", capture.error().chaine().c_str());
    }
    return echecs == 0 ? 0 : 1;
}

}  // namespace

int main() {
    if (GetCommandLineW() != nullptr && std::wstring_view(GetCommandLineW()).ends_with(L" chaine")) {
        return chaine_de_traitement();
    }
    // "erreur": writes diagnostic-like lines, for the script to compare the bytes.
    if (GetCommandLineW() != nullptr && std::wstring_view(GetCommandLineW()).ends_with(L" erreur")) {
        commun::ecrire_erreur_standard("\tcodecapi GOP = Some(60)\n");
        commun::ecrire_erreur_standard("codecapi SetValue(95F31B26-95A4-41AA-9303-246A7FC6EEF1, 60) refusé : é\n");
        return 0;
    }
    pointeur_com();
    delegue();
    textes_hresult();
    dossier_temporaire();
    sommeil();
    boucle_au_repos();
    arret_console();
    if (echecs == 0) {
        std::fputs("ok\n", stdout);
        return 0;
    }
    return 1;
}
