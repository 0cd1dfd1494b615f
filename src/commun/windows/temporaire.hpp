#pragma once
#include <filesystem>

namespace commun {

// The system's temporary directory: GetTempPath2W where the system has it (looked up at run
// time), else GetTempPathW; empty (the current directory) when neither answers.
std::filesystem::path dossier_temporaire_windows();

}  // namespace commun
