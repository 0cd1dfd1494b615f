#include "commun/entree.hpp"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "commun/decompresseur.hpp"

namespace commun {

namespace {

// Large enough that the decompressor, not the system calls, sets the pace.
constexpr std::size_t taille_tampon_compresse = std::size_t{256} * 1024;
// The longest magic number looked at.
constexpr std::size_t taille_signature = 4;
// The longest zstd frame header (ZSTD_FRAMEHEADERSIZE_MAX).
constexpr std::size_t taille_entete_zstd = 18;

std::filesystem::path chemin_fs(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

const char* nom_format(Compression c) { return c == Compression::gzip ? "gzip" : "zstd"; }

}  // namespace

Compression compression_de(std::span<const char> debut) {
    const auto octet = [&](std::size_t i) { return static_cast<unsigned char>(debut[i]); };
    if (debut.size() >= 2 && octet(0) == 0x1F && octet(1) == 0x8B) return Compression::gzip;
    if (debut.size() >= 4) {
        if (octet(0) == 0x28 && octet(1) == 0xB5 && octet(2) == 0x2F && octet(3) == 0xFD) return Compression::zstd;
        // Skippable frames (magic 0x184D2A50 to 0x184D2A5F, little-endian) may come first.
        if ((octet(0) & 0xF0) == 0x50 && octet(1) == 0x2A && octet(2) == 0x4D && octet(3) == 0x18) {
            return Compression::zstd;
        }
    }
    return Compression::aucune;
}

std::optional<std::uint64_t> taille_fichier(const std::string& chemin) {
    std::error_code ec;
    const std::filesystem::path p = chemin_fs(chemin);
    if (!std::filesystem::is_regular_file(p, ec)) return std::nullopt;
    const std::uintmax_t n = std::filesystem::file_size(p, ec);
    if (ec) return std::nullopt;
    return static_cast<std::uint64_t>(n);
}

Entree::Entree(Cle, FichierLecture fichier, std::optional<std::uint64_t> taille)
    : fichier_(std::move(fichier)), compression_(Compression::aucune), taille_(taille) {}

Entree::~Entree() = default;

std::expected<std::unique_ptr<Entree>, std::string> Entree::ouvrir(const std::string& chemin) {
    auto fichier = FichierLecture::ouvrir(chemin);
    if (!fichier) return std::unexpected(std::move(fichier.error()));
    auto entree = std::make_unique<Entree>(Cle{}, std::move(*fichier), taille_fichier(chemin));
    Entree& e = *entree;
    e.entree_.resize(taille_signature);
    auto n = e.lire_fichier(e.entree_);
    if (!n) {
        // A directory opens on some systems and fails at the first read: the
        // reader reports that failure where it always has, at its first read.
        e.erreur_ = std::move(n.error());
        return entree;
    }
    e.fin_ = *n;
    e.compression_ = compression_de(std::span(e.entree_.data(), e.fin_));
    if (e.compression_ == Compression::aucune) return entree;

    auto d = e.compression_ == Compression::gzip ? detail::decompresseur_gzip() : detail::decompresseur_zstd();
    if (!d) return std::unexpected(e.erreur(d.error()));
    e.decompresseur_ = std::move(*d);
    e.entree_.resize(taille_tampon_compresse);
    return entree;
}

std::expected<std::size_t, std::string> Entree::lire(std::span<char> tampon) {
    // A failed stream stays failed.
    if (erreur_) return std::unexpected(*erreur_);
    return compression_ == Compression::aucune ? lire_brut(tampon) : lire_compresse(tampon);
}

std::expected<std::size_t, std::string> Entree::lire_fichier(std::span<char> tampon) {
    auto n = fichier_.lire(tampon);
    if (n) octets_lus_.fetch_add(*n, std::memory_order_relaxed);
    return n;
}

std::expected<std::size_t, std::string> Entree::lire_brut(std::span<char> tampon) {
    // The magic bytes read at the opening come first.
    std::size_t n = 0;
    if (debut_ < fin_) {
        n = std::min(tampon.size(), fin_ - debut_);
        std::memcpy(tampon.data(), entree_.data() + debut_, n);
        debut_ += n;
        if (n == tampon.size()) return n;
    }
    auto suite = lire_fichier(tampon.subspan(n));
    if (!suite) {
        if (n == 0) return std::unexpected(std::move(suite.error()));
        erreur_ = std::move(suite.error());
        return n;
    }
    return n + *suite;
}

std::expected<void, std::string> Entree::remplir() {
    if (debut_ > 0) {
        std::memmove(entree_.data(), entree_.data() + debut_, fin_ - debut_);
        fin_ -= debut_;
        debut_ = 0;
    }
    if (fin_ == entree_.size()) {
        // A whole buffer the decompressor would not touch: never seen, but a loop must not hang on it.
        return std::unexpected(erreur("le décompresseur n'avance plus"));
    }
    auto n = lire_fichier(std::span(entree_.data() + fin_, entree_.size() - fin_));
    if (!n) return std::unexpected(std::move(n.error()));
    fin_ += *n;
    fin_fichier_ = *n == 0;
    return {};
}

std::string Entree::erreur(const std::string& raison) const {
    return std::string(nom_format(compression_)) + " : " + raison;
}

std::expected<std::size_t, std::string> Entree::lire_compresse(std::span<char> tampon) {
    std::size_t ecrits = 0;
    // The bytes decompressed before a failure are handed over; the failure comes at the next call.
    const auto echec = [&](std::string texte) -> std::expected<std::size_t, std::string> {
        erreur_ = std::move(texte);
        if (ecrits > 0) return ecrits;
        return std::unexpected(*erreur_);
    };
    while (ecrits < tampon.size() && !termine_) {
        const std::span<const char> disponible(entree_.data() + debut_, fin_ - debut_);
        if (!dans_membre_) {
            // After a complete member or frame: the end of the file, or the next one. A zstd frame's
            // header is handed over whole (or all that is left): libzstd 1.5's single-pass shortcut
            // looks for the frame's end from the start of the bytes given in the call that completes
            // the header, so a header split over two calls could be decoded from its middle.
            const std::size_t debut_requis = compression_ == Compression::gzip ? 2 : taille_entete_zstd;
            if (disponible.size() < debut_requis && !fin_fichier_) {
                if (auto r = remplir(); !r) return echec(std::move(r.error()));
                continue;
            }
            if (disponible.empty()) {
                termine_ = true;
                break;
            }
            // zstd checks the next frame's magic itself; zlib and ISA-L would take anything after
            // a member for the end.
            if (compression_ == Compression::gzip && compression_de(disponible) != Compression::gzip) {
                return echec(erreur("données parasites après la fin du flux"));
            }
            decompresseur_->recommencer();
            dans_membre_ = true;
        }
        auto pas = decompresseur_->decompresser(disponible, tampon.subspan(ecrits));
        if (!pas) return echec(erreur(pas.error()));
        debut_ += pas->lus;
        ecrits += pas->ecrits;
        if (pas->fin) {
            dans_membre_ = false;
        } else if (pas->lus == 0 && pas->ecrits == 0) {
            if (fin_fichier_) return echec(erreur("flux tronqué"));
            if (auto r = remplir(); !r) return echec(std::move(r.error()));
        }
    }
    return ecrits;
}

}  // namespace commun
