#include "bin/calibrage/commandes.hpp"

namespace calibrage {

// Not written yet: each says so rather than pretending to succeed.

std::expected<void, std::string> convertir(const Arguments&, Console) {
    return std::unexpected("commande pas encore disponible : convertir");
}

}  // namespace calibrage
