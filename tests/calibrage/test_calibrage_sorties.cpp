// calibrer's output path and cohort label at their edges: an option the command does not use, and
// labels whose bytes are not text.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lanceur.hpp"

namespace {

const std::string& usage = essai::usage_calibrage;

// One clean match of three still frames.
const std::string kPropre =
    "{\"matchId\":\"m1\",\"playerId\":\"p1\",\"timestampMs\":0}\n"
    "{\"matchId\":\"m1\",\"playerId\":\"p1\",\"timestampMs\":10}\n"
    "{\"matchId\":\"m1\",\"playerId\":\"p1\",\"timestampMs\":20}\n";

class CalibrageSorties : public essai::EssaiCalibrage {};

TEST_F(CalibrageSorties, CalibrerIgnoreLeRapportMemeCommeSortie) {
    const std::string propres = fichier("propres.jsonl", kPropre);
    const std::string rapport = fichier("rapport.json", "ancien");
    const auto e = lancer({"calibrer", "--cohorte", "c", "--rapport", rapport, "--sortie", rapport, propres});
    EXPECT_EQ(e.statut, 0) << e.erreurs;
    EXPECT_EQ(e.sortie, "\u00e9crit : " + rapport + "\n");
    EXPECT_TRUE(lire(rapport).starts_with("{\n  \"genereLe\": \"")) << lire(rapport);

    // controler does read it: there it is an input and is not replaced.
    const std::string avant = lire(rapport);
    const auto c = lancer({"controler", "--rapport", rapport, "--sortie", rapport, propres});
    EXPECT_EQ(c.statut, 1);
    EXPECT_EQ(c.sortie, "");
    EXPECT_TRUE(c.erreurs.ends_with(rapport + " : fichier d'entr\u00e9e identique \u00e0 la sortie\n")) << c.erreurs;
    EXPECT_EQ(lire(rapport), avant);
}

// Trimming works on code points: bytes that only look like a space once wrongly decoded (an overlong
// U+0020) are not white space, so such a label is refused as text that is not UTF-8, not as blank.
TEST_F(CalibrageSorties, CohorteNonUtf8NEstPasBlanche) {
    if (programme().ends_with(".exe")) {
        GTEST_SKIP() << "Windows arguments are always valid text";
    }
    const std::string propres = fichier("propres.jsonl", kPropre);
    for (const std::string cohorte : {"\xc0\xa0", " \xe0\x80\xa0\t", "\xc2\x85\xc0\xa0"}) {
        const auto e = lancer({"calibrer", "--cohorte", cohorte, propres});
        EXPECT_EQ(e.statut, 1);
        EXPECT_EQ(e.sortie, "");
        EXPECT_EQ(e.erreurs, "--cohorte : UTF-8 invalide\n");
    }
    // Real Unicode white space alone is still a missing cohort.
    const auto e = lancer({"calibrer", "--cohorte", "\xc2\x85\u2028", propres});
    EXPECT_EQ(e.erreurs, "--cohorte est obligatoire (une calibration par cohorte)\n" + usage + "\n");
}

}  // namespace
