#pragma once
// UTF-8 to UTF-16 and back: the Windows API speaks UTF-16, everything else here UTF-8. What is
// not text (an unpaired surrogate, a byte that starts no valid UTF-8 sequence) is either
// replaced by U+FFFD, for text that is only shown, or refused, for a name the system must find
// exactly as it was given. Portable, so the unit tests run it anywhere.
#include <optional>
#include <string>
#include <string_view>

namespace commun {

enum class Invalides { remplacer, refuser };

// Each unpaired surrogate becomes U+FFFD, or (refuser) the conversion gives none.
std::optional<std::string> utf8_depuis_utf16(std::u16string_view texte, Invalides invalides);
// Strict UTF-8 as est_utf8_valide reads it; each byte that starts no valid sequence becomes
// U+FFFD, or (refuser) the conversion gives none.
std::optional<std::u16string> utf16_depuis_utf8(std::string_view texte, Invalides invalides);

// The replacing forms, which cannot fail.
inline std::string utf8_depuis_utf16(std::u16string_view texte) {
    return *utf8_depuis_utf16(texte, Invalides::remplacer);
}
inline std::u16string utf16_depuis_utf8(std::string_view texte) {
    return *utf16_depuis_utf8(texte, Invalides::remplacer);
}

#if defined(_WIN32)
// A wchar_t is one UTF-16 unit on Windows: the system's texts are read and given as such.
static_assert(sizeof(wchar_t) == sizeof(char16_t));
inline std::u16string_view utf16(std::wstring_view texte) {
    return {reinterpret_cast<const char16_t*>(texte.data()), texte.size()};
}
inline const wchar_t* large(const std::u16string& texte) { return reinterpret_cast<const wchar_t*>(texte.c_str()); }
#endif

}  // namespace commun
