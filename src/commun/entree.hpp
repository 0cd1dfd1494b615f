#pragma once
// Input files read as their decompressed bytes: a cohort is usually stored
// gzip'ed or zstd'ed, and the readers above want its text whatever the name.
#include <atomic>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "commun/fichier.hpp"

namespace commun {

enum class Compression : std::uint8_t { aucune, gzip, zstd };

// What a file's first bytes announce: gzip (1F 8B), zstd (a frame 28 B5 2F FD,
// or a skippable frame 5X 2A 4D 18), else none. Too few bytes: none.
Compression compression_de(std::span<const char> debut);

// Size of a regular file (for a progress total before the files are opened);
// nothing for anything else or on failure.
std::optional<std::uint64_t> taille_fichier(const std::string& chemin);

namespace detail {
class Decompresseur;
}

// An input file as its decompressed bytes, whatever its name: gzip (several
// members included) and zstd (concatenated frames, skippable ones included) are
// recognised by their magic bytes; anything else is passed through unchanged.
class Entree final : public SourceOctets {
public:
    // Error: the system's text, or the format's name and why it cannot be read here.
    static std::expected<std::unique_ptr<Entree>, std::string> ouvrir(const std::string& chemin);

    // Any buffer size; fills it unless the end comes first, 0 only at the true end.
    // A corrupt or truncated stream: "gzip : …" / "zstd : …" with the library's reason.
    std::expected<std::size_t, std::string> lire(std::span<char> tampon) override;

    Compression compression() const { return compression_; }
    // Bytes of the file itself consumed so far; may be read from another thread.
    std::uint64_t octets_lus() const { return octets_lus_.load(std::memory_order_relaxed); }
    // Size of the file, when it is a regular file.
    std::optional<std::uint64_t> taille() const { return taille_; }

    class Cle {
        friend class Entree;
        Cle() = default;
    };
    Entree(Cle, FichierLecture fichier, std::optional<std::uint64_t> taille);
    ~Entree() override;

private:
    std::expected<std::size_t, std::string> lire_fichier(std::span<char> tampon);
    std::expected<std::size_t, std::string> lire_brut(std::span<char> tampon);
    std::expected<std::size_t, std::string> lire_compresse(std::span<char> tampon);
    std::expected<void, std::string> remplir();
    std::string erreur(const std::string& raison) const;

    FichierLecture fichier_;
    Compression compression_;
    std::optional<std::uint64_t> taille_;
    std::atomic<std::uint64_t> octets_lus_{0};
    std::unique_ptr<detail::Decompresseur> decompresseur_;

    // Compressed bytes not yet consumed: [debut_, fin_) of entree_.
    std::vector<char> entree_;
    std::size_t debut_ = 0;
    std::size_t fin_ = 0;
    bool fin_fichier_ = false;
    bool dans_membre_ = false;
    bool termine_ = false;
    // The first failure, given again at every later call (and at the next call
    // when it came after some bytes were handed over).
    std::optional<std::string> erreur_;
};

// `source` read through, telling `avancer` how many bytes of `entree`'s file were consumed since the last
// call (the compressed ones for a compressed file), as a progress line counts them. `vus`: those already
// told. Without `avancer`, only reads.
class SourceSuivie final : public SourceOctets {
public:
    SourceSuivie(SourceOctets& source, const Entree& entree, std::function<void(std::uint64_t)> avancer,
                 std::uint64_t vus = 0)
        : source_(source), entree_(entree), avancer_(std::move(avancer)), vus_(vus) {}
    std::expected<std::size_t, std::string> lire(std::span<char> tampon) override {
        auto n = source_.lire(tampon);
        if (avancer_) {
            const std::uint64_t lus = entree_.octets_lus();
            avancer_(lus - vus_);
            vus_ = lus;
        }
        return n;
    }

private:
    SourceOctets& source_;
    const Entree& entree_;
    std::function<void(std::uint64_t)> avancer_;
    std::uint64_t vus_;
};

}  // namespace commun
