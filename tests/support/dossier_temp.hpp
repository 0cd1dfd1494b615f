#pragma once
// A scratch folder of its own per test (or per object), removed with everything in it at the end.
#include <filesystem>
#include <string>
#include <string_view>

namespace essai {

class DossierTemp {
public:
    // Under the system's temporary directory; the running test's name in it, for whoever looks.
    DossierTemp();
    ~DossierTemp();
    DossierTemp(const DossierTemp&) = delete;
    DossierTemp& operator=(const DossierTemp&) = delete;

    const std::filesystem::path& chemin() const { return chemin_; }
    std::filesystem::path operator/(const std::string& nom) const { return chemin_ / nom; }
    // Writes `contenu` to `nom` in the folder, byte for byte, and returns its path.
    std::string ecrire(const std::string& nom, std::string_view contenu) const;

private:
    std::filesystem::path chemin_;
};

// The whole file, byte for byte; empty when it cannot be read.
std::string lire_fichier(const std::filesystem::path& chemin);

}  // namespace essai
