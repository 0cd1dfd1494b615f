// gzip on Windows: zlib, linked statically (the program imports only system libraries).
#include <zlib.h>

#include <algorithm>
#include <climits>

#include "commun/decompresseur.hpp"

namespace commun::detail {

namespace {

class GzipZlib final : public Decompresseur {
public:
    GzipZlib() = default;
    GzipZlib(const GzipZlib&) = delete;
    GzipZlib& operator=(const GzipZlib&) = delete;
    ~GzipZlib() override {
        if (pret_) inflateEnd(&z_);
    }

    bool initialiser() {
        // 16 + window bits: a gzip wrapper only, its CRC-32 and length checked.
        pret_ = inflateInit2(&z_, 16 + MAX_WBITS) == Z_OK;
        return pret_;
    }

    void recommencer() override { inflateReset(&z_); }

    std::expected<Pas, std::string> decompresser(std::span<const char> entree, std::span<char> sortie) override {
        const auto n_entree = static_cast<uInt>(std::min<std::size_t>(entree.size(), UINT_MAX));
        const auto n_sortie = static_cast<uInt>(std::min<std::size_t>(sortie.size(), UINT_MAX));
        // zlib never writes through next_in.
        z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(entree.data()));
        z_.avail_in = n_entree;
        z_.next_out = reinterpret_cast<Bytef*>(sortie.data());
        z_.avail_out = n_sortie;
        const int r = inflate(&z_, Z_NO_FLUSH);
        // Z_BUF_ERROR: nothing could be done with what was given; the caller sees no progress.
        if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR) {
            if (r == Z_MEM_ERROR) return std::unexpected("out of memory");
            if (r == Z_NEED_DICT) return std::unexpected("preset dictionary required");
            return std::unexpected(z_.msg != nullptr ? z_.msg : "inflate error " + std::to_string(r));
        }
        return Pas{n_entree - z_.avail_in, n_sortie - z_.avail_out, r == Z_STREAM_END};
    }

private:
    z_stream z_{};
    bool pret_ = false;
};

}  // namespace

std::expected<std::unique_ptr<Decompresseur>, std::string> decompresseur_gzip() {
    auto d = std::make_unique<GzipZlib>();
    if (!d->initialiser()) return std::unexpected("out of memory");
    return d;
}

}  // namespace commun::detail
