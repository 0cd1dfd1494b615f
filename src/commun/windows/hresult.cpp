#include "commun/windows/hresult.hpp"

#include <array>
#include <cstdio>
#include <string_view>

#include "commun/utf16.hpp"
#include "commun/windows/texte.hpp"

namespace commun {

std::string texte_hresult(HRESULT code) {
    // Large enough for any system message; longer ones are rare and simply fail to format.
    std::array<wchar_t, 2048> tampon{};
    const DWORD longueur =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(code), 0,
                       tampon.data(), static_cast<DWORD>(tampon.size()), nullptr);
    std::string texte;
    if (longueur > 0) {
        texte = une_ligne(utf8_depuis_utf16(utf16(std::wstring_view(tampon.data(), longueur))));
    }
    if (texte.empty()) {
        std::array<char, 32> hex{};
        std::snprintf(hex.data(), hex.size(), "HRESULT 0x%08lX", static_cast<unsigned long>(code));
        texte = hex.data();
    }
    return texte;
}

Erreur erreur_derniere_win32() { return erreur_hresult(HRESULT_FROM_WIN32(GetLastError())); }

}  // namespace commun
