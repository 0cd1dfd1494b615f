#pragma once
// Anonymous temporary files for data that outgrows memory. The file has no name from the moment it is
// created (Linux: O_TMPFILE, or a name removed at once; Windows: deleted when its handle closes), so it
// disappears with the process however the process ends.
#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "commun/fichier.hpp"

namespace commun {

// The system's temporary directory: $TMPDIR, else /tmp; GetTempPath2W on Windows.
std::filesystem::path dossier_temporaire();

class FichierTemporaire final : public SourceOctets, public SortieOctets {
public:
    // The error is the system's description.
    static std::expected<FichierTemporaire, std::string> creer(const std::filesystem::path& dossier);

    FichierTemporaire(FichierTemporaire&& autre) noexcept;
    FichierTemporaire& operator=(FichierTemporaire&& autre) noexcept;
    ~FichierTemporaire() override;

    // Appends (unbuffered: callers write large blocks).
    std::expected<void, std::string> ecrire(std::string_view octets) override;
    // Back to the start, for reading what was written.
    std::expected<void, std::string> rembobiner();
    std::expected<std::size_t, std::string> lire(std::span<char> tampon) override;
    std::uint64_t taille() const { return taille_; }

private:
#ifdef _WIN32
    using Poignee = void*;
#else
    using Poignee = int;
#endif
    explicit FichierTemporaire(Poignee p) : poignee_(p) {}
    void fermer();

    Poignee poignee_;
    std::uint64_t taille_ = 0;
};

}  // namespace commun
