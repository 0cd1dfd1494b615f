// Snapshot conversion: each line stands on its own whatever came before it in
// the stream, and the output is never read back as one of the inputs.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "bin/calibrage/commandes.hpp"
#include "commun/fichier.hpp"
#include "comportement/conversion.hpp"
#include "comportement/lecture_telemetrie.hpp"

namespace comportement {
namespace {

std::expected<std::vector<TrameTelemetrie>, std::string> convertir_puis_relire(const std::string& texte) {
    commun::SourceChaine source(texte);
    commun::SortieChaine puits;
    auto r = convertir_flux(source, puits);
    if (!r) return std::unexpected(r.error());
    commun::SourceChaine relue(puits.texte);
    auto lots = lire_lots(relue);
    if (!lots) return std::unexpected(lots.error());
    std::vector<TrameTelemetrie> trames;
    for (auto& lot : *lots) {
        for (auto& t : lot.trames) trames.push_back(std::move(t));
    }
    return trames;
}

TEST(RevueConversionFlux, UneLigneNHeritePasDesClesDeLaPrecedente) {
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

TEST(RevueConversionFlux, LesJoueursNeSAccumulentPasDUneLigneALAutre) {
    // The same opponent listed on each line: with the lists appended, line 2
    // would see two players where it lists one, and line 3 an opponent it
    // does not list at all.
    const std::string adversaire =
        R"({"entityId":"e","teamId":2,"isAlive":true,"isVisibleFromLocalPlayer":true,"aimPoint":[10,0,0]})";
    std::string texte;
    texte += R"({"matchId":"m","localPlayerId":"p","timestampMs":1,"players":[)" + adversaire + "]}\n";
    texte += R"({"matchId":"m","localPlayerId":"p","timestampMs":2,"players":[)" + adversaire + "]}\n";
    texte += R"({"matchId":"m","localPlayerId":"p","timestampMs":300,"players":[]})" "\n";
    auto trames = convertir_puis_relire(texte);
    ASSERT_TRUE(trames) << trames.error();
    ASSERT_EQ(trames->size(), 3u);
    EXPECT_EQ((*trames)[1].targetId, "e");
    EXPECT_FALSE((*trames)[2].targetId.has_value()) << "an empty players list has no target";
}

class RevueConvertir : public testing::Test {
protected:
    void SetUp() override {
        std::string modele = testing::TempDir() + "revue_convertir_XXXXXX";
        ASSERT_NE(mkdtemp(modele.data()), nullptr);
        dossier_ = modele;
    }
    void TearDown() override { std::filesystem::remove_all(dossier_); }

    static std::string lire(const std::string& chemin) {
        std::ifstream f(chemin, std::ios::binary);
        std::ostringstream o;
        o << f.rdbuf();
        return o.str();
    }

    std::string dossier_;
};

TEST_F(RevueConvertir, UneEntreeQuiNExistaitPasEncoreNEstPasLaSortieRelue) {
    // More than one write buffer of frames, so that the output really is on
    // disk when the second input is opened.
    const std::string a = dossier_ + "/a.jsonl";
    {
        std::ofstream f(a, std::ios::binary);
        for (int i = 1; i <= 200; ++i) {
            f << R"({"matchId":"m","localPlayerId":"p","timestampMs":)" << i << "}\n";
        }
    }
    const std::string sortie = dossier_ + "/trames.jsonl";
    calibrage::Arguments arguments;
    arguments.commande = "convertir";
    arguments.sortie = sortie;
    arguments.fichiers = {a, sortie};
    commun::SortieChaine console_sortie;
    commun::SortieChaine console_erreurs;
    auto r = calibrage::convertir(arguments, calibrage::Console{console_sortie, console_erreurs});
    // Named as an input, the output would be read back as snapshots and its
    // frames converted a second time into itself.
    ASSERT_FALSE(r) << console_erreurs.texte;
    EXPECT_EQ(r.error(), sortie + " : fichier d'entrée identique à la sortie");
    EXPECT_EQ(console_erreurs.texte, "");
    EXPECT_EQ(lire(sortie), "");
}

}  // namespace
}  // namespace comportement
