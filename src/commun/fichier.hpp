#pragma once
// Files as byte sources and sinks, with the system's own error descriptions.
// Paths are UTF-8 on every platform.
#include <cstdio>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace commun {

class SourceOctets {
public:
    virtual ~SourceOctets() = default;
    // Fills the start of `tampon`; 0 at the end of the input.
    virtual std::expected<std::size_t, std::string> lire(std::span<char> tampon) = 0;
};

class SortieOctets {
public:
    virtual ~SortieOctets() = default;
    virtual std::expected<void, std::string> ecrire(std::string_view octets) = 0;
};

namespace detail {
struct FermerFichier {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using Fichier = std::unique_ptr<std::FILE, FermerFichier>;
}  // namespace detail

class FichierLecture final : public SourceOctets {
public:
    static std::expected<FichierLecture, std::string> ouvrir(const std::string& chemin);
    std::expected<std::size_t, std::string> lire(std::span<char> tampon) override;

private:
    explicit FichierLecture(detail::Fichier f) : fichier_(std::move(f)) {}
    detail::Fichier fichier_;
};

// Writes through an 8 KiB buffer. Whatever was handed over is written when the
// object ends, even after an error elsewhere; `vider` reports a failed write.
class SortieFichier final : public SortieOctets {
public:
    static std::expected<SortieFichier, std::string> creer(const std::string& chemin);
    SortieFichier(SortieFichier&&) noexcept = default;
    SortieFichier& operator=(SortieFichier&&) noexcept;
    ~SortieFichier() override;

    std::expected<void, std::string> ecrire(std::string_view octets) override;
    std::expected<void, std::string> vider();

private:
    explicit SortieFichier(detail::Fichier f) : fichier_(std::move(f)) {}
    detail::Fichier fichier_;
    std::string tampon_;
};

// In memory, for tests and small documents.
class SortieChaine final : public SortieOctets {
public:
    std::expected<void, std::string> ecrire(std::string_view octets) override {
        texte += octets;
        return {};
    }
    std::string texte;
};

class SourceChaine final : public SourceOctets {
public:
    explicit SourceChaine(std::string texte) : texte_(std::move(texte)) {}
    std::expected<std::size_t, std::string> lire(std::span<char> tampon) override;

private:
    std::string texte_;
    std::size_t position_ = 0;
};

}  // namespace commun

namespace commun {

// A standard stream (not owned), written without buffering of our own.
class SortieFlux final : public SortieOctets {
public:
    explicit SortieFlux(std::FILE* flux) : flux_(flux) {}
    std::expected<void, std::string> ecrire(std::string_view octets) override;

private:
    std::FILE* flux_;
};

}  // namespace commun
