// calibrer and controler as a user runs them: exact console lines, JSON on the standard output or in
// --sortie, report reading and its errors.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lanceur.hpp"
#include "support/trames.hpp"

namespace {

using comportement::TrameTelemetrie;
using essai::jsonl;
using essai::T;

const std::string& usage = essai::usage_calibrage;

const std::string kPied =
    "Candidats seulement \u2014 \u00e0 valider avec `calibrage controler` sur d'autres matchs propres avant tout "
    "usage.\n";
const std::string kAlerte =
    "\u26a0 Sur une population propre ce taux devrait \u00eatre quasi nul : remonte les seuils des cat\u00e9gories "
    "list\u00e9es ci-dessus.\n";

// Four frames 100 ms apart: a reveal answered at once, steps of 100, 200 and 0 deg/s.
std::vector<TrameTelemetrie> match_reference(const std::string& m) {
    return {
        T(0).yaw(0).match(m),
        T(100).yaw(10).visible(0.5).vitesse(20).match(m),
        T(200).yaw(30).visible(1.5).vitesse(30).match(m),
        T(300).yaw(30).visible(2.5).vitesse(10).match(m),
    };
}

// Each of `reveals` opponents comes out of occlusion and is shot on sight.
std::vector<TrameTelemetrie> tireur(const std::string& m, int reveals) {
    std::vector<TrameTelemetrie> t;
    for (int k = 0; k < reveals; ++k) {
        t.push_back(T(k * 200).occulte(50.0).match(m));
        t.push_back(T(k * 200 + 100).visible(0.5).tir().match(m));
    }
    t.push_back(T(reveals * 200).match(m));
    return t;
}

std::vector<TrameTelemetrie> propre(const std::string& m) { return {T(0).match(m), T(10).match(m), T(20).match(m)}; }

// The report with its time stamp replaced, after checking its form.
std::string sans_date(std::string json) {
    static const std::regex date(R"("genereLe": "\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ")");
    EXPECT_TRUE(std::regex_search(json, date)) << json;
    return std::regex_replace(json, date, "\"genereLe\": \"-\"", std::regex_constants::format_first_only);
}

class CalibrageCommandes : public essai::EssaiCalibrage {
protected:
    // The Windows build (under wine) gets its arguments as UTF-16 and its own system error texts.
    static std::string erreur_dossier() { return windows() ? "Permission denied" : "Is a directory"; }

    // Refused: messages then the error on the standard error, nothing on the standard output.
    static void attendre_erreur(const std::vector<std::string>& arguments, const std::string& erreurs) {
        const auto e = lancer(arguments);
        EXPECT_EQ(e.sortie, "");
        EXPECT_EQ(e.erreurs, erreurs);
        EXPECT_EQ(e.statut, 1);
    }
};

// Interpolated percentiles keep the rounding of f * hi + (1 - f) * lo (1.9 - 1 is not exactly 0.9).
const std::string kRapportReference = R"({
  "genereLe": "-",
  "matchs": 1,
  "trames": 4,
  "cohorte": "cs / souris / 240 ",
  "distributions": [
    {
      "metrique": "visibleAngularVelocityDegPerSec",
      "echantillons": 3,
      "p001": 0.2,
      "p01": 2.0,
      "p05": 10.0,
      "p50": 100.0,
      "p95": 189.99999999999997,
      "p99": 198.0,
      "p999": 199.79999999999998
    },
    {
      "metrique": "absAngularAccelerationDegPerSec2",
      "echantillons": 3,
      "p001": 1000.0,
      "p01": 1000.0,
      "p05": 1000.0,
      "p50": 1000.0,
      "p95": 1899.9999999999998,
      "p99": 1980.0,
      "p999": 1998.0
    },
    {
      "metrique": "visibilityToActionReactionMs",
      "echantillons": 1,
      "p001": 0.0,
      "p01": 0.0,
      "p05": 0.0,
      "p50": 0.0,
      "p95": 0.0,
      "p99": 0.0,
      "p999": 0.0
    },
    {
      "metrique": "movingVisibleTargetErrorDeg",
      "echantillons": 2,
      "p001": 0.501,
      "p01": 0.51,
      "p05": 0.55,
      "p50": 1.0,
      "p95": 1.4499999999999997,
      "p99": 1.4899999999999998,
      "p999": 1.4989999999999999
    }
  ],
  "recommandations": {
    "snapVitesseDegS": 199.79999999999998,
    "snapAccelMinDegS2": 1998.0,
    "reactionTresRapideMs": 1,
    "reactionSuspecteMs": 1,
    "suiviExcellentErreurDeg": 0.51
  },
  "avertissement": "Candidates only. Re-run per game/input/FPS/skill cohort and validate false-positive rates before enforcement."
})";

const std::string kConsoleReference =
    "1 match(s), 4 trames, cohorte \u00ab cs / souris / 240  \u00bb\n"
    "  visibleAngularVelocityDegPerSec    n=3        P1%=2.000      P50=100.000    P99%=198.000    P99,9%=199.800\n"
    "  absAngularAccelerationDegPerSec2   n=3        P1%=1000.000   P50=1000.000   P99%=1980.000   P99,9%=1998.000\n"
    "  visibilityToActionReactionMs       n=1        P1%=0.000      P50=0.000      P99%=0.000      P99,9%=0.000\n"
    "  movingVisibleTargetErrorDeg        n=2        P1%=0.510      P50=1.000      P99%=1.490      P99,9%=1.499\n"
    "\u26a0 visibilityToActionReactionMs : 1 \u00e9chantillons seulement (minimum conseill\u00e9 1000) \u2014 seuils "
    "de r\u00e9action peu fiables\n"
    "\u26a0 seulement 1 match(s) : ajoute des matchs propres de la m\u00eame cohorte\n" +
    kPied;

TEST_F(CalibrageCommandes, CalibrerAfficheEtEmetLeRapport) {
    const std::string entree = fichier("propres.jsonl", jsonl(match_reference("m1")));
    const auto e = lancer({"calibrer", entree, "--cohorte", "cs / souris / 240 "});
    EXPECT_EQ(e.statut, 0);
    EXPECT_EQ(e.erreurs, kConsoleReference);
    ASSERT_TRUE(e.sortie.ends_with("}\n"));
    EXPECT_EQ(sans_date(e.sortie), kRapportReference + "\n");
}

TEST_F(CalibrageCommandes, CalibrerSansDonneesExploitables) {
    const std::string entree = fichier("vides.jsonl", jsonl(propre("m1")) + jsonl(propre("m2")));
    const auto e = lancer({"calibrer", "--cohorte", "c", entree});
    EXPECT_EQ(e.statut, 0);
    EXPECT_EQ(
        e.erreurs,
        "2 match(s), 6 trames, cohorte \u00ab c \u00bb\n"
        "  visibleAngularVelocityDegPerSec    n=0        P1%=0.000      P50=0.000      P99%=0.000      P99,9%=0.000\n"
        "  absAngularAccelerationDegPerSec2   n=0        P1%=0.000      P50=0.000      P99%=0.000      P99,9%=0.000\n"
        "  visibilityToActionReactionMs       n=0        P1%=0.000      P50=0.000      P99%=0.000      P99,9%=0.000\n"
        "  movingVisibleTargetErrorDeg        n=0        P1%=0.000      P50=0.000      P99%=0.000      P99,9%=0.000\n"
        "\u26a0 visibleAngularVelocityDegPerSec : aucun \u00e9chantillon\n"
        "\u26a0 absAngularAccelerationDegPerSec2 : aucun \u00e9chantillon\n"
        "\u26a0 visibilityToActionReactionMs : aucun \u00e9chantillon\n"
        "\u26a0 movingVisibleTargetErrorDeg : aucun \u00e9chantillon\n"
        "\u26a0 seulement 2 match(s) : ajoute des matchs propres de la m\u00eame cohorte\n" +
            kPied);
    EXPECT_NE(e.sortie.find("\"snapVitesseDegS\": 1.0,\n"), std::string::npos);
    EXPECT_NE(e.sortie.find("\"suiviExcellentErreurDeg\": 0.01\n"), std::string::npos);
}

TEST_F(CalibrageCommandes, CalibrerDansUnFichier) {
    const std::string contenu = jsonl(match_reference("m1"));
    const std::string entree = fichier("propres.jsonl", contenu);
    const std::string sortie = dossier_ + "/rapport.json";
    fichier("rapport.json", std::string(100000, 'x'));  // truncated, not appended to
    const auto e = lancer({"calibrer", "--sortie", sortie, "--cohorte", "cs / souris / 240 ", entree});
    EXPECT_EQ(e.statut, 0);
    EXPECT_EQ(e.sortie, "\u00e9crit : " + sortie + "\n");
    EXPECT_EQ(e.erreurs, kConsoleReference);
    EXPECT_EQ(sans_date(lire(sortie)), kRapportReference) << "exactly the JSON, no line feed after it";
    EXPECT_EQ(lire(entree), contenu) << "the input is not modified";
}

TEST_F(CalibrageCommandes, CalibrerRefuse) {
    const std::string bon = fichier("bon.jsonl", jsonl(match_reference("m1")));
    const std::string mauvais = fichier("mauvais.jsonl", "{}\n{\"hit\":2}\n");
    const std::string cohorte = "cohorte obligatoire";
    // Blank cohorts (Unicode spaces included) are refused, once every input has been read.
    for (const std::string blanc : {"", " \t ", "\u00a0\u3000"}) {
        attendre_erreur({"calibrer", "--cohorte", blanc, bon},
                        "--cohorte est obligatoire (une calibration par cohorte)\n" + usage + "\n");
    }
    attendre_erreur({"calibrer", bon}, "--cohorte est obligatoire (une calibration par cohorte)\n" + usage + "\n");
    attendre_erreur({"calibrer", "--cohorte", " ", bon, mauvais},
                    mauvais + " : ligne 2 : invalid type: integer `2`, expected a boolean at line 1 column 8\n");
    // A label that is not UTF-8 would give a report that cannot be read back. (Windows arguments are
    // always valid text.)
    if (!windows()) {
        attendre_erreur({"calibrer", "--cohorte", "fps \xff", bon}, "--cohorte : UTF-8 invalide\n");
    }
    // One invalid batch refuses the whole calibration; nothing is printed or written.
    const std::string court = fichier("court.jsonl", jsonl({T(0).match("m0"), T(5).match("m0")}));
    const std::string sortie = dossier_ + "/r.json";
    attendre_erreur({"calibrer", "--cohorte", "c", "--sortie", sortie, bon, court},
                    "lot de calibration invalide m0 : At least three telemetry frames are required.\n");
    EXPECT_FALSE(std::filesystem::exists(sortie));
}

TEST_F(CalibrageCommandes, SortieImpossible) {
    const std::string bon = fichier("bon.jsonl", jsonl(match_reference("m1")));
    const std::string absent = dossier_ + "/absent/r.json";
    attendre_erreur({"calibrer", "--cohorte", "cs / souris / 240 ", "--sortie", absent, bon},
                    kConsoleReference + absent + " : No such file or directory\n");
    const auto e = lancer({"controler", "--sortie", dossier_, bon});
    EXPECT_EQ(e.statut, 1);
    EXPECT_EQ(e.sortie, "");
    EXPECT_TRUE(e.erreurs.ends_with("\n" + dossier_ + " : " + erreur_dossier() + "\n")) << e.erreurs;
}

// One line per match in the order the reader gives them: by match id.
std::string cohorte_controle(int propres, int tireurs) {
    std::string texte;
    for (int i = 0; i < tireurs; ++i) texte += jsonl(tireur("t" + std::to_string(i), 12));
    for (int i = 0; i < propres; ++i) {
        texte += jsonl(propre("p" + std::string(i < 10 ? "0" : "") + std::to_string(i)));
    }
    return texte;
}

TEST_F(CalibrageCommandes, ControlerLignesEtAlerte) {
    std::string texte = cohorte_controle(11, 1);
    texte += jsonl(tireur("a", 1));
    texte += jsonl({T(0).match("invalide"), T(0).match("invalide"), T(1).match("invalide")});
    const std::string entree = fichier("controle.jsonl", texte);
    const auto e = lancer({"controler", entree});
    EXPECT_EQ(e.statut, 0);
    EXPECT_EQ(e.erreurs,
              "seuils par d\u00e9faut du moteur (pas de --rapport)\n"
              "13 match(s) analys\u00e9s (1 invalides ignor\u00e9s) \u00b7 1 \u00e0 REVIEW ou plus = 7.7 %\n"
              "   57.3  REVIEW           t0 / p1  [ReactionTime, VisibilityShotCorrelation]\n"
              "   24.4  NORMAL           a / p1  [ReactionTime, VisibilityShotCorrelation]\n"
              "    0.0  NORMAL           p00 / p1  []\n"
              "    0.0  NORMAL           p01 / p1  []\n"
              "    0.0  NORMAL           p02 / p1  []\n"
              "    0.0  NORMAL           p03 / p1  []\n"
              "    0.0  NORMAL           p04 / p1  []\n"
              "    0.0  NORMAL           p05 / p1  []\n"
              "    0.0  NORMAL           p06 / p1  []\n"
              "    0.0  NORMAL           p07 / p1  []\n" +
                  kAlerte);
    EXPECT_TRUE(
        e.sortie.starts_with("{\n  \"matchs\": 13,\n  \"invalides\": 1,\n  \"reviewOuPlus\": 1,\n"
                             "  \"tauxReviewOuPlus\": 0.07692307692307693,\n  \"lignes\": [\n"))
        << e.sortie;
    EXPECT_TRUE(e.sortie.ends_with("\n  ]\n}\n"));
    EXPECT_EQ(std::count(e.sortie.begin(), e.sortie.end(), '{'), 14) << "all 13 lines are in the JSON";
}

TEST_F(CalibrageCommandes, ControlerEmetLeRapportSurLaSortieStandard) {
    const std::string entree = fichier("c.jsonl", jsonl(propre("p00")) + jsonl(tireur("t0", 12)));
    const auto e = lancer({"controler", "--cohorte", "ignor\u00e9e", entree});
    EXPECT_EQ(e.statut, 0);
    EXPECT_EQ(e.sortie, R"({
  "matchs": 2,
  "invalides": 0,
  "reviewOuPlus": 1,
  "tauxReviewOuPlus": 0.5,
  "lignes": [
    {
      "matchId": "t0",
      "joueurId": "p1",
      "score": 57.3,
      "niveau": "REVIEW",
      "categories": [
        "ReactionTime",
        "VisibilityShotCorrelation"
      ]
    },
    {
      "matchId": "p00",
      "joueurId": "p1",
      "score": 0.0,
      "niveau": "NORMAL",
      "categories": []
    }
  ]
}
)");
    EXPECT_EQ(e.erreurs,
              "seuils par d\u00e9faut du moteur (pas de --rapport)\n"
              "2 match(s) analys\u00e9s (0 invalides ignor\u00e9s) \u00b7 1 \u00e0 REVIEW ou plus = 50.0 %\n"
              "   57.3  REVIEW           t0 / p1  [ReactionTime, VisibilityShotCorrelation]\n"
              "    0.0  NORMAL           p00 / p1  []\n" +
                  kAlerte);
}

TEST_F(CalibrageCommandes, AlerteSeulementAuDelaDeUnPourCent) {
    const auto resume = [&](int propres) {
        const std::string entree = fichier("c" + std::to_string(propres) + ".jsonl", cohorte_controle(propres, 1));
        const auto e = lancer({"controler", entree, "--sortie", dossier_ + "/c.json"});
        EXPECT_EQ(e.statut, 0);
        EXPECT_EQ(e.sortie, "\u00e9crit : " + dossier_ + "/c.json\n");
        return e.erreurs;
    };
    const std::string a = resume(99);
    EXPECT_NE(a.find("100 match(s) analys\u00e9s (0 invalides ignor\u00e9s) \u00b7 1 \u00e0 REVIEW ou plus = 1.0 %\n"),
              std::string::npos);
    EXPECT_FALSE(a.ends_with(kAlerte)) << "exactly 0.01 is not above the limit";
    EXPECT_EQ(std::count(a.begin(), a.end(), '\n'), 12);
    const std::string b = resume(49);
    EXPECT_NE(b.find("50 match(s) analys\u00e9s (0 invalides ignor\u00e9s) \u00b7 1 \u00e0 REVIEW ou plus = 2.0 %\n"),
              std::string::npos);
    EXPECT_TRUE(b.ends_with(kAlerte));
    EXPECT_NE(lire(dossier_ + "/c.json").find("\"tauxReviewOuPlus\": 0.02,"), std::string::npos);
}

TEST_F(CalibrageCommandes, ControlerAvecLeRapportDUneCalibration) {
    const std::string propres = fichier("propres.jsonl", jsonl(match_reference("m1")));
    const std::string rapport = dossier_ + "/rapport.json";
    ASSERT_EQ(lancer({"calibrer", "--cohorte", "fps \u00ab 240 \u00bb", "--sortie", rapport, propres}).statut, 0);
    const std::string texte_rapport = lire(rapport);
    const std::string entree = fichier("controle.jsonl", jsonl(tireur("t0", 12)));
    const auto e = lancer({"controler", "--rapport", rapport, entree});
    EXPECT_EQ(e.statut, 0);
    EXPECT_TRUE(
        e.erreurs.starts_with("seuils de la calibration \u00ab fps \u00ab 240 \u00bb \u00bb\n"
                              "1 match(s) analys\u00e9s (0 invalides ignor\u00e9s) \u00b7 "))
        << e.erreurs;
    EXPECT_EQ(lire(rapport), texte_rapport) << "the report is only read";

    // Neither the telemetry nor the report is ever replaced by a result.
    const std::string contenu = lire(entree);
    const auto remplace =
        lancer({"controler", "--rapport", rapport, "--sortie", dossier_ + "/./controle.jsonl", entree});
    EXPECT_EQ(remplace.statut, 1);
    EXPECT_TRUE(remplace.erreurs.ends_with(entree + " : fichier d'entr\u00e9e identique \u00e0 la sortie\n"));
    EXPECT_EQ(lire(entree), contenu);
    const auto sur_rapport = lancer({"controler", "--sortie", rapport, "--rapport", rapport, entree});
    EXPECT_EQ(sur_rapport.statut, 1);
    EXPECT_EQ(sur_rapport.sortie, "");
    EXPECT_TRUE(sur_rapport.erreurs.ends_with(rapport + " : fichier d'entr\u00e9e identique \u00e0 la sortie\n"));
    EXPECT_EQ(lire(rapport), texte_rapport);
}

TEST_F(CalibrageCommandes, RapportsRefuses) {
    const std::string entree = fichier("e.jsonl", jsonl(propre("m1")));
    const std::string propres = fichier("propres.jsonl", jsonl(match_reference("m1")));
    const std::string rapport = dossier_ + "/rapport.json";
    ASSERT_EQ(lancer({"calibrer", "--cohorte", "c", "--sortie", rapport, propres}).statut, 0);
    const std::string bon = lire(rapport);

    const auto variante = [&](const std::string& nom, const std::string& avant, const std::string& apres) {
        std::string t = bon;
        const auto p = t.find(avant);
        EXPECT_NE(p, std::string::npos) << avant;
        return fichier(nom, t.replace(p, avant.size(), apres));
    };
    const std::string manque = variante("manque.json", "    \"reactionSuspecteMs\": 1,\n", "");
    attendre_erreur({"controler", "--rapport", manque, entree},
                    manque + " : missing field `reactionSuspecteMs` at line 57 column 3\n");
    const std::string double_ =
        variante("double.json", "\"cohorte\": \"c\",", "\"cohorte\": \"c\", \"cohorte\": \"d\",");
    attendre_erreur({"controler", "--rapport", double_, entree},
                    double_ + " : duplicate field `cohorte` at line 5 column 28\n");
    const std::string type = variante("type.json", "\"snapVitesseDegS\": ", "\"snapVitesseDegS\": true, \"x\": ");
    attendre_erreur({"controler", "--rapport", type, entree},
                    type + " : invalid type: boolean `true`, expected f64 at line 53 column 28\n");
    const std::string absent = dossier_ + "/absent.json";
    attendre_erreur({"controler", "--rapport", absent, entree}, absent + " : No such file or directory\n");
    const std::string latin1 = fichier("latin1.json", "{\"cohorte\": \"\xe9\"}");
    attendre_erreur({"controler", "--rapport", latin1, entree}, latin1 + " : UTF-8 invalide\n");
    attendre_erreur({"controler", "--rapport", dossier_, entree}, dossier_ + " : " + erreur_dossier() + "\n");
}

// The demo's pipeline starts with convertir: each snapshot line stands alone, with its own defaults
// and its own players.
TEST_F(CalibrageCommandes, ConvertirLitChaqueLigneSansLaPrecedente) {
    const std::string entree =
        fichier("instantanes.jsonl",
                "{\"matchId\":\"m\",\"localPlayerId\":\"p\",\"timestampMs\":1,\"weaponId\":\"ak\",\"shotFired\":true,"
                "\"players\":[{\"entityId\":\"e2\",\"teamId\":2,\"isAlive\":true,\"isVisibleFromLocalPlayer\":true,"
                "\"isInFrustum\":true,\"worldPosition\":{\"x\":10,\"y\":0,\"z\":0},\"aimPoint\":{\"x\":10,\"y\":0,"
                "\"z\":0}}]}\n"
                "{\"matchId\":\"m\",\"localPlayerId\":\"p\",\"timestampMs\":2}\n");
    const std::string sortie = dossier_ + "/trames.jsonl";
    const auto e = lancer({"convertir", "--sortie", sortie, entree});
    ASSERT_EQ(e.statut, 0) << e.erreurs;
    const std::string trames = lire(sortie);
    const std::string seconde = trames.substr(trames.find('\n') + 1);
    EXPECT_NE(trames.find("\"targetId\":\"e2\""), std::string::npos) << trames;
    EXPECT_EQ(seconde.find("\"targetId\":\"e2\""), std::string::npos) << seconde;
    EXPECT_NE(seconde.find("\"shotFired\":false"), std::string::npos) << seconde;
    EXPECT_NE(seconde.find("\"weaponId\":\"\""), std::string::npos) << seconde;
}

}  // namespace
