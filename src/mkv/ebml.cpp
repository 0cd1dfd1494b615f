#include "mkv/ebml.hpp"

#include <bit>
#include <cstring>

namespace mkv::ebml {

void ajouter_be(Octets& o, std::uint64_t v, unsigned largeur) {
    for (unsigned i = largeur; i > 0; --i) {
        o.push_back(static_cast<std::uint8_t>(v >> (8 * (i - 1))));
    }
}

void ajouter_id(Octets& o, std::uint32_t id) {
    unsigned n = 4;
    while (n > 1 && (id >> (8 * (n - 1))) == 0) {
        --n;
    }
    ajouter_be(o, id, n);
}

void ajouter_taille(Octets& o, std::uint64_t n) {
    for (unsigned k = 1; k <= 8; ++k) {
        const std::uint64_t marque = std::uint64_t{1} << (7 * k);
        if (n <= marque - 2) {
            ajouter_be(o, n | marque, k);
            return;
        }
    }
    ajouter_taille_8(o, n);
}

void ajouter_taille_8(Octets& o, std::uint64_t n) {
    o.push_back(0x01);
    ajouter_be(o, n, 7);
}

unsigned largeur_minimale(std::uint64_t v) {
    unsigned n = 1;
    while (n < 8 && (v >> (8 * n)) != 0) {
        ++n;
    }
    return n;
}

void element_uint_min(Octets& o, std::uint32_t id, std::uint64_t v) {
    element_uint_fixe(o, id, v, largeur_minimale(v));
}

void element_uint_fixe(Octets& o, std::uint32_t id, std::uint64_t v, unsigned largeur) {
    ajouter_id(o, id);
    ajouter_taille(o, largeur);
    ajouter_be(o, v, largeur);
}

std::uint64_t bits_float64(double v) { return std::bit_cast<std::uint64_t>(v); }

void element_float64(Octets& o, std::uint32_t id, double v) { element_uint_fixe(o, id, bits_float64(v), 8); }

void element_octets(Octets& o, std::uint32_t id, std::span<const std::uint8_t> payload) {
    ajouter_id(o, id);
    ajouter_taille(o, payload.size());
    o.insert(o.end(), payload.begin(), payload.end());
}

void element_texte(Octets& o, std::uint32_t id, std::string_view texte) {
    ajouter_id(o, id);
    ajouter_taille(o, texte.size());
    o.insert(o.end(), texte.begin(), texte.end());
}

void element_void(Octets& o, std::uint64_t longueur_totale) {
    const std::uint64_t zeros = longueur_totale - 9;
    o.push_back(0xEC);
    ajouter_taille_8(o, zeros);
    o.insert(o.end(), zeros, 0);
}

}  // namespace mkv::ebml
