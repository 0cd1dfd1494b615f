#include "cohorte/json_sortie.hpp"

#include <charconv>
#include <cmath>
#include <system_error>

namespace cohorte {

void ajouter_flottant(std::string& sortie, double valeur) {
    if (!std::isfinite(valeur)) {
        sortie += "null";
        return;
    }
    // Shortest digits in scientific form: [-]d[.ddd]e(+|-)XX, then laid out by hand.
    char tampon[40];
    const auto [fin, ec] = std::to_chars(tampon, tampon + sizeof tampon, valeur, std::chars_format::scientific);
    (void)ec;  // 40 bytes always hold a double in scientific form
    const char* p = tampon;
    if (*p == '-') {
        sortie += '-';
        ++p;
    }
    char chiffres[20];
    int n = 0;
    for (; p < fin && *p != 'e'; ++p)
        if (*p != '.') chiffres[n++] = *p;
    int exposant = 0;
    std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), fin, exposant);
    // value = 0.chiffres x 10^kk
    const int kk = exposant + 1;
    if (kk > 0 && kk <= 16) {
        if (n <= kk) {
            sortie.append(chiffres, static_cast<std::size_t>(n));
            sortie.append(static_cast<std::size_t>(kk - n), '0');
            sortie += ".0";
        } else {
            sortie.append(chiffres, static_cast<std::size_t>(kk));
            sortie += '.';
            sortie.append(chiffres + kk, static_cast<std::size_t>(n - kk));
        }
    } else if (kk <= 0 && kk > -5) {
        sortie += "0.";
        sortie.append(static_cast<std::size_t>(-kk), '0');
        sortie.append(chiffres, static_cast<std::size_t>(n));
    } else {
        sortie += chiffres[0];
        if (n > 1) {
            sortie += '.';
            sortie.append(chiffres + 1, static_cast<std::size_t>(n - 1));
        }
        sortie += 'e';
        ajouter_entier(sortie, kk - 1);
    }
}

void ajouter_entier(std::string& sortie, std::int64_t valeur) {
    char tampon[24];
    const auto [fin, ec] = std::to_chars(tampon, tampon + sizeof tampon, valeur);
    (void)ec;
    sortie.append(tampon, fin);
}

void ajouter_texte(std::string& sortie, std::string_view texte) {
    static constexpr char hex[] = "0123456789abcdef";
    sortie += '"';
    for (const char c : texte) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': sortie += "\\\""; break;
            case '\\': sortie += "\\\\"; break;
            case '\n': sortie += "\\n"; break;
            case '\r': sortie += "\\r"; break;
            case '\t': sortie += "\\t"; break;
            case '\b': sortie += "\\b"; break;
            case '\f': sortie += "\\f"; break;
            default:
                if (u < 0x20) {
                    sortie += "\\u00";
                    sortie += hex[u >> 4];
                    sortie += hex[u & 0xF];
                } else {
                    sortie += c;
                }
        }
    }
    sortie += '"';
}

}  // namespace cohorte
