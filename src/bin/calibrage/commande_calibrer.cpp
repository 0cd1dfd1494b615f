// calibrer: thresholds proposed for one cohort from clean matches.
#include <fmt/format.h>

#include "bin/calibrage/commandes.hpp"
#include "bin/calibrage/emission.hpp"
#include "commun/unicode.hpp"
#include "comportement/calibration.hpp"

namespace calibrage {

std::expected<void, std::string> calibrer(const Arguments& arguments, const std::vector<comportement::LotTrames>& lots,
                                          Console console) {
    // Trimming decodes code points: only text that is UTF-8 can be found blank.
    const bool utf8 = arguments.cohorte && commun::est_utf8_valide(*arguments.cohorte);
    if (!arguments.cohorte || (utf8 && commun::rogner_unicode(*arguments.cohorte).empty())) {
        return std::unexpected("--cohorte est obligatoire (une calibration par cohorte)\n" +
                               std::string(texte_usage));
    }
    // The label goes into the report verbatim; text that is not UTF-8 would make a report that cannot
    // be read back.
    if (!utf8) {
        return std::unexpected(std::string("--cohorte : UTF-8 invalide"));
    }
    auto rapport = comportement::calibrer_lots(lots, *arguments.cohorte);
    if (!rapport) {
        return std::unexpected(std::move(rapport.error()));
    }

    std::string texte =
        fmt::format("{} match(s), {} trames, cohorte « {} »\n", rapport->matchs, rapport->trames, rapport->cohorte);
    for (const comportement::Distribution& d : rapport->distributions) {
        texte += fmt::format("  {:<34} n={:<8} P1%={:<10.3f} P50={:<10.3f} P99%={:<10.3f} P99,9%={:.3f}\n", d.metrique,
                             d.echantillons, d.p01, d.p50, d.p99, d.p999);
    }
    for (const std::string& a : comportement::avertissements_calibration(*rapport)) {
        texte += "⚠ " + a + "\n";
    }
    texte += "Candidats seulement — à valider avec `calibrage controler` sur d'autres matchs propres avant tout "
             "usage.\n";
    message(console, texte);

    return emettre_json(arguments, comportement::rapport_calibration_json(*rapport), console);
}

}  // namespace calibrage
