// calibrage: calibration tooling of the behaviour analysis.
#include <cstdio>
#include <string>
#include <vector>

#include "bin/calibrage/arguments.hpp"
#include "commun/fichier.hpp"
#include "commun/utf16.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

std::vector<std::string> arguments_du_programme([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
    std::vector<std::string> arguments;
#ifdef _WIN32
    // argv is in the ANSI code page; take the UTF-16 command line instead.
    int n = 0;
    wchar_t** large = CommandLineToArgvW(GetCommandLineW(), &n);
    for (int i = 1; large != nullptr && i < n; ++i) {
        arguments.push_back(commun::utf8_depuis_utf16(commun::utf16(large[i])));
    }
    LocalFree(large);
#else
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
#endif
    return arguments;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    // Lines end with LF only; texts are UTF-8. The console's code page is
    // shared with the shell, so it is given back at the end.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    const UINT page_console = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
#endif
    const std::vector<std::string> arguments = arguments_du_programme(argc, argv);
    commun::SortieFlux sortie(stdout);
    commun::SortieFlux erreurs(stderr);
    const int statut = calibrage::programme(arguments, calibrage::Console{sortie, erreurs});
#ifdef _WIN32
    if (page_console != 0) SetConsoleOutputCP(page_console);
#endif
    return statut;
}
