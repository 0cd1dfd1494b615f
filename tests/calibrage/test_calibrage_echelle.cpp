// calibrer and controler on every thread and within a memory budget (CALIBRAGE_FILS, CALIBRAGE_MEMOIRE):
// the same bytes out as on one thread with no budget, refused settings, spills that leave nothing behind,
// and memory that stays within the budget.
#include <cerrno>
#include <csignal>
#include <fstream>
#include <iterator>
#include <cstdint>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "comportement/ecriture_telemetrie.hpp"
#include "lanceur.hpp"

extern char** environ;

namespace {

using comportement::TrameTelemetrie;

// Matches of several players with ids of real-world length, frames of one tick interleaved, some CR LF
// and blank lines. `invalide`: one batch repeats a timestamp.
std::string cohorte(int graine, int matchs, int joueurs, int trames, bool invalide) {
    std::uint64_t etat = static_cast<std::uint64_t>(graine) * std::uint64_t{0x9e3779b97f4a7c15} + 1;
    const auto alea = [&] {
        etat = etat * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<int>((etat >> 33) % 1000);
    };
    std::string texte;
    for (int m = 0; m < matchs; ++m) {
        std::vector<double> yaw(static_cast<std::size_t>(joueurs), 0.0);
        for (int k = 0; k < trames; ++k) {
            for (int p = 0; p < joueurs; ++p) {
                TrameTelemetrie t;
                t.matchId = "match-2025-12-07-" + std::to_string(graine) + "-" + std::to_string(m);
                t.playerId = "76561198" + std::to_string(100000000 + p * 7919);
                t.timestampMs = 1'765'000'000'000LL + 16 * k + (invalide && m == 0 && p == 1 && k == 5 ? -16 : 0);
                yaw[static_cast<std::size_t>(p)] += (alea() - 500) / 40.0;
                t.yawDeg = yaw[static_cast<std::size_t>(p)];
                t.pitchDeg = (alea() - 500) / 100.0;
                if (alea() < 500) {
                    t.targetId = "76561198" + std::to_string(100000000 + ((p + 1) % joueurs) * 7919);
                    t.targetVisible = alea() < 700;
                    t.targetOccluded = !t.targetVisible;
                    t.targetAngularErrorDeg = alea() / 40.0;
                    t.targetAngularSpeedDegPerSec = alea() / 10.0;
                }
                t.shotFired = alea() < 40;
                t.weaponId = alea() < 500 ? "weapon_ak47" : "weapon_m4a1_silencer";
                comportement::ajouter_trame_json(texte, t);
                texte += alea() < 300 ? "\r\n" : "\n";
                if (alea() < 5) texte += " \n";
            }
        }
    }
    return texte;
}

std::string sans_date(std::string texte) {
    static const std::regex date(R"("genereLe": "[^"]*")");
    return std::regex_replace(texte, date, "\"genereLe\": \"-\"");
}

class CalibrageEchelle : public essai::EssaiCalibrage {
protected:
    static bool sanitiseurs() {
#if defined(__SANITIZE_ADDRESS__)
        return true;
#else
        return false;
#endif
    }
    std::string temporaire() {
        const std::string d = dossier_ + "/tmp";
        std::filesystem::create_directories(d);
        return d;
    }
};

TEST_F(CalibrageEchelle, MemesOctetsQuelsQueSoientFilsEtMemoire) {
    // About 2 MB of frames in memory: 1 MiB is spilled, every batch.
    const std::string a = fichier("a.jsonl", cohorte(1, 3, 5, 300, false));
    const std::string b = fichier("b.jsonl", cohorte(2, 2, 6, 400, false));
    const std::string c = fichier("c.jsonl", cohorte(3, 3, 4, 300, true));
    const std::string mauvais = fichier("mauvais.jsonl", cohorte(4, 1, 3, 50, false) + "{\"hit\":1}\n");
    const std::string rapport = dossier_ + "/rapport.json";
    const std::string sortie = dossier_ + "/sortie.json";
    const std::string tmp = temporaire();
    const auto r =
        lancer({"calibrer", "--cohorte", "c", "--sortie", rapport, a, b}, {"CALIBRAGE_FILS=1", "CALIBRAGE_MEMOIRE"});
    ASSERT_EQ(r.statut, 0) << r.erreurs;

    const std::vector<std::vector<std::string>> commandes = {
        {"calibrer", "--cohorte", "c", a, b},
        {"calibrer", "--cohorte", "c", "--sortie", sortie, b, a, c},
        {"controler", a, c, b},
        {"controler", "--rapport", rapport, "--sortie", sortie, c, b, a},
        {"controler", a, b, mauvais, c},
        {"calibrer", "--cohorte", " ", a, mauvais},
    };
    std::vector<std::vector<std::string>> reglages = {
        {"CALIBRAGE_FILS=7"},
        {"CALIBRAGE_FILS=2", "CALIBRAGE_MEMOIRE=1"},
    };
    // Each run costs much more under wine: there the two settings that differ most are enough.
    if (!windows()) {
        reglages.push_back({"CALIBRAGE_FILS=2"});
        reglages.push_back({"CALIBRAGE_FILS=1", "CALIBRAGE_MEMOIRE=1"});
        reglages.push_back({"CALIBRAGE_FILS=7", "CALIBRAGE_MEMOIRE=1"});
    }
    for (const auto& commande : commandes) {
        std::filesystem::remove(sortie);
        const auto attendu = lancer(commande, {"CALIBRAGE_FILS=1", "CALIBRAGE_MEMOIRE", "TMPDIR=" + tmp});
        const std::string fichier_attendu = std::filesystem::exists(sortie) ? sans_date(lire(sortie)) : "<absent>";
        for (const auto& reglage : reglages) {
            SCOPED_TRACE(commande[0] + " " + commande[1] + ", " + reglage.back());
            std::vector<std::string> env = reglage;
            env.push_back("TMPDIR=" + tmp);
            std::filesystem::remove(sortie);
            const auto e = lancer(commande, env);
            EXPECT_EQ(e.statut, attendu.statut);
            EXPECT_EQ(sans_date(e.sortie), sans_date(attendu.sortie));
            EXPECT_EQ(e.erreurs, attendu.erreurs);
            EXPECT_EQ(std::filesystem::exists(sortie) ? sans_date(lire(sortie)) : "<absent>", fichier_attendu);
            // The spill files went with the run (wine keeps its own folder there).
            if (!windows()) {
                EXPECT_TRUE(std::filesystem::is_empty(tmp));
            }
        }
    }

    // With 1 MiB these runs do spill: a temporary directory that cannot be written is then an error
    // naming it, and nothing is written.
    if (windows()) return;  // GetTempPath2W reads TMP and TEMP, which wine sets itself
    const std::string absent = dossier_ + "/absent";
    for (const char* fils : {"CALIBRAGE_FILS=1", "CALIBRAGE_FILS=3"}) {
        std::filesystem::remove(sortie);
        const auto e =
            lancer({"controler", "--sortie", sortie, a, b}, {fils, "CALIBRAGE_MEMOIRE=1", "TMPDIR=" + absent});
        EXPECT_EQ(e.statut, 1) << fils;
        EXPECT_EQ(e.sortie, "") << fils;
        EXPECT_EQ(e.erreurs, absent + " : No such file or directory\n") << fils;
        EXPECT_FALSE(std::filesystem::exists(sortie)) << fils;
    }
}

TEST_F(CalibrageEchelle, ReglagesRefuses) {
    const std::string f = fichier("f.jsonl", cohorte(1, 1, 2, 10, false));
    const std::string sortie = dossier_ + "/sortie.json";
    std::vector<std::string> mauvais = {"0", "-1", " 4", "18446744073709551616"};
    std::vector<std::string> commandes = {"controler"};
    if (!windows()) {
        mauvais.insert(mauvais.end(), {"+4", "4 ", "", "deux", "1.5", "0x10"});  // wine drops empty variables
        commandes.insert(commandes.end(), {"calibrer", "inconnue"});
    }
    for (const std::string variable : {"CALIBRAGE_FILS", "CALIBRAGE_MEMOIRE"}) {
        for (const std::string& valeur : mauvais) {
            for (const std::string& commande : commandes) {
                SCOPED_TRACE(variable + "=\"" + valeur + "\" " + commande);
                // Checked before any file is read: a missing file does not come first.
                const auto e = lancer({commande, "--cohorte", "c", "--sortie", sortie, f, dossier_ + "/absent.jsonl"},
                                      {variable + "=" + valeur});
                EXPECT_EQ(e.statut, 1);
                EXPECT_EQ(e.sortie, "");
                EXPECT_EQ(e.erreurs, variable + " : entier positif attendu\n");
                EXPECT_FALSE(std::filesystem::exists(sortie));
            }
        }
    }
    // A budget whose bytes do not fit in 64 bits.
    const auto e = lancer({"controler", f}, {"CALIBRAGE_MEMOIRE=17592186044416"});
    EXPECT_EQ(e.erreurs, "CALIBRAGE_MEMOIRE : entier positif attendu\n");
    // Argument errors come first; convertir uses neither.
    EXPECT_EQ(lancer({"controler", "--x"}, {"CALIBRAGE_FILS=0"}).erreurs,
              "option inconnue : --x\n" + essai::usage_calibrage + "\n");
    const auto conversion = lancer({"convertir", "--sortie", sortie, fichier("vide.jsonl", "")},
                                   {"CALIBRAGE_FILS=0", "CALIBRAGE_MEMOIRE=x"});
    EXPECT_EQ(conversion.statut, 0) << conversion.erreurs;
    // Leading zeros are still a positive integer.
    EXPECT_EQ(lancer({"controler", "--sortie", sortie, f}, {"CALIBRAGE_FILS=007", "CALIBRAGE_MEMOIRE=0064"}).statut, 0);
}

// Run with its output in files, for its peak resident memory. Forked rather than spawned: a child that
// shares its parent's memory until exec inherits the parent's peak in its own, while a forked copy only
// brings the parent's current size (kept small here).
essai::Execution mesurer(const std::vector<std::string>& arguments, const std::vector<std::string>& environnement,
                         const std::string& dossier) {
    std::vector<std::string> ligne = arguments;
    std::vector<char*> argv;
    for (auto& a : ligne) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables = essai::environnement_avec(environnement);
    std::vector<char*> envp;
    for (auto& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    const std::string sortie = dossier + "/mesure.out";
    const std::string erreurs = dossier + "/mesure.err";
    const pid_t pid = fork();
    if (pid == 0) {
        const int o = open(sortie.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = open(erreurs.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(o, 1);
        dup2(e, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    essai::Execution x;
    int etat = 0;
    rusage usage{};
    while (wait4(pid, &etat, 0, &usage) < 0 && errno == EINTR) {
    }
    x.statut = WIFEXITED(etat) ? WEXITSTATUS(etat) : -1;
    x.pic_kio = usage.ru_maxrss;
    const auto lire = [](const std::string& chemin) {
        std::ifstream f(chemin, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    };
    x.sortie = lire(sortie);
    x.erreurs = lire(erreurs);
    return x;
}

// Started without waiting, its output thrown away.
pid_t demarrer(const std::vector<std::string>& arguments, const std::vector<std::string>& environnement) {
    std::vector<std::string> ligne = arguments;
    std::vector<char*> argv;
    for (auto& a : ligne) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables = essai::environnement_avec(environnement);
    std::vector<char*> envp;
    for (auto& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd : {0, 1, 2}) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    pid_t pid = 0;
    const int r = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return r == 0 ? pid : -1;
}

// Whether the process has a file of `dossier` open.
bool fichier_ouvert_dans(pid_t pid, const std::string& dossier) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::error_code ec2;
        const auto cible = std::filesystem::read_symlink(e.path(), ec2);
        if (!ec2 && cible.string().starts_with(dossier + "/")) return true;
    }
    return false;
}

TEST_F(CalibrageEchelle, InterrompuPendantUnDebordement) {
    if (windows() || std::getenv("BALISOR_LANCEUR") != nullptr) GTEST_SKIP() << "signals and /proc: Linux only";
    const std::string f = fichier("f.jsonl", cohorte(5, 4, 8, 400, false));
    const std::string tmp = temporaire();
    std::vector<std::string> arguments = {programme(), "controler"};
    for (int k = 0; k < 40; ++k) arguments.push_back(f);
    const pid_t pid = demarrer(arguments, {"CALIBRAGE_FILS=2", "CALIBRAGE_MEMOIRE=1", "TMPDIR=" + tmp});
    ASSERT_GT(pid, 0);
    bool vu = false;
    for (int k = 0; k < 20000 && !vu; ++k) {
        vu = fichier_ouvert_dans(pid, tmp);
        if (!vu) std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    kill(pid, SIGINT);
    int etat = 0;
    waitpid(pid, &etat, 0);
    ASSERT_TRUE(vu) << "no spill file seen";
    EXPECT_TRUE(WIFSIGNALED(etat) && WTERMSIG(etat) == SIGINT);
    EXPECT_TRUE(std::filesystem::is_empty(tmp));
}

TEST_F(CalibrageEchelle, MemoireBornee) {
    if (windows() || std::getenv("BALISOR_LANCEUR") != nullptr || sanitiseurs()) {
        GTEST_SKIP() << "peak resident memory of the native program only";
    }
    // Written a piece at a time: this process stays small.
    const std::string f = dossier_ + "/vides.jsonl";
    {
        std::ofstream o(f, std::ios::binary);
        const std::string mille = [] {
            std::string t;
            for (int k = 0; k < 1000; ++k) t += "{}\n";
            return t;
        }();
        for (int k = 0; k < 3334; ++k) o << mille;
    }
    // 10 MB of empty objects: 3.3 million frames of one batch that validation refuses.
    const auto e = mesurer({programme(), "controler", f}, {"CALIBRAGE_MEMOIRE=512"}, dossier_);
    EXPECT_EQ(e.statut, 0) << e.erreurs;
    EXPECT_TRUE(e.erreurs.starts_with(
        "seuils par défaut du moteur (pas de --rapport)\n0 match(s) analysés (1 invalides ignorés)"))
        << e.erreurs;
    EXPECT_LT(e.pic_kio, 512 * 1024);

    // A cohort that holds about 20 MB in memory, run within 8 MiB: the spill keeps the process within the
    // budget plus what does not depend on the data (program, threads, a batch being analysed).
    constexpr long kMarge = 24 * 1024;
    const std::string g = dossier_ + "/g.jsonl";
    {
        std::ofstream o(g, std::ios::binary);
        for (int k = 0; k < 8; ++k) o << cohorte(6 + k, 1, 10, 3000, false);
    }
    const std::string tmp = temporaire();
    const auto libre = mesurer({programme(), "controler", g}, {"CALIBRAGE_FILS=2", "CALIBRAGE_MEMOIRE"}, dossier_);
    const auto borne =
        mesurer({programme(), "controler", g}, {"CALIBRAGE_FILS=2", "CALIBRAGE_MEMOIRE=8", "TMPDIR=" + tmp}, dossier_);
    EXPECT_EQ(borne.statut, 0) << borne.erreurs;
    EXPECT_EQ(borne.sortie, libre.sortie);
    EXPECT_LT(borne.pic_kio, 8 * 1024 + kMarge);
    EXPECT_GT(libre.pic_kio, 8 * 1024 + kMarge) << "the data must not fit in the budget for this to tell anything";
}

}  // namespace
