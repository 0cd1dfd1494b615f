#pragma once
// Text helpers of the Windows back end that need no Windows header, so they are tested anywhere.
#include <string>
#include <string_view>

namespace commun {

// UTF-16 to UTF-8; each unpaired surrogate becomes U+FFFD.
std::string utf8_avec_pertes(std::u16string_view texte);

// A system description on one line: trailing CR, LF and spaces removed, inner line breaks
// turned into single spaces.
std::string une_ligne(std::string texte);

// File name after the last backslash (the whole text when there is none).
std::string_view nom_apres_barre_oblique_inverse(std::string_view chemin);

}  // namespace commun
