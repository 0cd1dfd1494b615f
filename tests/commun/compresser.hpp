#pragma once
// Compressed test inputs made with the reference libraries, as the tools that
// store cohorts write them.
#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace essai {

// One gzip member; with a file name in its header when one is given, as gzip's own tool writes it.
inline std::string gzip(std::string_view texte, const char* nom = nullptr) {
    z_stream z{};
    if (deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    gz_header entete{};
    if (nom != nullptr) {
        entete.name = reinterpret_cast<Bytef*>(const_cast<char*>(nom));
        deflateSetHeader(&z, &entete);
    }
    std::string sortie(deflateBound(&z, static_cast<uLong>(texte.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(texte.data()));
    z.avail_in = static_cast<uInt>(texte.size());
    z.next_out = reinterpret_cast<Bytef*>(sortie.data());
    z.avail_out = static_cast<uInt>(sortie.size());
    const int r = deflate(&z, Z_FINISH);
    sortie.resize(z.total_out);
    deflateEnd(&z);
    if (r != Z_STREAM_END) throw std::runtime_error("deflate");
    return sortie;
}

// One zstd frame, with its content checksum.
inline std::string zstd(std::string_view texte) {
    ZSTD_CCtx* c = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1);
    std::string sortie(ZSTD_compressBound(texte.size()), '\0');
    const std::size_t n = ZSTD_compress2(c, sortie.data(), sortie.size(), texte.data(), texte.size());
    ZSTD_freeCCtx(c);
    if (ZSTD_isError(n)) throw std::runtime_error(ZSTD_getErrorName(n));
    sortie.resize(n);
    return sortie;
}

// A skippable zstd frame (magic 0x184D2A5n) carrying `charge`, which readers ignore.
inline std::string zstd_sautable(std::string_view charge, unsigned n = 0) {
    std::string trame;
    const std::uint32_t mots[2] = {0x184D2A50u + (n & 0xF), static_cast<std::uint32_t>(charge.size())};
    for (std::uint32_t mot : mots) {
        for (int i = 0; i < 4; ++i) trame += static_cast<char>((mot >> (8 * i)) & 0xFF);
    }
    return trame + std::string(charge);
}

}  // namespace essai
