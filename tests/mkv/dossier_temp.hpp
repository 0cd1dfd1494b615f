#pragma once
// A scratch directory per test, removed at the end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace essai {

class DossierTemp {
public:
    DossierTemp() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string nom = "mkv_essai_" + std::to_string(::getpid());
        if (info != nullptr) {
            nom += std::string("_") + info->test_suite_name() + "_" + info->name();
        }
        chemin_ = std::filesystem::temp_directory_path() / nom;
        std::filesystem::remove_all(chemin_);
        std::filesystem::create_directories(chemin_);
    }
    ~DossierTemp() {
        std::error_code ec;
        std::filesystem::remove_all(chemin_, ec);
    }
    DossierTemp(const DossierTemp&) = delete;
    DossierTemp& operator=(const DossierTemp&) = delete;
    std::filesystem::path operator/(const std::string& nom) const { return chemin_ / nom; }

private:
    std::filesystem::path chemin_;
};

}  // namespace essai
