#include "commun/fichier.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "commun/erreur.hpp"

#ifdef _WIN32
#include "commun/utf16.hpp"
#endif

namespace commun {

namespace {

constexpr std::size_t taille_tampon = 8192;

std::expected<detail::Fichier, std::string> ouvrir_fichier(const std::string& chemin, bool ecriture) {
    errno = 0;
#ifdef _WIN32
    // The C runtime would read the path in the ANSI code page; go through UTF-16.
    const auto chemin_utf16 = utf16_depuis_utf8(chemin, Invalides::refuser);
    std::FILE* f = chemin_utf16 ? _wfopen(large(*chemin_utf16), ecriture ? L"wb" : L"rb") : nullptr;
    if (f == nullptr && errno == 0) errno = EINVAL;
#else
    std::FILE* f = std::fopen(chemin.c_str(), ecriture ? "wb" : "rb");
#endif
    if (f == nullptr) {
        return std::unexpected(texte_errno(errno));
    }
    // Our own buffers are the only ones.
    std::setvbuf(f, nullptr, _IONBF, 0);
    return detail::Fichier(f);
}

}  // namespace

std::expected<FichierLecture, std::string> FichierLecture::ouvrir(const std::string& chemin) {
    auto f = ouvrir_fichier(chemin, false);
    if (!f) return std::unexpected(f.error());
    return FichierLecture(std::move(*f));
}

std::expected<std::size_t, std::string> FichierLecture::lire(std::span<char> tampon) {
    errno = 0;
    const std::size_t n = std::fread(tampon.data(), 1, tampon.size(), fichier_.get());
    if (n == 0 && std::ferror(fichier_.get()) != 0) {
        return std::unexpected(texte_errno(errno != 0 ? errno : EIO));
    }
    return n;
}

std::expected<SortieFichier, std::string> SortieFichier::creer(const std::string& chemin) {
    auto f = ouvrir_fichier(chemin, true);
    if (!f) return std::unexpected(f.error());
    SortieFichier s(std::move(*f));
    s.tampon_.reserve(taille_tampon);
    return s;
}

SortieFichier& SortieFichier::operator=(SortieFichier&& autre) noexcept {
    if (this != &autre) {
        (void)vider();
        fichier_ = std::move(autre.fichier_);
        tampon_ = std::move(autre.tampon_);
    }
    return *this;
}

SortieFichier::~SortieFichier() {
    if (fichier_) {
        (void)vider();
    }
}

std::expected<void, std::string> SortieFichier::ecrire(std::string_view octets) {
    if (tampon_.size() + octets.size() > taille_tampon) {
        if (auto r = vider(); !r) return r;
        if (octets.size() >= taille_tampon) {
            tampon_.assign(octets);
            return vider();
        }
    }
    tampon_ += octets;
    return {};
}

std::expected<void, std::string> SortieFichier::vider() {
    if (tampon_.empty() || !fichier_) {
        return {};
    }
    errno = 0;
    const std::size_t n = std::fwrite(tampon_.data(), 1, tampon_.size(), fichier_.get());
    // What was not written stays buffered; nothing is silently dropped.
    tampon_.erase(0, n);
    if (!tampon_.empty()) {
        return std::unexpected(texte_errno(errno != 0 ? errno : EIO));
    }
    return {};
}

std::expected<std::size_t, std::string> SourceChaine::lire(std::span<char> tampon) {
    const std::size_t n = std::min(tampon.size(), texte_.size() - position_);
    std::memcpy(tampon.data(), texte_.data() + position_, n);
    position_ += n;
    return n;
}

}  // namespace commun

namespace commun {

std::expected<void, std::string> SortieFlux::ecrire(std::string_view octets) {
    errno = 0;
    if (std::fwrite(octets.data(), 1, octets.size(), flux_) != octets.size() || std::fflush(flux_) != 0) {
        return std::unexpected(texte_errno(errno != 0 ? errno : EIO));
    }
    return {};
}

}  // namespace commun
