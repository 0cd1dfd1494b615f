#pragma once
// Runs a program under test and captures its two output streams and its exit
// status. The program comes from an environment variable when it is set (for
// example a Windows build), otherwise from the build tree; BALISOR_LANCEUR,
// when set, is put in front of it (for example "wine").
#include <string>
#include <vector>

namespace essai {

struct Execution {
    std::string sortie;
    std::string erreurs;
    int statut = -1;   // exit status; -1 when the program did not exit normally
    int signal = 0;    // the signal that ended it, if one did
    long pic_kio = 0;  // peak resident memory of the process started, KiB
};

// This process's environment with `environnement` applied: "NAME=value" sets NAME, "NAME" alone removes it.
std::vector<std::string> environnement_avec(const std::vector<std::string>& environnement);

std::string programme_sous_test(const char* variable, const char* defaut);

Execution lancer(const std::string& programme, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environnement = {});

}  // namespace essai

#include <gtest/gtest.h>

#include "support/dossier_temp.hpp"

namespace essai {

// calibrage's usage text: four lines, no line feed after the last.
extern const std::string usage_calibrage;

// calibrage as a user runs it, from a fresh temporary folder per test.
class EssaiCalibrage : public testing::Test {
protected:
    // Writes `contenu` to `nom` in the folder and returns its path.
    std::string fichier(const std::string& nom, const std::string& contenu) { return temp_.ecrire(nom, contenu); }
    static std::string lire(const std::string& chemin) { return lire_fichier(chemin); }
    static std::string programme();
    // The Windows build, run under wine.
    static bool windows() { return programme().ends_with(".exe"); }
    static Execution lancer(const std::vector<std::string>& arguments,
                            const std::vector<std::string>& environnement = {});

    DossierTemp temp_;
    const std::string dossier_ = temp_.chemin().string();
};

}  // namespace essai
