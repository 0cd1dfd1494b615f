#pragma once
// Device and window capture: the portable side shared by every back end.
//
// A back end (Windows: D3D11 + window-capture service; Linux: xcb + CPU buffers) derives
// `Peripherique`, `Texture` and `CaptureFenetre`, and defines `creer_peripherique` and
// `demarrer_capture`. The latest-image rule every back end applies on a new frame is
// `deposer_image`, so the size rules and the failure treatment live in one place.
#include <atomic>
#include <cstdint>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "commun/erreur.hpp"

namespace capture {

// Window handle as the platform gives it (HWND, X window id), read as a signed 64-bit
// number; printed in that form by the recording program.
using PoigneeFenetre = std::int64_t;

// The graphics device of one recording. Windows adds the ID3D11Device and its immediate
// context (the converter and the encoder static_cast to the back end's type).
class Peripherique {
public:
    virtual ~Peripherique() = default;
    // Adapter description; quoted by the encoder when no encoder fits the adapter.
    std::string nom;
    // PCI vendor id of the adapter; chooses the hardware encoder.
    std::uint32_t id_fournisseur = 0;
};

// An image in the back end's memory: an ID3D11Texture2D on Windows, a CPU BGRA buffer on
// Linux. Shared by reference count between the capture state and the recording loop; its
// identity (the object's address while a reference is held) tells images apart.
//
// The capture copies into an image while the converter may read it. On Windows the
// device's multithread protection orders the two; a back end without such ordering (CPU
// buffers) must serialise copy and read inside its own image type.
class Texture {
public:
    virtual ~Texture() = default;
};
using RefTexture = std::shared_ptr<Texture>;

// The latest captured image; `largeur` and `hauteur` are never 0.
struct ImageSource {
    RefTexture texture;
    std::uint32_t largeur = 0;
    std::uint32_t hauteur = 0;
};

// Shared (reference-counted) between the capture object, its handlers and the recording loop.
struct EtatCapture {
    std::mutex verrou;                 // protects `image`
    std::optional<ImageSource> image;  // empty until the first frame
    std::atomic<bool> fermee{false};   // set once when the window's capture item closes

    // A failure a frame handler could not turn into a skipped frame (what it threw, caught
    // before it reached the system's frames). The first one is kept; the recording ends with
    // it. Never throws: when even the text cannot be stored, nothing is recorded.
    void signaler_erreur(const commun::Erreur& erreur) noexcept;
    std::optional<commun::Erreur> erreur() const;

private:
    std::atomic<bool> en_erreur_{false};
    mutable std::mutex verrou_erreur_;
    std::optional<commun::Erreur> erreur_;
};

// One frame just delivered by the system, as the portable arrival rule needs it.
class ImageArrivee {
public:
    virtual ~ImageArrivee() = default;
    // A new, empty image of that size, to become the latest image.
    virtual std::expected<RefTexture, commun::Erreur> creer_image(std::uint32_t largeur, std::uint32_t hauteur) = 0;
    // Copies the frame's box (0, 0)-(largeur, hauteur) into `destination`. Called with
    // `verrou` held.
    virtual void copier_vers(Texture& destination, std::uint32_t largeur, std::uint32_t hauteur) = 0;
};

// Puts one frame of content size (w, h) in the state: cw = max(w, 1), ch = max(h, 1);
// a new image is created when there is none or its size differs. When that creation fails
// the frame is skipped and the older image stays untouched (copying a cw × ch box into an
// image of another size would write outside it or mix two sizes). Returns whether the
// frame was copied.
bool deposer_image(EtatCapture& etat, std::uint32_t w, std::uint32_t h, ImageArrivee& image);

// The frame handler's record of the last content size: says when the frame pool must be
// recreated (the size changed since the last frame). Thread-safe.
class SuiviTaille {
public:
    SuiviTaille(std::uint32_t largeur, std::uint32_t hauteur) : largeur_(largeur), hauteur_(hauteur) {}
    // True (and the size is stored) when (w, h) differs from the last size seen.
    bool changer(std::uint32_t w, std::uint32_t h);

private:
    std::mutex verrou_;
    std::uint32_t largeur_;
    std::uint32_t hauteur_;
};

// A running capture of one window. Releasing it stops the capture (handlers removed,
// session and pool closed); the shared state lives on while a handler still holds it.
class CaptureFenetre {
public:
    explicit CaptureFenetre(std::shared_ptr<EtatCapture> etat) : etat_(std::move(etat)) {}
    virtual ~CaptureFenetre() = default;
    CaptureFenetre(const CaptureFenetre&) = delete;
    CaptureFenetre& operator=(const CaptureFenetre&) = delete;

    EtatCapture& etat() const { return *etat_; }
    const std::shared_ptr<EtatCapture>& etat_partage() const { return etat_; }

private:
    std::shared_ptr<EtatCapture> etat_;
};

// Implemented by the back end of the platform.
// The first hardware adapter, with a device able to convert and encode video.
std::expected<std::unique_ptr<Peripherique>, commun::Erreur> creer_peripherique();
// Starts capturing `fenetre` on `peripherique` (cursor drawn when `curseur`).
std::expected<std::unique_ptr<CaptureFenetre>, commun::Erreur> demarrer_capture(Peripherique& peripherique,
                                                                                PoigneeFenetre fenetre, bool curseur);

}  // namespace capture
