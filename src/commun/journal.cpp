#include "commun/journal.hpp"

#include <mutex>
#include <utility>

namespace commun::journal {

namespace {
std::mutex verrou;
Puits puits_installe;
}  // namespace

void installer_puits(Puits puits) {
    std::lock_guard garde(verrou);
    puits_installe = std::move(puits);
}

void ecrire(Niveau niveau, std::string_view cible, std::string_view message) {
    std::lock_guard garde(verrou);
    if (puits_installe) {
        puits_installe(niveau, cible, message);
    }
}

}  // namespace commun::journal
