#include "bin/calibrage/commandes.hpp"

namespace calibrage {

// Not written yet: each says so rather than pretending to succeed.

std::expected<void, std::string> calibrer(const Arguments&, const std::vector<comportement::LotTrames>&, Console) {
    return std::unexpected("commande pas encore disponible : calibrer");
}

std::expected<void, std::string> controler(const Arguments&, const std::vector<comportement::LotTrames>&, Console) {
    return std::unexpected("commande pas encore disponible : controler");
}


}  // namespace calibrage
