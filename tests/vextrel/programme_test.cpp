#include "bin/vextrel/programme.hpp"
#include "bin/vextrel/arguments.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "../enregistrement/faux_pipeline.hpp"
#include "faux_fenetres.hpp"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The recording program's system pieces under test: each one-second wait lets the recording's
// virtual clock run one more second.
class FauxSysteme final : public vextrel::PlateformeVextrel {
public:
    FauxSysteme()
        : dossier_(fs::temp_directory_path() /
                   ("coeur-vextrel-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()))) {
        fs::remove_all(dossier_);
        plateforme->fixer_limite(plateforme->temps());
    }
    ~FauxSysteme() override { fs::remove_all(dossier_); }
    fs::path dossier_temporaire() override {
        ++demandes_dossier;
        fs::create_directories(dossier_);
        return dossier_;
    }
    vextrel::Fenetres& fenetres() override { return fenetres_; }
    vextrel::FinAttente attendre_une_seconde() override {
        ++attentes;
        if (attentes == arret_a) {
            // Ctrl+C half-way through this second.
            plateforme->laisser_passer(500ms);
            return vextrel::FinAttente::arret_demande;
        }
        plateforme->laisser_passer(1s);
        if (plateforme->fins_minuterie.load() > 0) {
            // The recording has left its loop; give its thread the moment it needs to store
            // its outcome, as the real second would.
            std::this_thread::sleep_for(50ms);
        }
        return vextrel::FinAttente::ecoulee;
    }
    void enregistrement_termine() override { ++terminaisons; }
    std::shared_ptr<enregistrement::Plateforme> enregistrement() override { return plateforme; }

    faux::FaussesFenetres fenetres_;
    std::shared_ptr<faux::FaussePlateforme> plateforme = std::make_shared<faux::FaussePlateforme>();
    int attentes = 0;
    int arret_a = 0;  // the wait (from 1) cut short by a stop request; 0: none
    int terminaisons = 0;
    int demandes_dossier = 0;
    fs::path dossier_;
};

struct Resultat {
    int statut;
    std::string sortie;
    std::string erreurs;
};

Resultat lancer(FauxSysteme& systeme, std::vector<std::string> arguments) {
    std::ostringstream sortie;
    std::ostringstream erreurs;
    const int statut = vextrel::executer(arguments, systeme, sortie, erreurs);
    return {statut, sortie.str(), erreurs.str()};
}

std::vector<std::string> lignes(const std::string& texte) {
    std::vector<std::string> l;
    std::istringstream flux(texte);
    for (std::string ligne; std::getline(flux, ligne);) {
        l.push_back(ligne);
    }
    return l;
}

void image_des_le_debut(faux::FaussePlateforme& p, std::uint64_t sommeil = 1) {
    p.scenario = [sommeil](faux::FaussePlateforme& pf, std::uint64_t n) {
        if (n == sommeil) {
            pf.capture->livrer(1366, 768);
        }
    };
}

TEST(Programme, UsageWithoutProcessName) {
    FauxSysteme systeme;
    const auto r = lancer(systeme, {});
    EXPECT_EQ(r.statut, 101);
    EXPECT_EQ(r.sortie, "");
    EXPECT_EQ(r.erreurs, "usage: vextrel <processus.exe> [secondes] [chemin.mkv]\n");
}

TEST(Programme, NoWindowStartsNoSession) {
    FauxSysteme systeme;
    systeme.fenetres_.liste = {{7, "autre.exe"}};
    const auto r = lancer(systeme, {"jeu.exe", "1"});
    EXPECT_EQ(r.statut, 101);
    EXPECT_EQ(r.sortie, "");
    EXPECT_EQ(r.erreurs, "fenêtre du processus introuvable\n");
    EXPECT_EQ(systeme.plateforme->debuts_minuterie.load(), 0);
    EXPECT_EQ(systeme.attentes, 0);
}

TEST(Programme, ZeroSecondsStopsAtOnceAndRemovesNothing) {
    FauxSysteme systeme;
    systeme.fenetres_.liste = {{-12, "JEU.exe"}};
    // The stop is seen at the top of a tick: an image arriving only at the fifth tick is
    // never encoded.
    image_des_le_debut(*systeme.plateforme, 5);
    const auto r = lancer(systeme, {"jeu.exe", "0"});
    EXPECT_EQ(r.statut, 0);
    EXPECT_EQ(r.erreurs, "");
    EXPECT_EQ(r.sortie,
              "fenêtre jeu.exe : hwnd -12\n"
              "octets : 0 · durée 0s · erreur None\n"
              "fichier : None\n");
    EXPECT_EQ(systeme.attentes, 0);
    EXPECT_EQ(systeme.demandes_dossier, 1);
    EXPECT_FALSE(fs::exists(systeme.dossier_ / "vextrel.mkv"));
    EXPECT_EQ(systeme.plateforme->fenetre_, -12);
}

TEST(Programme, RecordsForTheRequestedSeconds) {
    FauxSysteme systeme;
    systeme.fenetres_.liste = {{99, "jeu.exe"}};
    image_des_le_debut(*systeme.plateforme);
    const fs::path chemin = systeme.dossier_temporaire() / "essai \"1\".mkv";
    const auto r = lancer(systeme, {"Jeu.exe", "+3", chemin.string()});
    EXPECT_EQ(r.statut, 0);
    EXPECT_EQ(systeme.attentes, 3);
    const auto l = lignes(r.sortie);
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0], "fenêtre Jeu.exe : hwnd 99");
    EXPECT_TRUE(l[1].starts_with("octets : ")) << l[1];
    EXPECT_TRUE(l[1].ends_with(" · durée 3s · erreur None")) << l[1];
    EXPECT_NE(l[1], "octets : 0 · durée 3s · erreur None");
    EXPECT_EQ(l[2], "fichier : " + vextrel::notation_debug(chemin.string()));
    EXPECT_TRUE(fs::exists(chemin));
    EXPECT_EQ(systeme.terminaisons, 1);
}

TEST(Programme, StopRequestEndsTheWaitAsIfTheTimeWereUp) {
    FauxSysteme systeme;
    systeme.fenetres_.liste = {{8, "jeu.exe"}};
    image_des_le_debut(*systeme.plateforme);
    systeme.arret_a = 2;
    const fs::path chemin = systeme.dossier_temporaire() / "interrompu.mkv";
    const auto r = lancer(systeme, {"jeu.exe", "10", chemin.string()});
    EXPECT_EQ(r.statut, 0);
    EXPECT_EQ(r.erreurs, "");
    EXPECT_EQ(systeme.attentes, 2);
    const auto l = lignes(r.sortie);
    ASSERT_EQ(l.size(), 3u);
    // The time actually recorded (1.5 s), not the ten seconds asked for.
    EXPECT_TRUE(l[1].ends_with(" · durée 1s · erreur None")) << l[1];
    EXPECT_FALSE(l[1].starts_with("octets : 0 ")) << l[1];
    EXPECT_EQ(l[2], "fichier : " + vextrel::notation_debug(chemin.string()));
    EXPECT_EQ(systeme.terminaisons, 1);
    EXPECT_TRUE(fs::exists(chemin));
}

TEST(Programme, ErrorBeforeTheEndCutsTheWaitShort) {
    FauxSysteme systeme;
    systeme.fenetres_.liste = {{5, "jeu.exe"}};
    systeme.plateforme->echec_peripherique = commun::Erreur("aucune carte graphique matérielle");
    const auto r = lancer(systeme, {"jeu.exe", "10"});
    EXPECT_EQ(r.statut, 0);
    EXPECT_EQ(systeme.attentes, 1);
    EXPECT_EQ(r.sortie,
              "fenêtre jeu.exe : hwnd 5\n"
              "erreur : aucune carte graphique matérielle\n"
              "octets : 0 · durée 1s · erreur Some(\"aucune carte graphique matérielle\")\n"
              "fichier : None\n");
}

TEST(Programme, ErrorInTheMiddleKeepsTheUnfinishedFile) {
    FauxSysteme systeme;
    systeme.fenetres_.liste = {{5, "jeu.exe"}};
    image_des_le_debut(*systeme.plateforme);
    systeme.plateforme->conversion->echec_a = 100;  // after more than three seconds of frames
    const fs::path chemin = systeme.dossier_temporaire() / "partiel.mkv";
    const auto r = lancer(systeme, {"jeu.exe", "6", chemin.string()});
    EXPECT_EQ(r.statut, 0);
    const auto l = lignes(r.sortie);
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[1], "erreur : vue d'entrée");
    EXPECT_TRUE(l[2].ends_with("s · erreur Some(\"vue d'entrée\")")) << l[2];
    EXPECT_FALSE(l[2].starts_with("octets : 0 ")) << l[2];
    EXPECT_EQ(l[3], "fichier : " + vextrel::notation_debug(chemin.string()));
    EXPECT_EQ(systeme.attentes, 4);  // the error came during the fourth second
    EXPECT_TRUE(fs::exists(chemin));
}

}  // namespace
