// calibrage as a user runs it: exact standard output, standard error and exit
// status for the argument errors and the telemetry reader's errors.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lanceur.hpp"

namespace {

const std::string& usage = essai::usage_calibrage;

class CalibrageCli : public essai::EssaiCalibrage {
protected:
    // An error: nothing on the standard output, the text and LF on the
    // standard error, status 1.
    static void attendre_erreur(const std::vector<std::string>& arguments, const std::string& texte) {
        const auto e = lancer(arguments);
        EXPECT_EQ(e.sortie, "");
        EXPECT_EQ(e.erreurs, texte + "\n");
        EXPECT_EQ(e.statut, 1);
    }
};

TEST_F(CalibrageCli, SansCommandeAfficheLUsage) {
    const auto e = lancer({});
    EXPECT_EQ(e.sortie, "");
    EXPECT_EQ(e.erreurs, usage + "\n");
    EXPECT_EQ(e.erreurs.size(), 271u);
    EXPECT_EQ(e.statut, 1);
}

TEST_F(CalibrageCli, ValeursDOptionManquantes) {
    attendre_erreur({"calibrer", "f.jsonl", "--cohorte"}, "--cohorte attend une valeur\n" + usage);
    attendre_erreur({"controler", "--sortie"}, "--sortie attend un chemin\n" + usage);
    attendre_erreur({"convertir", "a", "--rapport"}, "--rapport attend un chemin\n" + usage);
    attendre_erreur({"calibrer", "--cohorte", "c", "--partiel"}, "--partiel attend un chemin\n" + usage);
    // The first error ends parsing, before any file is looked at.
    attendre_erreur({"controler", "--rapport"}, "--rapport attend un chemin\n" + usage);
}

TEST_F(CalibrageCli, OptionsInconnues) {
    attendre_erreur({"controler", "f.jsonl", "--seuil", "3"}, "option inconnue : --seuil\n" + usage);
    attendre_erreur({"calibrer", "--"}, "option inconnue : --\n" + usage);
    attendre_erreur({"calibrer", "--Sortie", "x"}, "option inconnue : --Sortie\n" + usage);
}

TEST_F(CalibrageCli, AucunFichier) {
    attendre_erreur({"calibrer", "--cohorte", "cs / souris / 240"}, "aucun fichier .jsonl donné\n" + usage);
    attendre_erreur({"convertir", "--sortie", "trames.jsonl"}, "aucun fichier .jsonl donné\n" + usage);
    // An option's value is taken whatever it looks like: "--rapport" is the
    // output path here, not an option missing its value.
    attendre_erreur({"controler", "--sortie", "--rapport"}, "aucun fichier .jsonl donné\n" + usage);
    attendre_erreur({"x"}, "aucun fichier .jsonl donné\n" + usage);
}

TEST_F(CalibrageCli, LesFichiersSontLusAvantDeRefuserLaCommande) {
    const std::string bon = fichier("bon.jsonl", "{\"matchId\":\"m\"}\n");
    const std::string mauvais = fichier("mauvais.jsonl", "{}\n{}\n{\"shotFired\":1}\n{}\n");
    attendre_erreur({"analyser", bon, mauvais},
                    mauvais + " : ligne 3 : invalid type: integer `1`, expected a boolean at line 1 column 14");
    attendre_erreur({"analyser", "--cohorte", "x", bon}, "commande inconnue : analyser\n" + usage);
    // "-" and single-hyphen arguments are file paths.
    attendre_erreur({"analyser", bon, "-"}, "- : replay illisible : No such file or directory");
    attendre_erreur({"controler", "-v"}, "-v : replay illisible : No such file or directory");
    // The first unreadable file stops everything.
    attendre_erreur({"calibrer", "--cohorte", "c", dossier_ + "/absent.jsonl", mauvais},
                    dossier_ + "/absent.jsonl : replay illisible : No such file or directory");
}

TEST_F(CalibrageCli, NumerosDeLigneApresLignesBlanches) {
    const std::string f = fichier("blancs.jsonl", "{}\n\n   \n\r\n\t \u00a0\r\n{\"yawDeg\":null}\n");
    attendre_erreur({"controler", f}, f + " : ligne 6 : invalid type: null, expected f64 at line 1 column 15");
    const std::string d = fichier("doublon.jsonl", "\r\n{\"PlayerId\":\"a\",\"playerId\":\"b\"}\r\n");
    attendre_erreur({"controler", d}, d + " : ligne 2 : duplicate field `playerId` at line 1 column 27");
    const std::string fin = fichier("fin.jsonl", "{} {}");
    attendre_erreur({"controler", fin}, fin + " : ligne 1 : trailing characters at line 1 column 4");
}

TEST_F(CalibrageCli, LignesHostiles) {
    struct Cas {
        std::string contenu;
        std::string message;  // after "path : "
    };
    const std::string profond(100000, '[');
    const std::vector<Cas> cas = {
        {"{\"yawDeg\":" + profond + "\n", "ligne 1 : invalid type: sequence, expected f64 at line 1 column 11"},
        {profond, "ligne 1 : invalid type: sequence, expected a string at line 1 column 2"},
        {"{\"yawDeg\":1e400}", "ligne 1 : number out of range at line 1 column 11"},
        {"{\"yawDeg\":NaN}", "ligne 1 : expected value at line 1 column 11"},
        {"{\"weaponId\":\"\xff\"}\n", "replay illisible : UTF-8 invalide à la ligne 1"},
        {"{}\n{\"timestampMs\":9223372036854775808}",
         "ligne 2 : invalid value: integer `9223372036854775808`, expected i64 at line 1 column 16"},
        {"{\"weaponId\":\"\\ud800\"}", "ligne 1 : invalid unicode code point at line 1 column 14"},
        {"{\"x\":\"\\udfff\"}", "ligne 1 : invalid unicode code point at line 1 column 14"},
    };
    for (std::size_t i = 0; i < cas.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string f = fichier("hostile" + std::to_string(i) + ".jsonl", cas[i].contenu);
        attendre_erreur({"controler", f}, f + " : " + cas[i].message);
    }
    // Deep nesting inside an ignored key is read without trouble; the command
    // is then refused as unknown.
    const std::string ignore =
        fichier("ignore.jsonl", "{\"x\":" + profond + std::string(100000, ']') + ",\"y\":1e400}\n");
    attendre_erreur({"inconnue", ignore}, "commande inconnue : inconnue\n" + usage);
}

}  // namespace
