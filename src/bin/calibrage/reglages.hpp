#pragma once
// How calibrer and controler use the machine: CALIBRAGE_FILS threads (default: the hardware threads this
// process may run on) and a memory budget of CALIBRAGE_MEMOIRE MiB (default: half of the physical memory).
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "comportement/traitement_fichiers.hpp"

namespace calibrage {

// Decimal digits only, no sign and no space, above 0 and within 64 bits.
std::optional<std::uint64_t> entier_positif(std::string_view texte);

// From the environment. The error names the variable: "CALIBRAGE_FILS : entier positif attendu".
std::expected<comportement::ReglagesLecture, std::string> reglages_lecture();

}  // namespace calibrage
