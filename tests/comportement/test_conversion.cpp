// Snapshot conversion: target choice, lock, visibility preference, speeds,
// history, per-player states and the snapshot JSON form.
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "commun/fichier.hpp"
#include "comportement/conversion.hpp"
#include "comportement/ecriture_telemetrie.hpp"
#include "comportement/lecture_telemetrie.hpp"

namespace comportement {
namespace {

constexpr double pi = 3.14159265358979323846;

// A player 10 units away from the origin, `angle` degrees of yaw from +x.
JoueurInstantane adversaire(const std::string& id, double angle, bool visible = true) {
    JoueurInstantane j;
    j.entityId = id;
    j.teamId = 2;
    j.isAlive = true;
    j.isVisibleFromLocalPlayer = visible;
    j.aimPoint = {10.0 * std::cos(angle * pi / 180.0), 10.0 * std::sin(angle * pi / 180.0), 0.0};
    return j;
}

Instantane instantane(std::int64_t t, std::vector<JoueurInstantane> joueurs, double yaw = 0.0) {
    Instantane s;
    s.matchId = "m";
    s.localPlayerId = "moi";
    s.localEntityId = "e-moi";
    s.localTeamId = 1;
    s.timestampMs = t;
    s.yawDeg = yaw;
    s.players = std::move(joueurs);
    return s;
}

void attendre_sans_cible(const TrameTelemetrie& t) {
    EXPECT_FALSE(t.targetId.has_value());
    EXPECT_FALSE(t.targetVisible);
    EXPECT_FALSE(t.targetOccluded);
    EXPECT_EQ(t.targetAngularErrorDeg, 180.0);
    EXPECT_EQ(t.occludedTargetAngularErrorDeg, 180.0);
    EXPECT_EQ(t.targetAngularSpeedDegPerSec, 0.0);
}

TEST(Conversion, AngleDroitDevantEtTourComplet) {
    EtatConversion e;
    auto t = convertir_instantane(instantane(0, {adversaire("a", 0.0)}), e);
    ASSERT_EQ(t.targetId, "a");
    EXPECT_TRUE(t.targetVisible);
    EXPECT_FALSE(t.targetOccluded);
    EXPECT_EQ(t.targetAngularErrorDeg, 0.0);
    EXPECT_EQ(t.occludedTargetAngularErrorDeg, 180.0);

    // View yaw 355, target at 5 degrees: 350 degrees apart counts as 10.
    EtatConversion e2;
    t = convertir_instantane(instantane(0, {adversaire("a", 5.0)}, 355.0), e2);
    ASSERT_EQ(t.targetId, "a");
    EXPECT_NEAR(t.targetAngularErrorDeg, 10.0, 1e-9);
}

TEST(Conversion, JoueursExclusEtListeVide) {
    EtatConversion e;
    attendre_sans_cible(convertir_instantane(instantane(0, {}), e));
    auto mort = adversaire("mort", 0.0);
    mort.isAlive = false;
    auto equipier = adversaire("equipier", 0.0);
    equipier.teamId = 1;
    auto moi = adversaire("e-moi", 0.0);
    attendre_sans_cible(convertir_instantane(instantane(10, {mort, equipier, moi}), e));
}

TEST(Conversion, PreferenceDeVisibilite) {
    {
        EtatConversion e;
        auto t = convertir_instantane(instantane(0, {adversaire("cache", 10.0, false), adversaire("vu", 10.3)}), e);
        EXPECT_EQ(t.targetId, "vu");  // 0.3 apart: not above 0.45
        EXPECT_TRUE(t.targetVisible);
        EXPECT_NEAR(t.targetAngularErrorDeg, 10.3, 1e-9);
    }
    {
        EtatConversion e;
        auto t = convertir_instantane(instantane(0, {adversaire("cache", 10.0, false), adversaire("vu", 10.5)}), e);
        EXPECT_EQ(t.targetId, "cache");
        EXPECT_FALSE(t.targetVisible);
        EXPECT_TRUE(t.targetOccluded);
        EXPECT_EQ(t.targetAngularErrorDeg, 180.0);
        EXPECT_NEAR(t.occludedTargetAngularErrorDeg, 10.0, 1e-9);
    }
}

TEST(Conversion, VerrouDeDeuxCentCinquanteMs) {
    EtatConversion e;
    EXPECT_EQ(convertir_instantane(instantane(0, {adversaire("a", 10.0)}), e).targetId, "a");
    // At 36 degrees "a" could not be chosen fresh, but it is locked; a better
    // candidate does not take over before the lock ends (250 ms included).
    EXPECT_EQ(convertir_instantane(instantane(100, {adversaire("a", 36.0), adversaire("b", 2.0)}), e).targetId, "a");
    EXPECT_EQ(convertir_instantane(instantane(250, {adversaire("a", 36.0), adversaire("b", 2.0)}), e).targetId, "a");
    EXPECT_EQ(convertir_instantane(instantane(251, {adversaire("a", 36.0), adversaire("b", 2.0)}), e).targetId, "b");
    // A candidate-less snapshot clears the lock: "a" at 36 is then nobody's target.
    EXPECT_EQ(convertir_instantane(instantane(300, {adversaire("a", 1.0)}), e).targetId, "a");
    attendre_sans_cible(convertir_instantane(instantane(310, {adversaire("a", 90.0)}), e));
    attendre_sans_cible(convertir_instantane(instantane(320, {adversaire("a", 36.0)}), e));
}

TEST(Conversion, SansChoixFraisLeVerrouResteEnPlace) {
    EtatConversion e;
    EXPECT_EQ(convertir_instantane(instantane(0, {adversaire("a", 10.0)}), e).targetId, "a");
    // Only candidates between 35 and 40 degrees, none locked: no target, lock kept.
    attendre_sans_cible(convertir_instantane(instantane(50, {adversaire("b", 38.0)}), e));
    EXPECT_EQ(convertir_instantane(instantane(100, {adversaire("a", 37.0)}), e).targetId, "a");
}

TEST(Conversion, VitesseAngulaire) {
    EtatConversion e;
    auto t = convertir_instantane(instantane(0, {adversaire("a", 10.0)}), e);
    EXPECT_EQ(t.targetAngularSpeedDegPerSec, 0.0);
    t = convertir_instantane(instantane(100, {adversaire("a", 11.0)}), e);
    EXPECT_NEAR(t.targetAngularSpeedDegPerSec, 10.0, 1e-9);
    // Across the ±180 seam the direction change is the short way round.
    EtatConversion e2;
    convertir_instantane(instantane(0, {adversaire("a", 179.5)}, 179.0), e2);
    t = convertir_instantane(instantane(1000, {adversaire("a", -179.5)}, 179.0), e2);
    EXPECT_NEAR(t.targetAngularSpeedDegPerSec, 1.0, 1e-9);
}

TEST(Conversion, HistoriqueElagueAuxJoueursPresents) {
    EtatConversion e;
    std::vector<JoueurInstantane> foule;
    for (int i = 0; i < 300; ++i) foule.push_back(adversaire("e" + std::to_string(i), 20.0 + i * 0.01));
    convertir_instantane(instantane(0, foule), e);
    EXPECT_EQ(e.historique.size(), 300u);  // everyone is present: nothing pruned
    convertir_instantane(instantane(100, {adversaire("e0", 1.0)}), e);
    ASSERT_EQ(e.historique.size(), 1u);
    // e5 lost its history: its first speed is 0 again.
    auto t = convertir_instantane(instantane(200, {adversaire("e5", 2.0)}), e);
    EXPECT_EQ(t.targetId, "e5");
    EXPECT_EQ(t.targetAngularSpeedDegPerSec, 0.0);
}

TEST(Conversion, ElagageGardeLesPresentsNonEligibles) {
    EtatConversion e;
    std::vector<JoueurInstantane> foule{adversaire("", 25.0)};
    for (int i = 0; i < 300; ++i) foule.push_back(adversaire("e" + std::to_string(i), 20.0 + i * 0.01));
    convertir_instantane(instantane(0, foule), e);
    // Over the bound: only e0 is a candidate, but every player listed keeps
    // its entry (dead, teammate, out of the cone, the local entity itself).
    auto mort = adversaire("", 0.0);
    mort.isAlive = false;
    auto equipier = adversaire("e2", 0.0);
    equipier.teamId = 1;
    auto s = instantane(100, {adversaire("e0", 1.0), mort, equipier, adversaire("e3", 90.0), adversaire("e4", 0.0)});
    s.localEntityId = "e4";
    convertir_instantane(s, e);
    std::vector<std::string> gardes;
    for (const auto& [id, vue] : e.historique) gardes.push_back(id);
    std::ranges::sort(gardes);
    EXPECT_EQ(gardes, (std::vector<std::string>{"", "e0", "e2", "e3", "e4"}));
}

TEST(Conversion, InstantsExtremesSansDebordement) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    EtatConversion e;
    EXPECT_EQ(convertir_instantane(instantane(min + 1, {adversaire("a", 1.0)}), e).targetId, "a");
    auto t = convertir_instantane(instantane(max - 100, {adversaire("a", 36.0), adversaire("b", 1.0)}), e);
    EXPECT_EQ(t.targetId, "b");
    EXPECT_EQ(t.targetAngularSpeedDegPerSec, 0.0);  // b is new
    EXPECT_EQ(convertir_instantane(instantane(max, {adversaire("b", 37.0), adversaire("c", 1.0)}), e).targetId, "b");
}

std::expected<BilanConversion, std::string> convertir_texte(const std::string& texte, std::string& sortie) {
    commun::SourceChaine source(texte);
    commun::SortieChaine puits;
    auto r = convertir_flux(source, puits);
    sortie = puits.texte;
    return r;
}

TEST(ConversionFlux, CompteLesInstantanesEtIgnoreLesInstantsNonCroissants) {
    std::string sortie;
    const std::string a = R"({"matchId":"m","localPlayerId":"p1","timestampMs":10})";
    const std::string b = R"({"matchId":"m","localPlayerId":"p2","timestampMs":5})";
    const std::string a2 = R"({"matchId":"m","localPlayerId":"p1","timestampMs":10,"yawDeg":3})";
    auto r = convertir_texte(a + "\n \t\n" + b + "\r\n" + a2 + "\n" + b + "\n", sortie);
    ASSERT_TRUE(r) << r.error();
    EXPECT_EQ(r->instantanes, 4u);
    EXPECT_EQ(r->trames, 2u);  // p1 at 10 and p2 at 5; each player's repeat is dropped
    EXPECT_EQ(
        sortie,
        R"({"matchId":"m","playerId":"p1","timestampMs":10,"yawDeg":0.0,"pitchDeg":0.0,"mouseDx":0,"mouseDy":0,)"
        R"("targetId":null,"targetVisible":false,"targetOccluded":false,"targetAngularErrorDeg":180.0,)"
        R"("occludedTargetAngularErrorDeg":180.0,"targetAngularSpeedDegPerSec":0.0,"shotFired":false,"hit":false,)"
        R"("headshot":false,"weaponId":"","acquisitionMode":null,"acquisitionConfidence":1.0})"
        "\n"
        R"({"matchId":"m","playerId":"p2","timestampMs":5,"yawDeg":0.0,"pitchDeg":0.0,"mouseDx":0,"mouseDy":0,)"
        R"("targetId":null,"targetVisible":false,"targetOccluded":false,"targetAngularErrorDeg":180.0,)"
        R"("occludedTargetAngularErrorDeg":180.0,"targetAngularSpeedDegPerSec":0.0,"shotFired":false,"hit":false,)"
        R"("headshot":false,"weaponId":"","acquisitionMode":null,"acquisitionConfidence":1.0})"
        "\n");
    r = convertir_texte("\n  \n", sortie);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->instantanes, 0u);
    EXPECT_EQ(r->trames, 0u);
}

TEST(ConversionFlux, ErreursDeLecture) {
    std::string sortie;
    const std::string bon = R"({"matchId":"m","timestampMs":1})";
    auto r = convertir_texte(bon + "\n\n" + R"({"camera":{"x":1,"y":2}})", sortie);
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().starts_with("ligne 3 : missing field `z`")) << r.error();
    EXPECT_FALSE(sortie.empty());  // the frame of line 1 was already handed over

    r = convertir_texte(R"({"players":[{"aimPoint":[1,2]}]})", sortie);
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().starts_with("ligne 1 : ")) << r.error();
    r = convertir_texte(R"({"matchId":"m","matchId":"n"})", sortie);
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().starts_with("ligne 1 : duplicate field `matchId`")) << r.error();
    r = convertir_texte(R"({"matchId":null})", sortie);
    ASSERT_FALSE(r);
    r = convertir_texte("{\"weaponId\":\"\xff\"}", sortie);
    ASSERT_FALSE(r);
    // Upper-case forms are unknown keys here, and null is fine for the mode.
    r = convertir_texte(R"({"MatchId":"x","MatchId":"y","acquisitionMode":null,"players":[[ "e", 2, true ]]})", sortie);
    ASSERT_TRUE(r) << r.error();
}

TEST(ConversionFlux, LesTramesEcritesSeRelisentALIdentique) {
    std::string entree;
    for (int i = 0; i < 20; ++i) {
        entree += R"({"matchId":"m","localPlayerId":"p","localTeamId":1,"timestampMs":)" + std::to_string(i * 16) +
                  R"(,"yawDeg":)" + std::to_string(0.37 * i) + R"(,"pitchDeg":-1.25,"mouseDx":-3,"shotFired":)" +
                  (i % 5 == 0 ? "true" : "false") +
                  R"(,"weaponId":"ak","acquisitionMode":"esp","acquisitionConfidence":0.8,)"
                  R"("players":[{"entityId":"x","teamId":2,"isAlive":true,"isVisibleFromLocalPlayer":)" +
                  (i % 3 == 0 ? "false" : "true") + R"(,"aimPoint":{"x":10,"y":)" + std::to_string(0.1 * i) +
                  R"(,"z":1.5}}]})" + "\n";
    }
    std::string sortie;
    auto r = convertir_texte(entree, sortie);
    ASSERT_TRUE(r) << r.error();
    ASSERT_EQ(r->trames, 20u);
    commun::SourceChaine relue(sortie);
    auto lots = lire_lots(relue);
    ASSERT_TRUE(lots) << lots.error();
    ASSERT_EQ(lots->size(), 1u);
    ASSERT_EQ((*lots)[0].trames.size(), 20u);
    commun::SortieChaine reecrite;
    for (const auto& t : (*lots)[0].trames) ASSERT_TRUE(ecrire_trame(reecrite, t));
    EXPECT_EQ(reecrite.texte, sortie);
}

// Each line stands on its own whatever came before it in the stream.
std::expected<std::vector<TrameTelemetrie>, std::string> convertir_puis_relire(const std::string& texte) {
    std::string sortie;
    auto r = convertir_texte(texte, sortie);
    if (!r) return std::unexpected(r.error());
    commun::SourceChaine relue(sortie);
    auto lots = lire_lots(relue);
    if (!lots) return std::unexpected(lots.error());
    std::vector<TrameTelemetrie> trames;
    for (auto& lot : *lots) {
        for (auto& t : lot.trames) trames.push_back(std::move(t));
    }
    return trames;
}

TEST(ConversionFlux, UneLigneNHeritePasDesClesDeLaPrecedente) {
    // Line 1 gives every key; line 2 gives only the grouping key and a later
    // time, so everything else takes its default, players included.
    const std::string complet =
        R"({"matchId":"m","localPlayerId":"p","localEntityId":"moi","localTeamId":1,"timestampMs":10,)"
        R"("camera":{"x":0,"y":0,"z":0},"yawDeg":3,"pitchDeg":-2,"mouseDx":5,"mouseDy":-6,"shotFired":true,)"
        R"("hit":true,"headshot":true,"weaponId":"ak","acquisitionMode":"esp","acquisitionConfidence":0.5,)"
        R"("players":[{"entityId":"e","teamId":2,"isAlive":true,"isVisibleFromLocalPlayer":true,)"
        R"("aimPoint":{"x":10,"y":0.5,"z":-0.3}}]})";
    const std::string minimal = R"({"matchId":"m","localPlayerId":"p","timestampMs":20})";
    auto trames = convertir_puis_relire(complet + "\n" + minimal + "\n");
    ASSERT_TRUE(trames) << trames.error();
    ASSERT_EQ(trames->size(), 2u);
    EXPECT_EQ((*trames)[0].targetId, "e");
    const TrameTelemetrie& t = (*trames)[1];
    EXPECT_EQ(t.timestampMs, 20);
    EXPECT_EQ(t.yawDeg, 0.0);
    EXPECT_EQ(t.pitchDeg, 0.0);
    EXPECT_EQ(t.mouseDx, 0);
    EXPECT_EQ(t.mouseDy, 0);
    EXPECT_FALSE(t.shotFired || t.hit || t.headshot);
    EXPECT_EQ(t.weaponId, "");
    EXPECT_FALSE(t.acquisitionMode.has_value());
    EXPECT_EQ(t.acquisitionConfidence, 1.0);
    EXPECT_FALSE(t.targetId.has_value()) << "players of line 1 leaked into line 2";
    EXPECT_EQ(t.targetAngularErrorDeg, 180.0);
}

TEST(ConversionFlux, LesJoueursNeSAccumulentPasDUneLigneALAutre) {
    // The same opponent listed on each line: with the lists appended, line 2
    // would see two players where it lists one, and line 3 an opponent it
    // does not list at all.
    const std::string adversaire =
        R"({"entityId":"e","teamId":2,"isAlive":true,"isVisibleFromLocalPlayer":true,"aimPoint":[10,0,0]})";
    std::string texte;
    texte += R"({"matchId":"m","localPlayerId":"p","timestampMs":1,"players":[)" + adversaire + "]}\n";
    texte += R"({"matchId":"m","localPlayerId":"p","timestampMs":2,"players":[)" + adversaire + "]}\n";
    texte += R"({"matchId":"m","localPlayerId":"p","timestampMs":300,"players":[]})"
             "\n";
    auto trames = convertir_puis_relire(texte);
    ASSERT_TRUE(trames) << trames.error();
    ASSERT_EQ(trames->size(), 3u);
    EXPECT_EQ((*trames)[1].targetId, "e");
    EXPECT_FALSE((*trames)[2].targetId.has_value()) << "an empty players list has no target";
}

}  // namespace
}  // namespace comportement
