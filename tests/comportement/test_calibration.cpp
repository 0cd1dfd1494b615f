// Calibration: samples, percentiles, recommendations, warnings and the report's JSON both ways.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "comportement/calibration.hpp"
#include "test_detecteurs_aide.hpp"

namespace comportement {
namespace {

using essai::T;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(Percentile, InterpoleEntreStatistiquesDOrdre) {
    const std::vector<double> a = {40, 10, 30, 20};
    EXPECT_EQ(percentile(a, 0.5), 25.0);
    EXPECT_NEAR(percentile(a, 0.999), 39.97, 1e-12);
    EXPECT_EQ(percentile(a, 0.0), 10.0);
    EXPECT_EQ(percentile(a, 1.0), 40.0);
    EXPECT_EQ(a, (std::vector<double>{40, 10, 30, 20})) << "the input is never reordered";

    const std::vector<double> b = {100, 0};
    EXPECT_NEAR(percentile(b, 0.001), 0.1, 1e-12);
    EXPECT_EQ(percentile(b, 0.5), 50.0);
    EXPECT_NEAR(percentile(b, 0.999), 99.9, 1e-12);

    // q outside [0, 1] is clamped; a NaN q reads as 0.
    EXPECT_EQ(percentile(a, 7.0), 40.0);
    EXPECT_EQ(percentile(a, -1.0), 10.0);
    EXPECT_EQ(percentile(a, kNaN), 10.0);
}

TEST(Percentile, NonFinisIgnoresEtListesVides) {
    EXPECT_EQ(percentile(std::vector<double>{kNaN, 5.0, kInf, 1.0, -kInf}, 0.5), 3.0);
    EXPECT_EQ(percentile(std::vector<double>{kNaN, kInf}, 0.5), 0.0);
    EXPECT_EQ(percentile(std::vector<double>{}, 0.99), 0.0);
    for (double q : {0.0, 0.001, 0.5, 0.999, 1.0}) {
        EXPECT_EQ(percentile(std::vector<double>{7.25}, q), 7.25);
    }
}

TEST(Distribution, UnTriPourSeptPercentilesDonneLesMemesValeurs) {
    // Irregular values with duplicates and non-finite entries.
    std::vector<double> v;
    std::uint64_t x = 12345;
    for (int i = 0; i < 2003; ++i) {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        v.push_back(static_cast<double>(x >> 40) / 97.0 - (i % 7 == 0 ? 1000.0 : 0.0));
        if (i % 500 == 3) v.push_back(kNaN);
        if (i % 300 == 1) v.push_back(v[static_cast<std::size_t>(i / 2)]);
    }
    const std::vector<double> copie = v;
    const Distribution d = construire_distribution("m", v);
    EXPECT_EQ(std::memcmp(v.data(), copie.data(), v.size() * sizeof(double)), 0) << "the input is left as it is";
    EXPECT_EQ(d.metrique, "m");
    EXPECT_EQ(d.echantillons, v.size()) << "counted before non-finite values are dropped";
    EXPECT_EQ(d.p001, percentile(v, 0.001));
    EXPECT_EQ(d.p01, percentile(v, 0.01));
    EXPECT_EQ(d.p05, percentile(v, 0.05));
    EXPECT_EQ(d.p50, percentile(v, 0.5));
    EXPECT_EQ(d.p95, percentile(v, 0.95));
    EXPECT_EQ(d.p99, percentile(v, 0.99));
    EXPECT_EQ(d.p999, percentile(v, 0.999));

    const Distribution vide = construire_distribution("vide", std::vector<double>{kNaN});
    EXPECT_EQ(vide.echantillons, 1u);
    EXPECT_EQ(vide.p001, 0.0);
    EXPECT_EQ(vide.p999, 0.0);
}

// Large lists are sorted another way than small ones: the percentiles must still be those of a stable sort,
// signed zeros in their input order included, at every rank.
TEST(Percentile, GrandesListesCommeUnTriStable) {
    std::vector<double> v;
    std::uint64_t x = 99;
    for (int i = 0; i < 20000; ++i) {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        const int k = static_cast<int>(x >> 60);
        v.push_back(k < 5    ? (k % 2 == 0 ? 0.0 : -0.0)
                    : k < 8  ? -static_cast<double>(x >> 44) / 3.0
                    : k < 9  ? std::numeric_limits<double>::denorm_min() * static_cast<double>(k)
                    : k < 10 ? kNaN
                             : static_cast<double>(x >> 20) * 1e-3);
    }
    std::vector<double> tries;
    for (double e : v) {
        if (std::isfinite(e)) tries.push_back(e);
    }
    std::stable_sort(tries.begin(), tries.end());
    for (int r = 0; r <= 1000; ++r) {
        const double q = r / 1000.0;
        const double attendu = percentile_trie(tries, q);
        const double obtenu = percentile(v, q);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(attendu), std::bit_cast<std::uint64_t>(obtenu))
            << "q = " << q << ": " << attendu << " vs " << obtenu;
    }
}

// Four frames 100 ms apart: a reveal at frame 1, steps of 100, 200 and 0 deg/s.
std::vector<TrameTelemetrie> match_de_reference() {
    return {
        T(0).yaw(0),
        T(100).yaw(10).visible(0.5).vitesse(20),
        T(200).yaw(30).visible(1.5).vitesse(30),
        T(300).yaw(30).visible(2.5).vitesse(17.99),
    };
}

TEST(Echantillons, QuatreMetriques) {
    EchantillonsMetriques e;
    collecter_echantillons(match_de_reference(), e);
    EXPECT_EQ(e.visibleAngularVelocityDegPerSec, (std::vector<double>{100.0, 200.0, 0.0}));
    // The first step is measured from rest; a slowing step gives its absolute value.
    EXPECT_EQ(e.absAngularAccelerationDegPerSec2, (std::vector<double>{1000.0, 1000.0, 2000.0}));
    EXPECT_EQ(e.visibilityToActionReactionMs, (std::vector<double>{0.0}));
    EXPECT_EQ(e.movingVisibleTargetErrorDeg, (std::vector<double>{0.5, 1.5})) << "speed 17.99 is below 18";

    // Frames out of order give the samples of the time-ordered match, appended after the others.
    auto melange = match_de_reference();
    std::swap(melange[0], melange[3]);
    collecter_echantillons(melange, e);
    EXPECT_EQ(e.visibleAngularVelocityDegPerSec, (std::vector<double>{100.0, 200.0, 0.0, 100.0, 200.0, 0.0}));
    EXPECT_EQ(e.visibilityToActionReactionMs, (std::vector<double>{0.0, 0.0}));
}

TEST(Echantillons, PasInvisiblesIgnores) {
    EchantillonsMetriques e;
    collecter_echantillons(std::vector<TrameTelemetrie>{T(0), T(10).yaw(5), T(20).yaw(5).vitesse(50)}, e);
    EXPECT_TRUE(e.visibleAngularVelocityDegPerSec.empty());
    EXPECT_TRUE(e.absAngularAccelerationDegPerSec2.empty());
    EXPECT_TRUE(e.movingVisibleTargetErrorDeg.empty()) << "a fast target that is not visible";
}

TEST(Echantillons, ReactionsDansLaFenetreDe500Ms) {
    const auto reactions = [](std::vector<TrameTelemetrie> trames) {
        EchantillonsMetriques e;
        collecter_echantillons(trames, e);
        return e.visibilityToActionReactionMs;
    };
    // Shot on the reveal frame itself: 0.
    EXPECT_EQ(reactions({T(0), T(10).visible().tir(), T(20).visible()}), std::vector<double>{0.0});
    // A fast step (> 60 deg/s) 500 ms after the reveal counts; 501 ms does not.
    EXPECT_EQ(reactions({T(0), T(10).visible(), T(500).visible(), T(510).visible().yaw(1)}),
              std::vector<double>{500.0});
    EXPECT_EQ(reactions({T(0), T(10).visible(), T(501).visible(), T(511).visible().yaw(1)}), std::vector<double>{});
    // Exactly 60 deg/s is not a reaction.
    EXPECT_EQ(reactions({T(0), T(10).visible(), T(110).visible().yaw(6)}), std::vector<double>{});
    // No target id: not a reveal. An empty id is one.
    EXPECT_EQ(reactions({T(0), T(10).visible().sansCible().tir(), T(20)}), std::vector<double>{});
    EXPECT_EQ(reactions({T(0), T(10).visible().cible("").tir(), T(20)}), std::vector<double>{0.0});
    // Two reveals, each measured from its own frame.
    EXPECT_EQ(reactions({T(0), T(10).visible(), T(40).visible().tir(), T(50), T(60).visible(), T(75).tir()}),
              (std::vector<double>{30.0, 15.0}));
}

TEST(Echantillons, HorodatagesExtremesSansDebordement) {
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    EchantillonsMetriques e;
    collecter_echantillons(std::vector<TrameTelemetrie>{T(kMin), T(kMin + 1).visible(), T(kMax).visible().tir()}, e);
    EXPECT_TRUE(e.visibilityToActionReactionMs.empty()) << "the shot is far beyond the window";
    ASSERT_EQ(e.visibleAngularVelocityDegPerSec.size(), 2u);
}

TEST(Recommandations, ArrondiDesReactions) {
    EXPECT_EQ(arrondir_reaction_ms(104.5), 105);
    EXPECT_EQ(arrondir_reaction_ms(133.4), 133);
    EXPECT_EQ(arrondir_reaction_ms(2.5), 3) << "halves away from zero, not to even";
    EXPECT_EQ(arrondir_reaction_ms(0.49), 1) << "raised to at least 1";
    EXPECT_EQ(arrondir_reaction_ms(-7.0), 1);
    EXPECT_EQ(arrondir_reaction_ms(kNaN), 1);
    EXPECT_EQ(arrondir_reaction_ms(1e300), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(arrondir_reaction_ms(9223372036854775808.0), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(arrondir_reaction_ms(-1e300), 1);
}

std::vector<LotTrames> lots_de(std::size_t n, const std::vector<TrameTelemetrie>& trames) {
    std::vector<LotTrames> lots;
    for (std::size_t i = 0; i < n; ++i) lots.push_back(essai::lot(trames));
    return lots;
}

TEST(CalibrerLots, RefusSansMatchOuSurLotInvalide) {
    EXPECT_EQ(calibrer_lots({}, "c").error(), "au moins un match propre est requis");
    std::vector<LotTrames> lots = lots_de(2, match_de_reference());
    lots.push_back(LotTrames{"m9", " ", {T(0).match("m9").joueur(" "), T(1).match("m9").joueur(" ")}});
    lots.push_back(LotTrames{"m10", "", {}});
    EXPECT_EQ(calibrer_lots(lots, "c").error(),
              "lot de calibration invalide m9 : Missing player id.; At least three telemetry frames are required.");
}

TEST(CalibrerLots, SansAucunEchantillon) {
    const auto r = calibrer_lots(lots_de(1, {T(0), T(10), T(20)}), "  cs / souris / 240 ");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->matchs, 1u);
    EXPECT_EQ(r->trames, 3u);
    EXPECT_EQ(r->cohorte, "  cs / souris / 240 ") << "kept verbatim";
    ASSERT_EQ(r->distributions.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(r->distributions[i].metrique, kMetriques[i]);
        EXPECT_EQ(r->distributions[i].echantillons, 0u);
        EXPECT_EQ(r->distributions[i].p50, 0.0);
    }
    EXPECT_EQ(r->recommandations.snapVitesseDegS, 1.0);
    EXPECT_EQ(r->recommandations.snapAccelMinDegS2, 1.0);
    EXPECT_EQ(r->recommandations.reactionTresRapideMs, 1);
    EXPECT_EQ(r->recommandations.reactionSuspecteMs, 1);
    EXPECT_EQ(r->recommandations.suiviExcellentErreurDeg, 0.01);
    EXPECT_EQ(r->avertissement, kAvertissementRapport);
    EXPECT_TRUE(std::regex_match(r->genereLe, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    EXPECT_EQ(avertissements_calibration(*r), (std::vector<std::string>{
                                                  "visibleAngularVelocityDegPerSec : aucun échantillon",
                                                  "absAngularAccelerationDegPerSec2 : aucun échantillon",
                                                  "visibilityToActionReactionMs : aucun échantillon",
                                                  "movingVisibleTargetErrorDeg : aucun échantillon",
                                                  "seulement 1 match(s) : ajoute des matchs propres de la même cohorte",
                                              }));
}

TEST(CalibrerLots, RecommandationsDepuisLesPercentiles) {
    // Thirty matches: no match-count warning.
    const auto r = calibrer_lots(lots_de(30, match_de_reference()), "c");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->matchs, 30u);
    EXPECT_EQ(r->trames, 120u);
    const Distribution& v = r->distributions[0];
    EXPECT_EQ(v.echantillons, 90u);
    EXPECT_EQ(v.p50, 100.0);
    EXPECT_EQ(r->recommandations.snapVitesseDegS, 200.0);
    EXPECT_EQ(r->recommandations.snapAccelMinDegS2, 2000.0);
    EXPECT_EQ(r->recommandations.reactionTresRapideMs, 1) << "reactions of 0 ms are raised to 1";
    EXPECT_EQ(r->recommandations.suiviExcellentErreurDeg, 0.5);
    EXPECT_EQ(avertissements_calibration(*r),
              std::vector<std::string>{"visibilityToActionReactionMs : 30 échantillons seulement (minimum conseillé "
                                       "1000) — seuils de réaction peu fiables"});

    // Reactions of 130 ms everywhere: both reaction thresholds are 130.
    const std::vector<TrameTelemetrie> lent = {T(0), T(10).visible(), T(140).visible().tir(), T(150)};
    const auto r2 = calibrer_lots(lots_de(3, lent), "c");
    ASSERT_TRUE(r2);
    EXPECT_EQ(r2->recommandations.reactionTresRapideMs, 130);
    EXPECT_EQ(r2->recommandations.reactionSuspecteMs, 130);
}

RapportCalibration rapport_avec(std::uint64_t matchs, std::uint64_t reactions) {
    RapportCalibration r;
    r.matchs = matchs;
    for (std::string_view m : kMetriques) {
        Distribution d;
        d.metrique = std::string(m);
        d.echantillons = 5000;
        r.distributions.push_back(d);
    }
    r.distributions[2].echantillons = reactions;
    return r;
}

TEST(Avertissements, SeuilsDeVolume) {
    EXPECT_EQ(avertissements_calibration(rapport_avec(30, 1000)), std::vector<std::string>{});
    EXPECT_EQ(avertissements_calibration(rapport_avec(29, 999)),
              (std::vector<std::string>{
                  "visibilityToActionReactionMs : 999 échantillons seulement (minimum conseillé 1000) — seuils de "
                  "réaction peu fiables",
                  "seulement 29 match(s) : ajoute des matchs propres de la même cohorte"}));
    EXPECT_EQ(avertissements_calibration(rapport_avec(30, 0)),
              std::vector<std::string>{"visibilityToActionReactionMs : aucun échantillon"});
    // The volume warning is for reactions only.
    RapportCalibration r = rapport_avec(30, 1000);
    r.distributions[0].echantillons = 3;
    EXPECT_EQ(avertissements_calibration(r), std::vector<std::string>{});
}

TEST(Seuils, CinqChampsRemplaces) {
    RapportCalibration r;
    r.recommandations = {611.5, 4200.25, 97, 128, 0.42};
    const EngineThresholds s = seuils_depuis_rapport(r);
    EXPECT_EQ(s.aimSnapMinVelocityDegPerSec, 611.5);
    EXPECT_EQ(s.aimSnapMinAccelDegPerSec2, 4200.25);
    EXPECT_EQ(s.reactionVeryFastMs, 97);
    EXPECT_EQ(s.reactionSuspectMs, 128);
    EXPECT_EQ(s.trackingExcellentErrorDeg, 0.42);
    const EngineThresholds d;
    EXPECT_EQ(s.aimSnapMaxFinalErrorDeg, d.aimSnapMaxFinalErrorDeg);
    EXPECT_EQ(s.reactionSearchWindowMs, d.reactionSearchWindowMs);
    EXPECT_EQ(s.trackingMinTargetSpeedDegPerSec, d.trackingMinTargetSpeedDegPerSec);
    EXPECT_EQ(s.maxSignalsPerCategory, d.maxSignalsPerCategory);
    EXPECT_EQ(s.microMinDirectionReversals, d.microMinDirectionReversals);
}

const char* const kRapportJson = R"({
  "genereLe": "2026-12-06T11:48:44Z",
  "matchs": 2,
  "trames": 8,
  "cohorte": "cs \"2\" / souris / 240",
  "distributions": [
    {
      "metrique": "visibleAngularVelocityDegPerSec",
      "echantillons": 6,
      "p001": 0.0,
      "p01": 0.0,
      "p05": 0.0,
      "p50": 100.0,
      "p95": 200.0,
      "p99": 200.0,
      "p999": 200.0
    },
    {
      "metrique": "absAngularAccelerationDegPerSec2",
      "echantillons": 6,
      "p001": 1000.0,
      "p01": 1000.0,
      "p05": 1000.0,
      "p50": 1000.0,
      "p95": 2000.0,
      "p99": 2000.0,
      "p999": 2000.0
    },
    {
      "metrique": "visibilityToActionReactionMs",
      "echantillons": 2,
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
      "echantillons": 4,
      "p001": 0.5,
      "p01": 0.5,
      "p05": 0.5,
      "p50": 1.0,
      "p95": 1.5,
      "p99": 1.5,
      "p999": 1.5
    }
  ],
  "recommandations": {
    "snapVitesseDegS": 200.0,
    "snapAccelMinDegS2": 2000.0,
    "reactionTresRapideMs": 1,
    "reactionSuspecteMs": 1,
    "suiviExcellentErreurDeg": 0.5
  },
  "avertissement": "Candidates only. Re-run per game/input/FPS/skill cohort and validate false-positive rates before enforcement."
})";

// A report with round numbers, so its JSON can be written out by hand.
RapportCalibration rapport_rond() {
    RapportCalibration r;
    r.genereLe = "2026-12-06T11:48:44Z";
    r.matchs = 2;
    r.trames = 8;
    r.cohorte = "cs \"2\" / souris / 240";
    r.distributions = {
        {"visibleAngularVelocityDegPerSec", 6, 0, 0, 0, 100, 200, 200, 200},
        {"absAngularAccelerationDegPerSec2", 6, 1000, 1000, 1000, 1000, 2000, 2000, 2000},
        {"visibilityToActionReactionMs", 2, 0, 0, 0, 0, 0, 0, 0},
        {"movingVisibleTargetErrorDeg", 4, 0.5, 0.5, 0.5, 1, 1.5, 1.5, 1.5},
    };
    r.recommandations = {200.0, 2000.0, 1, 1, 0.5};
    r.avertissement = std::string(kAvertissementRapport);
    return r;
}

void attendre_egaux(const RapportCalibration& a, const RapportCalibration& b) {
    EXPECT_EQ(rapport_calibration_json(a), rapport_calibration_json(b));
}

TEST(RapportJson, EcritureEtRelecture) {
    const RapportCalibration r = rapport_rond();
    EXPECT_EQ(rapport_calibration_json(r), kRapportJson);
    const auto relu = rapport_calibration_depuis_json(kRapportJson);
    ASSERT_TRUE(relu) << relu.error();
    attendre_egaux(*relu, r);

    // The report of a real calibration reads back to itself, shortest float forms included.
    const auto calcule = calibrer_lots(lots_de(2, match_de_reference()), "c");
    ASSERT_TRUE(calcule);
    const auto relu2 = rapport_calibration_depuis_json(rapport_calibration_json(*calcule));
    ASSERT_TRUE(relu2) << relu2.error();
    attendre_egaux(*relu2, *calcule);
}

TEST(RapportJson, NonFiniEcritNull) {
    RapportCalibration r = rapport_rond();
    r.distributions[0].p50 = kNaN;
    const std::string json = rapport_calibration_json(r);
    EXPECT_NE(json.find("\"p50\": null,"), std::string::npos);
    EXPECT_FALSE(rapport_calibration_depuis_json(json)) << "null is not a float on reading";
}

// kRapportJson with its first occurrence of `avant` replaced.
std::string modifie(std::string_view avant, std::string_view apres) {
    std::string t = kRapportJson;
    const auto p = t.find(avant);
    EXPECT_NE(p, std::string::npos) << avant;
    return t.replace(p, avant.size(), apres);
}

TEST(RapportJson, CleManquanteDoubleOuMalTypee) {
    const auto erreur = [](const std::string& texte) {
        const auto r = rapport_calibration_depuis_json(texte);
        return r ? std::string("accepted") : r.error();
    };
    EXPECT_EQ(erreur(modifie("    \"reactionSuspecteMs\": 1,\n", "")),
              "missing field `reactionSuspecteMs` at line 57 column 3");
    EXPECT_EQ(erreur(modifie("\"p05\": 0.0,", "\"p05\": 0.0, \"p05\": 1.0,")),
              "duplicate field `p05` at line 12 column 24");
    EXPECT_EQ(erreur(modifie("\"matchs\": 2", "\"matchs\": \"2\"")),
              "invalid type: string \"2\", expected u64 at line 3 column 16");
    EXPECT_EQ(erreur(modifie("\"reactionTresRapideMs\": 1", "\"reactionTresRapideMs\": 1.0")),
              "invalid type: floating point `1.0`, expected i64 at line 55 column 29");
    EXPECT_EQ(erreur(modifie("\"echantillons\": 6", "\"echantillons\": -6")),
              "invalid value: integer `-6`, expected u64 at line 9 column 23");
    EXPECT_EQ(erreur(modifie("\"genereLe\": \"2026-12-06T11:48:44Z\",", "")),
              "missing field `genereLe` at line 60 column 1");
    EXPECT_EQ(erreur("{}"), "missing field `genereLe` at line 1 column 2");
    EXPECT_EQ(erreur(std::string(kRapportJson) + "x"), "trailing characters at line 60 column 2");
    EXPECT_NE(erreur(modifie("\"metrique\": \"visibleAngularVelocityDegPerSec\",", "")), "accepted");
}

TEST(RapportJson, ClesInconnuesEtNombreDeDistributionsLibre) {
    std::string t = modifie("\"matchs\": 2,", "\"matchs\": 2, \"version\": {\"a\": [1, 2]}, \"version\": 3,");
    const auto r = rapport_calibration_depuis_json(t);
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(r->matchs, 2u);

    const std::string texte = kRapportJson;
    const auto p = texte.find("[\n    {");
    const auto q = texte.find("\n  ],");
    const std::string vide = texte.substr(0, p) + "[]" + texte.substr(q + 4);
    const auto r2 = rapport_calibration_depuis_json(vide);
    ASSERT_TRUE(r2) << r2.error();
    EXPECT_TRUE(r2->distributions.empty());
    EXPECT_EQ(seuils_depuis_rapport(*r2).aimSnapMinVelocityDegPerSec, 200.0);
}

}  // namespace
}  // namespace comportement
