#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "comportement/lecture_telemetrie.hpp"

namespace {

using comportement::LotTrames;

std::expected<std::vector<LotTrames>, std::string> lots(std::string texte) {
    commun::SourceChaine source(std::move(texte));
    return comportement::lire_lots(source);
}

std::string erreur(std::string texte) {
    auto r = lots(std::move(texte));
    return r ? std::string("<accepted>") : r.error();
}

TEST(TelemetrieLecture, TrameCompleteEtFormes) {
    auto t = comportement::trame_depuis_json(
        R"({"MatchId":"m","playerId":"p","TimestampMs":-5,"yawDeg":1,"PitchDeg":-0.5,"mouseDx":-3,)"
        R"("MouseDy":4,"targetId":"t","targetVisible":true,"TargetOccluded":false,"targetAngularErrorDeg":2.5,)"
        R"("occludedTargetAngularErrorDeg":180,"targetAngularSpeedDegPerSec":12.25,"ShotFired":true,"hit":true,)"
        R"("Headshot":true,"weaponId":"ak","acquisitionMode":"ecran","AcquisitionConfidence":0.5,"x":[]})");
    ASSERT_TRUE(t) << t.error();
    EXPECT_EQ(t->matchId, "m");
    EXPECT_EQ(t->timestampMs, -5);
    EXPECT_EQ(t->yawDeg, 1.0);
    EXPECT_EQ(t->mouseDy, 4);
    EXPECT_EQ(t->targetId, "t");
    EXPECT_TRUE(t->targetVisible && t->shotFired && t->hit && t->headshot);
    EXPECT_EQ(t->occludedTargetAngularErrorDeg, 180.0);
    EXPECT_EQ(t->weaponId, "ak");
    EXPECT_EQ(t->acquisitionMode, "ecran");
    EXPECT_EQ(t->acquisitionConfidence, 0.5);

    auto vide = comportement::trame_depuis_json("{}");
    ASSERT_TRUE(vide);
    EXPECT_EQ(vide->acquisitionConfidence, 1.0);
    EXPECT_FALSE(vide->targetId.has_value());

    auto tableau = comportement::trame_depuis_json(R"(["m","p",7,1.5,null])");
    EXPECT_FALSE(tableau) << "pitchDeg refuses null";
    tableau = comportement::trame_depuis_json(R"(["m","p",7,1.5,2,0,0,null,true])");
    ASSERT_TRUE(tableau);
    EXPECT_EQ(tableau->timestampMs, 7);
    EXPECT_TRUE(tableau->targetVisible);
    EXPECT_EQ(tableau->acquisitionConfidence, 1.0);
}

TEST(TelemetrieLecture, ErreursNommantLeType) {
    EXPECT_TRUE(comportement::trame_depuis_json("[]").has_value());
    EXPECT_TRUE(comportement::trame_depuis_json("true").error().starts_with(
        "invalid type: boolean `true`, expected struct TrameTelemetrie"));
    EXPECT_TRUE(comportement::trame_depuis_json(R"({"mouseDx":1e2})")
                    .error()
                    .starts_with("invalid type: floating point `100.0`, expected i32 at line 1 column "));
    EXPECT_TRUE(comportement::trame_depuis_json(R"({"targetVisible":1})")
                    .error()
                    .starts_with("invalid type: integer `1`, expected a boolean"));
    EXPECT_TRUE(comportement::trame_depuis_json(R"({"AcquisitionMode":"a","acquisitionMode":null})")
                    .error()
                    .starts_with("duplicate field `acquisitionMode`"));
}

TEST(TelemetrieLecture, LignesBlanchesEtNumeros) {
    EXPECT_EQ(lots("\n   \n\r\n\t\u00a0\u3000\n")->size(), 0u);
    EXPECT_TRUE(erreur("{}\n   \n\r\n{\"hit\":1}\n").starts_with("ligne 4 : invalid type: integer `1`"));
    // A line of a lone CR before the LF, and one of CR CR LF, are both blank.
    EXPECT_TRUE(erreur("\r\n\r\r\n{\"yawDeg\":null}").starts_with("ligne 3 : invalid type: null, expected f64"));
    // A zero-width space is not white space: the line is parsed.
    EXPECT_TRUE(erreur("{}\n\u200b\n").starts_with("ligne 2 : expected value"));
    EXPECT_TRUE(erreur("{}\n{\"matchId\":\"a\",\"MatchId\":\"b\"}").starts_with("ligne 2 : duplicate field `matchId`"));
    EXPECT_TRUE(erreur("{}  x").starts_with("ligne 1 : trailing characters"));
    EXPECT_EQ(erreur("{}\r"), "<accepted>");
    // A NUL byte ends nothing: it is a character like any other.
    EXPECT_EQ(erreur(std::string("{}\0x\n", 5)), "ligne 1 : trailing characters at line 1 column 3");
    EXPECT_TRUE(erreur(std::string("{\"weaponId\":\"a\0\"}", 17)).starts_with("ligne 1 : control character"));
    EXPECT_EQ(erreur("\xef\xbb\xbf{}").substr(0, 20), "ligne 1 : expected v");
}

TEST(TelemetrieLecture, Utf8InvalideEstUneErreurDeLecture) {
    EXPECT_EQ(erreur("{}\n{\"weaponId\":\"\xc3\x28\"}\n"), "replay illisible : UTF-8 invalide à la ligne 2");
    // Even in a line that would be blank otherwise.
    EXPECT_EQ(erreur("\n \xa0\n"), "replay illisible : UTF-8 invalide à la ligne 2");
}

TEST(TelemetrieLecture, GroupesOrdonnesOctetParOctetEtTriStable) {
    std::string texte;
    texte += R"({"matchId":"b","playerId":"x","timestampMs":3,"weaponId":"1"})"
             "\n";
    texte += R"({"matchId":"\u00e9","playerId":"x","timestampMs":0})"
             "\n";
    texte += R"({"matchId":"b","playerId":"x","timestampMs":-1,"weaponId":"2"})"
             "\n";
    texte += R"({"matchId":"B","playerId":"y"})"
             "\n";
    texte += R"({"matchId":"b","playerId":"x","timestampMs":3,"weaponId":"3"})"
             "\n";
    texte += R"({"matchId":"b","playerId":"","timestampMs":9})"
             "\r\n";
    texte += R"({"matchId":"b","playerId":"x","timestampMs":-9223372036854775808,"weaponId":"4"})";
    auto r = lots(texte);
    ASSERT_TRUE(r) << r.error();
    ASSERT_EQ(r->size(), 4u);
    EXPECT_EQ((*r)[0].matchId, "B");
    EXPECT_EQ((*r)[1].matchId, "b");
    EXPECT_EQ((*r)[1].playerId, "");
    EXPECT_EQ((*r)[2].playerId, "x");
    EXPECT_EQ((*r)[3].matchId, "\u00e9");  // bytes above 0x7F sort last
    const auto& t = (*r)[2].trames;
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].weaponId, "4");
    EXPECT_EQ(t[1].weaponId, "2");
    EXPECT_EQ(t[2].weaponId, "1");
    EXPECT_EQ(t[3].weaponId, "3");
}

TEST(TelemetrieLecture, GrandLotEtLignesLongues) {
    // Enough frames to fill several chunks, in decreasing time with ties, and
    // a line longer than the read buffer.
    std::string texte;
    for (int i = 0; i < 20000; ++i) {
        texte += R"({"matchId":"m","playerId":"p","timestampMs":)" + std::to_string(10000 - i / 2) + R"(,"mouseDx":)" +
                 std::to_string(i) + "}\n";
    }
    // Two-byte characters straddle the buffer boundaries.
    std::string arme;
    for (int i = 0; i < 10000; ++i) arme += "\u00e9";
    texte += R"({"matchId":"m","playerId":"p","timestampMs":0,"weaponId":")" + arme + "\"}\n";
    auto r = lots(texte);
    ASSERT_TRUE(r) << r.error();
    ASSERT_EQ(r->size(), 1u);
    const auto& t = (*r)[0].trames;
    ASSERT_EQ(t.size(), 20001u);
    EXPECT_EQ(t[0].weaponId, arme);
    for (std::size_t i = 1; i < t.size(); ++i) {
        ASSERT_LE(t[i - 1].timestampMs, t[i].timestampMs);
        if (t[i - 1].timestampMs == t[i].timestampMs) {
            ASSERT_LT(t[i - 1].mouseDx, t[i].mouseDx) << "equal times keep file order";
        }
    }
}

TEST(TelemetrieLecture, FichierAbsent) {
    auto r = comportement::lire_replay("/nonexistent/dir/x.jsonl");
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), "replay illisible : No such file or directory");
}

}  // namespace
