#pragma once
// Text helpers of the Windows back end that need no Windows header, so they are tested anywhere.
#include <string>

namespace commun {

// A system description on one line: trailing CR, LF and spaces removed, inner line breaks
// turned into single spaces.
std::string une_ligne(std::string texte);

}  // namespace commun
