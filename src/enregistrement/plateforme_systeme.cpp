// The running system's pieces. Kept apart from the session: it needs the back ends, which
// unit tests do not link.
#include "commun/sommeil.hpp"
#include "enregistrement/plateforme.hpp"

#if defined(_WIN32)
#include <objbase.h>
#include <timeapi.h>
#include <windows.h>
#else
#include <signal.h>
#endif

namespace enregistrement {

namespace {

class PlateformeSysteme final : public Plateforme {
public:
    void initialiser_fil() override {
#if defined(_WIN32)
        (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
#else
        // Ctrl+C and SIGTERM are for the program's main thread, which turns them into a stop
        // request: kept off this thread and those it starts (encoder, capture), whose system
        // calls then never see them.
        sigset_t console;
        sigemptyset(&console);
        sigaddset(&console, SIGINT);
        sigaddset(&console, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &console, nullptr);
#endif
    }
    void debut_resolution_minuterie() override {
#if defined(_WIN32)
        timeBeginPeriod(1);
#endif
    }
    void fin_resolution_minuterie() override {
#if defined(_WIN32)
        timeEndPeriod(1);
#endif
    }

    std::chrono::nanoseconds maintenant() override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }

    void dormir(std::chrono::nanoseconds duree) override { commun::dormir(duree); }

    std::expected<std::unique_ptr<capture::Peripherique>, commun::Erreur> creer_peripherique() override {
        return capture::creer_peripherique();
    }
    std::expected<std::unique_ptr<capture::CaptureFenetre>, commun::Erreur> demarrer_capture(
        capture::Peripherique& peripherique, capture::PoigneeFenetre fenetre, bool curseur) override {
        return capture::demarrer_capture(peripherique, fenetre, curseur);
    }
    std::expected<std::unique_ptr<encodeur::TransformeAsync>, commun::Erreur> creer_transformee(
        capture::Peripherique& peripherique, const encodeur::ConfigEncodeur& config) override {
        return encodeur::creer_transformee(peripherique, config, encodeur::lire_options_diagnostic());
    }
    std::expected<conversion::ConvertisseurNv12, commun::Erreur> creer_convertisseur(
        capture::Peripherique& peripherique, const conversion::ParametresConversion& parametres) override {
        const auto& p = parametres;
        return conversion::creer_convertisseur(peripherique, p.largeur_entree, p.hauteur_entree, p.largeur_sortie,
                                               p.hauteur_sortie, p.images_par_seconde, p.nombre_sorties);
    }
};

}  // namespace

std::shared_ptr<Plateforme> plateforme_systeme() { return std::make_shared<PlateformeSysteme>(); }

}  // namespace enregistrement
