// zstd: the reference library's streaming decoder, which goes from one frame
// to the next (skippable ones included) by itself.
#include <zstd.h>

#include "commun/decompresseur.hpp"

namespace commun::detail {

namespace {

class Zstd final : public Decompresseur {
public:
    explicit Zstd(ZSTD_DCtx* contexte) : contexte_(contexte) {}
    Zstd(const Zstd&) = delete;
    Zstd& operator=(const Zstd&) = delete;
    ~Zstd() override { ZSTD_freeDCtx(contexte_); }

    void recommencer() override { ZSTD_DCtx_reset(contexte_, ZSTD_reset_session_only); }

    std::expected<Pas, std::string> decompresser(std::span<const char> entree, std::span<char> sortie) override {
        ZSTD_inBuffer e{entree.data(), entree.size(), 0};
        ZSTD_outBuffer s{sortie.data(), sortie.size(), 0};
        const std::size_t r = ZSTD_decompressStream(contexte_, &s, &e);
        if (ZSTD_isError(r)) return std::unexpected(ZSTD_getErrorName(r));
        // 0: a frame is decoded and flushed.
        return Pas{e.pos, s.pos, r == 0};
    }

private:
    ZSTD_DCtx* contexte_;
};

}  // namespace

std::expected<std::unique_ptr<Decompresseur>, std::string> decompresseur_zstd() {
    ZSTD_DCtx* contexte = ZSTD_createDCtx();
    if (contexte == nullptr) return std::unexpected("out of memory");
    return std::make_unique<Zstd>(contexte);
}

}  // namespace commun::detail
