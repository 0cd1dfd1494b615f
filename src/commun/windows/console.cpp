#include "commun/windows/console.hpp"

#include <windows.h>

#include <string>

namespace commun {

void ecrire_erreur_standard(std::string_view texte) {
    HANDLE poignee = GetStdHandle(STD_ERROR_HANDLE);
    if (texte.empty() || poignee == nullptr || poignee == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD ecrits = 0;
    DWORD mode = 0;
    if (GetConsoleMode(poignee, &mode)) {
        const int n = MultiByteToWideChar(CP_UTF8, 0, texte.data(), static_cast<int>(texte.size()), nullptr, 0);
        if (n > 0) {
            std::wstring large(static_cast<std::size_t>(n), L'\0');
            MultiByteToWideChar(CP_UTF8, 0, texte.data(), static_cast<int>(texte.size()), large.data(), n);
            WriteConsoleW(poignee, large.data(), static_cast<DWORD>(large.size()), &ecrits, nullptr);
        }
        return;
    }
    WriteFile(poignee, texte.data(), static_cast<DWORD>(texte.size()), &ecrits, nullptr);
}

}  // namespace commun
