#include "commun/fichier_temporaire.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <utility>

#include "commun/erreur.hpp"

#ifdef _WIN32
#include <windows.h>

#include "commun/windows/hresult.hpp"
#include "commun/windows/temporaire.hpp"
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace commun {

#ifdef _WIN32

namespace {
const HANDLE kAucune = INVALID_HANDLE_VALUE;
std::string derniere_erreur() { return texte_hresult(HRESULT_FROM_WIN32(GetLastError())); }
}  // namespace

std::filesystem::path dossier_temporaire() { return dossier_temporaire_windows(); }

std::expected<FichierTemporaire, std::string> FichierTemporaire::creer(const std::filesystem::path& dossier) {
    static std::atomic<unsigned> compteur{0};
    for (;;) {
        const std::wstring nom =
            L"calibrage-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(compteur++) + L".tmp";
        const std::filesystem::path chemin = dossier / nom;
        HANDLE h = CreateFileW(chemin.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != kAucune) return FichierTemporaire(h);
        if (GetLastError() != ERROR_FILE_EXISTS) return std::unexpected(derniere_erreur());
    }
}

void FichierTemporaire::fermer() {
    if (poignee_ != kAucune) CloseHandle(poignee_);
    poignee_ = kAucune;
}

std::expected<void, std::string> FichierTemporaire::ecrire(std::string_view octets) {
    while (!octets.empty()) {
        const DWORD voulu = static_cast<DWORD>(std::min<std::size_t>(octets.size(), 1u << 30));
        DWORD ecrits = 0;
        if (!WriteFile(poignee_, octets.data(), voulu, &ecrits, nullptr)) return std::unexpected(derniere_erreur());
        octets.remove_prefix(ecrits);
        taille_ += ecrits;
    }
    return {};
}

std::expected<void, std::string> FichierTemporaire::rembobiner() {
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(poignee_, zero, nullptr, FILE_BEGIN)) return std::unexpected(derniere_erreur());
    return {};
}

std::expected<std::size_t, std::string> FichierTemporaire::lire(std::span<char> tampon) {
    const DWORD voulu = static_cast<DWORD>(std::min<std::size_t>(tampon.size(), 1u << 30));
    DWORD lus = 0;
    if (!ReadFile(poignee_, tampon.data(), voulu, &lus, nullptr)) return std::unexpected(derniere_erreur());
    return lus;
}

#else

namespace {
constexpr int kAucune = -1;
}  // namespace

std::filesystem::path dossier_temporaire() {
    const char* d = std::getenv("TMPDIR");
    return d != nullptr && *d != '\0' ? std::filesystem::path(d) : std::filesystem::path("/tmp");
}

std::expected<FichierTemporaire, std::string> FichierTemporaire::creer(const std::filesystem::path& dossier) {
    int fd = open(dossier.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without anonymous files: a name, removed at once.
        std::string modele = (dossier / "calibrage-XXXXXX").string();
        fd = mkostemp(modele.data(), O_CLOEXEC);
        if (fd >= 0) unlink(modele.c_str());
    }
    if (fd < 0) return std::unexpected(texte_errno(errno));
    return FichierTemporaire(fd);
}

void FichierTemporaire::fermer() {
    if (poignee_ != kAucune) close(poignee_);
    poignee_ = kAucune;
}

std::expected<void, std::string> FichierTemporaire::ecrire(std::string_view octets) {
    while (!octets.empty()) {
        const ssize_t n = write(poignee_, octets.data(), octets.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(texte_errno(errno));
        }
        octets.remove_prefix(static_cast<std::size_t>(n));
        taille_ += static_cast<std::uint64_t>(n);
    }
    return {};
}

std::expected<void, std::string> FichierTemporaire::rembobiner() {
    if (lseek(poignee_, 0, SEEK_SET) < 0) return std::unexpected(texte_errno(errno));
    return {};
}

std::expected<std::size_t, std::string> FichierTemporaire::lire(std::span<char> tampon) {
    for (;;) {
        const ssize_t n = read(poignee_, tampon.data(), tampon.size());
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno != EINTR) return std::unexpected(texte_errno(errno));
    }
}

#endif

FichierTemporaire::FichierTemporaire(FichierTemporaire&& autre) noexcept
    : poignee_(std::exchange(autre.poignee_, kAucune)), taille_(autre.taille_) {}

FichierTemporaire& FichierTemporaire::operator=(FichierTemporaire&& autre) noexcept {
    if (this != &autre) {
        fermer();
        poignee_ = std::exchange(autre.poignee_, kAucune);
        taille_ = autre.taille_;
    }
    return *this;
}

FichierTemporaire::~FichierTemporaire() { fermer(); }

}  // namespace commun
