#include "bin/vextrel/arguments.hpp"

#include <charconv>

namespace vextrel {

std::optional<std::uint64_t> analyser_secondes(std::string_view texte) {
    if (!texte.empty() && texte.front() == '+') {
        texte.remove_prefix(1);
    }
    if (texte.empty()) {
        return std::nullopt;
    }
    for (const char c : texte) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
    }
    std::uint64_t valeur = 0;
    const auto [fin, code] = std::from_chars(texte.data(), texte.data() + texte.size(), valeur);
    if (code != std::errc{} || fin != texte.data() + texte.size()) {
        return std::nullopt;
    }
    return valeur;
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

namespace {

void ajouter_utf8(std::string& sortie, std::uint32_t point) {
    if (point < 0x80) {
        sortie.push_back(static_cast<char>(point));
    } else if (point < 0x800) {
        sortie.push_back(static_cast<char>(0xC0 | (point >> 6)));
        sortie.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else if (point < 0x10000) {
        sortie.push_back(static_cast<char>(0xE0 | (point >> 12)));
        sortie.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
        sortie.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else {
        sortie.push_back(static_cast<char>(0xF0 | (point >> 18)));
        sortie.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
        sortie.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
        sortie.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
}

constexpr std::uint32_t remplacement = 0xFFFD;

// Decodes one code point at `i`; none for an invalid sequence (which then counts one byte).
std::optional<std::uint32_t> decoder_utf8(std::string_view s, std::size_t& i) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    std::uint32_t point = 0;
    std::uint32_t minimum = 0;
    if (c < 0x80) {
        ++i;
        return c;
    }
    if ((c & 0xE0) == 0xC0) {
        n = 1, point = c & 0x1F, minimum = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 2, point = c & 0x0F, minimum = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 3, point = c & 0x07, minimum = 0x10000;
    } else {
        ++i;
        return std::nullopt;
    }
    if (i + n >= s.size()) {
        ++i;
        return std::nullopt;
    }
    for (std::size_t k = 1; k <= n; ++k) {
        const auto suite = static_cast<unsigned char>(s[i + k]);
        if ((suite & 0xC0) != 0x80) {
            ++i;
            return std::nullopt;
        }
        point = (point << 6) | (suite & 0x3F);
    }
    if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
        ++i;
        return std::nullopt;
    }
    i += n + 1;
    return point;
}

}  // namespace

std::string texte_chemin(const std::filesystem::path& chemin) {
    std::string texte;
#if defined(_WIN32)
    // UTF-16 with lone surrogates replaced.
    const std::wstring& large = chemin.native();
    for (std::size_t i = 0; i < large.size(); ++i) {
        const auto u = static_cast<std::uint32_t>(static_cast<std::uint16_t>(large[i]));
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < large.size()) {
            const auto v = static_cast<std::uint32_t>(static_cast<std::uint16_t>(large[i + 1]));
            if (v >= 0xDC00 && v <= 0xDFFF) {
                ajouter_utf8(texte, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
                ++i;
                continue;
            }
        }
        ajouter_utf8(texte, (u >= 0xD800 && u <= 0xDFFF) ? remplacement : u);
    }
#else
    const std::string& brut = chemin.native();
    for (std::size_t i = 0; i < brut.size();) {
        ajouter_utf8(texte, decoder_utf8(brut, i).value_or(remplacement));
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
        const auto point = decoder_utf8(s, i);
        if (!point) {
            sortie += "\\u{fffd}";
            continue;
        }
        const std::uint32_t c = *point;
        switch (c) {
            case '\0':
                sortie += "\\0";
                continue;
            case '\t':
                sortie += "\\t";
                continue;
            case '\r':
                sortie += "\\r";
                continue;
            case '\n':
                sortie += "\\n";
                continue;
            case '\\':
                sortie += "\\\\";
                continue;
            case '"':
                sortie += "\\\"";
                continue;
            default:
                break;
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
