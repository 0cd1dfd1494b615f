#pragma once
// Capture of one X window: a thread of its own polls the window's pixels at a steady rate
// (X11 raises no event when an arbitrary window's content changes) and hands each image to
// a callback; it reports the window's destruction through another callback.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "capture/affichage_x11.hpp"
#include "commun/erreur.hpp"

namespace capture {

// Receives one image in BGRA order (alpha undefined), rows `pas` bytes apart. Called on the
// capture thread; the pixels are only valid during the call.
using DepotImage =
    std::function<void(const std::uint8_t* pixels, std::uint32_t largeur, std::uint32_t hauteur, std::size_t pas)>;
// Called once, on the capture thread, when the window is destroyed or the server goes away.
using SignalFermeture = std::function<void()>;

class SondageX11 {
public:
    static constexpr std::chrono::nanoseconds periode_defaut{33'333'333};

    // Opens its own connection (events for the window then reach only this capture), checks
    // that the window exists and starts the polling thread.
    static std::expected<std::unique_ptr<SondageX11>, commun::Erreur> demarrer(
        std::uint32_t fenetre, DepotImage depot, SignalFermeture fermeture,
        std::chrono::nanoseconds periode = periode_defaut, const char* affichage = nullptr);

    SondageX11(const SondageX11&) = delete;
    SondageX11& operator=(const SondageX11&) = delete;
    // Stops and joins the thread.
    ~SondageX11();

    // True when images come through MIT-SHM, false when through plain GetImage.
    bool memoire_partagee() const { return shm_actif_.load(std::memory_order_relaxed); }
    // Images handed to the callback so far.
    std::uint64_t images() const { return images_.load(std::memory_order_relaxed); }

    struct SegmentShm;
    // Only `demarrer` can build one.
    class Cle {
        friend class SondageX11;
        Cle() = default;
    };
    SondageX11(Cle, ConnexionX11 connexion, std::uint32_t fenetre, DepotImage depot, SignalFermeture fermeture,
               std::chrono::nanoseconds periode);

private:
    void boucle();
    // One poll. False when the window is gone.
    bool saisir();
    bool lire_evenements();
    bool mettre_a_jour_taille();
    struct Zone {
        std::uint16_t x, y, largeur, hauteur;
    };
    // Reads a rectangle of the window: its pixels (rows largeur × 4 bytes apart), valid until
    // the next read, or null when the server refuses.
    const std::uint8_t* lire(Zone zone);
    // The part of the window inside the screen, in window coordinates; none when it has none.
    std::optional<Zone> partie_visible();
    void deposer(const std::uint8_t* pixels);
    void preparer_shm();

    ConnexionX11 connexion_;
    std::uint32_t fenetre_;
    DepotImage depot_;
    SignalFermeture fermeture_;
    std::chrono::nanoseconds periode_;
    std::uint32_t largeur_ = 0;
    std::uint32_t hauteur_ = 0;
    bool shm_possible_ = false;
    std::unique_ptr<SegmentShm> shm_;
    std::unique_ptr<void, void (*)(void*)> reponse_{nullptr, nullptr};  // last plain GetImage reply
    std::vector<std::uint8_t> composition_;  // a partly off-screen window, black outside the screen
    std::atomic<bool> shm_actif_{false};
    std::atomic<std::uint64_t> images_{0};

    std::mutex verrou_;
    std::condition_variable reveil_;
    bool arret_ = false;
    std::thread fil_;
};

}  // namespace capture
