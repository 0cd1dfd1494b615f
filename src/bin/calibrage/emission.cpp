#include "bin/calibrage/emission.hpp"

#include "commun/fichier.hpp"

namespace calibrage {

std::expected<void, std::string> emettre_json(const Arguments& arguments, std::string_view json, Console console) {
    if (!arguments.sortie) {
        std::string texte(json);
        texte += '\n';
        if (auto r = console.sortie.ecrire(texte); !r) {
            return std::unexpected("sortie standard : " + r.error());
        }
        return {};
    }
    const std::string& chemin = *arguments.sortie;
    auto fichier = commun::SortieFichier::creer(chemin);
    if (!fichier) {
        return std::unexpected(chemin + " : " + fichier.error());
    }
    if (auto r = fichier->ecrire(json); !r) {
        return std::unexpected(chemin + " : " + r.error());
    }
    if (auto r = fichier->vider(); !r) {
        return std::unexpected(chemin + " : " + r.error());
    }
    if (auto r = console.sortie.ecrire("écrit : " + chemin + "\n"); !r) {
        return std::unexpected("sortie standard : " + r.error());
    }
    return {};
}

void message(Console console, std::string_view texte) { (void)console.erreurs.ecrire(texte); }

}  // namespace calibrage
