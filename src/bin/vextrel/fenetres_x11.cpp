#include "bin/vextrel/fenetres_x11.hpp"

#include <unistd.h>
#include <xcb/res.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "capture/affichage_x11.hpp"

namespace vextrel {

namespace {

struct LibererC {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reponse = std::unique_ptr<T, LibererC>;

// Atoms the lookup needs, interned in one round trip.
struct Atomes {
    enum : std::size_t {
        client_list_stacking,
        wm_name_net,
        wm_window_type,
        type_utility,
        type_toolbar,
        type_menu,
        type_dock,
        type_splash,
        wm_state,
        state_hidden,
        wm_pid,
        utf8_string,
        nombre
    };
    std::array<xcb_atom_t, nombre> a{};

    explicit Atomes(xcb_connection_t* c) {
        static constexpr std::array<const char*, nombre> noms = {
            "_NET_CLIENT_LIST_STACKING",
            "_NET_WM_NAME",
            "_NET_WM_WINDOW_TYPE",
            "_NET_WM_WINDOW_TYPE_UTILITY",
            "_NET_WM_WINDOW_TYPE_TOOLBAR",
            "_NET_WM_WINDOW_TYPE_MENU",
            "_NET_WM_WINDOW_TYPE_DOCK",
            "_NET_WM_WINDOW_TYPE_SPLASH",
            "_NET_WM_STATE",
            "_NET_WM_STATE_HIDDEN",
            "_NET_WM_PID",
            "UTF8_STRING",
        };
        std::array<xcb_intern_atom_cookie_t, nombre> cookies{};
        for (std::size_t i = 0; i < nombre; ++i) {
            cookies[i] = xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(noms[i])), noms[i]);
        }
        for (std::size_t i = 0; i < nombre; ++i) {
            Reponse<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(c, cookies[i], nullptr));
            a[i] = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
        }
    }
    xcb_atom_t operator[](std::size_t i) const { return a[i]; }
};

xcb_get_property_cookie_t demander(xcb_connection_t* c, xcb_window_t f, xcb_atom_t propriete, xcb_atom_t type,
                                   std::uint32_t longueur_mots) {
    return xcb_get_property(c, 0, f, propriete, type, 0, longueur_mots);
}

Reponse<xcb_get_property_reply_t> propriete(xcb_connection_t* c, xcb_get_property_cookie_t cookie) {
    xcb_generic_error_t* brut = nullptr;
    Reponse<xcb_get_property_reply_t> r(xcb_get_property_reply(c, cookie, &brut));
    Reponse<xcb_generic_error_t> erreur(brut);
    return r;
}

// 32-bit items of a property of format 32, empty when absent or of another format.
std::span<const std::uint32_t> valeurs32(const xcb_get_property_reply_t* r) {
    if (r == nullptr || r->format != 32 || r->type == XCB_ATOM_NONE) {
        return {};
    }
    const int n = xcb_get_property_value_length(r) / 4;
    return {static_cast<const std::uint32_t*>(xcb_get_property_value(r)), static_cast<std::size_t>(std::max(n, 0))};
}

std::string octets(const xcb_get_property_reply_t* r) {
    if (r == nullptr || r->format != 8 || r->type == XCB_ATOM_NONE) {
        return {};
    }
    const int n = xcb_get_property_value_length(r);
    return std::string(static_cast<const char*>(xcb_get_property_value(r)), static_cast<std::size_t>(std::max(n, 0)));
}

// WM_NAME of type STRING is ISO 8859-1.
std::string latin1_vers_utf8(const std::string& texte) {
    std::string sortie;
    sortie.reserve(texte.size());
    for (const char c : texte) {
        const auto o = static_cast<unsigned char>(c);
        if (o < 0x80) {
            sortie.push_back(static_cast<char>(o));
        } else {
            sortie.push_back(static_cast<char>(0xC0 | (o >> 6)));
            sortie.push_back(static_cast<char>(0x80 | (o & 0x3F)));
        }
    }
    return sortie;
}

std::vector<xcb_window_t> fenetres_haut_en_bas(xcb_connection_t* c, xcb_window_t racine, const Atomes& at) {
    std::vector<xcb_window_t> liste;
    if (at[Atomes::client_list_stacking] != XCB_ATOM_NONE) {
        auto r = propriete(c, demander(c, racine, at[Atomes::client_list_stacking], XCB_ATOM_WINDOW, 1u << 20));
        const auto v = valeurs32(r.get());
        liste.assign(v.begin(), v.end());
    }
    if (liste.empty()) {
        // No window manager: the top-level windows are the root's children, bottom first.
        Reponse<xcb_query_tree_reply_t> arbre(xcb_query_tree_reply(c, xcb_query_tree(c, racine), nullptr));
        if (arbre) {
            const xcb_window_t* enfants = xcb_query_tree_children(arbre.get());
            const int n = xcb_query_tree_children_length(arbre.get());
            liste.assign(enfants, enfants + std::max(n, 0));
        }
    }
    std::reverse(liste.begin(), liste.end());
    return liste;
}

struct Demandes {
    xcb_get_window_attributes_cookie_t attributs;
    xcb_get_property_cookie_t transitoire, type, etat, nom_net, nom, pid;
    xcb_res_query_client_ids_cookie_t client;
    bool client_demande = false;
};

}  // namespace

std::string executable_du_processus(std::uint32_t pid) {
    if (pid == 0) {
        return {};
    }
    std::array<char, 4096> chemin{};
    const std::string lien = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t n = readlink(lien.c_str(), chemin.data(), chemin.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= chemin.size()) {
        return {};
    }
    std::string_view complet(chemin.data(), static_cast<std::size_t>(n));
    // A binary replaced on disk while it runs (an upgrade) still names the same program.
    constexpr std::string_view supprime = " (deleted)";
    if (complet.ends_with(supprime)) {
        complet.remove_suffix(supprime.size());
    }
    const auto barre = complet.rfind('/');
    return std::string(barre == std::string_view::npos ? complet : complet.substr(barre + 1));
}

std::vector<FenetreX11> enumerer_fenetres_x11(xcb_connection_t* c, std::uint32_t racine) {
    std::vector<FenetreX11> resultat;
    if (c == nullptr || xcb_connection_has_error(c) != 0) {
        return resultat;
    }
    const Atomes at(c);
    const std::vector<xcb_window_t> liste = fenetres_haut_en_bas(c, racine, at);

    bool extension_res = false;
    if (const auto* ext = xcb_get_extension_data(c, &xcb_res_id); ext != nullptr && ext->present != 0) {
        Reponse<xcb_res_query_version_reply_t> v(
            xcb_res_query_version_reply(c, xcb_res_query_version(c, 1, 2), nullptr));
        extension_res = v && (v->server_major > 1 || (v->server_major == 1 && v->server_minor >= 2));
    }

    // Every request for every window goes out before the first reply is awaited: one round
    // trip for the whole list instead of several per window.
    std::vector<Demandes> demandes(liste.size());
    for (std::size_t i = 0; i < liste.size(); ++i) {
        const xcb_window_t f = liste[i];
        Demandes& d = demandes[i];
        d.attributs = xcb_get_window_attributes(c, f);
        d.transitoire = demander(c, f, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, 1);
        d.type = demander(c, f, at[Atomes::wm_window_type], XCB_ATOM_ATOM, 64);
        d.etat = demander(c, f, at[Atomes::wm_state], XCB_ATOM_ATOM, 64);
        d.nom_net = demander(c, f, at[Atomes::wm_name_net], at[Atomes::utf8_string], 1024);
        d.nom = demander(c, f, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 1024);
        d.pid = demander(c, f, at[Atomes::wm_pid], XCB_ATOM_CARDINAL, 1);
        if (extension_res) {
            const xcb_res_client_id_spec_t demande{f, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
            d.client = xcb_res_query_client_ids(c, 1, &demande);
            d.client_demande = true;
        }
    }

    const std::array<xcb_atom_t, 5> types_outils = {at[Atomes::type_utility], at[Atomes::type_toolbar],
                                                    at[Atomes::type_menu], at[Atomes::type_dock],
                                                    at[Atomes::type_splash]};
    for (std::size_t i = 0; i < liste.size(); ++i) {
        Demandes& d = demandes[i];
        FenetreX11 f;
        f.id = liste[i];

        xcb_generic_error_t* brut = nullptr;
        Reponse<xcb_get_window_attributes_reply_t> attributs(xcb_get_window_attributes_reply(c, d.attributs, &brut));
        Reponse<xcb_generic_error_t> erreur(brut);
        auto transitoire = propriete(c, d.transitoire);
        auto type = propriete(c, d.type);
        auto etat = propriete(c, d.etat);
        auto nom_net = propriete(c, d.nom_net);
        auto nom = propriete(c, d.nom);
        auto pid = propriete(c, d.pid);
        std::uint32_t pid_res = 0;
        if (d.client_demande) {
            brut = nullptr;
            Reponse<xcb_res_query_client_ids_reply_t> ids(xcb_res_query_client_ids_reply(c, d.client, &brut));
            Reponse<xcb_generic_error_t> erreur_res(brut);
            if (ids) {
                for (auto it = xcb_res_query_client_ids_ids_iterator(ids.get()); it.rem > 0;
                     xcb_res_client_id_value_next(&it)) {
                    // The client id description is the value's first member.
                    const auto* ident = reinterpret_cast<const xcb_res_client_id_spec_t*>(it.data);
                    if ((ident->mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
                        xcb_res_client_id_value_value_length(it.data) >= 1) {
                        pid_res = *xcb_res_client_id_value_value(it.data);
                        break;
                    }
                }
            }
        }
        if (!attributs) {
            continue;  // destroyed meanwhile
        }

        f.visible = attributs->map_state == XCB_MAP_STATE_VIEWABLE;
        const auto proprietaire = valeurs32(transitoire.get());
        f.possedee = !proprietaire.empty() && proprietaire[0] != XCB_WINDOW_NONE;
        for (const std::uint32_t t : valeurs32(type.get())) {
            if (t != XCB_ATOM_NONE && std::find(types_outils.begin(), types_outils.end(), t) != types_outils.end()) {
                f.outil = true;
            }
        }
        for (const std::uint32_t s : valeurs32(etat.get())) {
            if (s != XCB_ATOM_NONE && s == at[Atomes::state_hidden]) {
                f.masquee = true;
            }
        }
        f.titre = octets(nom_net.get());
        if (f.titre.empty()) {
            f.titre = octets(nom.get());
            if (nom && nom->type == XCB_ATOM_STRING) {
                f.titre = latin1_vers_utf8(f.titre);
            }
        }
        f.pid = pid_res;
        if (f.pid == 0) {
            const auto v = valeurs32(pid.get());
            f.pid = v.empty() ? 0 : v[0];
        }
        resultat.push_back(std::move(f));
    }
    return resultat;
}

}  // namespace vextrel

namespace vextrel {

std::vector<PoigneeFenetre> FenetresX11::enumerer() {
    std::vector<PoigneeFenetre> ordre;
    lues_.clear();
    if (!connexion_) {
        return ordre;
    }
    for (FenetreX11& f : enumerer_fenetres_x11(connexion_->get(), connexion_->racine())) {
        const auto poignee = static_cast<PoigneeFenetre>(f.id);
        ordre.push_back(poignee);
        lues_.insert_or_assign(poignee, std::move(f));
    }
    return ordre;
}

const FenetreX11* FenetresX11::trouver(PoigneeFenetre fenetre) const {
    const auto it = lues_.find(fenetre);
    return it == lues_.end() ? nullptr : &it->second;
}

bool FenetresX11::visible(PoigneeFenetre fenetre) {
    const FenetreX11* f = trouver(fenetre);
    return f != nullptr && f->visible;
}

bool FenetresX11::possedee(PoigneeFenetre fenetre) {
    const FenetreX11* f = trouver(fenetre);
    return f != nullptr && f->possedee;
}

bool FenetresX11::fenetre_outil(PoigneeFenetre fenetre) {
    const FenetreX11* f = trouver(fenetre);
    return f != nullptr && f->outil;
}

std::optional<bool> FenetresX11::masquee(PoigneeFenetre fenetre) {
    const FenetreX11* f = trouver(fenetre);
    if (f == nullptr) {
        return std::nullopt;
    }
    return f->masquee;
}

std::size_t FenetresX11::longueur_titre(PoigneeFenetre fenetre) {
    const FenetreX11* f = trouver(fenetre);
    return f == nullptr ? 0 : f->titre.size();
}

std::string FenetresX11::nom_executable(PoigneeFenetre fenetre) {
    const FenetreX11* f = trouver(fenetre);
    return f == nullptr ? std::string() : executable_du_processus(f->pid);
}

}  // namespace vextrel
