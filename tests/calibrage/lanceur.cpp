#include "lanceur.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace essai {

std::string programme_sous_test(const char* variable, const char* defaut) {
    const char* valeur = std::getenv(variable);
    return valeur != nullptr && *valeur != '\0' ? valeur : defaut;
}

std::vector<std::string> environnement_avec(const std::vector<std::string>& environnement) {
    const auto nom = [](const std::string& v) { return v.substr(0, v.find('=')); };
    std::vector<std::string> e;
    for (char** v = environ; *v != nullptr; ++v) {
        const std::string variable = *v;
        const bool remplacee = std::any_of(environnement.begin(), environnement.end(),
                                           [&](const std::string& x) { return nom(x) == nom(variable); });
        if (!remplacee) e.push_back(variable);
    }
    for (const std::string& x : environnement) {
        if (x.find('=') != std::string::npos) e.push_back(x);
    }
    return e;
}

Execution lancer(const std::string& programme, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environnement) {
    std::vector<std::string> ligne;
    if (const char* lanceur = std::getenv("BALISOR_LANCEUR"); lanceur != nullptr) {
        std::istringstream mots(lanceur);
        for (std::string mot; mots >> mot;) ligne.push_back(mot);
    }
    ligne.push_back(programme);
    ligne.insert(ligne.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : ligne) argv.push_back(a.data());
    argv.push_back(nullptr);

    int tube_sortie[2];
    int tube_erreurs[2];
    if (pipe(tube_sortie) != 0 || pipe(tube_erreurs) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, tube_sortie[1], 1);
    posix_spawn_file_actions_adddup2(&actions, tube_erreurs[1], 2);
    for (int fd : {tube_sortie[0], tube_sortie[1], tube_erreurs[0], tube_erreurs[1]}) {
        posix_spawn_file_actions_addclose(&actions, fd);
    }
    std::vector<std::string> variables = environnement_avec(environnement);
    std::vector<char*> envp;
    for (auto& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    const int r = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(tube_sortie[1]);
    close(tube_erreurs[1]);
    if (r != 0) {
        close(tube_sortie[0]);
        close(tube_erreurs[0]);
        throw std::runtime_error("cannot start " + ligne[0] + ": " + std::strerror(r));
    }

    // Both pipes at once, so a full one cannot block the program.
    Execution e;
    pollfd fds[2] = {{tube_sortie[0], POLLIN, 0}, {tube_erreurs[0], POLLIN, 0}};
    std::string* cibles[2] = {&e.sortie, &e.erreurs};
    int ouverts = 2;
    char tampon[65536];
    while (ouverts > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = read(fds[i].fd, tampon, sizeof tampon);
            if (n > 0) {
                cibles[i]->append(tampon, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --ouverts;
            }
        }
    }
    int etat = 0;
    rusage usage{};
    while (wait4(pid, &etat, 0, &usage) < 0 && errno == EINTR) {
    }
    e.statut = WIFEXITED(etat) ? WEXITSTATUS(etat) : -1;
    e.signal = WIFSIGNALED(etat) ? WTERMSIG(etat) : 0;
    e.pic_kio = usage.ru_maxrss;
    return e;
}

const std::string usage_calibrage =
    "usage :\n"
    "  calibrage calibrer --cohorte \"<jeu / p\u00e9riph\u00e9rique / fps>\" [--sortie rapport.json] "
    "<fichier.jsonl>\u2026\n"
    "  calibrage controler [--rapport rapport.json] [--sortie controle.json] <fichier.jsonl>\u2026\n"
    "  calibrage convertir --sortie trames.jsonl <instantanes.jsonl>\u2026";

std::string EssaiCalibrage::programme() {
    return programme_sous_test("CALIBRAGE_PROGRAMME", CALIBRAGE_PROGRAMME_DEFAUT);
}

Execution EssaiCalibrage::lancer(const std::vector<std::string>& arguments,
                                 const std::vector<std::string>& environnement) {
    return essai::lancer(programme(), arguments, environnement);
}

}  // namespace essai
