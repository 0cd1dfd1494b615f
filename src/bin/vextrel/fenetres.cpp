#include "bin/vextrel/fenetres.hpp"

namespace vextrel {

std::vector<FenetreCandidate> candidats(Fenetres& fenetres) {
    std::vector<FenetreCandidate> liste;
    for (const PoigneeFenetre f : fenetres.enumerer()) {
        // Cheapest questions first; the process is looked up only for windows that pass.
        if (!fenetres.visible(f) || fenetres.possedee(f) || fenetres.fenetre_outil(f)) {
            continue;
        }
        if (fenetres.masquee(f).value_or(false)) {
            continue;
        }
        if (fenetres.longueur_titre(f) < 1) {
            continue;
        }
        liste.push_back(FenetreCandidate{fenetres.nom_executable(f), f});
    }
    return liste;
}

bool egal_ascii_sans_casse(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    const auto minuscule = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (minuscule(a[i]) != minuscule(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view apres_dernier(std::string_view chemin, char separateur) {
    const auto position = chemin.rfind(separateur);
    return position == std::string_view::npos ? chemin : chemin.substr(position + 1);
}

std::optional<PoigneeFenetre> chercher_fenetre(Fenetres& fenetres, std::string_view nom) {
    if (nom.empty()) {
        return std::nullopt;
    }
    for (const FenetreCandidate& c : candidats(fenetres)) {
        if (egal_ascii_sans_casse(c.executable, nom)) {
            return c.poignee;
        }
    }
    return std::nullopt;
}

}  // namespace vextrel
