#include "commun/utf16.hpp"

#include <cstdint>

#include "commun/texte_utf8.hpp"

namespace commun {

std::optional<std::string> utf8_depuis_utf16(std::u16string_view texte, Invalides invalides) {
    std::string sortie;
    sortie.reserve(texte.size());
    for (std::size_t i = 0; i < texte.size(); ++i) {
        const std::uint32_t u = texte[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < texte.size() && texte[i + 1] >= 0xDC00 && texte[i + 1] <= 0xDFFF) {
            utf8::ajouter(sortie, 0x10000 + ((u - 0xD800) << 10) + (texte[i + 1] - 0xDC00u));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            if (invalides == Invalides::refuser) {
                return std::nullopt;
            }
            utf8::ajouter(sortie, utf8::remplacement);
        } else {
            utf8::ajouter(sortie, u);
        }
    }
    return sortie;
}

std::optional<std::u16string> utf16_depuis_utf8(std::string_view texte, Invalides invalides) {
    std::u16string sortie;
    sortie.reserve(texte.size());
    for (std::size_t i = 0; i < texte.size();) {
        auto point = utf8::decoder(texte, i);
        if (!point) {
            if (invalides == Invalides::refuser) {
                return std::nullopt;
            }
            point = utf8::remplacement;
        }
        if (*point >= 0x10000) {
            sortie.push_back(static_cast<char16_t>(0xD800 + ((*point - 0x10000) >> 10)));
            sortie.push_back(static_cast<char16_t>(0xDC00 + ((*point - 0x10000) & 0x3FF)));
        } else {
            sortie.push_back(static_cast<char16_t>(*point));
        }
    }
    return sortie;
}

}  // namespace commun
