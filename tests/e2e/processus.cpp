#include "processus.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "bin/vextrel/fenetres_x11.hpp"
#include "capture/affichage_x11.hpp"

extern char** environ;

namespace essai {

std::optional<Processus> Processus::lancer(const std::vector<std::string>& arguments, const std::string& affichage,
                                           const std::string& sortie, const std::string& erreurs) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (affichage.empty() || std::strncmp(*e, "DISPLAY=", 8) != 0) {
            env.emplace_back(*e);
        }
    }
    if (!affichage.empty()) {
        env.push_back("DISPLAY=" + affichage);
    }
    std::vector<char*> argv;
    for (const auto& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, sortie.empty() ? "/dev/null" : sortie.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, erreurs.empty() ? "/dev/null" : erreurs.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int r = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0) {
        return std::nullopt;
    }
    return Processus(pid);
}

Processus::~Processus() {
    if (pid_ > 0 && en_cours()) {
        kill(pid_, SIGKILL);
        attendre(std::chrono::seconds(10));
    }
}

std::optional<int> Processus::attendre(std::chrono::milliseconds delai) {
    if (pid_ <= 0) {
        return statut_.value_or(-1);  // moved from: waitpid(-1) would reap any child
    }
    const auto fin = std::chrono::steady_clock::now() + delai;
    while (!statut_) {
        int etat = 0;
        const pid_t r = waitpid(pid_, &etat, WNOHANG);
        if (r == pid_) {
            statut_ = WIFEXITED(etat) ? WEXITSTATUS(etat) : 128 + WTERMSIG(etat);
            break;
        }
        if (r < 0) {
            statut_ = -1;
            break;
        }
        if (std::chrono::steady_clock::now() >= fin) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return statut_;
}

bool Processus::en_cours() { return !attendre(std::chrono::milliseconds(0)).has_value(); }

void Processus::signaler(int signal) {
    if (pid_ > 0 && en_cours()) {
        kill(pid_, signal);
    }
}

namespace {

// The pid written in a display's lock file; 0 when there is none.
long pid_du_verrou(const std::string& n) {
    std::ifstream verrou("/tmp/.X" + n + "-lock");
    long pid = 0;
    if (verrou) {
        verrou >> pid;
    }
    return pid;
}

// A display is taken while the process named in its lock file lives; a stale lock (a server
// that was killed) is cleared by the next server that starts there.
bool affichage_pris(const std::string& n) {
    const long pid = pid_du_verrou(n);
    return pid != 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH);
}

}  // namespace

ServeurXPrive::~ServeurXPrive() {
    processus_.signaler(SIGTERM);
    if (!processus_.attendre(std::chrono::seconds(5))) {
        processus_.signaler(SIGKILL);
    }
}

std::optional<ServeurXPrive> ServeurXPrive::demarrer() {
    for (int numero = 90; numero < 190; ++numero) {
        const std::string n = std::to_string(numero);
        if (affichage_pris(n)) {
            continue;
        }
        const std::string affichage = ":" + n;
        auto p =
            Processus::lancer({"Xvfb", affichage, "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"}, "");
        if (!p) {
            return std::nullopt;
        }
        // Ours once the lock names our server (tests running in parallel may have raced for the
        // same number, and the socket may then be the other one's); ready when a client can
        // connect. A server that lost the race ends at once.
        const auto fin = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < fin && p->en_cours()) {
            const long proprietaire = pid_du_verrou(n);
            if (proprietaire != 0 && proprietaire != p->pid()) {
                break;
            }
            if (proprietaire == p->pid() && std::filesystem::exists("/tmp/.X11-unix/X" + n)) {
                xcb_connection_t* c = xcb_connect(affichage.c_str(), nullptr);
                const bool pret = xcb_connection_has_error(c) == 0;
                xcb_disconnect(c);
                if (pret) {
                    return ServeurXPrive(std::move(*p), affichage);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    return std::nullopt;
}

Execution executer(const std::vector<std::string>& arguments, const std::string& affichage,
                   std::chrono::milliseconds delai) {
    Execution e;
    const DossierTemp dossier;
    const std::string sortie = (dossier / "sortie").string();
    const std::string erreurs = (dossier / "erreurs").string();
    auto p = Processus::lancer(arguments, affichage, sortie, erreurs);
    if (!p) {
        return e;
    }
    auto statut = p->attendre(delai);
    if (!statut) {
        p->signaler(SIGKILL);
        statut = p->attendre(std::chrono::seconds(10));
    }
    e.statut = statut.value_or(-1);
    e.sortie = lire_fichier(sortie);
    e.erreurs = lire_fichier(erreurs);
    return e;
}

std::optional<std::uint32_t> attendre_fenetre(const std::string& affichage, const std::string& executable,
                                              std::chrono::milliseconds delai) {
    auto connexion = capture::ConnexionX11::ouvrir(affichage.c_str());
    if (!connexion) {
        return std::nullopt;
    }
    const auto fin = std::chrono::steady_clock::now() + delai;
    do {
        for (const auto& f : vextrel::enumerer_fenetres_x11(connexion->get(), connexion->racine())) {
            if (f.visible && vextrel::executable_du_processus(f.pid) == executable) {
                return f.id;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < fin);
    return std::nullopt;
}

}  // namespace essai
