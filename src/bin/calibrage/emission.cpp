#include "bin/calibrage/emission.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "commun/fichier.hpp"
#include "comportement/partiel.hpp"

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

// The inputs are only read: a result never replaces one of them, nor one of the files a partial among them
// was made from (which one process on those files would have refused).
std::expected<void, std::string> aucune_entree(const Arguments& arguments, std::span<const std::string> sources,
                                               const std::string& chemin) {
    const auto refus = [](const std::string& entree) {
        return std::unexpected(entree + " : fichier d'entrée identique à la sortie");
    };
    for (const std::string& entree : arguments.fichiers) {
        if (meme_fichier(entree, chemin)) return refus(entree);
    }
    if (!std::ranges::equal(sources, arguments.fichiers)) {
        for (const std::string& entree : sources) {
            if (meme_fichier(entree, chemin)) return refus(entree);
        }
    }
    // Only controler reads --rapport; calibrer ignores it like any option it does not use.
    if (arguments.commande == "controler" && arguments.rapport && meme_fichier(*arguments.rapport, chemin)) {
        return refus(*arguments.rapport);
    }
    return {};
}

std::expected<void, std::string> annoncer(const std::string& chemin, Console console) {
    if (auto r = console.sortie.ecrire("écrit : " + chemin + "\n"); !r) {
        return std::unexpected("sortie standard : " + r.error());
    }
    return {};
}

}  // namespace

std::expected<void, std::string> emettre_json(const Arguments& arguments, std::span<const std::string> sources,
                                              std::string_view json, Console console) {
    if (!arguments.sortie) {
        std::string texte(json);
        texte += '\n';
        if (auto r = console.sortie.ecrire(texte); !r) {
            return std::unexpected("sortie standard : " + r.error());
        }
        return {};
    }
    const std::string& chemin = *arguments.sortie;
    if (auto r = aucune_entree(arguments, sources, chemin); !r) return r;
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
    return annoncer(chemin, console);
}

std::expected<void, std::string> emettre_partiel(
    const Arguments& arguments, std::span<const std::string> sources,
    const std::function<std::expected<void, std::string>(commun::SortieOctets&)>& ecrire, Console console) {
    const std::string& chemin = *arguments.partiel;
    if (auto r = aucune_entree(arguments, sources, chemin); !r) return r;
    if (auto r = comportement::ecrire_fichier_partiel(chemin, ecrire); !r) {
        return std::unexpected(chemin + " : " + r.error());
    }
    return annoncer(chemin, console);
}

void message(Console console, std::string_view texte) { (void)console.erreurs.ecrire(texte); }

}  // namespace calibrage
