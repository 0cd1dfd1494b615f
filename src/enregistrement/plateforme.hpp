#pragma once
// Everything the recording session gets from the platform. The system's implementation
// calls the back ends' factories; tests hand the session fakes.
#include <chrono>
#include <expected>
#include <memory>

#include "capture/capture.hpp"
#include "commun/erreur.hpp"
#include "conversion/conversion.hpp"
#include "encodeur/config.hpp"
#include "encodeur/encodeur.hpp"

namespace enregistrement {

class Plateforme {
public:
    virtual ~Plateforme() = default;

    // First call on the recording thread: COM initialisation (multithreaded apartment, result
    // ignored) on Windows; elsewhere the console's stop signals are blocked on it.
    virtual void initialiser_fil() = 0;
    // 1 ms system timer resolution (timeBeginPeriod / timeEndPeriod); nothing elsewhere.
    virtual void debut_resolution_minuterie() = 0;
    virtual void fin_resolution_minuterie() = 0;

    // Monotonic clock reading, from an arbitrary fixed origin.
    virtual std::chrono::nanoseconds maintenant() = 0;
    // Relative wait (high-resolution waitable timer where the system has one).
    virtual void dormir(std::chrono::nanoseconds duree) = 0;

    virtual std::expected<std::unique_ptr<capture::Peripherique>, commun::Erreur> creer_peripherique() = 0;
    virtual std::expected<std::unique_ptr<capture::CaptureFenetre>, commun::Erreur> demarrer_capture(
        capture::Peripherique& peripherique, capture::PoigneeFenetre fenetre, bool curseur) = 0;
    virtual std::expected<std::unique_ptr<encodeur::TransformeAsync>, commun::Erreur> creer_transformee(
        capture::Peripherique& peripherique, const encodeur::ConfigEncodeur& config) = 0;
    virtual std::expected<conversion::ConvertisseurNv12, commun::Erreur> creer_convertisseur(
        capture::Peripherique& peripherique, const conversion::ParametresConversion& parametres) = 0;
};

// The running system: the back ends linked into the program, the steady clock, and on
// Windows COM, winmm and the high-resolution waitable timer.
std::shared_ptr<Plateforme> plateforme_systeme();

}  // namespace enregistrement
