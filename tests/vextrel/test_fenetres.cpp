#include "bin/vextrel/fenetres.hpp"

#include <gtest/gtest.h>

#include "faux_fenetres.hpp"

namespace {

using namespace vextrel;
using faux::FenetreDecrite;

TEST(Fenetres, FiltersSkipHiddenOwnedToolCloakedAndUntitledWindows) {
    faux::FaussesFenetres f;
    FenetreDecrite cachee{1, "jeu.exe"};
    cachee.visible = false;
    FenetreDecrite possedee{2, "jeu.exe"};
    possedee.possedee = true;
    FenetreDecrite outil{3, "jeu.exe"};
    outil.outil = true;
    FenetreDecrite masquee{4, "jeu.exe"};
    masquee.masquee = true;
    FenetreDecrite sans_titre{5, "jeu.exe"};
    sans_titre.titre = 0;
    f.liste = {cachee, possedee, outil, masquee, sans_titre};
    EXPECT_EQ(chercher_fenetre(f, "jeu.exe"), std::nullopt);
    EXPECT_EQ(f.recherches_processus, 0);  // the process is looked up only for windows that pass

    // A failed cloaking question does not skip the window.
    FenetreDecrite inconnue{6, "jeu.exe"};
    inconnue.masquee = std::nullopt;
    f.liste.push_back(inconnue);
    EXPECT_EQ(chercher_fenetre(f, "jeu.exe"), 6);
}

TEST(Fenetres, FirstMatchInZOrderWinsWithAsciiOnlyCaseFolding) {
    faux::FaussesFenetres f;
    f.liste = {{10, ""}, {11, "autre.exe"}, {-12, "jeu.exe"}, {13, "jeu.exe"}, {14, "é.exe"}};
    const auto candidats_trouves = candidats(f);
    ASSERT_EQ(candidats_trouves.size(), 5u);
    EXPECT_EQ(candidats_trouves[2].poignee, -12);

    EXPECT_EQ(chercher_fenetre(f, "JEU.EXE"), -12);
    EXPECT_EQ(chercher_fenetre(f, "jeu.exe"), -12);
    EXPECT_EQ(chercher_fenetre(f, "jeu"), std::nullopt);
    EXPECT_EQ(chercher_fenetre(f, "é.exe"), 14);
    EXPECT_EQ(chercher_fenetre(f, "É.exe"), std::nullopt);
    // An empty name finds nothing, not even the window whose process name is unknown.
    EXPECT_EQ(chercher_fenetre(f, ""), std::nullopt);
}

TEST(Fenetres, NameHelpers) {
    EXPECT_TRUE(egal_ascii_sans_casse("Jeu.Exe", "jEU.eXE"));
    EXPECT_FALSE(egal_ascii_sans_casse("jeu.exe", "jeu.ex"));
    EXPECT_FALSE(egal_ascii_sans_casse("[", "{"));  // only A–Z are folded
    EXPECT_EQ(apres_dernier("C:\\Jeux\\jeu.exe", '\\'), "jeu.exe");
    EXPECT_EQ(apres_dernier("jeu.exe", '\\'), "jeu.exe");
    EXPECT_EQ(apres_dernier("/usr/bin/xclock", '/'), "xclock");
    EXPECT_EQ(apres_dernier("dossier\\", '\\'), "");
}

}  // namespace
