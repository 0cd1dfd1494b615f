// Reading many files on several threads, in chunks, with spills: the same results, in the same order, and
// the same first error as lire_replay over each file in turn followed by calibrer_lots / controler_lots.
// Partial results among the files: the same again, and their faults named.
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "commun/fichier.hpp"
#include "comportement/calibration.hpp"
#include "comportement/controle.hpp"
#include "comportement/ecriture_telemetrie.hpp"
#include "comportement/lecture_telemetrie.hpp"
#include "comportement/partiel.hpp"
#include "comportement/trame_compacte.hpp"
#include "support/dossier_temp.hpp"
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
    void SetUp() override { std::filesystem::create_directories(dossier_ / "tmp"); }

    std::string fichier(const std::string& nom, const std::string& contenu) {
        const std::string chemin = temp_.ecrire(nom, contenu);
        chemins_.push_back(chemin);
        return chemin;
    }

    // Every reading setting worth telling apart: one thread or several, chunks of a few lines or of whole
    // files, no spill, some files spilled, every batch spilled (partitions spread again down to one batch).
    std::vector<ReglagesLecture> reglages() const {
        std::vector<ReglagesLecture> r;
        for (std::size_t fils : {1U, 2U, 7U}) {
            for (std::size_t morceau : {64U, 1000U, 1U << 20}) {
                for (std::uint64_t budget :
                     {std::numeric_limits<std::uint64_t>::max(), std::uint64_t{1} << 18, std::uint64_t{1}}) {
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
        return "fils " + std::to_string(r.fils) + ", morceaux de " + std::to_string(r.taille_morceau) + ", budget " +
               std::to_string(r.budget);
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

    ::essai::DossierTemp temp_;
    const std::filesystem::path dossier_ = temp_.chemin();
    std::vector<std::string> chemins_;
};

std::string sans_date(std::string json) {
    return std::regex_replace(json, std::regex(R"("genereLe": "[^"]*")"), "\"genereLe\": \"-\"");
}

TEST_F(TraitementFichiers, MemesRapportsQuelsQueSoientFilsMorceauxEtBudget) {
    for (std::uint64_t f = 0; f < 5; ++f)
        fichier("propre" + std::to_string(f) + ".jsonl", fichier_cohorte(f + 11, false));
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
    for (std::uint64_t f = 0; f < 4; ++f)
        fichier("melange" + std::to_string(f) + ".jsonl", fichier_cohorte(f + 40, true));
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
    for (std::size_t fils : {1U, 3U}) {
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

// ---------------------------------------------------------------------------------------------------------
// Partial results.

std::string calibration_ou_refus(std::expected<AccumulateurCalibration, std::string> c) {
    if (!c) return "erreur : " + c.error();
    auto r = rapport_calibration(std::move(*c), "c");
    return r ? sans_date(rapport_calibration_json(*r)) : "refus : " + r.error();
}

std::string controle_ou_erreur(std::expected<AccumulateurControle, std::string> c) {
    return c ? rapport_controle_json(rapport_controle(std::move(*c))) : "erreur : " + c.error();
}

// Shards of the files, contiguous, each a partial (a list of inputs) or a file left as it is (one index).
struct Tranche {
    std::vector<int> entrees;  // indices of the files; below 0: -1 - the index of an earlier partial
    bool partiel = true;
};

TEST_F(TraitementFichiers, PartielsFusionnesCommeUnSeulPassage) {
    const EngineThresholds autres = [] {
        EngineThresholds s;
        s.aimSnapMinVelocityDegPerSec = 300.0;
        s.reactionSuspectMs = 150;
        return s;
    }();
    // {0 1 2 3 4} as they may be split: one shard; a shard of one file and an empty one; partials mixed with
    // files; a partial of a partial and a file.
    const std::vector<std::vector<Tranche>> decoupes = {
        {{{0, 1, 2, 3, 4}}},
        {{{0}}, {{1, 2, 3}}, {{}}, {{4}}},
        {{{0}, false}, {{1, 2}}, {{3}, false}, {{4}}},
        {{{0, 1}}, {{-1, 2}}, {{3, 4}}},
    };
    ReglagesLecture simple;
    simple.dossier_temporaire = dossier_ / "tmp";
    // Each partial is written once per command, its name suffixed with it.
    const auto avec = [](std::vector<std::string> v, const std::string& suffixe) {
        for (std::string& c : v) {
            if (!c.ends_with(".jsonl")) c += suffixe;
        }
        return v;
    };
    for (const bool invalides : {false, true}) {
        chemins_.clear();
        for (std::uint64_t f = 0; f < 4; ++f) {
            fichier("f" + std::to_string(invalides) + std::to_string(f) + ".jsonl", fichier_cohorte(f + 60, invalides));
        }
        fichier("vide.jsonl", "");
        const std::vector<std::string> fichiers = chemins_;
        const std::string calibration = calibration_ou_refus(calibrer_fichiers(fichiers, simple));
        const std::string controle = controle_ou_erreur(controler_fichiers(fichiers, autres, simple));
        ASSERT_EQ(calibration.starts_with("refus : lot de calibration invalide"), invalides) << calibration;

        for (std::size_t d = 0; d < decoupes.size(); ++d) {
            std::vector<std::string> entrees;
            std::vector<std::string> partiels;
            for (const Tranche& t : decoupes[d]) {
                std::vector<std::string> tranche;
                for (int i : t.entrees) {
                    if (i >= 0) {
                        tranche.push_back(fichiers[static_cast<std::size_t>(i)]);
                    } else {
                        // That partial is merged into this one, which takes its place.
                        tranche.push_back(partiels[static_cast<std::size_t>(-1 - i)]);
                        std::erase(entrees, tranche.back());
                    }
                }
                if (!t.partiel) {
                    entrees.push_back(tranche[0]);
                    continue;
                }
                const std::string chemin = (dossier_ / ("p" + std::to_string(partiels.size()))).string();
                auto c = calibrer_fichiers(avec(tranche, ".cal"), simple);
                auto k = controler_fichiers(avec(tranche, ".ctl"), autres, simple);
                ASSERT_TRUE(c && k);
                commun::SortieChaine sc;
                commun::SortieChaine sk;
                ASSERT_TRUE(ecrire_partiel_calibration(sc, *c));
                ASSERT_TRUE(ecrire_partiel_controle(sk, *k, autres));
                std::ofstream(chemin + ".cal", std::ios::binary) << sc.texte;
                std::ofstream(chemin + ".ctl", std::ios::binary) << sk.texte;
                partiels.push_back(chemin);
                entrees.push_back(chemin);
            }
            for (const ReglagesLecture& r : reglages()) {
                if (r.taille_morceau != 1000) continue;
                SCOPED_TRACE("découpe " + std::to_string(d) + ", " + nom(r));
                ReglagesLecture suivi = r;
                std::atomic<std::uint64_t> lus = 0;  // called from any thread
                suivi.progression = [&](std::uint64_t n) { lus += n; };
                const std::vector<std::string> cal = avec(entrees, ".cal");
                auto c = calibrer_fichiers(cal, suivi);
                ASSERT_TRUE(c) << c.error();
                EXPECT_EQ(c->sources, fichiers);
                EXPECT_EQ(calibration_ou_refus(std::move(c)), calibration);
                std::uint64_t total = 0;
                for (const std::string& e : cal) total += std::filesystem::file_size(e);
                EXPECT_EQ(lus.load(), total) << "the partials' bytes count in the progress";

                auto k = controler_fichiers(avec(entrees, ".ctl"), autres, r);
                ASSERT_TRUE(k) << k.error();
                EXPECT_EQ(k->sources, fichiers);
                EXPECT_EQ(controle_ou_erreur(std::move(k)), controle);
            }
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(dossier_ / "tmp"));
}

// Little-endian encoder of the test's own, for the layout written out in full.
struct Octets {
    std::string o;
    Octets& u8(unsigned v) {
        o += static_cast<char>(v);
        return *this;
    }
    Octets& u32(std::uint32_t v) {
        for (int k = 0; k < 4; ++k) u8((v >> (8 * k)) & 0xFF);
        return *this;
    }
    Octets& u64(std::uint64_t v) {
        for (int k = 0; k < 8; ++k) u8((v >> (8 * k)) & 0xFF);
        return *this;
    }
    Octets& f64(double v) { return u64(std::bit_cast<std::uint64_t>(v)); }
    Octets& texte(const std::string& t) {
        u64(t.size());
        o += t;
        return *this;
    }
    // Header and CRC around a body.
    static std::string partiel(std::uint32_t commande, const std::string& corps) {
        Octets e;
        e.o = "\x89PART\r\n\x1A";
        e.u32(1).u32(commande).u64(24 + corps.size() + 4);
        e.o += corps;
        return e
            .u32(static_cast<std::uint32_t>(
                crc32(0, reinterpret_cast<const Bytef*>(e.o.data()), static_cast<uInt>(e.o.size()))))
            .o;
    }
};

TEST(Partiel, DispositionDesOctetsEtRelecture) {
    const double nan_charge = std::bit_cast<double>(std::uint64_t{0x7FF8'0000'0000'1234});
    AccumulateurCalibration a;
    a.sources = {"a.jsonl", "d\u00e9j\u00e0/b.jsonl.gz"};
    a.matchs = 2;
    a.trames = 7;
    a.echantillons.visibleAngularVelocityDegPerSec = {1.5, -0.0};
    a.echantillons.visibilityToActionReactionMs = {nan_charge};
    a.echantillons.movingVisibleTargetErrorDeg = {0.0, -0.0, 1e-310};
    const std::string calibration = Octets::partiel(1, Octets{}
                                                           .u64(2)
                                                           .texte("a.jsonl")
                                                           .texte("d\u00e9j\u00e0/b.jsonl.gz")
                                                           .u64(2)
                                                           .u64(7)
                                                           .u8(0)
                                                           .u64(2)
                                                           .f64(1.5)
                                                           .f64(-0.0)
                                                           .u64(0)
                                                           .u64(1)
                                                           .f64(nan_charge)
                                                           .u64(3)
                                                           .f64(0.0)
                                                           .f64(-0.0)
                                                           .f64(1e-310)
                                                           .o);

    AccumulateurControle k;
    k.sources = {"c.jsonl"};
    k.invalides = 3;
    k.lignes.push_back({"m", "p", 55.5, "REVIEW", {"AimSnap", "PreAim"}});
    k.lignes.push_back({"m\u00e9", "", 12.0, "NORMAL", {}});
    EngineThresholds s;
    s.reactionVeryFastMs = -7;
    const std::string controle = Octets::partiel(2, Octets{}
                                                        .u64(1)
                                                        .texte("c.jsonl")
                                                        .u8(1)
                                                        .f64(520.0)
                                                        .f64(3000.0)
                                                        .u64(static_cast<std::uint64_t>(-7))
                                                        .u64(135)
                                                        .f64(0.65)
                                                        .u64(3)
                                                        .u64(2)
                                                        .texte("m")
                                                        .texte("p")
                                                        .f64(55.5)
                                                        .u8(0x11)
                                                        .texte("m\u00e9")
                                                        .texte("")
                                                        .f64(12.0)
                                                        .u8(0)
                                                        .o);

    commun::SortieChaine sc;
    commun::SortieChaine sk;
    ASSERT_TRUE(ecrire_partiel_calibration(sc, a));
    ASSERT_TRUE(ecrire_partiel_controle(sk, k, s));
    EXPECT_EQ(sc.texte, calibration);
    EXPECT_EQ(sk.texte, controle);

    // Read back after what is already there, bit for bit.
    AccumulateurCalibration b;
    b.matchs = 1;
    b.echantillons.visibleAngularVelocityDegPerSec = {9.0};
    std::vector<std::string> sources;
    commun::SourceChaine lc(calibration);
    ASSERT_TRUE(lire_partiel(lc, std::nullopt,
                             {.commande = CommandePartiel::calibrer, .sources = &sources, .calibration = &b}));
    EXPECT_EQ(sources, a.sources);
    EXPECT_EQ(b.matchs, 3u);
    EXPECT_EQ(b.trames, 7u);
    const auto bits = [](const std::vector<double>& v) {
        std::vector<std::uint64_t> r;
        for (double x : v) r.push_back(std::bit_cast<std::uint64_t>(x));
        return r;
    };
    EXPECT_EQ(bits(b.echantillons.visibleAngularVelocityDegPerSec), bits({9.0, 1.5, -0.0}));
    EXPECT_EQ(bits(b.echantillons.visibilityToActionReactionMs), bits({nan_charge}));
    EXPECT_EQ(bits(b.echantillons.movingVisibleTargetErrorDeg), bits(a.echantillons.movingVisibleTargetErrorDeg));

    AccumulateurControle l;
    std::optional<EngineThresholds> lus;
    commun::SourceChaine lk(controle);
    ASSERT_TRUE(
        lire_partiel(lk, controle.size(), {.commande = CommandePartiel::controler, .controle = &l, .seuils = &lus}));
    ASSERT_TRUE(lus);
    EXPECT_TRUE(memes_seuils_partiel(*lus, s));
    EXPECT_EQ(rapport_controle_json(rapport_controle(std::move(l))),
              rapport_controle_json(rapport_controle(std::move(k))));
}

TEST(Partiel, FautesNommees) {
    AccumulateurCalibration a;
    a.sources = {"a.jsonl"};
    a.echantillons.visibleAngularVelocityDegPerSec = {1.0, 2.0, 3.0};
    commun::SortieChaine s;
    ASSERT_TRUE(ecrire_partiel_calibration(s, a));
    const std::string bon = s.texte;
    const auto changer = [&](std::size_t pos, std::string octets) {
        return std::string(bon).replace(pos, octets.size(), octets);
    };
    // The same fault with a CRC made right again: only the structure tells.
    const auto recalcule = [](const std::string& p) { return Octets::partiel(1, p.substr(24, p.size() - 28)); };
    // Sources: a count and one text of 7 bytes; then two counts: the refusal byte is at 63, the first list at 64.
    const std::string compte_trop_grand = recalcule(changer(64, Octets{}.u64(1000).o));
    const std::string drapeau = recalcule(changer(63, "\x02"));
    const std::string de_trop = Octets::partiel(1, bon.substr(24, bon.size() - 28) + "x");
    const std::string tronque = "r\u00e9sultat partiel tronqu\u00e9";
    constexpr std::uint64_t kEnorme = std::uint64_t{1} << 60;
    const std::string tronque_enorme =
        tronque + " (" + std::to_string(bon.size()) + " octets sur " + std::to_string(kEnorme) + " annonc\u00e9s)";
    struct Cas {
        std::string octets;
        std::string message;
    };
    const std::vector<Cas> cas = {
        {bon.substr(0, 20), tronque + " (20 octets, en-t\u00eate incomplet)"},
        {bon.substr(0, bon.size() - 1), tronque + " (" + std::to_string(bon.size() - 1) + " octets sur " +
                                            std::to_string(bon.size()) + " annonc\u00e9s)"},
        {changer(8, Octets{}.u32(2).o), "r\u00e9sultat partiel de version 2 inconnue (ce programme lit la version 1)"},
        {changer(12, Octets{}.u32(2).o), "r\u00e9sultat partiel de controler, pas de calibrer"},
        {changer(12, Octets{}.u32(7).o), "r\u00e9sultat partiel d'une commande inconnue (7)"},
        {changer(bon.size() - 12, "\x40"), "r\u00e9sultat partiel corrompu (somme de contr\u00f4le CRC-32 fausse)"},
        // A count damaged is a corruption, though it reads past the end.
        {changer(64, Octets{}.u64(1000).o), "r\u00e9sultat partiel corrompu (somme de contr\u00f4le CRC-32 fausse)"},
        {compte_trop_grand, tronque + " (une longueur d\u00e9passe la fin annonc\u00e9e)"},
        {drapeau, "r\u00e9sultat partiel invalide (octet \u00ab refus \u00bb \u00e0 2)"},
        {de_trop, "r\u00e9sultat partiel invalide (1 octets de trop)"},
        {changer(16, Octets{}.u64(20).o), "r\u00e9sultat partiel invalide (longueur annonc\u00e9e 20)"},
        // A length far past the file, and a text or a list as long as it claims: from a pipe the room is
        // not taken on the header's word (it once ended the program in std::bad_alloc).
        {changer(16, Octets{}.u64(kEnorme).o).replace(32, 8, Octets{}.u64(kEnorme / 4).o), tronque_enorme},
        {changer(16, Octets{}.u64(kEnorme).o).replace(64, 8, Octets{}.u64(kEnorme / 64).o), tronque_enorme},
    };
    for (const Cas& c : cas) {
        // Size known (a file) or not (a pipe): the same words.
        for (const bool taille : {true, false}) {
            commun::SourceChaine source(c.octets);
            AccumulateurCalibration x;
            const auto r = lire_partiel(source, taille ? std::optional<std::uint64_t>(c.octets.size()) : std::nullopt,
                                        {.commande = CommandePartiel::calibrer, .calibration = &x});
            ASSERT_FALSE(r) << c.message;
            EXPECT_EQ(r.error(), c.message) << taille;
        }
    }
    // Longer than it says.
    commun::SourceChaine source(bon + "x");
    EXPECT_EQ(lire_partiel(source, std::nullopt, {}).error(), "r\u00e9sultat partiel invalide (plus long que les " +
                                                                  std::to_string(bon.size()) +
                                                                  " octets annonc\u00e9s)");
    commun::SourceChaine fichier(bon + "x");
    EXPECT_EQ(lire_partiel(fichier, bon.size() + 1, {}).error(), "r\u00e9sultat partiel invalide (" +
                                                                     std::to_string(bon.size() + 1) + " octets pour " +
                                                                     std::to_string(bon.size()) + " annonc\u00e9s)");
}

TEST_F(TraitementFichiers, LaPremiereFauteDansLOrdreDesFichiersPartielsCompris) {
    const std::string bon = fichier("bon.jsonl", fichier_cohorte(7, false));
    const std::string mauvais = fichier("mauvais.jsonl", "{]\n");
    AccumulateurControle k;
    commun::SortieChaine s;
    ASSERT_TRUE(ecrire_partiel_controle(s, k, EngineThresholds{}));
    const std::string partiel = fichier("p.partiel", s.texte);
    const std::string tronque = fichier("t.partiel", s.texte.substr(0, 40));
    const std::string mauvais_message = mauvais + " : " + lire_replay(mauvais).error();
    const std::string tronque_message = tronque + " : r\u00e9sultat partiel tronqu\u00e9 (40 octets sur " +
                                        std::to_string(s.texte.size()) + " annonc\u00e9s)";
    EngineThresholds autres;
    autres.trackingExcellentErrorDeg = std::nextafter(autres.trackingExcellentErrorDeg, 1.0);
    struct Cas {
        std::vector<std::string> chemins;
        std::string controle;       // controler_fichiers with the default thresholds
        std::string autres_seuils;  // the same with a threshold one bit away
        std::string verification;   // verifier_fichiers as calibrer would
    };
    const std::string autres_message = partiel + " : r\u00e9sultat partiel calcul\u00e9 avec d'autres seuils";
    const std::string commande = partiel + " : r\u00e9sultat partiel de controler, pas de calibrer";
    const std::vector<Cas> cas = {
        {{bon, tronque, mauvais},
         tronque_message,
         tronque_message,
         tronque + " : r\u00e9sultat partiel de controler, pas de calibrer"},
        {{bon, mauvais, tronque}, mauvais_message, mauvais_message, mauvais_message},
        {{partiel, bon, mauvais}, mauvais_message, autres_message, commande},
        {{bon, partiel, bon}, "", autres_message, commande},
    };
    for (const Cas& c : cas) {
        for (std::size_t fils : {1U, 3U}) {
            ReglagesLecture r;
            r.fils = fils;
            r.taille_morceau = 64;
            r.dossier_temporaire = dossier_ / "tmp";
            const auto controle = controler_fichiers(c.chemins, EngineThresholds{}, r);
            EXPECT_EQ(controle ? "" : controle.error(), c.controle) << fils;
            EXPECT_EQ(controler_fichiers(c.chemins, autres, r).error(), c.autres_seuils) << fils;
            EXPECT_EQ(verifier_fichiers(c.chemins, CommandePartiel::calibrer, r).error(), c.verification) << fils;
            // Only checked, partials of either command pass.
            const auto v = traiter_fichiers(c.chemins, nullptr, r);
            EXPECT_EQ(v ? "" : v.error(), c.controle) << fils;
        }
    }
}

}  // namespace
}  // namespace comportement
