#pragma once
// Appends JSON values to a text buffer in the project's layout: floats in the
// shortest form that reads back identically, always with '.0' or an exponent.
#include <cstdint>
#include <string>
#include <string_view>

namespace cohorte {

void ajouter_flottant(std::string& sortie, double valeur);
void ajouter_entier(std::string& sortie, std::int64_t valeur);
void ajouter_texte(std::string& sortie, std::string_view texte);
inline void ajouter_booleen(std::string& sortie, bool valeur) { sortie += valeur ? "true" : "false"; }

}  // namespace cohorte
