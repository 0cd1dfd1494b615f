// calibrage convertir as a user runs it: summary, output file, and the faults
// that must never lose data (an input that is the output, a full disk).
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "lanceur.hpp"

namespace {

const std::string& usage = essai::usage_calibrage;

const std::string instantane_a =
    R"({"matchId":"m1","localPlayerId":"p","localEntityId":"e0","localTeamId":1,"timestampMs":100,)"
    R"("camera":{"x":0,"y":0,"z":0},"yawDeg":0,"pitchDeg":0,"shotFired":true,"weaponId":"ak",)"
    R"("players":[{"entityId":"e1","teamId":2,"isAlive":true,"isVisibleFromLocalPlayer":true,)"
    R"("aimPoint":{"x":10,"y":0,"z":0}}]})";
const std::string trame_a =
    R"({"matchId":"m1","playerId":"p","timestampMs":100,"yawDeg":0.0,"pitchDeg":0.0,"mouseDx":0,"mouseDy":0,)"
    R"("targetId":"e1","targetVisible":true,"targetOccluded":false,"targetAngularErrorDeg":0.0,)"
    R"("occludedTargetAngularErrorDeg":180.0,"targetAngularSpeedDegPerSec":0.0,"shotFired":true,"hit":false,)"
    R"("headshot":false,"weaponId":"ak","acquisitionMode":null,"acquisitionConfidence":1.0})";

class ConvertirCli : public essai::EssaiCalibrage {};

TEST_F(ConvertirCli, DeuxFichiersUnSeulResume) {
    const std::string a = fichier("a.jsonl", instantane_a + "\n\n" + instantane_a + "\n");
    const std::string b = fichier("b.jsonl", instantane_a + "\r\n");
    const std::string sortie = dossier_ + "/trames.jsonl";
    const auto e = lancer({"convertir", a, "--sortie", sortie, b});
    EXPECT_EQ(e.statut, 0);
    EXPECT_EQ(e.sortie, "");
    // Fresh states per file: the repeat inside a.jsonl is dropped, not b's.
    EXPECT_EQ(e.erreurs, "3 instantané(s) lus, 2 trame(s) écrites : " + sortie + "\n");
    EXPECT_EQ(lire(sortie), trame_a + "\n" + trame_a + "\n");
}

TEST_F(ConvertirCli, SortieObligatoire) {
    const std::string a = fichier("a.jsonl", instantane_a + "\n");
    const auto e = lancer({"convertir", a});
    EXPECT_EQ(e.statut, 1);
    EXPECT_EQ(e.sortie, "");
    EXPECT_EQ(e.erreurs, "--sortie est obligatoire pour convertir\n" + usage + "\n");
}

TEST_F(ConvertirCli, UneEntreeQuiEstLaSortieNEstJamaisDetruite) {
    const std::string contenu = instantane_a + "\n";
    const std::string a = fichier("a.jsonl", contenu);
    const std::string b = fichier("b.jsonl", contenu);
    auto e = lancer({"convertir", "--sortie", a, b, a});
    EXPECT_EQ(e.statut, 1);
    EXPECT_EQ(e.erreurs, a + " : fichier d'entrée identique à la sortie\n");
    EXPECT_EQ(lire(a), contenu);

    // Same file under another name: a hard link, and a path with a detour.
    const std::string lien = dossier_ + "/lien.jsonl";
    std::filesystem::create_hard_link(b, lien);
    e = lancer({"convertir", "--sortie", dossier_ + "/./b.jsonl", lien});
    EXPECT_EQ(e.statut, 1);
    EXPECT_EQ(e.erreurs, lien + " : fichier d'entrée identique à la sortie\n");
    EXPECT_EQ(lire(b), contenu);
}

TEST_F(ConvertirCli, UneSortieQuiNExistaitPasEncoreNEstPasRelueCommeEntree) {
    // More than one write buffer of frames, so that the output really is on disk when it comes up as an
    // input: read back, its frames would be converted a second time into itself.
    std::string instantanes;
    for (int i = 1; i <= 200; ++i) {
        instantanes += R"({"matchId":"m","localPlayerId":"p","timestampMs":)" + std::to_string(i) + "}\n";
    }
    const std::string a = fichier("a.jsonl", instantanes);
    const std::string sortie = dossier_ + "/trames.jsonl";
    const auto e = lancer({"convertir", "--sortie", sortie, a, sortie});
    EXPECT_EQ(e.statut, 1);
    EXPECT_EQ(e.erreurs, sortie + " : fichier d'entrée identique à la sortie\n");
    EXPECT_EQ(lire(sortie), "");
}

TEST_F(ConvertirCli, ErreursDeFichiers) {
    const std::string a = fichier("a.jsonl", instantane_a + "\n{\"yawDeg\":null}\n");
    const std::string sortie = dossier_ + "/trames.jsonl";
    auto e = lancer({"convertir", "--sortie", sortie, a});
    EXPECT_EQ(e.statut, 1);
    EXPECT_TRUE(e.erreurs.starts_with(a + " : ligne 2 : ")) << e.erreurs;
    // What was converted before the bad line is in the file.
    EXPECT_EQ(lire(sortie), trame_a + "\n");

    e = lancer({"convertir", "--sortie", sortie, dossier_ + "/absent.jsonl"});
    EXPECT_EQ(e.statut, 1);
    EXPECT_EQ(e.erreurs, dossier_ + "/absent.jsonl : No such file or directory\n");

    e = lancer({"convertir", "--sortie", dossier_ + "/non/trames.jsonl", a});
    EXPECT_EQ(e.statut, 1);
    EXPECT_EQ(e.erreurs, dossier_ + "/non/trames.jsonl : No such file or directory\n");
}

TEST_F(ConvertirCli, UnDisquePleinEstUneErreur) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
    const std::string a = fichier("a.jsonl", instantane_a + "\n");
    // Everything fits in the buffer: only the last flush can fail.
    const auto e = lancer({"convertir", "--sortie", "/dev/full", a});
    EXPECT_EQ(e.statut, 1);
    EXPECT_EQ(e.erreurs, "/dev/full : No space left on device\n");

    // More than one buffer: the write fails during the conversion, and the
    // message names the output, not the input being read.
    std::string beaucoup;
    for (int i = 0; i < 200; ++i) {
        beaucoup += R"({"matchId":"m","timestampMs":)" + std::to_string(i) + "}\n";
    }
    const std::string b = fichier("b.jsonl", beaucoup);
    const auto f = lancer({"convertir", "--sortie", "/dev/full", b});
    EXPECT_EQ(f.statut, 1);
    EXPECT_EQ(f.erreurs, "/dev/full : No space left on device\n");
}

}  // namespace
