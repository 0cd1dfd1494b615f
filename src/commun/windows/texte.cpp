#include "commun/windows/texte.hpp"

#include <cstdint>

namespace commun {

namespace {

void ajouter_utf8(std::string& sortie, std::uint32_t point) {
    if (point < 0x80) {
        sortie += static_cast<char>(point);
    } else if (point < 0x800) {
        sortie += static_cast<char>(0xc0 | (point >> 6));
        sortie += static_cast<char>(0x80 | (point & 0x3f));
    } else if (point < 0x10000) {
        sortie += static_cast<char>(0xe0 | (point >> 12));
        sortie += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
        sortie += static_cast<char>(0x80 | (point & 0x3f));
    } else {
        sortie += static_cast<char>(0xf0 | (point >> 18));
        sortie += static_cast<char>(0x80 | ((point >> 12) & 0x3f));
        sortie += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
        sortie += static_cast<char>(0x80 | (point & 0x3f));
    }
}

}  // namespace

std::string utf8_avec_pertes(std::u16string_view texte) {
    std::string sortie;
    sortie.reserve(texte.size());
    for (std::size_t i = 0; i < texte.size(); ++i) {
        const std::uint32_t u = texte[i];
        if (u >= 0xd800 && u <= 0xdbff && i + 1 < texte.size() && texte[i + 1] >= 0xdc00 &&
            texte[i + 1] <= 0xdfff) {
            const std::uint32_t bas = texte[i + 1];
            ajouter_utf8(sortie, 0x10000 + ((u - 0xd800) << 10) + (bas - 0xdc00));
            ++i;
        } else if (u >= 0xd800 && u <= 0xdfff) {
            ajouter_utf8(sortie, 0xfffd);
        } else {
            ajouter_utf8(sortie, u);
        }
    }
    return sortie;
}

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

std::string_view nom_apres_barre_oblique_inverse(std::string_view chemin) {
    const auto position = chemin.rfind('\\');
    return position == std::string_view::npos ? chemin : chemin.substr(position + 1);
}

}  // namespace commun
