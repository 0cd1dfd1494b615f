#pragma once
// How calibrer and controler use the machine: CALIBRAGE_FILS threads (default: the hardware threads this
// process may run on) and a memory budget of CALIBRAGE_MEMOIRE MiB (default: half of the physical memory).
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "bin/calibrage/arguments.hpp"
#include "commun/progression.hpp"
#include "comportement/traitement_fichiers.hpp"

namespace calibrage {

// The sum of the input files' sizes; 0 (unknown) when one of them is not a regular file.
std::uint64_t total_des_entrees(const Arguments& arguments);

// Reading settings that also move a progress line over the input files, drawn on the standard error when it
// is a terminal. The line is erased by terminer(), and when this ends, before any error is printed.
class LectureSuivie {
public:
    LectureSuivie(const Arguments& arguments, const comportement::ReglagesLecture& reglages, Console console);
    const comportement::ReglagesLecture& reglages() const { return reglages_; }
    void terminer() { progression_.terminer(); }

private:
    commun::Progression progression_;
    comportement::ReglagesLecture reglages_;
};

// Decimal digits only, no sign and no space, above 0 and within 64 bits.
std::optional<std::uint64_t> entier_positif(std::string_view texte);

// From the environment. The error names the variable: "CALIBRAGE_FILS : entier positif attendu".
std::expected<comportement::ReglagesLecture, std::string> reglages_lecture();

}  // namespace calibrage
