#include "bin/vextrel/arguments.hpp"

#include "commun/decimal.hpp"
#include "commun/texte_utf8.hpp"
#include "commun/utf16.hpp"

namespace vextrel {

std::optional<std::uint64_t> analyser_secondes(std::string_view texte) {
    return commun::analyser_decimal<std::uint64_t>(texte);
}

std::optional<Arguments> analyser_arguments(std::span<const std::string> arguments,
                                            const std::function<std::filesystem::path()>& dossier_temporaire) {
    if (arguments.empty()) {
        return std::nullopt;
    }
    Arguments a;
    a.processus = arguments[0];
    if (arguments.size() > 1) {
        a.secondes = analyser_secondes(arguments[1]).value_or(secondes_par_defaut);
    }
    if (arguments.size() > 2) {
        a.chemin = arguments[2];
    } else {
        a.chemin = texte_chemin(dossier_temporaire() / "vextrel.mkv");
    }
    return a;
}

std::string texte_chemin(const std::filesystem::path& chemin) {
    std::string texte;
#if defined(_WIN32)
    // UTF-16 with lone surrogates replaced.
    texte = commun::utf8_depuis_utf16(commun::utf16(chemin.native()));
#else
    const std::string& brut = chemin.native();
    for (std::size_t i = 0; i < brut.size();) {
        commun::utf8::ajouter(texte, commun::utf8::decoder(brut, i).value_or(commun::utf8::remplacement));
    }
#endif
    return texte;
}

std::filesystem::path chemin_texte(std::string_view texte) {
    return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(texte.data()), texte.size()));
}

std::string notation_debug(const std::optional<std::string>& texte) {
    if (!texte) {
        return "None";
    }
    static constexpr char chiffres[] = "0123456789abcdef";
    std::string sortie = "Some(\"";
    const std::string& s = *texte;
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t debut = i;
        const auto point = commun::utf8::decoder(s, i);
        if (!point) {
            sortie += "\\u{fffd}";
            continue;
        }
        const std::uint32_t c = *point;
        switch (c) {
        case '\0': sortie += "\\0"; continue;
        case '\t': sortie += "\\t"; continue;
        case '\r': sortie += "\\r"; continue;
        case '\n': sortie += "\\n"; continue;
        case '\\': sortie += "\\\\"; continue;
        case '"': sortie += "\\\""; continue;
        default: break;
        }
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            sortie += "\\u{";
            if (c >= 0x10) {
                sortie.push_back(chiffres[c >> 4]);
            }
            sortie.push_back(chiffres[c & 0xF]);
            sortie += '}';
            continue;
        }
        sortie.append(s, debut, i - debut);
    }
    sortie += "\")";
    return sortie;
}

}  // namespace vextrel
