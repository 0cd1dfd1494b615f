#include "commun/erreur.hpp"

#include <system_error>

namespace commun {

std::string texte_errno(int numero) {
    std::string texte = std::generic_category().message(numero);
    while (!texte.empty() && (texte.back() == '\n' || texte.back() == '\r')) {
        texte.pop_back();
    }
    return texte;
}

}  // namespace commun
