#pragma once
// UTF-8 checks and the Unicode notion of white space used for blank lines
// and every "trim" of user text.
#include <string_view>

namespace commun {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool est_utf8_valide(std::string_view texte);

// The 25 White_Space code points (U+0009..U+000D, U+0020, U+0085, U+00A0,
// U+1680, U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000).
bool est_espace_unicode(char32_t point);

// Removes leading and trailing white space; `texte` must be valid UTF-8.
std::string_view rogner_unicode(std::string_view texte);

inline bool est_blanc_unicode(std::string_view texte) { return rogner_unicode(texte).empty(); }

}  // namespace commun
