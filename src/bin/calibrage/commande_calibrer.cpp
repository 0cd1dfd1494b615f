// calibrer: thresholds proposed for one cohort from clean matches.
#include <optional>

#include <fmt/format.h>

#include "bin/calibrage/commandes.hpp"
#include "bin/calibrage/emission.hpp"
#include "bin/calibrage/reglages.hpp"
#include "commun/unicode.hpp"
#include "comportement/calibration.hpp"
#include "comportement/partiel.hpp"

namespace calibrage {

namespace {

// The accumulated calibration as it stands once the files are read: only their reading can fail here, the
// cohort and the refusals are for the merge to judge, as one process on all the files would.
std::expected<void, std::string> calibrer_partiel(const Arguments& arguments,
                                                  const comportement::ReglagesLecture& reglages, Console console) {
    LectureSuivie lecture(arguments, reglages, console);
    auto calibration = comportement::calibrer_fichiers(arguments.fichiers, lecture.reglages());
    if (!calibration) {
        return std::unexpected(std::move(calibration.error()));
    }
    lecture.terminer();
    return emettre_partiel(
        arguments, calibration->sources,
        [&](commun::SortieOctets& s) { return comportement::ecrire_partiel_calibration(s, *calibration); }, console);
}

}  // namespace

std::expected<void, std::string> calibrer(const Arguments& arguments, const comportement::ReglagesLecture& reglages,
                                          Console console) {
    if (arguments.partiel) {
        return calibrer_partiel(arguments, reglages, console);
    }
    // Trimming decodes code points: only text that is UTF-8 can be found blank.
    const bool utf8 = arguments.cohorte && commun::est_utf8_valide(*arguments.cohorte);
    std::optional<std::string> refus;
    if (!arguments.cohorte || (utf8 && commun::rogner_unicode(*arguments.cohorte).empty())) {
        refus = "--cohorte est obligatoire (une calibration par cohorte)\n" + std::string(texte_usage);
    } else if (!utf8) {
        // The label goes into the report verbatim; text that is not UTF-8 would make a report that cannot
        // be read back.
        refus = "--cohorte : UTF-8 invalide";
    }
    LectureSuivie lecture(arguments, reglages, console);
    // The input files' errors come before the cohort's: without a usable cohort they are only checked.
    if (refus) {
        auto r = comportement::verifier_fichiers(arguments.fichiers, comportement::CommandePartiel::calibrer,
                                                 lecture.reglages());
        if (!r) {
            return std::unexpected(std::move(r.error()));
        }
        return std::unexpected(std::move(*refus));
    }
    auto calibration = comportement::calibrer_fichiers(arguments.fichiers, lecture.reglages());
    if (!calibration) {
        return std::unexpected(std::move(calibration.error()));
    }
    const std::vector<std::string> sources = std::move(calibration->sources);
    auto rapport = comportement::rapport_calibration(std::move(*calibration), *arguments.cohorte);
    if (!rapport) {
        return std::unexpected(std::move(rapport.error()));
    }
    lecture.terminer();

    std::string texte =
        fmt::format("{} match(s), {} trames, cohorte « {} »\n", rapport->matchs, rapport->trames, rapport->cohorte);
    for (const comportement::Distribution& d : rapport->distributions) {
        texte += fmt::format("  {:<34} n={:<8} P1%={:<10.3f} P50={:<10.3f} P99%={:<10.3f} P99,9%={:.3f}\n", d.metrique,
                             d.echantillons, d.p01, d.p50, d.p99, d.p999);
    }
    for (const std::string& a : comportement::avertissements_calibration(*rapport)) {
        texte += "⚠ " + a + "\n";
    }
    texte +=
        "Candidats seulement — à valider avec `calibrage controler` sur d'autres matchs propres avant tout "
        "usage.\n";
    message(console, texte);

    return emettre_json(arguments, sources, comportement::rapport_calibration_json(*rapport), console);
}

}  // namespace calibrage
