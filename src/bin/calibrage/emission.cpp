#include "bin/calibrage/emission.hpp"

#include <filesystem>
#include <system_error>

#include "commun/fichier.hpp"

namespace calibrage {

namespace {

// Identity, not path text: the same file under another name is caught too.
bool meme_fichier(const std::string& a, const std::string& b) {
    const auto fs = [](const std::string& utf8) {
        return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
    };
    std::error_code ec;
    const bool egaux = std::filesystem::equivalent(fs(a), fs(b), ec);
    return !ec && egaux;
}

}  // namespace

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
    // The inputs are only read: a result never replaces one of them.
    for (const std::string& entree : arguments.fichiers) {
        if (meme_fichier(entree, chemin)) {
            return std::unexpected(entree + " : fichier d'entrée identique à la sortie");
        }
    }
    // Only controler reads --rapport; calibrer ignores it like any option it does not use.
    if (arguments.commande == "controler" && arguments.rapport && meme_fichier(*arguments.rapport, chemin)) {
        return std::unexpected(*arguments.rapport + " : fichier d'entrée identique à la sortie");
    }
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
