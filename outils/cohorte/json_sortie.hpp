#pragma once
// Appends JSON values to a text buffer: the project's writer for floats and strings
// (shortest round-trip digits, always '.0' or an exponent), plain decimal integers.
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

#include "commun/json_ecriture.hpp"

namespace cohorte {

inline void ajouter_flottant(std::string& sortie, double valeur) { commun::json::ajouter_flottant(sortie, valeur); }
inline void ajouter_texte(std::string& sortie, std::string_view texte) { commun::json::ajouter_chaine(sortie, texte); }
inline void ajouter_entier(std::string& sortie, std::int64_t valeur) {
    char tampon[24];
    const auto fin = std::to_chars(tampon, tampon + sizeof tampon, valeur).ptr;
    sortie.append(tampon, fin);
}
inline void ajouter_booleen(std::string& sortie, bool valeur) { sortie += valeur ? "true" : "false"; }

}  // namespace cohorte
