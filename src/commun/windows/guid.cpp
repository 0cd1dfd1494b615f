#include "commun/windows/guid.hpp"

#include <bit>
#include <cstddef>
#include <vector>

namespace commun {

namespace {

constexpr std::uint32_t rotation(std::uint32_t x, int n) { return std::rotl(x, n); }

void bloc_sha1(std::array<std::uint32_t, 5>& h, const std::uint8_t* bloc) {
    std::array<std::uint32_t, 80> w{};
    for (std::size_t i = 0; i < 16; ++i) {
        w[i] = (std::uint32_t{bloc[4 * i]} << 24) | (std::uint32_t{bloc[4 * i + 1]} << 16) |
               (std::uint32_t{bloc[4 * i + 2]} << 8) | std::uint32_t{bloc[4 * i + 3]};
    }
    for (std::size_t i = 16; i < 80; ++i) {
        w[i] = rotation(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    }
    std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (std::size_t i = 0; i < 80; ++i) {
        std::uint32_t f = 0;
        std::uint32_t k = 0;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5a827999;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ed9eba1;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8f1bbcdc;
        } else {
            f = b ^ c ^ d;
            k = 0xca62c1d6;
        }
        const std::uint32_t t = rotation(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = rotation(b, 30);
        b = a;
        a = t;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
}

void ajouter_hex(std::string& texte, std::uint64_t valeur, int chiffres, bool majuscules) {
    const char* alphabet = majuscules ? "0123456789ABCDEF" : "0123456789abcdef";
    for (int i = chiffres - 1; i >= 0; --i) {
        texte += alphabet[(valeur >> (4 * i)) & 0xf];
    }
}

std::string texte(const Guid& g, bool majuscules) {
    std::string t;
    t.reserve(36);
    ajouter_hex(t, g.donnees1, 8, majuscules);
    t += '-';
    ajouter_hex(t, g.donnees2, 4, majuscules);
    t += '-';
    ajouter_hex(t, g.donnees3, 4, majuscules);
    t += '-';
    for (std::size_t i = 0; i < 8; ++i) {
        if (i == 2) {
            t += '-';
        }
        ajouter_hex(t, g.donnees4[i], 2, majuscules);
    }
    return t;
}

}  // namespace

Empreinte sha1(std::span<const std::uint8_t> octets) {
    std::array<std::uint32_t, 5> h{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
    const std::size_t complets = octets.size() / 64;
    for (std::size_t i = 0; i < complets; ++i) {
        bloc_sha1(h, octets.data() + 64 * i);
    }
    // Last one or two blocks: the rest, the 0x80 marker, zeros, then the length in bits.
    std::array<std::uint8_t, 128> fin{};
    const std::size_t reste = octets.size() - 64 * complets;
    for (std::size_t i = 0; i < reste; ++i) {
        fin[i] = octets[64 * complets + i];
    }
    fin[reste] = 0x80;
    const std::size_t taille_fin = reste + 1 + 8 <= 64 ? 64 : 128;
    const std::uint64_t bits = static_cast<std::uint64_t>(octets.size()) * 8;
    for (std::size_t i = 0; i < 8; ++i) {
        fin[taille_fin - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    for (std::size_t i = 0; i < taille_fin; i += 64) {
        bloc_sha1(h, fin.data() + i);
    }
    Empreinte resultat{};
    for (std::size_t i = 0; i < 5; ++i) {
        for (std::size_t j = 0; j < 4; ++j) {
            resultat[4 * i + j] = static_cast<std::uint8_t>(h[i] >> (24 - 8 * j));
        }
    }
    return resultat;
}

Guid guid_v5(const Guid& espace, std::string_view nom) {
    std::vector<std::uint8_t> octets;
    octets.reserve(16 + nom.size());
    for (int i = 3; i >= 0; --i) {
        octets.push_back(static_cast<std::uint8_t>(espace.donnees1 >> (8 * i)));
    }
    octets.push_back(static_cast<std::uint8_t>(espace.donnees2 >> 8));
    octets.push_back(static_cast<std::uint8_t>(espace.donnees2));
    octets.push_back(static_cast<std::uint8_t>(espace.donnees3 >> 8));
    octets.push_back(static_cast<std::uint8_t>(espace.donnees3));
    octets.insert(octets.end(), espace.donnees4.begin(), espace.donnees4.end());
    for (char c : nom) {
        octets.push_back(static_cast<std::uint8_t>(c));
    }
    Empreinte e = sha1(octets);
    e[6] = static_cast<std::uint8_t>((e[6] & 0x0f) | 0x50);
    e[8] = static_cast<std::uint8_t>((e[8] & 0x3f) | 0x80);
    Guid g;
    g.donnees1 =
        (std::uint32_t{e[0]} << 24) | (std::uint32_t{e[1]} << 16) | (std::uint32_t{e[2]} << 8) | std::uint32_t{e[3]};
    g.donnees2 = static_cast<std::uint16_t>((e[4] << 8) | e[5]);
    g.donnees3 = static_cast<std::uint16_t>((e[6] << 8) | e[7]);
    for (std::size_t i = 0; i < 8; ++i) {
        g.donnees4[i] = e[8 + i];
    }
    return g;
}

std::string texte_guid_signature(const Guid& g) {
    std::string t = "{";
    t += texte(g, false);
    t += '}';
    return t;
}

std::string texte_guid(const Guid& g) { return texte(g, true); }

std::string signature_typed_event_handler(std::string_view nom_classe, const Guid& iid_defaut) {
    std::string s = "pinterface(";
    s += texte_guid_signature(iid_typed_event_handler);
    s += ";rc(";
    s += nom_classe;
    s += ';';
    s += texte_guid_signature(iid_defaut);
    s += ");cinterface(IInspectable))";
    return s;
}

}  // namespace commun
