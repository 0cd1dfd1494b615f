#pragma once
// Top-level windows of an X display as the window lookup sees them.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "bin/vextrel/fenetres.hpp"
#include "capture/affichage_x11.hpp"

struct xcb_connection_t;

namespace vextrel {

struct FenetreX11 {
    std::uint32_t id = 0;
    bool visible = false;   // map state viewable
    bool possedee = false;  // WM_TRANSIENT_FOR set
    bool outil = false;     // utility, toolbar, menu, dock or splash window type
    bool masquee = false;   // _NET_WM_STATE_HIDDEN
    std::string titre;      // _NET_WM_NAME, else WM_NAME, as UTF-8
    std::uint32_t pid = 0;  // X-Resource client PID, else _NET_WM_PID; 0 when unknown
};

// Topmost first, every property read in one round trip. A window that vanishes while it is
// examined is left out.
std::vector<FenetreX11> enumerer_fenetres_x11(xcb_connection_t* c, std::uint32_t racine);

// Basename of the executable of a local process; empty when it cannot be read.
std::string executable_du_processus(std::uint32_t pid);

// The window lookup's view of an X display. `enumerer` reads every window's properties at
// once; the other questions answer from that reading.
class FenetresX11 : public Fenetres {
public:
    // Without a display every enumeration is empty.
    explicit FenetresX11(std::optional<capture::ConnexionX11> connexion) : connexion_(std::move(connexion)) {}

    std::vector<PoigneeFenetre> enumerer() override;
    bool visible(PoigneeFenetre fenetre) override;
    bool possedee(PoigneeFenetre fenetre) override;
    bool fenetre_outil(PoigneeFenetre fenetre) override;
    std::optional<bool> masquee(PoigneeFenetre fenetre) override;
    std::size_t longueur_titre(PoigneeFenetre fenetre) override;
    std::string nom_executable(PoigneeFenetre fenetre) override;

private:
    const FenetreX11* trouver(PoigneeFenetre fenetre) const;

    std::optional<capture::ConnexionX11> connexion_;
    std::unordered_map<PoigneeFenetre, FenetreX11> lues_;
};

}  // namespace vextrel
