// The generator's output must be stable, well-formed and show the cheats it claims to simulate.
#include <gtest/gtest.h>

#include <string>

#include "cohorte/alea.hpp"
#include "cohorte/auto_controle.hpp"
#include "cohorte/carte.hpp"
#include "cohorte/json_sortie.hpp"
#include "cohorte/simulation.hpp"

namespace {

using namespace cohorte;

std::string flottant(double v) {
    std::string s;
    ajouter_flottant(s, v);
    return s;
}

TEST(JsonSortie, FlottantsAuPlusCourtAvecPartieDecimaleOuExposant) {
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

TEST(JsonSortie, TextesEchappes) {
    std::string s;
    ajouter_texte(s, std::string("a\"b\\c\n\t\x01") + "é");
    EXPECT_EQ(s, "\"a\\\"b\\\\c\\n\\t\\u0001é\"");
}

TEST(Alea, MemesTiragesPourLaMemeGraineEtFluxIndependants) {
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

TEST(Carte, LaLigneDeVueEstCoupeeParUneBoite) {
    const Carte carte(20.0, 20.0, {{8.0, 8.0, 12.0, 12.0}});
    EXPECT_FALSE(carte.segment_libre({2.0, 10.0}, {18.0, 10.0}));
    EXPECT_TRUE(carte.segment_libre({2.0, 2.0}, {18.0, 2.0}));
    EXPECT_TRUE(carte.segment_libre({2.0, 13.0}, {18.0, 13.0}));
    EXPECT_FALSE(carte.segment_libre({2.0, 13.0}, {18.0, 13.0}, 1.5));  // grown box
    EXPECT_FALSE(carte.segment_libre({10.0, 2.0}, {10.0, 18.0}));       // vertical segment
    EXPECT_TRUE(carte.segment_libre({2.0, 2.0}, {7.0, 7.0}));           // stops short of the box
    EXPECT_FALSE(carte.point_libre({10.0, 10.0}, 0.0));
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

TEST(Simulation, DeterministeEtCadenceeA64Hz) {
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

TEST(Simulation, LesClesDeLInstantaneSontCellesAttenduesDansLOrdre) {
    const std::string a = generer(Profil::humain, 1, 0, 0.05);
    const std::string ligne = a.substr(0, a.find('\n'));
    std::size_t pos = 0;
    for (const char* cle : {"matchId", "localPlayerId", "localEntityId", "localTeamId", "timestampMs", "camera",
                            "yawDeg", "pitchDeg", "mouseDx", "mouseDy", "shotFired", "hit", "headshot", "weaponId",
                            "players", "entityId", "teamId", "isAlive", "isVisibleFromLocalPlayer", "isInFrustum",
                            "worldPosition", "aimPoint", "acquisitionMode", "acquisitionConfidence"}) {
        const std::size_t k = ligne.find("\"" + std::string(cle) + "\":", pos);
        ASSERT_NE(k, std::string::npos) << cle;
        pos = k;
    }
}

// Figures of a few matches of one profile, through the self-check conversion.
Mesures mesurer(Profil profil, int matchs) {
    Mesures m;
    for (int i = 0; i < matchs; ++i) {
        ParametresMatch p;
        p.profil = profil;
        p.graine = 11;
        p.indice = static_cast<std::uint64_t>(i);
        p.dureeS = 60.0;
        p.matchId = "m" + std::to_string(i);
        p.joueurId = "j";
        SimulationMatch simulation(p);
        ConvertisseurLocal convertisseur;
        Instantane s;
        std::vector<Trame> trames;
        while (simulation.suivant(s))
            if (auto t = convertisseur.convertir(s)) trames.push_back(*t);
        m.ajouter(trames);
    }
    return m;
}

TEST(Profils, LesTricheursSeDistinguentDesHumains) {
    const Mesures humain = mesurer(Profil::humain, 3);
    const Mesures snap = mesurer(Profil::snap, 3);
    const Mesures trigger = mesurer(Profil::trigger, 3);
    const Mesures wallhack = mesurer(Profil::wallhack, 3);
    ASSERT_GT(humain.tirs, 0u);
    ASSERT_FALSE(humain.reactions.empty());
    // Humans: reactions around a fifth of a second, a few shots hit, tracking error of degrees.
    EXPECT_GT(percentile(humain.reactions, 0.5), 120.0);
    EXPECT_GT(percentile(humain.erreursSuivi, 0.5), 1.0);
    const double precision = static_cast<double>(humain.touches) / static_cast<double>(humain.tirs);
    EXPECT_GT(precision, 0.1);
    EXPECT_LT(precision, 0.7);
    // Aimbot: flicks ending on a target are far faster.
    EXPECT_GT(percentile(snap.picsVisibles, 0.9), 2.0 * percentile(humain.picsVisibles, 0.9));
    // Triggerbot: much shorter reveal-to-action delays.
    EXPECT_LT(percentile(trigger.reactions, 0.25), percentile(humain.reactions, 0.25));
    // Wallhack: the crosshair sits on occluded opponents far more often.
    const auto part = [](const Mesures& m) {
        return static_cast<double>(m.tramesOcculteProche) / std::max<double>(1.0, static_cast<double>(m.tramesOcculte));
    };
    EXPECT_GT(part(wallhack), 3.0 * part(humain));
}

}  // namespace
