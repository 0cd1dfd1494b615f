#include "commun/unicode.hpp"

#include <cstdint>
#include <cstring>

namespace commun {

bool est_utf8_valide(std::string_view texte) {
    const auto* p = reinterpret_cast<const unsigned char*>(texte.data());
    const auto* fin = p + texte.size();
    while (p != fin) {
        // Eight ASCII bytes at a time: the common case for telemetry.
        if (fin - p >= 8) {
            std::uint64_t mot = 0;
            std::memcpy(&mot, p, 8);
            if ((mot & 0x8080808080808080ULL) == 0) {
                p += 8;
                continue;
            }
        }
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int suite = 0;
        unsigned bas = 0x80;
        unsigned haut = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            suite = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            suite = 2;
            if (c == 0xE0) bas = 0xA0;   // overlong
            if (c == 0xED) haut = 0x9F;  // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            suite = 3;
            if (c == 0xF0) bas = 0x90;   // overlong
            if (c == 0xF4) haut = 0x8F;  // above U+10FFFF
        } else {
            return false;
        }
        if (fin - p <= suite) return false;
        if (p[1] < bas || p[1] > haut) return false;
        for (int i = 2; i <= suite; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
        }
        p += suite + 1;
    }
    return true;
}

bool est_espace_unicode(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

namespace {

// Decodes the code point starting at `i` (valid UTF-8), returns its length.
std::size_t decoder(std::string_view t, std::size_t i, char32_t& point) {
    const auto c = static_cast<unsigned char>(t[i]);
    std::size_t n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (i + n > t.size()) n = t.size() - i;
    char32_t v = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (std::size_t k = 1; k < n; ++k) {
        v = (v << 6) | (static_cast<unsigned char>(t[i + k]) & 0x3F);
    }
    point = v;
    return n;
}

}  // namespace

std::string_view rogner_unicode(std::string_view t) {
    std::size_t debut = 0;
    while (debut < t.size()) {
        char32_t p = 0;
        const std::size_t n = decoder(t, debut, p);
        if (!est_espace_unicode(p)) break;
        debut += n;
    }
    std::size_t fin = t.size();
    while (fin > debut) {
        std::size_t tete = fin - 1;
        while (tete > debut && (static_cast<unsigned char>(t[tete]) & 0xC0) == 0x80) --tete;
        char32_t p = 0;
        decoder(t, tete, p);
        if (!est_espace_unicode(p)) break;
        fin = tete;
    }
    return t.substr(debut, fin - debut);
}

}  // namespace commun
