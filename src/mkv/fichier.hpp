#pragma once
// Output file behind a 1 MiB write buffer. Positions are asked from the file after flushing.
// After the first I/O error the file refuses further work with that same error, so nothing
// out of order ever reaches the disk.
#include <cstdint>
#include <cstdio>
#include <expected>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "commun/erreur.hpp"

namespace mkv {

class FichierSortie {
public:
    static constexpr std::size_t capacite_tampon = 1048576;

    // Creates or truncates the file. The error is the system's errno value.
    static std::expected<FichierSortie, int> creer(const std::filesystem::path& chemin);

    FichierSortie(FichierSortie&&) noexcept = default;
    FichierSortie& operator=(FichierSortie&& autre) noexcept;
    FichierSortie(const FichierSortie&) = delete;
    FichierSortie& operator=(const FichierSortie&) = delete;
    // Flushes what is buffered (unless an error happened) and closes; failures are lost here.
    ~FichierSortie();

    std::expected<void, commun::Erreur> ecrire(std::span<const std::uint8_t> octets);
    std::expected<void, commun::Erreur> vider();
    // Flushes, then the file's current offset.
    std::expected<std::uint64_t, commun::Erreur> position();
    // Flushes, then moves to an absolute offset.
    std::expected<void, commun::Erreur> aller_a(std::uint64_t position);
    // Flushes and closes; the object is then closed either way.
    std::expected<void, commun::Erreur> fermer();

    bool ouvert() const { return fichier_ != nullptr; }
    // How many times the file was sent back to an earlier offset.
    std::uint64_t retours_arriere() const { return retours_arriere_; }

private:
    struct Fermeture {
        void operator()(std::FILE* f) const;
    };
    explicit FichierSortie(std::FILE* f);
    std::expected<void, commun::Erreur> echec(int numero);
    std::expected<void, commun::Erreur> ecrire_direct(const std::uint8_t* octets, std::size_t n);

    std::unique_ptr<std::FILE, Fermeture> fichier_;
    std::vector<std::uint8_t> tampon_;
    int erreur_ = 0;
    std::uint64_t retours_arriere_ = 0;
};

// A path as UTF-8 text, for messages.
std::string texte_chemin(const std::filesystem::path& chemin);

}  // namespace mkv
