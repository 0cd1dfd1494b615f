// Reading many files on several threads, in chunks, with spills: the same results, in the same order, and
// the same first error as lire_replay over each file in turn followed by calibrer_lots / controler_lots.
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "comportement/calibration.hpp"
#include "comportement/controle.hpp"
#include "comportement/ecriture_telemetrie.hpp"
#include "comportement/lecture_telemetrie.hpp"
#include "comportement/trame_compacte.hpp"
#include "test_detecteurs_aide.hpp"

namespace comportement {
namespace {

struct Alea {
    std::uint64_t etat;
    std::uint64_t suivant() {
        std::uint64_t z = (etat += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    int entre(int a, int b) { return a + static_cast<int>(suivant() % static_cast<std::uint64_t>(b - a + 1)); }
    bool chance(int pourcent) { return entre(1, 100) <= pourcent; }
};

// One file of a cohort: batches of several matches and players interleaved line by line, each batch's
// frames out of time order, CR LF and LF, blank and white-space lines, sometimes a last line without LF.
// `invalides` adds batches that validation refuses (too short, repeated timestamps).
std::string fichier_cohorte(std::uint64_t graine, bool invalides) {
    Alea a{graine};
    struct Lot {
        std::vector<TrameTelemetrie> trames;
        std::size_t suivante = 0;
    };
    std::vector<Lot> lots;
    const int matchs = a.entre(1, 3);
    for (int m = 0; m < matchs; ++m) {
        for (int p = 0; p < a.entre(1, 4); ++p) {
            Lot lot;
            const std::string joueur = std::string(a.chance(50) ? "joueur-" : "p") + std::to_string(p);
            const int n = a.entre(3, 120);
            double yaw = a.entre(-180, 180);
            for (int k = 0; k < n; ++k) {
                essai::T t(1'765'000'000'000LL + 16 * k);
                yaw += a.entre(-40, 40) / 4.0;
                t.yaw(yaw).pitch(a.entre(-10, 10) / 8.0).match("m" + std::to_string(graine % 3) + std::to_string(m));
                t.joueur(joueur);
                if (a.chance(60)) {
                    // A zero of either sign among the moving-target errors: their order shows in the percentiles.
                    t.visible(a.chance(20) ? (a.chance(50) ? -0.0 : 0.0) : a.entre(0, 300) / 10.0);
                    t.vitesse(a.entre(0, 90)).cible("c" + std::to_string(a.entre(0, 9)));
                } else if (a.chance(30)) {
                    t.occulte(a.entre(0, 30) / 10.0);
                }
                if (a.chance(10)) t.tir();
                TrameTelemetrie trame = t;
                trame.weaponId = a.chance(50) ? "ak47" : "arme-" + std::to_string(a.entre(0, 99));
                if (a.chance(50)) trame.acquisitionMode = "serveur";
                lot.trames.push_back(trame);
            }
            if (invalides && a.chance(25)) {
                if (a.chance(50)) {
                    lot.trames.resize(2);
                } else {
                    lot.trames[1].timestampMs = lot.trames[0].timestampMs;
                }
            }
            // Out of time order, in runs, so the stable sort has work to do.
            for (std::size_t k = 0; k + 4 < lot.trames.size(); k += 7) {
                std::reverse(lot.trames.begin() + static_cast<std::ptrdiff_t>(k),
                             lot.trames.begin() + static_cast<std::ptrdiff_t>(k + 4));
            }
            lots.push_back(std::move(lot));
        }
    }
    std::string texte;
    for (bool reste = true; reste;) {
        reste = false;
        for (Lot& lot : lots) {
            if (lot.suivante == lot.trames.size()) continue;
            reste = true;
            for (int k = a.entre(1, 3); k > 0 && lot.suivante < lot.trames.size(); --k) {
                ajouter_trame_json(texte, lot.trames[lot.suivante++]);
                texte += a.chance(30) ? "\r\n" : "\n";
                if (a.chance(5)) texte += a.chance(50) ? "\n" : " \t\r\n";
            }
        }
    }
    if (a.chance(50)) {
        texte.pop_back();  // no LF at the end; sometimes a CR stays there
        if (texte.ends_with('\r') && a.chance(50)) texte.pop_back();
    }
    return texte;
}

class TraitementFichiers : public testing::Test {
protected:
    void SetUp() override {
        dossier_ = std::filesystem::path(testing::TempDir()) /
            ("traitement_" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        std::filesystem::create_directories(dossier_ / "tmp");
    }
    void TearDown() override { std::filesystem::remove_all(dossier_); }

    std::string fichier(const std::string& nom, const std::string& contenu) {
        const std::string chemin = (dossier_ / nom).string();
        std::ofstream(chemin, std::ios::binary) << contenu;
        chemins_.push_back(chemin);
        return chemin;
    }

    // Every reading setting worth telling apart: one thread or several, chunks of a few lines or of whole
    // files, no spill, some files spilled, every batch spilled (partitions spread again down to one batch).
    std::vector<ReglagesLecture> reglages() const {
        std::vector<ReglagesLecture> r;
        for (std::size_t fils : {1, 2, 7}) {
            for (std::size_t morceau : {64, 1000, 1 << 20}) {
                for (std::uint64_t budget : {std::numeric_limits<std::uint64_t>::max(), std::uint64_t{1} << 18, std::uint64_t{1}}) {
                    ReglagesLecture x;
                    x.fils = fils;
                    x.taille_morceau = morceau;
                    x.budget = budget;
                    x.dossier_temporaire = dossier_ / "tmp";
                    r.push_back(x);
                }
            }
        }
        return r;
    }

    static std::string nom(const ReglagesLecture& r) {
        return "fils " + std::to_string(r.fils) + ", morceaux de " + std::to_string(r.taille_morceau) +
            ", budget " + std::to_string(r.budget);
    }

    // All batches of every file, as the command line read them before.
    std::vector<LotTrames> lots_attendus() const {
        std::vector<LotTrames> tous;
        for (const std::string& c : chemins_) {
            auto lots = lire_replay(c);
            EXPECT_TRUE(lots) << lots.error();
            for (auto& l : *lots) tous.push_back(std::move(l));
        }
        return tous;
    }

    std::filesystem::path dossier_;
    std::vector<std::string> chemins_;
};

std::string sans_date(std::string json) {
    return std::regex_replace(json, std::regex(R"("genereLe": "[^"]*")"), "\"genereLe\": \"-\"");
}

TEST_F(TraitementFichiers, MemesRapportsQuelsQueSoientFilsMorceauxEtBudget) {
    for (std::uint64_t f = 0; f < 5; ++f) fichier("propre" + std::to_string(f) + ".jsonl", fichier_cohorte(f + 11, false));
    const std::vector<LotTrames> lots = lots_attendus();
    const auto calibration = calibrer_lots(lots, "c");
    ASSERT_TRUE(calibration) << calibration.error();
    const std::string calibration_attendue = sans_date(rapport_calibration_json(*calibration));
    const std::string controle_attendu = rapport_controle_json(controler_lots(lots, EngineThresholds{}));
    ASSERT_GT(calibration->distributions[0].echantillons, 100u);

    for (const ReglagesLecture& r : reglages()) {
        auto c = calibrer_fichiers(chemins_, r);
        ASSERT_TRUE(c) << nom(r) << ": " << c.error();
        auto rapport = rapport_calibration(std::move(*c), "c");
        ASSERT_TRUE(rapport) << nom(r) << ": " << rapport.error();
        EXPECT_EQ(sans_date(rapport_calibration_json(*rapport)), calibration_attendue) << nom(r);

        auto k = controler_fichiers(chemins_, EngineThresholds{}, r);
        ASSERT_TRUE(k) << nom(r) << ": " << k.error();
        EXPECT_EQ(rapport_controle_json(rapport_controle(std::move(*k))), controle_attendu) << nom(r);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dossier_ / "tmp"));
}

TEST_F(TraitementFichiers, LotsRefusesDansLOrdreDesLots) {
    for (std::uint64_t f = 0; f < 4; ++f) fichier("melange" + std::to_string(f) + ".jsonl", fichier_cohorte(f + 40, true));
    const std::vector<LotTrames> lots = lots_attendus();
    const auto calibration = calibrer_lots(lots, "c");
    ASSERT_FALSE(calibration);
    ASSERT_TRUE(calibration.error().starts_with("lot de calibration invalide ")) << calibration.error();
    const RapportControle controle = controler_lots(lots, EngineThresholds{});
    ASSERT_GT(controle.invalides, 1u);
    ASSERT_GT(controle.matchs, 1u);
    const std::string controle_attendu = rapport_controle_json(controle);

    for (const ReglagesLecture& r : reglages()) {
        auto c = calibrer_fichiers(chemins_, r);
        ASSERT_TRUE(c) << nom(r) << ": " << c.error();
        const auto refus = rapport_calibration(std::move(*c), "c");
        ASSERT_FALSE(refus) << nom(r);
        EXPECT_EQ(refus.error(), calibration.error()) << nom(r);
        auto k = controler_fichiers(chemins_, EngineThresholds{}, r);
        ASSERT_TRUE(k) << nom(r) << ": " << k.error();
        EXPECT_EQ(rapport_controle_json(rapport_controle(std::move(*k))), controle_attendu) << nom(r);
    }
}

TEST_F(TraitementFichiers, LaPremiereErreurDansLOrdreDesFichiersEtDesLignes) {
    const std::string bon = fichier_cohorte(3, false) + "\n";
    // Errors at every place a chunk may begin or end: each line of the middle is refused in turn.
    const std::string ligne_bonne = R"({"matchId":"m","playerId":"p","timestampMs":1})";
    std::string debut;
    for (int k = 0; k < 6; ++k) debut += ligne_bonne + (k % 2 == 0 ? "\r\n" : "\n") + (k == 3 ? "  \n" : "");
    const std::string mauvaise = R"({"matchId":"m","matchId":"n"})";
    const std::string message = "duplicate field `matchId` at line 1 column 25";
    ASSERT_EQ(trame_depuis_json(mauvaise).error(), message);

    struct Cas {
        std::vector<std::string> contenus;  // "" : no such file
        std::size_t fichier_en_erreur;
        std::string erreur;
    };
    const std::vector<Cas> cas = {
        {{bon, debut + mauvaise + "\n" + bon, debut + "{\n"}, 1, "ligne 8 : " + message},
        {{bon, debut + "\xC3\x28\n" + mauvaise, debut + mauvaise}, 1, "replay illisible : UTF-8 invalide à la ligne 8"},
        {{bon, bon + "{]", debut + mauvaise}, 1, ""},
        {{bon, bon, ""}, 2, "replay illisible : No such file or directory"},
        {{bon, debut + mauvaise + "\r", ""}, 1, "ligne 8 : " + message},
        // A last line without LF keeps its CR: the position of the end in the message shows it.
        {{debut + "{\"hit\":true\r"}, 0, "ligne 8 : EOF while parsing an object at line 1 column 13"},
    };
    int n = 0;
    for (const Cas& c : cas) {
        chemins_.clear();
        for (std::size_t i = 0; i < c.contenus.size(); ++i) {
            const std::string nom_fichier = "cas" + std::to_string(n) + "_" + std::to_string(i) + ".jsonl";
            if (c.contenus[i].empty()) {
                chemins_.push_back((dossier_ / nom_fichier).string());
            } else {
                fichier(nom_fichier, c.contenus[i]);
            }
        }
        const std::string& chemin = chemins_[c.fichier_en_erreur];
        const auto lu = lire_replay(chemin);
        ASSERT_FALSE(lu) << n;
        if (!c.erreur.empty()) {
            EXPECT_EQ(lu.error(), c.erreur) << n;
        }
        const std::string attendu = chemin + " : " + lu.error();
        for (const ReglagesLecture& r : reglages()) {
            EXPECT_EQ(traiter_fichiers(chemins_, nullptr, r).error(), attendu) << n << ", " << nom(r);
            EXPECT_EQ(controler_fichiers(chemins_, EngineThresholds{}, r).error(), attendu) << n << ", " << nom(r);
            EXPECT_EQ(calibrer_fichiers(chemins_, r).error(), attendu) << n << ", " << nom(r);
        }
        ++n;
    }
    EXPECT_TRUE(std::filesystem::is_empty(dossier_ / "tmp"));
}

TEST_F(TraitementFichiers, DebordementImpossible) {
    fichier("a.jsonl", fichier_cohorte(5, false));
    for (std::size_t fils : {1, 3}) {
        ReglagesLecture r;
        r.fils = fils;
        r.taille_morceau = 256;
        r.budget = 1;
        r.dossier_temporaire = dossier_ / "absent";
        const std::string attendu = r.dossier_temporaire.string() + " : No such file or directory";
        EXPECT_EQ(controler_fichiers(chemins_, EngineThresholds{}, r).error(), attendu) << fils;
        // Only read, nothing is held: no spill.
        EXPECT_TRUE(traiter_fichiers(chemins_, nullptr, r)) << fils;
        r.budget = std::numeric_limits<std::uint64_t>::max();
        EXPECT_TRUE(controler_fichiers(chemins_, EngineThresholds{}, r)) << fils;
    }
}

TEST(TrameCompacte, MemesVerificationsQueLesTramesCompletes) {
    using essai::T;
    // The reader gives every frame its batch's ids.
    const std::vector<LotTrames> lots = {
        essai::lot({T(100).match(" ").joueur(""), T(100).visible(-1).occulte().sansCible().match(" ").joueur(""),
                    T(300).souris(-100001, 0).match(" ").joueur("")},
                   " ", ""),
        essai::lot({T(1).yaw(NAN), T(2).visible().cible(" \u3000"), T(3).vitesse(-0.0).occulte().cible("x")}),
        essai::lot({T(5)}),
    };
    for (const LotTrames& lot : lots) {
        TableTextes textes;
        GroupeCompact groupe;
        for (const TrameTelemetrie& t : lot.trames) groupe.ajouter(compacter(t, textes));
        Atelier atelier;
        const LotCompact compact = preparer_lot(lot.matchId, lot.playerId, groupe, textes, atelier);
        const ValidationLot attendue = valider_lot(lot);
        const ValidationLot v = valider_lot(compact);
        EXPECT_EQ(v.erreurs, attendue.erreurs);
        EXPECT_EQ(v.avertissements, attendue.avertissements);
        EXPECT_EQ(lot_valide(compact), attendue.valide);
        std::string jointes;
        for (const std::string& e : attendue.erreurs) jointes += (jointes.empty() ? "" : "; ") + e;
        EXPECT_EQ(erreurs_jointes(compact, "; "), jointes);
        // Expanded back, every field comes out as it went in.
        const auto trames = developper(compact, atelier);
        ASSERT_EQ(trames.size(), lot.trames.size());
        for (std::size_t i = 0; i < trames.size(); ++i) {
            std::string a;
            std::string b;
            ajouter_trame_json(a, trames[i]);
            ajouter_trame_json(b, lot.trames[i]);
            EXPECT_EQ(a, b);
        }
    }
}

TEST(Accumulateurs, DeuxSuitesDeLotsFontLeToutDansLOrdre) {
    using essai::T;
    std::vector<LotTrames> lots;
    for (int m = 0; m < 6; ++m) {
        const std::string id = "m" + std::to_string(m);
        lots.push_back(essai::lot({T(0).yaw(0).match(id), T(100).yaw(10 * m).visible(-0.0).vitesse(20).match(id),
                                   T(200).yaw(30).visible(m).vitesse(30).match(id),
                                   T(300).yaw(0).visible(0.0).vitesse(40).tir().match(id)},
                                  id));
    }
    lots[4].trames.resize(2);
    for (std::size_t coupe = 0; coupe <= lots.size(); ++coupe) {
        AccumulateurCalibration a;
        AccumulateurCalibration b;
        AccumulateurControle x;
        AccumulateurControle y;
        for (std::size_t i = 0; i < lots.size(); ++i) {
            (i < coupe ? a : b).ajouter(calibrer_lot(lots[i]));
            (i < coupe ? x : y).ajouter(controler_lot(lots[i], EngineThresholds{}));
        }
        a.ajouter(std::move(b));
        x.ajouter(std::move(y));
        EXPECT_EQ(rapport_calibration(std::move(a), "c").error(), calibrer_lots(lots, "c").error()) << coupe;
        EXPECT_EQ(rapport_controle_json(rapport_controle(std::move(x))),
                  rapport_controle_json(controler_lots(lots, EngineThresholds{})))
            << coupe;
    }
    lots.erase(lots.begin() + 4);
    AccumulateurCalibration a;
    AccumulateurCalibration b;
    for (std::size_t i = 0; i < lots.size(); ++i) (i < 2 ? a : b).ajouter(calibrer_lot(lots[i]));
    a.ajouter(std::move(b));
    EXPECT_EQ(sans_date(rapport_calibration_json(*rapport_calibration(std::move(a), "c"))),
              sans_date(rapport_calibration_json(*calibrer_lots(lots, "c"))));
}

}  // namespace
}  // namespace comportement
