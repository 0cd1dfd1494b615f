#include "capture/affichage_x11.hpp"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace capture {

void ConnexionX11::Fermeture::operator()(xcb_connection_t* c) const { xcb_disconnect(c); }

std::expected<ConnexionX11, commun::Erreur> ConnexionX11::ouvrir(const char* nom) {
    int numero_ecran = 0;
    // xcb_connect never returns null: a failed connection is an object in error state that
    // still has to be disconnected.
    std::unique_ptr<xcb_connection_t, Fermeture> c(xcb_connect(nom, &numero_ecran));
    if (!c || xcb_connection_has_error(c.get()) != 0) {
        return std::unexpected(commun::Erreur("affichage X indisponible"));
    }
    const xcb_setup_t* installation = xcb_get_setup(c.get());
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(installation);
    for (int i = 0; i < numero_ecran && it.rem > 0; ++i) {
        xcb_screen_next(&it);
    }
    if (it.rem == 0 || it.data == nullptr) {
        return std::unexpected(commun::Erreur("affichage X indisponible"));
    }
    return ConnexionX11(std::move(c), it.data);
}

std::uint32_t ConnexionX11::racine() const { return ecran_->root; }

std::string ConnexionX11::fournisseur() const {
    const xcb_setup_t* installation = xcb_get_setup(connexion_.get());
    const int longueur = xcb_setup_vendor_length(installation);
    return std::string(xcb_setup_vendor(installation), static_cast<std::size_t>(longueur > 0 ? longueur : 0));
}

bool ConnexionX11::en_etat() const { return xcb_connection_has_error(connexion_.get()) == 0; }

std::uint32_t atome(xcb_connection_t* c, const char* nom) {
    const auto cookie = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(nom)), nom);
    xcb_intern_atom_reply_t* reponse = xcb_intern_atom_reply(c, cookie, nullptr);
    if (reponse == nullptr) {
        return XCB_ATOM_NONE;
    }
    const std::uint32_t a = reponse->atom;
    std::free(reponse);
    return a;
}

}  // namespace capture
