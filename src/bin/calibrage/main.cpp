// calibrage: calibration tooling of the behaviour analysis.
#include <cstdio>
#include <string>
#include <vector>

#include "bin/calibrage/arguments.hpp"
#include "commun/fichier.hpp"

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
        const int taille = WideCharToMultiByte(CP_UTF8, 0, large[i], -1, nullptr, 0, nullptr, nullptr);
        std::string texte(static_cast<std::size_t>(taille > 0 ? taille : 1), '\0');
        WideCharToMultiByte(CP_UTF8, 0, large[i], -1, texte.data(), taille, nullptr, nullptr);
        texte.resize(texte.size() - 1);
        arguments.push_back(std::move(texte));
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
