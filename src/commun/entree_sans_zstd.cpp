// No zstd library is packaged for the Windows cross build: such a file is
// refused with a clear reason rather than read as text.
#include "commun/decompresseur.hpp"

namespace commun::detail {

std::expected<std::unique_ptr<Decompresseur>, std::string> decompresseur_zstd() {
    return std::unexpected("format non pris en charge par cette version Windows");
}

}  // namespace commun::detail
