// controler: how many players of a clean population a threshold set would still flag.
#include <fmt/format.h>

#include "bin/calibrage/commandes.hpp"
#include "bin/calibrage/emission.hpp"
#include "bin/calibrage/reglages.hpp"
#include "commun/fichier.hpp"
#include "commun/unicode.hpp"
#include "comportement/calibration.hpp"
#include "comportement/controle.hpp"
#include "comportement/partiel.hpp"

namespace calibrage {

namespace {

// The whole file as UTF-8 text; the error is the system's description (or the text's fault).
std::expected<std::string, std::string> lire_texte(const std::string& chemin) {
    auto fichier = commun::FichierLecture::ouvrir(chemin);
    if (!fichier) {
        return std::unexpected(std::move(fichier.error()));
    }
    std::string texte;
    char tampon[65536];
    for (;;) {
        auto n = fichier->lire(tampon);
        if (!n) {
            return std::unexpected(std::move(n.error()));
        }
        if (*n == 0) {
            break;
        }
        texte.append(tampon, *n);
    }
    if (!commun::est_utf8_valide(texte)) {
        return std::unexpected(std::string("UTF-8 invalide"));
    }
    return texte;
}

struct Seuils {
    comportement::EngineThresholds seuils;
    std::string message;  // which thresholds, for the console
};

// Read before the telemetry, whose batches are analysed as they come, but reported only after it: the
// input files' errors come first.
std::expected<Seuils, std::string> choisir_seuils(const Arguments& arguments) {
    if (!arguments.rapport) {
        return Seuils{comportement::EngineThresholds{}, "seuils par défaut du moteur (pas de --rapport)\n"};
    }
    const std::string& chemin = *arguments.rapport;
    auto texte = lire_texte(chemin);
    if (!texte) {
        return std::unexpected(chemin + " : " + texte.error());
    }
    auto rapport = comportement::rapport_calibration_depuis_json(*texte);
    if (!rapport) {
        return std::unexpected(chemin + " : " + rapport.error());
    }
    return Seuils{comportement::seuils_depuis_rapport(*rapport),
                  "seuils de la calibration « " + rapport->cohorte + " »\n"};
}

std::string joindre(const std::vector<std::string>& textes) {
    std::string r;
    for (std::size_t i = 0; i < textes.size(); ++i) {
        if (i > 0) {
            r += ", ";
        }
        r += textes[i];
    }
    return r;
}

// The control run as it stands once the files are read: only their reading can fail here. Thresholds that
// cannot be read are recorded as such, with nothing analysed: the merge reports them as one process would.
std::expected<void, std::string> controler_partiel(const Arguments& arguments,
                                                   const std::expected<Seuils, std::string>& seuils,
                                                   LectureSuivie& lecture, Console console) {
    std::expected<comportement::AccumulateurControle, std::string> controle;
    if (seuils) {
        controle = comportement::controler_fichiers(arguments.fichiers, seuils->seuils, lecture.reglages());
    } else if (auto sources = comportement::verifier_fichiers(
                   arguments.fichiers, comportement::CommandePartiel::controler, lecture.reglages());
               sources) {
        controle->sources = std::move(*sources);
    } else {
        controle = std::unexpected(std::move(sources.error()));
    }
    if (!controle) {
        return std::unexpected(std::move(controle.error()));
    }
    lecture.terminer();
    std::optional<comportement::EngineThresholds> utilises;
    if (seuils) utilises = seuils->seuils;
    return emettre_partiel(
        arguments, controle->sources,
        [&](commun::SortieOctets& s) { return comportement::ecrire_partiel_controle(s, *controle, utilises); },
        console);
}

}  // namespace

std::expected<void, std::string> controler(const Arguments& arguments, const comportement::ReglagesLecture& reglages,
                                           Console console) {
    const auto seuils = choisir_seuils(arguments);
    LectureSuivie lecture(arguments, reglages, console);
    if (arguments.partiel) {
        return controler_partiel(arguments, seuils, lecture, console);
    }
    if (!seuils) {
        auto r = comportement::verifier_fichiers(arguments.fichiers, comportement::CommandePartiel::controler,
                                                 lecture.reglages());
        if (!r) {
            return std::unexpected(std::move(r.error()));
        }
        return std::unexpected(seuils.error());
    }
    auto controle = comportement::controler_fichiers(arguments.fichiers, seuils->seuils, lecture.reglages());
    if (!controle) {
        return std::unexpected(std::move(controle.error()));
    }
    lecture.terminer();
    const std::vector<std::string> sources = std::move(controle->sources);
    message(console, seuils->message);
    const comportement::RapportControle rapport = comportement::rapport_controle(std::move(*controle));

    std::string texte =
        fmt::format("{} match(s) analysés ({} invalides ignorés) · {} à REVIEW ou plus = {:.1f} %\n", rapport.matchs,
                    rapport.invalides, rapport.reviewOuPlus, rapport.tauxReviewOuPlus * 100.0);
    const std::size_t affichees = std::min<std::size_t>(rapport.lignes.size(), 10);
    for (std::size_t i = 0; i < affichees; ++i) {
        const comportement::LigneControle& l = rapport.lignes[i];
        texte += fmt::format("  {:>5.1f}  {:<16} {} / {}  [{}]\n", l.score, l.niveau, l.matchId, l.joueurId,
                             joindre(l.categories));
    }
    if (rapport.tauxReviewOuPlus > 0.01) {
        texte +=
            "⚠ Sur une population propre ce taux devrait être quasi nul : remonte les seuils des catégories "
            "listées ci-dessus.\n";
    }
    message(console, texte);

    return emettre_json(arguments, sources, comportement::rapport_controle_json(rapport), console);
}

}  // namespace calibrage
