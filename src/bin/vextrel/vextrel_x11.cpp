// The recording program's system pieces on Linux: X11 windows, TMPDIR, the recording back
// ends, and SIGINT / SIGTERM as stop requests.
#include <semaphore.h>
#include <signal.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "bin/vextrel/fenetres_x11.hpp"
#include "bin/vextrel/programme.hpp"
#include "enregistrement/plateforme.hpp"

namespace vextrel {

namespace {

// Ctrl+C (SIGINT) or SIGTERM: the first asks the recording to stop as if its time were up;
// a further one ends the process at once, by the signal's own default action. The handler
// only touches a lock-free flag, a semaphore and the signal dispositions, all safe there.
std::atomic<bool> arret_demande{false};
static_assert(std::atomic<bool>::is_always_lock_free);
sem_t reveil;

void sur_signal(int numero) {
    if (arret_demande.exchange(true)) {
        struct sigaction defaut {};
        defaut.sa_handler = SIG_DFL;
        sigemptyset(&defaut.sa_mask);
        sigaction(numero, &defaut, nullptr);
        // Blocked while this handler runs: delivered, and fatal, as soon as it returns.
        raise(numero);
        return;
    }
    const int erreur = errno;
    sem_post(&reveil);
    errno = erreur;
}

void installer_arret() {
    sem_init(&reveil, 0, 0);
    struct sigaction action {};
    action.sa_handler = sur_signal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    action.sa_flags = SA_RESTART;
    for (const int numero : {SIGINT, SIGTERM}) {
        // A signal the parent told us to ignore (a background job) stays ignored.
        struct sigaction actuelle {};
        if (sigaction(numero, nullptr, &actuelle) == 0 && actuelle.sa_handler == SIG_IGN) {
            continue;
        }
        sigaction(numero, &action, nullptr);
    }
}

class PlateformeVextrelX11 : public PlateformeVextrel {
public:
    PlateformeVextrelX11() { installer_arret(); }

    std::filesystem::path dossier_temporaire() override {
        const char* tmpdir = std::getenv("TMPDIR");
        if (tmpdir != nullptr && tmpdir[0] != '\0') {
            return std::filesystem::path(tmpdir);
        }
        return std::filesystem::path("/tmp");
    }

    Fenetres& fenetres() override {
        if (!fenetres_) {
            // No display means no window to find: the lookup then fails as for an absent process.
            auto connexion = capture::ConnexionX11::ouvrir();
            fenetres_ = std::make_unique<FenetresX11>(
                connexion ? std::optional<capture::ConnexionX11>(std::move(*connexion)) : std::nullopt);
        }
        return *fenetres_;
    }

    // One second on the monotonic clock, or less when a stop request posts the semaphore.
    FinAttente attendre_une_seconde() override {
        timespec echeance{};
        clock_gettime(CLOCK_MONOTONIC, &echeance);
        echeance.tv_sec += 1;
        while (!arret_demande.load()) {
            if (sem_clockwait(&reveil, CLOCK_MONOTONIC, &echeance) != 0 && errno != EINTR) {
                if (errno != ETIMEDOUT) {
                    // The semaphore refuses to wait: a plain sleep still makes the second.
                    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &echeance, nullptr) == EINTR) {
                    }
                }
                return arret_demande.load() ? FinAttente::arret_demande : FinAttente::ecoulee;
            }
            // Posted (the flag is then set) or interrupted by another signal: look again.
        }
        return FinAttente::arret_demande;
    }

    std::shared_ptr<enregistrement::Plateforme> enregistrement() override {
        return enregistrement::plateforme_systeme();
    }

private:
    std::unique_ptr<FenetresX11> fenetres_;
};

}  // namespace

std::unique_ptr<PlateformeVextrel> plateforme_vextrel() { return std::make_unique<PlateformeVextrelX11>(); }

}  // namespace vextrel
