// calibrage on compressed files as a user runs it: the same output as on the
// text, and a damaged file named with the reader's usual prefix. The Windows
// build reads gzip but has no zstd library: it refuses such a file, by name.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../commun/compresser.hpp"
#include "lanceur.hpp"
#include "support/trames.hpp"

namespace {

class EntreesCompresseesCli : public essai::EssaiCalibrage {};

std::string telemetrie() {
    std::vector<comportement::TrameTelemetrie> trames;
    for (const char* joueur : {"p1", "p2"}) {
        for (int i = 0; i < 40; ++i) {
            essai::T t(1000 + 16 * i);
            t.joueur(joueur).yaw((i * 7) % 50 + 0.5).cible("e1").tir(i % 5 == 0);
            if (i % 3 == 0) t.visible(i % 9);
            trames.push_back(t);
        }
    }
    return essai::jsonl(trames);
}

TEST_F(EntreesCompresseesCli, ControlerDonneLaMemeSortieQueSurLeTexte) {
    const std::string texte = telemetrie();
    const auto attendu = lancer({"controler", fichier("r.jsonl", texte)});
    ASSERT_EQ(attendu.statut, 0) << attendu.erreurs;
    ASSERT_NE(attendu.sortie.find("\"matchs\": 2"), std::string::npos);
    const std::string a = texte.substr(0, texte.size() / 3), b = texte.substr(texte.size() / 3);

    for (const std::string& gz : {fichier("r.jsonl.gz", essai::gzip(texte, "r.jsonl")),
                                  fichier("r2.jsonl.gz", essai::gzip(a) + essai::gzip(b))}) {
        const auto e = lancer({"controler", gz});
        EXPECT_EQ(e.sortie, attendu.sortie) << gz;
        EXPECT_EQ(e.erreurs, attendu.erreurs) << gz;
        EXPECT_EQ(e.statut, 0) << gz;
    }

    const std::string zst = fichier("r.jsonl.zst", essai::zstd(a) + essai::zstd(b));
    const auto e = lancer({"controler", zst});
    if (windows()) {
        EXPECT_EQ(e.sortie, "");
        EXPECT_EQ(e.erreurs,
                  zst + " : replay illisible : zstd : format non pris en charge par cette version Windows\n");
        EXPECT_EQ(e.statut, 1);
    } else {
        EXPECT_EQ(e.sortie, attendu.sortie);
        EXPECT_EQ(e.erreurs, attendu.erreurs);
        EXPECT_EQ(e.statut, 0);
    }
}

TEST_F(EntreesCompresseesCli, UnFichierCoupeEstUneErreur) {
    const std::string gz = essai::gzip(telemetrie());
    const std::string coupe = fichier("coupe.jsonl.gz", gz.substr(0, gz.size() - 5));
    const auto e = lancer({"calibrer", "--cohorte", "c", coupe});
    EXPECT_EQ(e.sortie, "");
    EXPECT_EQ(e.erreurs, coupe + " : replay illisible : gzip : flux tronqué\n");
    EXPECT_EQ(e.statut, 1);
}

TEST_F(EntreesCompresseesCli, ConvertirLitDesInstantanesCompresses) {
    std::string instantanes;
    for (int i = 0; i < 3; ++i) {
        instantanes += R"({"matchId":"m1","localPlayerId":"p","localEntityId":"e0","localTeamId":1,"timestampMs":)" +
                       std::to_string(100 + 16 * i) +
                       R"(,"camera":{"x":0,"y":0,"z":0},"yawDeg":0,"pitchDeg":0,"shotFired":true,"weaponId":"ak",)"
                       R"("players":[{"entityId":"e1","teamId":2,"isAlive":true,"isVisibleFromLocalPlayer":true,)"
                       R"("aimPoint":{"x":10,"y":)" +
                       std::to_string(i) + R"(,"z":0}}]})" + "\n";
    }
    const std::string sortie_texte = dossier_ + "/texte.jsonl";
    const auto attendu = lancer({"convertir", "--sortie", sortie_texte, fichier("i.jsonl", instantanes)});
    ASSERT_EQ(attendu.statut, 0) << attendu.erreurs;

    const std::string sortie = dossier_ + "/trames.jsonl";
    const std::string gz = fichier("i.jsonl.gz", essai::gzip(instantanes));
    const auto e = lancer({"convertir", "--sortie", sortie, gz, gz});
    EXPECT_EQ(e.statut, 0);
    EXPECT_EQ(e.sortie, "");
    EXPECT_EQ(e.erreurs, "6 instantané(s) lus, 6 trame(s) écrites : " + sortie + "\n");
    EXPECT_EQ(lire(sortie), lire(sortie_texte) + lire(sortie_texte));

    // A damaged snapshot file is named like any unreadable one.
    const std::string coupe = fichier("coupe.jsonl.gz", essai::gzip(instantanes).substr(0, 30));
    const auto c = lancer({"convertir", "--sortie", sortie, coupe});
    EXPECT_EQ(c.erreurs, coupe + " : gzip : flux tronqué\n");
    EXPECT_EQ(c.statut, 1);
}

}  // namespace
