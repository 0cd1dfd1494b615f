#pragma once
// Owned connection to the X server, shared by the window lookup and the capture.
#include <cstdint>
#include <expected>
#include <memory>
#include <string>

#include "commun/erreur.hpp"

struct xcb_connection_t;
struct xcb_screen_t;

namespace capture {

// Closes the connection on destruction; movable, not copyable.
class ConnexionX11 {
public:
    // Opens the display named by DISPLAY (or `nom` when given). No server: "affichage X indisponible".
    static std::expected<ConnexionX11, commun::Erreur> ouvrir(const char* nom = nullptr);

    ConnexionX11(ConnexionX11&&) noexcept = default;
    ConnexionX11& operator=(ConnexionX11&&) noexcept = default;
    ~ConnexionX11() = default;

    xcb_connection_t* get() const { return connexion_.get(); }
    xcb_screen_t* ecran() const { return ecran_; }
    std::uint32_t racine() const;
    // Name of the server's vendor string, for display in diagnostics.
    std::string fournisseur() const;
    // False once the server went away or the stream broke.
    bool en_etat() const;

private:
    struct Fermeture {
        void operator()(xcb_connection_t* c) const;
    };
    ConnexionX11(std::unique_ptr<xcb_connection_t, Fermeture> c, xcb_screen_t* ecran)
        : connexion_(std::move(c)), ecran_(ecran) {}

    std::unique_ptr<xcb_connection_t, Fermeture> connexion_;
    xcb_screen_t* ecran_ = nullptr;
};

// Interns an atom (created when new); 0 (XCB_ATOM_NONE) when the server does not answer.
std::uint32_t atome(xcb_connection_t* c, const char* nom);

}  // namespace capture
