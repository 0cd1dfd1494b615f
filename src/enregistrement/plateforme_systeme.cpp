// The running system's pieces. Kept apart from the session: it needs the back ends, which
// unit tests do not link.
#include <thread>

#include "enregistrement/plateforme.hpp"

#if defined(_WIN32)
#include <objbase.h>
#include <timeapi.h>
#include <windows.h>
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif
#endif

namespace enregistrement {

namespace {

class PlateformeSysteme final : public Plateforme {
public:
    void initialiser_fil() override {
#if defined(_WIN32)
        (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
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

    void dormir(std::chrono::nanoseconds duree) override {
        if (duree.count() <= 0) {
            return;
        }
#if defined(_WIN32)
        // One high-resolution timer per sleeping thread, made on its first sleep.
        struct Minuterie {
            HANDLE poignee = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                                    TIMER_ALL_ACCESS);
            ~Minuterie() {
                if (poignee != nullptr) {
                    CloseHandle(poignee);
                }
            }
        };
        thread_local Minuterie minuterie;
        if (minuterie.poignee != nullptr) {
            LARGE_INTEGER echeance;
            // Negative: relative, in 100-ns units.
            echeance.QuadPart = -static_cast<LONGLONG>((duree.count() + 99) / 100);
            if (SetWaitableTimer(minuterie.poignee, &echeance, 0, nullptr, nullptr, FALSE) &&
                WaitForSingleObject(minuterie.poignee, INFINITE) == WAIT_OBJECT_0) {
                return;
            }
        }
        // No high-resolution timer on this system: whole milliseconds, rounded up.
        Sleep(static_cast<DWORD>((duree.count() + 999'999) / 1'000'000));
#else
        std::this_thread::sleep_for(duree);
#endif
    }

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
