// generer_cohorte as a program: the committed samples come back byte for byte from the
// commands their README gives, and bad arguments end with status 1.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/dossier_temp.hpp"

namespace {

namespace fs = std::filesystem;

using essai::lire_fichier;

int lancer(const std::string& arguments) {
    const std::string commande = std::string(GENERER_COHORTE) + " " + arguments + " 2>/dev/null";
    const int statut = std::system(commande.c_str());
    return WIFEXITED(statut) ? WEXITSTATUS(statut) : -1;
}

class GenererCli : public ::testing::Test {
protected:
    essai::DossierTemp dossier_;
};

TEST_F(GenererCli, LesExemplesSeRegenerentALOctetPres) {
    const fs::path exemples = fs::path(SOURCES) / "exemples";
    const fs::path propres = dossier_ / "propres.jsonl";
    const fs::path snap = dossier_ / "snap.jsonl";
    ASSERT_EQ(
        lancer("--profil humain --matchs 2 --graine 42 --duree-s 1 --prefixe propre --sortie " + propres.string()), 0);
    ASSERT_EQ(lancer("--profil snap --matchs 1 --graine 7 --duree-s 3.5 --debut-s 1.5 --prefixe snap --sortie " +
                     snap.string()),
              0);
    const std::string attendu = lire_fichier(exemples / "instantanes-propres.jsonl");
    ASSERT_FALSE(attendu.empty());
    EXPECT_EQ(lire_fichier(propres), attendu);
    EXPECT_EQ(lire_fichier(snap), lire_fichier(exemples / "instantanes-snap.jsonl"));
}

TEST_F(GenererCli, LaSortieStandardEgaleLeFichier) {
    const fs::path fichier = dossier_ / "f.jsonl";
    const fs::path redirige = dossier_ / "r.jsonl";
    ASSERT_EQ(lancer("--profil wallhack --matchs 2 --duree-s 2 --sortie " + fichier.string()), 0);
    ASSERT_EQ(lancer("--profil wallhack --matchs 2 --duree-s 2 > " + redirige.string()), 0);
    const std::string contenu = lire_fichier(fichier);
    EXPECT_EQ(contenu, lire_fichier(redirige));
    EXPECT_EQ(std::count(contenu.begin(), contenu.end(), '\n'), 2 * 128);
}

TEST_F(GenererCli, LesArgumentsInvalidesSontRefuses) {
    EXPECT_EQ(lancer("--profil tricheur"), 1);
    EXPECT_EQ(lancer("--matchs douze"), 1);
    EXPECT_EQ(lancer("--matchs 0"), 1);
    EXPECT_EQ(lancer("--duree-s -3"), 1);
    EXPECT_EQ(lancer("--graine"), 1);
    EXPECT_EQ(lancer("inconnu"), 1);
    EXPECT_EQ(lancer("--matchs 1 --duree-s 1 --sortie " + (dossier_ / "absent" / "x.jsonl").string()), 1);
    EXPECT_EQ(lancer("--matchs 1 --duree-s 1 --sortie /dev/full"), 1);
}

}  // namespace
