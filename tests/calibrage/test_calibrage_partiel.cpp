// calibrer and controler split by file: `--partiel` per shard, then the same command on the partials gives
// what one process on all the files gives, byte for byte, errors included; bad partials are named; inputs
// are never replaced; nothing is left half written.
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <sys/resource.h>

#include <gtest/gtest.h>

#include "comportement/ecriture_telemetrie.hpp"
#include "lanceur.hpp"

namespace {

using comportement::TrameTelemetrie;

// Matches of three players at 64 Hz. The frames depend on `graine` alone, the match ids on `premier`: the
// same seed under other ids gives equal scores in another file. Moving-target errors are often a zero of
// either sign. `refus`: the last batch has two frames, which validation refuses.
std::string matchs(int graine, int premier, int nombre, bool refus = false) {
    std::uint64_t etat = static_cast<std::uint64_t>(graine) * std::uint64_t{0x9e3779b97f4a7c15} + 7;
    const auto alea = [&] {
        etat = etat * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<int>((etat >> 33) % 1000);
    };
    std::string texte;
    for (int m = 0; m < nombre; ++m) {
        const bool court = refus && m + 1 == nombre;
        for (int p = 0; p < 3; ++p) {
            double yaw = 0;
            for (int k = 0; k < (court && p == 2 ? 2 : 120); ++k) {
                TrameTelemetrie t;
                t.matchId = "match-" + std::to_string(premier + m);
                t.playerId = "joueur-" + std::to_string(p);
                t.timestampMs = 1'765'000'000'000LL + 16 * k;
                yaw += (alea() - 500) / 20.0;
                t.yawDeg = yaw;
                if (alea() < 600) {
                    t.targetId = "cible";
                    t.targetVisible = alea() < 700;
                    t.targetOccluded = !t.targetVisible;
                    const int e = alea();
                    t.targetAngularErrorDeg = e < 200 ? (e < 100 ? -0.0 : 0.0) : e / 50.0;
                    t.targetAngularSpeedDegPerSec = alea() / 10.0;
                }
                t.shotFired = alea() < 60;
                comportement::ajouter_trame_json(texte, t);
                texte += '\n';
            }
        }
    }
    return texte;
}

std::string sans_date(std::string texte) {
    static const std::regex date(R"("genereLe": "[^"]*")");
    return std::regex_replace(texte, date, "\"genereLe\": \"-\"");
}

class CalibragePartiel : public essai::EssaiCalibrage {
protected:
    // The Linux program of this build, without wine in front.
    static essai::Execution lancer_natif(const std::vector<std::string>& arguments) {
        const char* lanceur = std::getenv("BALISOR_LANCEUR");
        const std::string garde = lanceur != nullptr ? lanceur : "";
        unsetenv("BALISOR_LANCEUR");
        auto e = essai::lancer(CALIBRAGE_PROGRAMME_DEFAUT, arguments);
        if (lanceur != nullptr) setenv("BALISOR_LANCEUR", garde.c_str(), 1);
        return e;
    }

    struct Resultat {
        essai::Execution e;
        std::string sortie;  // the --sortie file, "<absent>" when none was written
    };

    // The command on `fichiers` as the cluster driver runs it: each shard (contiguous, by count of files)
    // with --partiel; the first shard that fails is the answer, else the same command on the partials.
    // Every partial is checked as it is written: only "écrit : " on the standard output, and under wine,
    // the native program's very bytes.
    Resultat par_tranches(const std::vector<std::string>& commande, const std::vector<std::string>& fichiers,
                          const std::vector<std::size_t>& tailles) {
        std::vector<std::string> partiels;
        std::size_t debut = 0;
        for (std::size_t n : tailles) {
            const std::string p = dossier_ + "/tranche" + std::to_string(partiels.size()) + ".partiel";
            std::vector<std::string> a = commande;
            a.insert(a.end(), {"--partiel", p});
            a.insert(a.end(), fichiers.begin() + static_cast<std::ptrdiff_t>(debut),
                     fichiers.begin() + static_cast<std::ptrdiff_t>(debut + n));
            debut += n;
            std::filesystem::remove(p);
            const auto e = lancer(a);
            if (e.statut != 0) return {e, "<absent>"};
            EXPECT_EQ(e.sortie, "\u00e9crit : " + p + "\n");
            EXPECT_EQ(e.erreurs, "");
            if (windows()) {
                a[a.size() - n - 1] = p + ".natif";
                const auto natif = lancer_natif(a);
                EXPECT_EQ(natif.statut, 0) << natif.erreurs;
                EXPECT_EQ(lire(p + ".natif"), lire(p)) << "the same bytes from both platforms";
            }
            partiels.push_back(p);
        }
        EXPECT_EQ(debut, fichiers.size());
        std::vector<std::string> a = commande;
        a.insert(a.end(), partiels.begin(), partiels.end());
        return une_fois(a);
    }

    Resultat une_fois(const std::vector<std::string>& arguments) {
        const std::string sortie = dossier_ + "/sortie.json";
        std::filesystem::remove(sortie);
        const auto e = lancer(arguments);
        return {e, std::filesystem::exists(sortie) ? sans_date(lire(sortie)) : "<absent>"};
    }

    void comparer(const std::vector<std::string>& commande, const std::vector<std::string>& fichiers,
                  const std::vector<std::size_t>& tailles) {
        std::string trace;
        for (const std::string& a : commande) trace += a + " ";
        for (std::size_t n : tailles) trace += std::to_string(n) + "|";
        SCOPED_TRACE(trace);
        std::vector<std::string> tout = commande;
        tout.insert(tout.end(), fichiers.begin(), fichiers.end());
        const Resultat attendu = une_fois(tout);
        const Resultat r = par_tranches(commande, fichiers, tailles);
        EXPECT_EQ(r.e.statut, attendu.e.statut);
        EXPECT_EQ(sans_date(r.e.sortie), sans_date(attendu.e.sortie));
        EXPECT_EQ(r.e.erreurs, attendu.e.erreurs);
        EXPECT_EQ(r.sortie, attendu.sortie);
    }

    // Files named in the folder; "mauvais" has a malformed line.
    std::vector<std::string> fichiers(const std::vector<std::pair<std::string, std::string>>& contenus) {
        std::vector<std::string> chemins;
        for (const auto& [nom, contenu] : contenus) chemins.push_back(fichier(nom, contenu));
        return chemins;
    }
};

TEST_F(CalibragePartiel, FusionCommeUnSeulProcessus) {
    // c repeats a's frames: scores tie across shards.
    std::vector<std::string> propres = fichiers({{"a.jsonl", matchs(1, 0, 3)},
                                                 {"b.jsonl", matchs(2, 10, 2)},
                                                 {"c.jsonl", matchs(1, 20, 3)},
                                                 {"d.jsonl", matchs(3, 30, 1)},
                                                 {"e.jsonl", ""}});
    auto melange = propres;
    melange.insert(melange.begin() + 2, fichier("refus.jsonl", matchs(4, 40, 2, true)));
    const std::string rapport = dossier_ + "/rapport.json";
    ASSERT_EQ(lancer({"calibrer", "--cohorte", "c", "--sortie", rapport, propres[1]}).statut, 0);
    const std::string sortie = dossier_ + "/sortie.json";

    const std::vector<std::vector<std::string>> commandes = {
        {"calibrer", "--cohorte", "jeu / souris / 240", "--sortie", sortie},
        {"calibrer", "--cohorte", "c"},
        {"controler", "--sortie", sortie},
        {"controler", "--rapport", rapport, "--sortie", sortie},
    };
    for (const auto& commande : commandes) {
        for (const std::vector<std::string>* liste : {&propres, &melange}) {
            if (liste == &propres && commande[0] == "controler") continue;
            const std::size_t n = liste->size();
            // One shard; a shard of one file; split after the refused batch's file; a shard per file.
            for (const std::vector<std::size_t>& tailles : std::vector<std::vector<std::size_t>>{
                     {n}, {1, n - 1}, {3, 1, n - 4}, std::vector<std::size_t>(n, 1)}) {
                if (windows() && tailles.size() == n) continue;  // each run costs much more under wine
                comparer(commande, *liste, tailles);
            }
        }
    }
}

TEST_F(CalibragePartiel, ErreursDiffereesPuisErreursDeLecture) {
    const auto f = fichiers({{"a.jsonl", matchs(1, 0, 2)},
                             {"refus.jsonl", matchs(2, 10, 2, true)},
                             {"b.jsonl", matchs(3, 20, 2)},
                             {"mauvais.jsonl", matchs(4, 30, 1) + "{\"hit\":1}\n"},
                             {"c.jsonl", matchs(5, 40, 1)}});
    const std::vector<std::string> sans_erreur = {f[0], f[1], f[2], f[4]};
    const std::string absent = dossier_ + "/absent.json";
    const std::string illisible = fichier("illisible.json", "{\"genereLe\":");
    const std::vector<std::vector<std::string>> commandes = {
        {"calibrer", "--cohorte", " \u3000"},  {"calibrer"},
        {"calibrer", "--cohorte", "c"},        {"controler", "--rapport", absent},
        {"controler", "--rapport", illisible},
    };
    for (const auto& commande : commandes) {
        // The deferred error comes out of the merge...
        comparer(commande, sans_erreur, {2, 2});
        comparer(commande, sans_erreur, {1, 3});
        // ... and a reader error in a later shard comes first, out of that shard.
        comparer(commande, f, {2, 3});
        comparer(commande, f, {1, 1, 1, 2});
    }
}

TEST_F(CalibragePartiel, PartielsFautifsNommes) {
    const std::string a = fichier("a.jsonl", matchs(1, 0, 2));
    const std::string rapport = dossier_ + "/rapport.json";
    ASSERT_EQ(lancer({"calibrer", "--cohorte", "c", "--sortie", rapport, a}).statut, 0);
    const auto partiel = [&](const std::string& nom, const std::vector<std::string>& commande) {
        const std::string p = dossier_ + "/" + nom + ".partiel";
        std::vector<std::string> arguments = commande;
        arguments.insert(arguments.end(), {"--partiel", p, a});
        const auto e = lancer(arguments);
        EXPECT_EQ(e.statut, 0) << e.erreurs;
        return p;
    };
    const std::string calibrer = partiel("calibrer", {"calibrer"});
    const std::string controler = partiel("controler", {"controler"});
    const std::string avec_rapport = partiel("avec_rapport", {"controler", "--rapport", rapport});
    const std::string sans_seuils = partiel("sans_seuils", {"controler", "--rapport", dossier_ + "/absent.json"});
    const std::string octets = lire(controler);
    std::string autre = octets;
    autre[8] = 2;
    const std::string version = fichier("version.partiel", autre);
    const std::string tronque = fichier("tronque.partiel", octets.substr(0, octets.size() - 9));
    autre = octets;
    autre[octets.size() / 2] ^= 0x10;
    const std::string corrompu = fichier("corrompu.partiel", autre);
    const std::string p = "r\u00e9sultat partiel ";
    struct Cas {
        std::vector<std::string> commande;
        std::string partiel;
        std::string message;
    };
    const std::vector<Cas> cas = {
        {{"controler"}, calibrer, p + "de calibrer, pas de controler"},
        {{"calibrer", "--cohorte", "c"}, controler, p + "de controler, pas de calibrer"},
        {{"controler"}, version, p + "de version 2 inconnue (ce programme lit la version 1)"},
        {{"controler"},
         tronque,
         p + "tronqu\u00e9 (" + std::to_string(octets.size() - 9) + " octets sur " + std::to_string(octets.size()) +
             " annonc\u00e9s)"},
        {{"controler"}, corrompu, p + "corrompu (somme de contr\u00f4le CRC-32 fausse)"},
        {{"controler"}, avec_rapport, p + "calcul\u00e9 avec d'autres seuils"},
        {{"controler", "--rapport", rapport}, controler, p + "calcul\u00e9 avec d'autres seuils"},
        {{"controler"}, sans_seuils, p + "calcul\u00e9 sans seuils (--rapport illisible)"},
    };
    const std::string sortie = dossier_ + "/sortie.json";
    for (const Cas& c : cas) {
        // In its place: after a good file, before another partial that is also bad.
        std::vector<std::string> arguments = c.commande;
        arguments.insert(arguments.end(), {"--sortie", sortie, a, c.partiel, corrompu});
        const auto e = lancer(arguments);
        EXPECT_EQ(e.statut, 1);
        EXPECT_EQ(e.sortie, "");
        EXPECT_EQ(e.erreurs, c.partiel + " : " + c.message + "\n");
        EXPECT_FALSE(std::filesystem::exists(sortie));
    }
    // Merged as they are with the thresholds they were made with.
    EXPECT_EQ(lancer({"controler", "--rapport", rapport, "--sortie", sortie, avec_rapport, a}).statut, 0);
}

TEST_F(CalibragePartiel, EntreesJamaisRemplacees) {
    const std::string a = fichier("a.jsonl", matchs(1, 0, 2));
    const std::string b = fichier("b.jsonl", matchs(2, 10, 1));
    const std::string rapport = dossier_ + "/rapport.json";
    ASSERT_EQ(lancer({"calibrer", "--cohorte", "c", "--sortie", rapport, a}).statut, 0);
    const std::string avant_a = lire(a);
    const std::string avant_b = lire(b);
    const std::string avant_rapport = lire(rapport);
    const std::string pc = dossier_ + "/calibrer.partiel";
    const std::string pk = dossier_ + "/controler.partiel";
    ASSERT_EQ(lancer({"calibrer", "--partiel", pc, a, b}).statut, 0);
    ASSERT_EQ(lancer({"controler", "--rapport", rapport, "--partiel", pk, a, b}).statut, 0);
    const std::string identique = " : fichier d'entr\u00e9e identique \u00e0 la sortie\n";
    // --partiel on an input, under another name too, or on the report read; or on a file a partial was made
    // from. Refused once the inputs are read, before anything is printed.
    const std::vector<std::pair<std::vector<std::string>, std::string>> cas = {
        {{"calibrer", "--partiel", dossier_ + "/./b.jsonl", a, b}, b},
        {{"controler", "--rapport", rapport, "--partiel", rapport, a}, rapport},
        {{"controler", "--rapport", rapport, "--partiel", pk, pk}, pk},
        {{"calibrer", "--partiel", a, pc}, a},
        {{"controler", "--rapport", rapport, "--partiel", b, b, pk}, b},
    };
    for (const auto& [arguments, entree] : cas) {
        const auto e = lancer(arguments);
        EXPECT_EQ(e.statut, 1) << entree;
        EXPECT_EQ(e.sortie, "");
        EXPECT_EQ(e.erreurs, entree + identique);
    }
    // --sortie on a file a partial was made from: what one process on that file says.
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> sorties = {
        {{"calibrer", "--cohorte", "c", "--sortie", b, pc}, {"calibrer", "--cohorte", "c", "--sortie", b, a, b}},
        {{"controler", "--rapport", rapport, "--sortie", a, pk},
         {"controler", "--rapport", rapport, "--sortie", a, a, b}},
    };
    for (const auto& [fusion, un] : sorties) {
        const auto e = lancer(fusion);
        const auto attendu = lancer(un);
        EXPECT_EQ(e.statut, 1);
        EXPECT_EQ(e.sortie, attendu.sortie);
        EXPECT_EQ(e.erreurs, attendu.erreurs);
        EXPECT_TRUE(e.erreurs.ends_with(identique)) << e.erreurs;
    }
    EXPECT_EQ(lire(a), avant_a);
    EXPECT_EQ(lire(b), avant_b);
    EXPECT_EQ(lire(rapport), avant_rapport);

    // --sortie is not written with --partiel, nor checked; convertir ignores --partiel.
    const std::string p = dossier_ + "/p.partiel";
    const auto e = lancer({"controler", "--sortie", a, "--partiel", p, a});
    EXPECT_EQ(e.statut, 0) << e.erreurs;
    EXPECT_EQ(e.sortie, "\u00e9crit : " + p + "\n");
    EXPECT_EQ(lire(a), avant_a);
    const std::string trames = dossier_ + "/trames.jsonl";
    EXPECT_EQ(lancer({"convertir", "--partiel", dossier_ + "/x", "--sortie", trames, fichier("vide", "")}).statut, 0);
    EXPECT_FALSE(std::filesystem::exists(dossier_ + "/x"));
}

TEST_F(CalibragePartiel, RienDeMoitieEcrit) {
    const std::string a = fichier("a.jsonl", matchs(1, 0, 3));
    const auto contenu = [&] {
        std::vector<std::string> noms;
        for (const auto& e : std::filesystem::directory_iterator(dossier_))
            noms.push_back(e.path().filename().string());
        std::sort(noms.begin(), noms.end());
        return noms;
    };
    // Written, then replaced whole by a second run.
    const std::string p = dossier_ + "/p.partiel";
    ASSERT_EQ(lancer({"controler", "--partiel", p, a}).statut, 0);
    const std::string premier = lire(p);
    ASSERT_EQ(lancer({"calibrer", "--partiel", p, a}).statut, 0);
    EXPECT_NE(lire(p), premier);
    EXPECT_EQ(contenu(), (std::vector<std::string>{"a.jsonl", "p.partiel"}));

    // A folder that does not exist, and a folder in the way of the name: nothing is left.
    const std::string absent = dossier_ + "/absent/p.partiel";
    auto e = lancer({"calibrer", "--partiel", absent, a});
    EXPECT_EQ(e.statut, 1);
    EXPECT_EQ(e.sortie, "");
    EXPECT_EQ(e.erreurs, absent + " : No such file or directory\n");
    std::filesystem::create_directory(dossier_ + "/d");
    e = lancer({"calibrer", "--partiel", dossier_ + "/d", a});
    EXPECT_EQ(e.statut, 1);
    EXPECT_EQ(e.sortie, "");
    EXPECT_TRUE(e.erreurs.starts_with(dossier_ + "/d : ")) << e.erreurs;
    if (!windows()) {
        EXPECT_EQ(e.erreurs, dossier_ + "/d : Is a directory\n");
    }
    EXPECT_EQ(contenu(), (std::vector<std::string>{"a.jsonl", "d", "p.partiel"}));
    EXPECT_TRUE(std::filesystem::is_empty(dossier_ + "/d"));

    // A write that fails half way (files limited to 1 kB): neither the partial nor its temporary remain.
    if (windows()) return;
    const std::string q = dossier_ + "/q.partiel";
    rlimit avant{};
    getrlimit(RLIMIT_FSIZE, &avant);
    const auto signal_avant = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limite = avant;
    limite.rlim_cur = 1000;
    setrlimit(RLIMIT_FSIZE, &limite);
    e = lancer({"calibrer", "--partiel", q, a}, {"CALIBRAGE_MEMOIRE"});  // no spill file either
    setrlimit(RLIMIT_FSIZE, &avant);
    std::signal(SIGXFSZ, signal_avant);
    EXPECT_EQ(e.statut, 1);
    EXPECT_EQ(e.sortie, "");
    EXPECT_EQ(e.erreurs, q + " : File too large\n");
    EXPECT_EQ(contenu(), (std::vector<std::string>{"a.jsonl", "d", "p.partiel"}));
}

}  // namespace
