#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "commun/fichier.hpp"
#include "comportement/ecriture_telemetrie.hpp"
#include "comportement/lecture_telemetrie.hpp"

namespace {

using comportement::TrameTelemetrie;

TEST(TelemetrieEcriture, LigneCompacteDansLOrdre) {
    commun::SortieChaine sortie;
    TrameTelemetrie t;
    ASSERT_TRUE(comportement::ecrire_trame(sortie, t));
    EXPECT_EQ(sortie.texte,
              R"({"matchId":"","playerId":"","timestampMs":0,"yawDeg":0.0,"pitchDeg":0.0,"mouseDx":0,"mouseDy":0,)"
              R"("targetId":null,"targetVisible":false,"targetOccluded":false,"targetAngularErrorDeg":0.0,)"
              R"("occludedTargetAngularErrorDeg":0.0,"targetAngularSpeedDegPerSec":0.0,"shotFired":false,)"
              R"("hit":false,"headshot":false,"weaponId":"","acquisitionMode":null,"acquisitionConfidence":1.0})"
              "\n");
}

TEST(TelemetrieEcriture, AllerRetour) {
    TrameTelemetrie t;
    t.matchId = "m\"1";
    t.playerId = "é\n";
    t.timestampMs = std::numeric_limits<std::int64_t>::min();
    t.yawDeg = -0.0;
    t.pitchDeg = 1e-7;
    t.mouseDx = std::numeric_limits<std::int32_t>::min();
    t.mouseDy = 7;
    t.targetId = "cible";
    t.targetOccluded = true;
    t.targetAngularErrorDeg = 0.1 + 0.2;
    t.occludedTargetAngularErrorDeg = 1e300;
    t.targetAngularSpeedDegPerSec = 123456.75;
    t.hit = true;
    t.weaponId = "\x01";
    t.acquisitionConfidence = 0.65;
    commun::SortieChaine sortie;
    ASSERT_TRUE(comportement::ecrire_trame(sortie, t));
    ASSERT_TRUE(sortie.texte.ends_with("\n"));
    EXPECT_NE(sortie.texte.find(R"("targetId":"cible")"), std::string::npos);
    EXPECT_NE(sortie.texte.find(R"("yawDeg":-0.0,"pitchDeg":1e-7)"), std::string::npos);
    auto relu = comportement::trame_depuis_json(sortie.texte);
    ASSERT_TRUE(relu) << relu.error();
    EXPECT_EQ(relu->matchId, t.matchId);
    EXPECT_EQ(relu->playerId, t.playerId);
    EXPECT_EQ(relu->timestampMs, t.timestampMs);
    EXPECT_TRUE(std::signbit(relu->yawDeg));
    EXPECT_EQ(relu->mouseDx, t.mouseDx);
    EXPECT_EQ(relu->targetAngularErrorDeg, t.targetAngularErrorDeg);
    EXPECT_EQ(relu->occludedTargetAngularErrorDeg, t.occludedTargetAngularErrorDeg);
    EXPECT_EQ(relu->weaponId, t.weaponId);
    EXPECT_FALSE(relu->acquisitionMode.has_value());
    EXPECT_EQ(relu->acquisitionConfidence, 0.65);
}

TEST(TelemetrieEcriture, NonFiniEcritNullQuiNeSeRelitPas) {
    TrameTelemetrie t;
    t.yawDeg = std::numeric_limits<double>::infinity();
    commun::SortieChaine sortie;
    ASSERT_TRUE(comportement::ecrire_trame(sortie, t));
    EXPECT_NE(sortie.texte.find(R"("yawDeg":null)"), std::string::npos);
    EXPECT_FALSE(comportement::trame_depuis_json(sortie.texte));
}

TEST(TelemetrieEcriture, FichierTamponneEtErreurDuPuits) {
    const std::string chemin = testing::TempDir() + "trames_ecriture.jsonl";
    {
        auto f = commun::SortieFichier::creer(chemin);
        ASSERT_TRUE(f) << f.error();
        TrameTelemetrie t;
        for (int i = 0; i < 1000; ++i) {
            t.timestampMs = 1000 - i;
            t.matchId = "m";
            ASSERT_TRUE(comportement::ecrire_trame(*f, t));
        }
        // Not flushed explicitly: the end of the object writes the rest.
    }
    auto lots = comportement::lire_replay(chemin);
    ASSERT_TRUE(lots) << lots.error();
    ASSERT_EQ(lots->size(), 1u);
    EXPECT_EQ((*lots)[0].trames.size(), 1000u);
    EXPECT_EQ((*lots)[0].trames.front().timestampMs, 1);

    auto plein = commun::SortieFichier::creer("/dev/full");
    ASSERT_TRUE(plein);
    TrameTelemetrie t;
    bool echec = false;
    std::string message;
    for (int i = 0; i < 200 && !echec; ++i) {
        auto r = comportement::ecrire_trame(*plein, t);
        if (!r) {
            echec = true;
            message = r.error();
        }
    }
    if (!echec) {
        auto r = plein->vider();
        echec = !r;
        if (echec) message = r.error();
    }
    EXPECT_TRUE(echec);
    EXPECT_EQ(message, "No space left on device");
}

}  // namespace
