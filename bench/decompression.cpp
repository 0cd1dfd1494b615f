// Decompression alone, in MB/s of text produced: zlib against ISA-L for gzip (the
// choice of the Linux build), libzstd for zstd, each fed from memory and asked for
// 8 KiB (the line reader's buffer) or 1 MiB at a time; then commun::Entree, the
// reader's way in, from the file (page cache) in 8 KiB reads.
//   decompression <fichier.gz> <fichier.zst> [passes = 5]
#include <isa-l/igzip_lib.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "commun/entree.hpp"

namespace {

std::string contenu(const char* chemin) {
    std::ifstream f(chemin, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

[[noreturn]] void echec(const std::string& texte) {
    std::fprintf(stderr, "%s\n", texte.c_str());
    std::exit(1);
}

// Every member, like the reader.
std::size_t zlib(const std::string& entree, std::size_t bloc) {
    std::vector<char> sortie(bloc);
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) echec("inflateInit2");
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(entree.data()));
    z.avail_in = static_cast<uInt>(entree.size());
    std::size_t total = 0;
    for (;;) {
        z.next_out = reinterpret_cast<Bytef*>(sortie.data());
        z.avail_out = static_cast<uInt>(sortie.size());
        const int r = inflate(&z, Z_NO_FLUSH);
        total += sortie.size() - z.avail_out;
        if (r == Z_STREAM_END) {
            if (z.avail_in == 0) break;
            inflateReset(&z);
        } else if (r != Z_OK) {
            echec("zlib : " + std::to_string(r));
        }
    }
    inflateEnd(&z);
    return total;
}

std::size_t isal(const std::string& entree, std::size_t bloc) {
    std::vector<char> sortie(bloc);
    auto e = std::make_unique<inflate_state>();
    isal_inflate_init(e.get());
    e->crc_flag = ISAL_GZIP;
    e->next_in = reinterpret_cast<std::uint8_t*>(const_cast<char*>(entree.data()));
    e->avail_in = static_cast<std::uint32_t>(entree.size());
    std::size_t total = 0;
    for (;;) {
        e->next_out = reinterpret_cast<std::uint8_t*>(sortie.data());
        e->avail_out = static_cast<std::uint32_t>(sortie.size());
        const int r = isal_inflate(e.get());
        total += sortie.size() - e->avail_out;
        if (r < 0) echec("isa-l : " + std::to_string(r));
        if (e->block_state == ISAL_BLOCK_FINISH) {
            if (e->avail_in == 0) break;
            auto* suite = e->next_in;
            const auto reste = e->avail_in;
            isal_inflate_init(e.get());
            e->crc_flag = ISAL_GZIP;
            e->next_in = suite;
            e->avail_in = reste;
        } else if (e->avail_in == 0 && e->avail_out != 0) {
            echec("isa-l : flux tronqué");
        }
    }
    return total;
}

std::size_t zstd(const std::string& entree, std::size_t bloc) {
    std::vector<char> sortie(bloc);
    ZSTD_DCtx* d = ZSTD_createDCtx();
    ZSTD_inBuffer e{entree.data(), entree.size(), 0};
    std::size_t total = 0;
    for (;;) {
        ZSTD_outBuffer s{sortie.data(), sortie.size(), 0};
        const std::size_t r = ZSTD_decompressStream(d, &s, &e);
        if (ZSTD_isError(r)) echec(ZSTD_getErrorName(r));
        total += s.pos;
        if (r == 0 && e.pos == e.size) break;
    }
    ZSTD_freeDCtx(d);
    return total;
}

std::size_t entree(const std::string& chemin, std::size_t bloc) {
    auto e = commun::Entree::ouvrir(chemin);
    if (!e) echec(e.error());
    std::vector<char> tampon(bloc);
    std::size_t total = 0;
    for (;;) {
        auto n = (*e)->lire(tampon);
        if (!n) echec(n.error());
        if (*n == 0) return total;
        total += *n;
    }
}

// Median MB/s of text produced over the passes.
double mesurer(const std::function<std::size_t()>& passe, int passes) {
    std::vector<double> debits;
    for (int i = 0; i < passes; ++i) {
        const auto debut = std::chrono::steady_clock::now();
        const std::size_t octets = passe();
        const std::chrono::duration<double> duree = std::chrono::steady_clock::now() - debut;
        debits.push_back(static_cast<double>(octets) / 1e6 / duree.count());
    }
    std::sort(debits.begin(), debits.end());
    return debits[debits.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) echec("usage : decompression <fichier.gz> <fichier.zst> [passes = 5]");
    const int passes = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    const std::string gz = contenu(argv[1]);
    const std::string zs = contenu(argv[2]);
    std::printf("décompression seule, débit médian sur %d passes (Mo/s de texte produit)\n", passes);
    for (std::size_t bloc : {std::size_t{8192}, std::size_t{1} << 20}) {
        const double z = mesurer([&] { return zlib(gz, bloc); }, passes);
        const double i = mesurer([&] { return isal(gz, bloc); }, passes);
        const double s = mesurer([&] { return zstd(zs, bloc); }, passes);
        std::printf("  blocs de %7zu o : gzip zlib %6.0f   gzip ISA-L %6.0f (%.2fx zlib)   zstd %6.0f\n", bloc, z, i,
                    i / z, s);
    }
    const double eg = mesurer([&] { return entree(argv[1], 8192); }, passes);
    const double es = mesurer([&] { return entree(argv[2], 8192); }, passes);
    std::printf("  commun::Entree depuis le fichier, lectures de 8 Kio : gzip %6.0f   zstd %6.0f\n", eg, es);
}
