#pragma once
// Lookup of a process's main top-level window by executable name.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture.hpp"

namespace vextrel {

using capture::PoigneeFenetre;

// The platform's window manager, asked window by window so that only windows that pass
// the cheap filters get their process looked up.
class Fenetres {
public:
    virtual ~Fenetres() = default;
    // Every top-level window, in Z order, topmost first. A failing enumeration gives the
    // windows collected so far.
    virtual std::vector<PoigneeFenetre> enumerer() = 0;
    virtual bool visible(PoigneeFenetre fenetre) = 0;
    // Has an owner window.
    virtual bool possedee(PoigneeFenetre fenetre) = 0;
    // Extended style holds WS_EX_TOOLWINDOW (Linux: the tool/utility window types).
    virtual bool fenetre_outil(PoigneeFenetre fenetre) = 0;
    // Cloaked by the compositor; none when the question fails.
    virtual std::optional<bool> masquee(PoigneeFenetre fenetre) = 0;
    // Title length in the platform's units (UTF-16 units on Windows, bytes on Linux).
    virtual std::size_t longueur_titre(PoigneeFenetre fenetre) = 0;
    // Executable file name of the owning process (no directories); "" when unknown.
    virtual std::string nom_executable(PoigneeFenetre fenetre) = 0;
};

struct FenetreCandidate {
    std::string executable;
    PoigneeFenetre poignee = 0;
};

// Windows that pass the filters, in enumeration order: visible, not owned, not a tool
// window, not cloaked (a failed question does not skip), with a title.
std::vector<FenetreCandidate> candidats(Fenetres& fenetres);

// Equal length in bytes and equal bytes once A–Z are mapped to a–z; nothing else folded.
bool egal_ascii_sans_casse(std::string_view a, std::string_view b);

// The part after the last `separateur` (the whole text when there is none).
std::string_view apres_dernier(std::string_view chemin, char separateur);

// The first candidate whose executable name matches; none for an empty name.
std::optional<PoigneeFenetre> chercher_fenetre(Fenetres& fenetres, std::string_view nom);

}  // namespace vextrel
