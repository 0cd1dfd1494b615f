#include "mkv/fichier.hpp"

#include <cerrno>
#include <cstring>

namespace mkv {

namespace {

int errno_ou_eio() { return errno != 0 ? errno : EIO; }

#ifdef _WIN32
int deplacer(std::FILE* f, std::uint64_t p) { return _fseeki64(f, static_cast<__int64>(p), SEEK_SET); }
long long lire_position(std::FILE* f) { return _ftelli64(f); }
#else
int deplacer(std::FILE* f, std::uint64_t p) { return fseeko(f, static_cast<off_t>(p), SEEK_SET); }
long long lire_position(std::FILE* f) { return ftello(f); }
#endif

}  // namespace

void FichierSortie::Fermeture::operator()(std::FILE* f) const { std::fclose(f); }

FichierSortie::FichierSortie(std::FILE* f) : fichier_(f) { tampon_.reserve(capacite_tampon); }

std::expected<FichierSortie, int> FichierSortie::creer(const std::filesystem::path& chemin) {
    errno = 0;
#ifdef _WIN32
    std::FILE* f = _wfopen(chemin.c_str(), L"wb");
#else
    std::FILE* f = std::fopen(chemin.c_str(), "wb");
#endif
    if (f == nullptr) {
        return std::unexpected(errno_ou_eio());
    }
    // Our own buffer does the batching; stdio's would only add a copy.
    std::setvbuf(f, nullptr, _IONBF, 0);
    return FichierSortie(f);
}

FichierSortie& FichierSortie::operator=(FichierSortie&& autre) noexcept {
    if (this != &autre) {
        // The file being replaced is closed as a drop would close it.
        if (fichier_ && erreur_ == 0) {
            (void)vider();
        }
        fichier_ = std::move(autre.fichier_);
        tampon_ = std::move(autre.tampon_);
        erreur_ = autre.erreur_;
        retours_arriere_ = autre.retours_arriere_;
    }
    return *this;
}

FichierSortie::~FichierSortie() {
    if (fichier_ && erreur_ == 0) {
        (void)vider();
    }
}

std::expected<void, commun::Erreur> FichierSortie::echec(int numero) {
    erreur_ = numero;
    tampon_.clear();
    return std::unexpected(commun::Erreur(commun::texte_errno(numero)));
}

std::expected<void, commun::Erreur> FichierSortie::ecrire_direct(const std::uint8_t* octets, std::size_t n) {
    if (n == 0) {
        return {};
    }
    errno = 0;
    if (std::fwrite(octets, 1, n, fichier_.get()) != n) {
        return echec(errno_ou_eio());
    }
    return {};
}

std::expected<void, commun::Erreur> FichierSortie::ecrire(std::span<const std::uint8_t> octets) {
    if (erreur_ != 0 || !fichier_) {
        return echec(erreur_ != 0 ? erreur_ : EBADF);
    }
    if (octets.size() > capacite_tampon - tampon_.size()) {
        if (auto r = vider(); !r) {
            return r;
        }
    }
    if (octets.size() >= capacite_tampon) {
        return ecrire_direct(octets.data(), octets.size());
    }
    tampon_.insert(tampon_.end(), octets.begin(), octets.end());
    return {};
}

std::expected<void, commun::Erreur> FichierSortie::vider() {
    if (erreur_ != 0 || !fichier_) {
        return echec(erreur_ != 0 ? erreur_ : EBADF);
    }
    if (auto r = ecrire_direct(tampon_.data(), tampon_.size()); !r) {
        return r;
    }
    tampon_.clear();
    errno = 0;
    if (std::fflush(fichier_.get()) != 0) {
        return echec(errno_ou_eio());
    }
    return {};
}

std::expected<std::uint64_t, commun::Erreur> FichierSortie::position() {
    if (auto r = vider(); !r) {
        return std::unexpected(r.error());
    }
    errno = 0;
    const long long p = lire_position(fichier_.get());
    if (p < 0) {
        return std::unexpected(echec(errno_ou_eio()).error());
    }
    return static_cast<std::uint64_t>(p);
}

std::expected<void, commun::Erreur> FichierSortie::aller_a(std::uint64_t cible) {
    auto actuelle = position();
    if (!actuelle) {
        return std::unexpected(actuelle.error());
    }
    if (cible < *actuelle) {
        ++retours_arriere_;
    }
    errno = 0;
    if (deplacer(fichier_.get(), cible) != 0) {
        return echec(errno_ou_eio());
    }
    return {};
}

std::expected<void, commun::Erreur> FichierSortie::fermer() {
    auto r = vider();
    std::FILE* f = fichier_.release();
    if (f == nullptr) {
        return r;
    }
    errno = 0;
    const int resultat = std::fclose(f);
    if (!r) {
        return r;
    }
    if (resultat != 0) {
        return echec(errno_ou_eio());
    }
    return {};
}

std::string texte_chemin(const std::filesystem::path& chemin) {
    const std::u8string u = chemin.u8string();
    return std::string(u.begin(), u.end());
}

}  // namespace mkv
