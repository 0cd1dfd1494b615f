#pragma once
// A minimal EBML reader for checking the files the writer produces.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace essai {

using Octets = std::vector<std::uint8_t>;

inline Octets lire_octets(const std::filesystem::path& chemin) {
    std::ifstream f(chemin, std::ios::binary);
    return Octets(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct Element {
    std::uint32_t id = 0;
    std::uint64_t debut = 0;          // offset of the first ID byte
    std::uint64_t debut_donnees = 0;  // offset of the payload
    std::uint64_t taille = 0;         // payload length (undefined when inconnue)
    bool inconnue = false;            // unknown-size marker
    std::uint64_t fin() const { return debut_donnees + taille; }
};

// Length of a variable-length integer from its first byte (0 when invalid).
inline unsigned longueur_vint(std::uint8_t premier) {
    for (unsigned k = 1; k <= 8; ++k) {
        if (premier & (0x80u >> (k - 1))) {
            return k;
        }
    }
    return 0;
}

inline std::optional<Element> lire_element(const Octets& o, std::uint64_t pos) {
    if (pos >= o.size()) {
        return std::nullopt;
    }
    Element e;
    e.debut = pos;
    const unsigned lid = longueur_vint(o[pos]);
    if (lid == 0 || lid > 4 || pos + lid >= o.size()) {
        return std::nullopt;
    }
    for (unsigned i = 0; i < lid; ++i) {
        e.id = (e.id << 8) | o[pos + i];
    }
    pos += lid;
    const unsigned lt = longueur_vint(o[pos]);
    if (lt == 0 || pos + lt > o.size()) {
        return std::nullopt;
    }
    std::uint64_t v = o[pos] & (0xFFu >> lt);
    bool tous_uns = v == (0xFFu >> lt);
    for (unsigned i = 1; i < lt; ++i) {
        v = (v << 8) | o[pos + i];
        tous_uns = tous_uns && o[pos + i] == 0xFF;
    }
    e.inconnue = tous_uns;
    e.taille = v;
    e.debut_donnees = pos + lt;
    return e;
}

// Children of [debut, fin), stopping at the first element that does not parse or fit.
inline std::vector<Element> enfants(const Octets& o, std::uint64_t debut, std::uint64_t fin) {
    std::vector<Element> r;
    std::uint64_t pos = debut;
    while (pos < fin) {
        auto e = lire_element(o, pos);
        if (!e || e->inconnue || e->fin() > fin) {
            break;
        }
        r.push_back(*e);
        pos = e->fin();
    }
    return r;
}

inline std::vector<Element> enfants(const Octets& o, const Element& parent) {
    return enfants(o, parent.debut_donnees, parent.inconnue ? o.size() : parent.fin());
}

inline std::vector<Element> filtrer(const std::vector<Element>& v, std::uint32_t id) {
    std::vector<Element> r;
    for (const auto& e : v) {
        if (e.id == id) {
            r.push_back(e);
        }
    }
    return r;
}

inline std::uint64_t valeur_uint(const Octets& o, const Element& e) {
    std::uint64_t v = 0;
    for (std::uint64_t i = 0; i < e.taille; ++i) {
        v = (v << 8) | o[e.debut_donnees + i];
    }
    return v;
}

inline Octets charge(const Octets& o, const Element& e) {
    return Octets(o.begin() + static_cast<std::ptrdiff_t>(e.debut_donnees),
                  o.begin() + static_cast<std::ptrdiff_t>(e.fin()));
}

}  // namespace essai
