#include "support/dossier_temp.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace essai {

DossierTemp::DossierTemp() {
    std::string nom = "balisor";
    if (const auto* info = testing::UnitTest::GetInstance()->current_test_info(); info != nullptr) {
        nom = nom + "_" + info->test_suite_name() + "_" + info->name();
        for (char& c : nom) {
            if (c == '/') c = '_';  // parameterised names
        }
    }
    std::string modele = (std::filesystem::temp_directory_path() / (nom + "_XXXXXX")).string();
    if (mkdtemp(modele.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp " + modele);
    }
    chemin_ = modele;
}

DossierTemp::~DossierTemp() {
    std::error_code ec;
    std::filesystem::remove_all(chemin_, ec);
}

std::string DossierTemp::ecrire(const std::string& nom, std::string_view contenu) const {
    const std::string chemin = (chemin_ / nom).string();
    std::ofstream(chemin, std::ios::binary).write(contenu.data(), static_cast<std::streamsize>(contenu.size()));
    return chemin;
}

std::string lire_fichier(const std::filesystem::path& chemin) {
    std::ifstream f(chemin, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

}  // namespace essai
