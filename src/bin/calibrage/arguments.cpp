#include "bin/calibrage/arguments.hpp"

#include "bin/calibrage/commandes.hpp"
#include "bin/calibrage/reglages.hpp"

namespace calibrage {

namespace {

std::string avec_usage(std::string_view message) {
    std::string texte(message);
    texte += '\n';
    texte += texte_usage;
    return texte;
}

}  // namespace

std::expected<Arguments, std::string> analyser_arguments(std::span<const std::string> arguments) {
    if (arguments.empty()) {
        return std::unexpected(std::string(texte_usage));
    }
    Arguments a;
    a.commande = arguments[0];
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        const bool a_suivant = i + 1 < arguments.size();
        if (arg == "--sortie") {
            if (!a_suivant) return std::unexpected(avec_usage("--sortie attend un chemin"));
            a.sortie = arguments[++i];
        } else if (arg == "--cohorte") {
            if (!a_suivant) return std::unexpected(avec_usage("--cohorte attend une valeur"));
            a.cohorte = arguments[++i];
        } else if (arg == "--rapport") {
            if (!a_suivant) return std::unexpected(avec_usage("--rapport attend un chemin"));
            a.rapport = arguments[++i];
        } else if (arg == "--partiel") {
            if (!a_suivant) return std::unexpected(avec_usage("--partiel attend un chemin"));
            a.partiel = arguments[++i];
        } else if (arg.starts_with("--")) {
            return std::unexpected(avec_usage("option inconnue : " + arg));
        } else {
            a.fichiers.push_back(arg);
        }
    }
    if (a.fichiers.empty()) {
        return std::unexpected(avec_usage("aucun fichier .jsonl donné"));
    }
    return a;
}

std::expected<void, std::string> executer(std::span<const std::string> arguments, Console console) {
    auto a = analyser_arguments(arguments);
    if (!a) return std::unexpected(std::move(a.error()));
    if (a->commande == "convertir") {
        return convertir(*a, console);
    }
    // The settings are checked before any file is read.
    auto reglages = reglages_lecture();
    if (!reglages) return std::unexpected(std::move(reglages.error()));
    if (a->commande == "controler") {
        return controler(*a, *reglages, console);
    }
    if (a->commande == "calibrer") {
        return calibrer(*a, *reglages, console);
    }
    // Inputs are read, and their errors reported, before the command is checked.
    LectureSuivie lecture(*a, *reglages, console);
    if (auto r = comportement::traiter_fichiers(a->fichiers, nullptr, lecture.reglages()); !r) {
        return std::unexpected(std::move(r.error()));
    }
    return std::unexpected(avec_usage("commande inconnue : " + a->commande));
}

int programme(std::span<const std::string> arguments, Console console) {
    auto r = executer(arguments, console);
    if (r) return 0;
    std::string texte = std::move(r.error());
    texte += '\n';
    (void)console.erreurs.ecrire(texte);
    return 1;
}

}  // namespace calibrage
