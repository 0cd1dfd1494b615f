// Entry point of the recording program: the system's pieces, the process's arguments and streams.
#include <iostream>
#include <string>
#include <vector>

#include "bin/vextrel/programme.hpp"

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>

#include "commun/utf16.hpp"
#include "commun/windows/console.hpp"

namespace {

// A standard handle as a stream, written a line at a time (see ecrire_poignee).
class TamponStandard final : public std::streambuf {
public:
    explicit TamponStandard(DWORD quel) : poignee_(GetStdHandle(quel)) {
        DWORD mode = 0;
        console_ = poignee_ != nullptr && poignee_ != INVALID_HANDLE_VALUE && GetConsoleMode(poignee_, &mode);
    }
    ~TamponStandard() override { vider(); }

protected:
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) {
            texte_.push_back(static_cast<char>(c));
            if (c == '\n') {
                vider();
            }
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        texte_.append(s, static_cast<std::size_t>(n));
        return n;
    }
    int sync() override {
        vider();
        return 0;
    }

private:
    void vider() {
        commun::ecrire_poignee(poignee_, console_, texte_);
        texte_.clear();
    }

    HANDLE poignee_;
    bool console_ = false;
    std::string texte_;
};

}  // namespace

int main() {
    std::vector<std::string> arguments;
    int nombre = 0;
    wchar_t** liste = CommandLineToArgvW(GetCommandLineW(), &nombre);
    for (int i = 1; liste != nullptr && i < nombre; ++i) {
        arguments.push_back(commun::utf8_depuis_utf16(commun::utf16(liste[i])));
    }
    if (liste != nullptr) {
        LocalFree(liste);
    }
    TamponStandard tampon_sortie(STD_OUTPUT_HANDLE);
    TamponStandard tampon_erreurs(STD_ERROR_HANDLE);
    std::ostream sortie(&tampon_sortie);
    std::ostream erreurs(&tampon_erreurs);
    auto plateforme = vextrel::plateforme_vextrel();
    return vextrel::executer(arguments, *plateforme, sortie, erreurs);
}

#else

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    auto plateforme = vextrel::plateforme_vextrel();
    return vextrel::executer(arguments, *plateforme, std::cout, std::cerr);
}

#endif
