#include "commun/windows/texte.hpp"

namespace commun {

std::string une_ligne(std::string texte) {
    while (!texte.empty() && (texte.back() == '\n' || texte.back() == '\r' || texte.back() == ' ')) {
        texte.pop_back();
    }
    std::string sortie;
    sortie.reserve(texte.size());
    bool saut = false;
    for (char c : texte) {
        if (c == '\r' || c == '\n') {
            saut = true;
            continue;
        }
        if (saut) {
            if (!sortie.empty() && sortie.back() != ' ' && c != ' ') {
                sortie += ' ';
            }
            saut = false;
        }
        sortie += c;
    }
    return sortie;
}

}  // namespace commun
