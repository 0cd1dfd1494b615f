#pragma once
// The decompression libraries behind commun::Entree, one per format and platform.
#include <expected>
#include <memory>
#include <span>
#include <string>

namespace commun::detail {

// One decompression library behind the reading loop of Entree.
class Decompresseur {
public:
    struct Pas {
        std::size_t lus = 0;     // input bytes consumed
        std::size_t ecrits = 0;  // output bytes produced
        bool fin = false;        // a gzip member or zstd frame is complete, all of it written
    };
    virtual ~Decompresseur() = default;
    // The error is the library's reason, without the format's name.
    virtual std::expected<Pas, std::string> decompresser(std::span<const char> entree, std::span<char> sortie) = 0;
    // Before the next member or frame.
    virtual void recommencer() = 0;
};

// One per format, from the library the platform builds with; the error says why
// there is none.
std::expected<std::unique_ptr<Decompresseur>, std::string> decompresseur_gzip();
std::expected<std::unique_ptr<Decompresseur>, std::string> decompresseur_zstd();

}  // namespace commun::detail
