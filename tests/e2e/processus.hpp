#pragma once
// Child processes and a private X server for the tests that need a display.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/dossier_temp.hpp"

namespace essai {

// A child started with posix_spawnp; killed (SIGKILL) and reaped on destruction if still running.
class Processus {
public:
    // `affichage` replaces DISPLAY in the child's environment when not empty. Standard output
    // and error go to the given files ("" for /dev/null).
    static std::optional<Processus> lancer(const std::vector<std::string>& arguments, const std::string& affichage,
                                           const std::string& sortie = "", const std::string& erreurs = "");
    Processus(Processus&& autre) noexcept : pid_(autre.pid_), statut_(autre.statut_) { autre.pid_ = -1; }
    Processus& operator=(Processus&& autre) noexcept {
        std::swap(pid_, autre.pid_);
        std::swap(statut_, autre.statut_);
        return *this;
    }
    ~Processus();

    pid_t pid() const { return pid_; }
    // Exit status, or 128 + signal; none when still running after `delai`.
    std::optional<int> attendre(std::chrono::milliseconds delai);
    bool en_cours();
    void signaler(int signal);

private:
    explicit Processus(pid_t pid) : pid_(pid) {}
    pid_t pid_ = -1;
    std::optional<int> statut_;
};

// A private Xvfb on the first free display from :90 up, stopped by its pid.
class ServeurXPrive {
public:
    static std::optional<ServeurXPrive> demarrer();
    ServeurXPrive(ServeurXPrive&&) noexcept = default;
    ServeurXPrive& operator=(ServeurXPrive&&) noexcept = default;
    // Asks the server to end (it then removes its lock file and socket), killing it only if
    // it does not.
    ~ServeurXPrive();
    const std::string& affichage() const { return affichage_; }

private:
    ServeurXPrive(Processus p, std::string a) : processus_(std::move(p)), affichage_(std::move(a)) {}
    Processus processus_;
    std::string affichage_;
};

struct Execution {
    int statut = -1;
    std::string sortie;
    std::string erreurs;
};

// Runs a command to its end (killed after `delai`), capturing both streams.
Execution executer(const std::vector<std::string>& arguments, const std::string& affichage,
                   std::chrono::milliseconds delai = std::chrono::seconds(60));

// The id of the first top-level window whose process runs `executable`, waiting up to `delai`.
std::optional<std::uint32_t> attendre_fenetre(const std::string& affichage, const std::string& executable,
                                              std::chrono::milliseconds delai);

}  // namespace essai
