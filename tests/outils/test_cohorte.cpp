// The generator's output must be stable, well-formed and show the cheats it claims to simulate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "cohorte/alea.hpp"
#include "cohorte/carte.hpp"
#include "cohorte/instantane.hpp"
#include "cohorte/mesures.hpp"
#include "cohorte/simulation.hpp"
#include "commun/json_ecriture.hpp"
#include "comportement/calibration.hpp"
#include "comportement/mod.hpp"

namespace {

using namespace cohorte;
using comportement::percentile;

std::string flottant(double v) {
    std::string s;
    commun::json::ajouter_flottant(s, v);
    return s;
}

TEST(CohorteJson, FlottantsAuPlusCourtAvecPartieDecimaleOuExposant) {
    EXPECT_EQ(flottant(0.0), "0.0");
    EXPECT_EQ(flottant(-0.0), "-0.0");
    EXPECT_EQ(flottant(1.0), "1.0");
    EXPECT_EQ(flottant(1.5), "1.5");
    EXPECT_EQ(flottant(0.001), "0.001");
    EXPECT_EQ(flottant(0.0001), "0.0001");
    EXPECT_EQ(flottant(1e-5), "0.00001");
    EXPECT_EQ(flottant(1e-6), "1e-6");
    EXPECT_EQ(flottant(1e-7), "1e-7");
    EXPECT_EQ(flottant(1234567.0), "1234567.0");
    EXPECT_EQ(flottant(1e15), "1000000000000000.0");
    EXPECT_EQ(flottant(1e16), "1e16");
    EXPECT_EQ(flottant(1.5e300), "1.5e300");
    EXPECT_EQ(flottant(-123.456), "-123.456");
    EXPECT_EQ(flottant(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(flottant(1.0 / 0.0), "null");
}

TEST(CohorteJson, TextesEchappes) {
    std::string s;
    commun::json::ajouter_chaine(s, std::string("a\"b\\c\n\t\x01") + "é");
    EXPECT_EQ(s, "\"a\\\"b\\\\c\\n\\t\\u0001é\"");
}

TEST(CohorteAlea, MemesTiragesPourLaMemeGraineEtFluxIndependants) {
    Alea a = Alea::flux(42, 3);
    Alea b = Alea::flux(42, 3);
    Alea c = Alea::flux(42, 4);
    int differents = 0;
    for (int i = 0; i < 100; ++i) {
        const double x = a.normale();
        EXPECT_EQ(x, b.normale());
        differents += x != c.normale();
    }
    EXPECT_GT(differents, 90);
    // Box-Muller: mean near 0 and variance near 1 over many draws.
    Alea d(7);
    double somme = 0.0, carres = 0.0;
    constexpr int n = 200000;
    for (int i = 0; i < n; ++i) {
        const double x = d.normale();
        somme += x;
        carres += x * x;
    }
    EXPECT_NEAR(somme / n, 0.0, 0.01);
    EXPECT_NEAR(carres / n, 1.0, 0.01);
    for (int i = 0; i < 1000; ++i) {
        const auto k = d.entier(-2, 2);
        EXPECT_GE(k, -2);
        EXPECT_LE(k, 2);
    }
}

TEST(CohorteCarte, LaLigneDeVueEstCoupeeParUneBoite) {
    const Carte carte(20.0, 20.0, {{8.0, 8.0, 12.0, 12.0}});
    EXPECT_FALSE(carte.segment_libre({2.0, 10.0}, {18.0, 10.0}));
    EXPECT_TRUE(carte.segment_libre({2.0, 2.0}, {18.0, 2.0}));
    EXPECT_TRUE(carte.segment_libre({2.0, 13.0}, {18.0, 13.0}));
    EXPECT_FALSE(carte.segment_libre({2.0, 13.0}, {18.0, 13.0}, 1.5));  // grown box
    EXPECT_FALSE(carte.segment_libre({10.0, 2.0}, {10.0, 18.0}));       // vertical segment
    EXPECT_TRUE(carte.segment_libre({2.0, 2.0}, {7.0, 7.0}));           // stops short of the box
    EXPECT_FALSE(carte.point_libre({10.0, 10.0}, 0.0));
}

// The frames the simulation and the self-check take from the converter: its target choice, and
// a snapshot that does not move time forward dropped as `calibrage convertir` drops it.
JoueurInstantane adversaire(const std::string& id, double angleDeg, bool visible) {
    JoueurInstantane j;
    j.entityId = id;
    j.teamId = 2;
    j.isAlive = true;
    j.isVisibleFromLocalPlayer = visible;
    const double r = angleDeg / 57.29577951308232;
    j.aimPoint = {10.0 * std::cos(r), 10.0 * std::sin(r), 0.0};
    return j;
}

Instantane instantane(std::int64_t ts, std::vector<JoueurInstantane> joueurs) {
    Instantane s;
    s.matchId = "m";
    s.localPlayerId = "p";
    s.localEntityId = "moi";
    s.localTeamId = 1;
    s.timestampMs = ts;
    s.players = std::move(joueurs);
    return s;
}

TEST(CohorteConversion, PreferenceVisibleVerrouEtVitesse) {
    {
        comportement::EtatConversion e;
        const auto t =
            trame_suivante(instantane(1, {adversaire("occ", 10.0, false), adversaire("vis", 10.3, true)}), e);
        ASSERT_TRUE(t && t->targetId);
        EXPECT_EQ(*t->targetId, "vis");
        EXPECT_TRUE(t->targetVisible);
        EXPECT_NEAR(t->targetAngularErrorDeg, 10.3, 1e-9);
    }
    {
        comportement::EtatConversion e;
        const auto t =
            trame_suivante(instantane(1, {adversaire("occ", 10.0, false), adversaire("vis", 10.5, true)}), e);
        ASSERT_TRUE(t && t->targetId);
        EXPECT_TRUE(t->targetOccluded);
        EXPECT_NEAR(t->occludedTargetAngularErrorDeg, 10.0, 1e-9);
        EXPECT_EQ(t->targetAngularErrorDeg, 180.0);
    }
    comportement::EtatConversion e;
    // 350 degrees of yaw difference is 10 degrees off; first sighting has no speed.
    auto t = trame_suivante(instantane(1000, {adversaire("a", 350.0, true)}), e);
    ASSERT_TRUE(t && t->targetId);
    EXPECT_NEAR(t->targetAngularErrorDeg, 10.0, 1e-9);
    EXPECT_EQ(t->targetAngularSpeedDegPerSec, 0.0);
    // One degree in 100 ms: 10 degrees per second.
    t = trame_suivante(instantane(1100, {adversaire("a", 351.0, true)}), e);
    ASSERT_TRUE(t);
    EXPECT_NEAR(t->targetAngularSpeedDegPerSec, 10.0, 1e-6);
    // Locked less than 250 ms ago, a target at 36 degrees stays the target; later it cannot be chosen.
    t = trame_suivante(instantane(1200, {adversaire("a", 36.0, true)}), e);
    ASSERT_TRUE(t && t->targetId);
    t = trame_suivante(instantane(1400, {adversaire("a", 36.0, true)}), e);
    ASSERT_TRUE(t);
    EXPECT_FALSE(t->targetId);
    // Same timestamp again, or an earlier one: dropped. Only the local player and teammates: no target.
    EXPECT_FALSE(trame_suivante(instantane(1400, {adversaire("a", 0.0, true)}), e));
    EXPECT_FALSE(trame_suivante(instantane(1300, {adversaire("a", 0.0, true)}), e));
    JoueurInstantane equipier = adversaire("e", 0.0, true);
    equipier.teamId = 1;
    t = trame_suivante(instantane(1500, {equipier}), e);
    ASSERT_TRUE(t);
    EXPECT_FALSE(t->targetId);
    EXPECT_EQ(t->targetAngularErrorDeg, 180.0);
    EXPECT_EQ(t->occludedTargetAngularErrorDeg, 180.0);
}

std::string generer(Profil profil, std::uint64_t graine, std::uint64_t indice, double duree) {
    ParametresMatch p;
    p.profil = profil;
    p.graine = graine;
    p.indice = indice;
    p.dureeS = duree;
    p.matchId = "m";
    p.joueurId = "j";
    SimulationMatch simulation(p);
    Instantane s;
    std::string sortie;
    while (simulation.suivant(s)) ajouter_instantane(sortie, s);
    return sortie;
}

TEST(CohorteSimulation, DeterministeEtCadenceeA64Hz) {
    const std::string a = generer(Profil::humain, 5, 0, 3.0);
    EXPECT_EQ(a, generer(Profil::humain, 5, 0, 3.0));
    EXPECT_NE(a, generer(Profil::humain, 6, 0, 3.0));
    EXPECT_NE(a, generer(Profil::humain, 5, 1, 3.0));
    // 3 s at 64 Hz, one line each, timestamps 15 or 16 ms apart.
    std::size_t lignes = 0;
    long long precedent = -1;
    for (std::size_t pos = 0; pos < a.size();) {
        const std::size_t fin = a.find('\n', pos);
        ASSERT_NE(fin, std::string::npos);
        const std::string ligne = a.substr(pos, fin - pos);
        const std::size_t k = ligne.find("\"timestampMs\":");
        ASSERT_NE(k, std::string::npos);
        const long long ts = std::stoll(ligne.substr(k + 14));
        if (precedent >= 0) {
            EXPECT_GE(ts - precedent, 15);
            EXPECT_LE(ts - precedent, 16);
        }
        precedent = ts;
        ++lignes;
        pos = fin + 1;
    }
    EXPECT_EQ(lignes, 192u);
}

TEST(CohorteSimulation, LesClesDeLInstantaneSontCellesAttenduesDansLOrdre) {
    const std::string a = generer(Profil::humain, 1, 0, 0.05);
    const std::string ligne = a.substr(0, a.find('\n'));
    std::size_t pos = 0;
    for (const char* cle : {"matchId",
                            "localPlayerId",
                            "localEntityId",
                            "localTeamId",
                            "timestampMs",
                            "camera",
                            "yawDeg",
                            "pitchDeg",
                            "mouseDx",
                            "mouseDy",
                            "shotFired",
                            "hit",
                            "headshot",
                            "weaponId",
                            "players",
                            "entityId",
                            "teamId",
                            "isAlive",
                            "isVisibleFromLocalPlayer",
                            "isInFrustum",
                            "worldPosition",
                            "aimPoint",
                            "acquisitionMode",
                            "acquisitionConfidence"}) {
        const std::size_t k = ligne.find("\"" + std::string(cle) + "\":", pos);
        ASSERT_NE(k, std::string::npos) << cle;
        pos = k;
    }
}

// Every line the generator writes reads back through the converter's own reader to the same record.
TEST(CohorteSimulation, LesInstantanesEcritsSeRelisentALIdentique) {
    ParametresMatch p;
    p.profil = Profil::snap;
    p.graine = 9;
    p.dureeS = 2.0;
    p.matchId = "m\"1";
    p.joueurId = "j";
    SimulationMatch simulation(p);
    Instantane s;
    int lignes = 0;
    while (simulation.suivant(s)) {
        std::string ligne;
        ajouter_instantane(ligne, s);
        ASSERT_EQ(ligne.back(), '\n');
        const auto relu = comportement::instantane_depuis_json(std::string_view(ligne).substr(0, ligne.size() - 1));
        ASSERT_TRUE(relu) << relu.error();
        EXPECT_EQ(relu->matchId, "m\"1");
        EXPECT_EQ(relu->timestampMs, s.timestampMs);
        EXPECT_EQ(relu->yawDeg, s.yawDeg);
        EXPECT_EQ(relu->camera.x, s.camera.x);
        ASSERT_EQ(relu->players.size(), s.players.size());
        EXPECT_EQ(relu->players.back().aimPoint.z, s.players.back().aimPoint.z);
        EXPECT_EQ(relu->acquisitionMode, s.acquisitionMode);
        // Written again from what was read: nothing was lost on the way.
        std::string encore;
        ajouter_instantane(encore, *relu);
        EXPECT_EQ(encore, ligne);
        ++lignes;
    }
    EXPECT_EQ(lignes, 128);
}

// Figures of a few matches of one profile, in the frames the real conversion makes of them.
Mesures mesurer(Profil profil) {
    Mesures m;
    for (std::uint64_t i = 0; i < 8; ++i) {
        ParametresMatch p;
        p.profil = profil;
        p.graine = 11;
        p.indice = i;
        p.dureeS = 120.0;
        p.matchId = "m" + std::to_string(i);
        p.joueurId = "j";
        const comportement::LotTrames lot = lot_du_match(p);
        EXPECT_EQ(lot.trames.size(), 120u * kTicksParSeconde);
        m.ajouter(lot.trames);
    }
    return m;
}

double part(const std::vector<double>& v, double borne) {
    const auto n = std::count_if(v.begin(), v.end(), [&](double x) { return x < borne; });
    return static_cast<double>(n) / std::max<double>(1.0, static_cast<double>(v.size()));
}

TEST(CohorteProfils, LesTricheursSeDistinguentDesHumains) {
    const Mesures humain = mesurer(Profil::humain);
    const Mesures snap = mesurer(Profil::snap);
    const Mesures trigger = mesurer(Profil::trigger);
    const Mesures wallhack = mesurer(Profil::wallhack);
    ASSERT_GT(humain.tirs, 20u);
    ASSERT_GT(humain.reactions.size(), 25u);
    // Humans: reactions around a quarter to a third of a second, hardly ever under 100 ms,
    // some shots miss, tracking errors of degrees.
    EXPECT_GT(percentile(humain.reactions, 0.5), 200.0);
    EXPECT_LT(percentile(humain.reactions, 0.5), 450.0);
    EXPECT_LT(part(humain.reactions, 100.0), 0.03);
    EXPECT_GT(percentile(humain.erreursSuivi, 0.5), 1.0);
    const double precision = static_cast<double>(humain.touches) / static_cast<double>(humain.tirs);
    EXPECT_GT(precision, 0.2);
    EXPECT_LT(precision, 0.7);
    // Aimbot: flicks ending on a target several times faster, and hardly a miss.
    EXPECT_GT(percentile(snap.picsVisibles, 0.5), 4.0 * percentile(humain.picsVisibles, 0.5));
    EXPECT_GT(static_cast<double>(snap.touches) / static_cast<double>(snap.tirs), precision + 0.15);
    // Triggerbot: many reveals answered within 100 ms.
    EXPECT_GT(part(trigger.reactions, 100.0), 0.15);
    // Wallhack: the crosshair sits on occluded opponents far more often.
    const auto pres = [](const Mesures& m) {
        return static_cast<double>(m.tramesOcculteProche) / std::max<double>(1.0, static_cast<double>(m.tramesOcculte));
    };
    EXPECT_GT(pres(wallhack), 4.0 * pres(humain));
}

// The library's calibration of clean generated matches keeps clean players low in the engine and
// flags the cheats.
TEST(CohorteProfils, LaCalibrationSepareLesProfils) {
    const auto lot = [](Profil profil, std::uint64_t graine, std::uint64_t i) {
        ParametresMatch p;
        p.profil = profil;
        p.graine = graine;
        p.indice = i;
        p.dureeS = 180.0;
        p.matchId = "m" + std::to_string(i);
        p.joueurId = "j";
        return lot_du_match(p);
    };
    std::vector<comportement::LotTrames> propres;
    for (std::uint64_t i = 0; i < 12; ++i) propres.push_back(lot(Profil::humain, 3, i));
    const auto rapport = comportement::calibrer_lots(propres, "test");
    ASSERT_TRUE(rapport) << rapport.error();
    const comportement::EngineThresholds seuils = comportement::seuils_depuis_rapport(*rapport);
    EXPECT_GT(seuils.aimSnapMinVelocityDegPerSec, 150.0);
    EXPECT_LT(seuils.aimSnapMinVelocityDegPerSec, 700.0);
    const auto review = [&](Profil profil, std::uint64_t i) {
        const auto analyse = comportement::analyse_match(seuils, lot(profil, 4, i));
        EXPECT_TRUE(analyse) << (analyse ? "" : analyse.error());
        return analyse && analyse->score >= 50.0;
    };
    int humains = 0, snaps = 0, wallhacks = 0;
    for (std::uint64_t i = 0; i < 6; ++i) {
        humains += review(Profil::humain, i);
        snaps += review(Profil::snap, i);
        wallhacks += review(Profil::wallhack, i);
    }
    EXPECT_LE(humains, 1);
    EXPECT_GE(snaps, 5);
    EXPECT_GE(wallhacks, 4);
}

}  // namespace
