#include "commun/console_windows.hpp"

#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <string_view>

#include "commun/texte_windows.hpp"

namespace commun {

void preparer_console_windows() {
    std::fflush(stdout);
    std::fflush(stderr);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
}

std::vector<std::string> arguments_windows() {
    std::vector<std::string> arguments;
    int nombre = 0;
    LPWSTR* liste = CommandLineToArgvW(GetCommandLineW(), &nombre);
    if (liste == nullptr) {
        return arguments;
    }
    for (int i = 1; i < nombre; ++i) {
        const std::wstring_view argument(liste[i]);
        arguments.push_back(
            utf8_avec_pertes(std::u16string_view(reinterpret_cast<const char16_t*>(argument.data()), argument.size())));
    }
    LocalFree(liste);
    return arguments;
}

}  // namespace commun
