// Control run: lines, ordering, counts and the report's JSON.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "comportement/controle.hpp"
#include "test_detecteurs_aide.hpp"

namespace comportement {
namespace {

using essai::T;

// `reveals` times: the opponent comes out of occlusion and is shot on sight (ReactionTime at 0 ms and
// VisibilityShotCorrelation at the reveal).
LotTrames tireur(const std::string& match, int reveals) {
    std::vector<TrameTelemetrie> t;
    for (int k = 0; k < reveals; ++k) {
        t.push_back(T(k * 200).occulte(50.0).match(match));
        t.push_back(T(k * 200 + 100).visible(0.5).tir().match(match));
    }
    t.push_back(T(reveals * 200).match(match));
    return essai::lot(std::move(t), match);
}

LotTrames propre(const std::string& match) {
    return essai::lot({T(0).match(match), T(10).match(match), T(20).match(match)}, match);
}

TEST(ControlerLots, LignesTrieesParScoreEgalitesDansLOrdreDEntree) {
    const std::vector<LotTrames> lots = {
        propre("a"), tireur("b", 1), LotTrames{"invalide", "p1", {}}, propre("c"), tireur("d", 12),
    };
    const RapportControle r = controler_lots(lots, EngineThresholds{});
    EXPECT_EQ(r.matchs, 4u);
    EXPECT_EQ(r.invalides, 1u);
    ASSERT_EQ(r.lignes.size(), 4u);
    EXPECT_EQ(r.lignes[0].matchId, "d");
    EXPECT_EQ(r.lignes[1].matchId, "b");
    EXPECT_EQ(r.lignes[2].matchId, "a");
    EXPECT_EQ(r.lignes[3].matchId, "c");
    EXPECT_GE(r.lignes[0].score, 50.0);
    EXPECT_LT(r.lignes[1].score, 50.0);
    EXPECT_GT(r.lignes[1].score, 0.0);
    EXPECT_EQ(r.lignes[2].score, 0.0);
    EXPECT_EQ(r.reviewOuPlus, 1u);
    EXPECT_EQ(r.tauxReviewOuPlus, 0.25);

    // Twelve ReactionTime and twelve correlation signals: each category once, in byte-wise order.
    EXPECT_EQ(r.lignes[0].categories, (std::vector<std::string>{"ReactionTime", "VisibilityShotCorrelation"}));
    EXPECT_EQ(r.lignes[0].joueurId, "p1");
    EXPECT_EQ(r.lignes[0].niveau, risk_level(r.lignes[0].score));
    EXPECT_EQ(r.lignes[2].categories, std::vector<std::string>{});
    EXPECT_EQ(r.lignes[2].niveau, "NORMAL");
}

TEST(ControlerLots, LesSeuilsDonnesSontCeuxDuMoteur) {
    // A reaction at 0 ms is below any positive limit; with limits below zero it is no longer suspect.
    EngineThresholds seuils;
    seuils.reactionVeryFastMs = -2;
    seuils.reactionSuspectMs = -1;
    const RapportControle r = controler_lots(std::vector<LotTrames>{tireur("b", 12)}, seuils);
    ASSERT_EQ(r.lignes.size(), 1u);
    EXPECT_EQ(r.lignes[0].categories, std::vector<std::string>{"VisibilityShotCorrelation"});
}

TEST(ControlerLots, RienDAnalysable) {
    const RapportControle vide = controler_lots({}, EngineThresholds{});
    EXPECT_EQ(vide.matchs, 0u);
    EXPECT_EQ(vide.tauxReviewOuPlus, 0.0);
    const RapportControle r = controler_lots(
        std::vector<LotTrames>{LotTrames{"x", "p", {}}, LotTrames{"", "p", {T(0), T(1), T(2)}}}, EngineThresholds{});
    EXPECT_EQ(r.matchs, 0u);
    EXPECT_EQ(r.invalides, 2u);
    EXPECT_EQ(r.reviewOuPlus, 0u);
    EXPECT_EQ(r.tauxReviewOuPlus, 0.0);
    EXPECT_EQ(rapport_controle_json(r), R"({
  "matchs": 0,
  "invalides": 2,
  "reviewOuPlus": 0,
  "tauxReviewOuPlus": 0.0,
  "lignes": []
})");
}

TEST(RapportControleJson, DispositionExacte) {
    RapportControle r;
    r.matchs = 3;
    r.invalides = 1;
    r.reviewOuPlus = 1;
    r.tauxReviewOuPlus = 1.0 / 3.0;
    r.lignes = {
        {"m-2", "joueur \u00e9", 55.5, "REVIEW", {"AimSnap", "PreAim"}},
        {"m-1", "p1", 12.0, "NORMAL", {}},
        {"m\t3", "p3", 12.0, "NORMAL", {"ReactionTime"}},
    };
    EXPECT_EQ(rapport_controle_json(r), R"({
  "matchs": 3,
  "invalides": 1,
  "reviewOuPlus": 1,
  "tauxReviewOuPlus": 0.3333333333333333,
  "lignes": [
    {
      "matchId": "m-2",
      "joueurId": "joueur é",
      "score": 55.5,
      "niveau": "REVIEW",
      "categories": [
        "AimSnap",
        "PreAim"
      ]
    },
    {
      "matchId": "m-1",
      "joueurId": "p1",
      "score": 12.0,
      "niveau": "NORMAL",
      "categories": []
    },
    {
      "matchId": "m\t3",
      "joueurId": "p3",
      "score": 12.0,
      "niveau": "NORMAL",
      "categories": [
        "ReactionTime"
      ]
    }
  ]
})");
}

}  // namespace
}  // namespace comportement
