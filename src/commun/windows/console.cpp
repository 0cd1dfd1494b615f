#include "commun/windows/console.hpp"

#include <string>

#include "commun/utf16.hpp"

namespace commun {

void ecrire_poignee(HANDLE poignee, bool console, std::string_view texte) {
    if (texte.empty() || poignee == nullptr || poignee == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD ecrits = 0;
    if (console) {
        const std::u16string large = utf16_depuis_utf8(texte);
        WriteConsoleW(poignee, large.data(), static_cast<DWORD>(large.size()), &ecrits, nullptr);
        return;
    }
    WriteFile(poignee, texte.data(), static_cast<DWORD>(texte.size()), &ecrits, nullptr);
}

void ecrire_erreur_standard(std::string_view texte) {
    HANDLE poignee = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    const bool console = poignee != nullptr && poignee != INVALID_HANDLE_VALUE && GetConsoleMode(poignee, &mode);
    ecrire_poignee(poignee, console, texte);
}

}  // namespace commun
