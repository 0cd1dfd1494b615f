#include "mkv/h264.hpp"

#include <cstring>

namespace mkv {

namespace {

// Calls `f(unite)` for every non-empty NAL unit, without allocating.
template <typename F>
void pour_chaque_nal(VueOctets octets, F&& f) {
    const std::uint8_t* const base = octets.data();
    const std::size_t n = octets.size();
    // Start of the current unit, or n when no start code was seen yet.
    std::size_t debut = n;
    auto emettre = [&](std::size_t fin) {
        while (fin > debut && base[fin - 1] == 0) {
            --fin;
        }
        if (fin > debut) {
            f(VueOctets(base + debut, fin - debut));
        }
    };
    // A start code 00 00 01 is found through its 0x01, which memchr locates quickly.
    std::size_t j = 2;
    while (j < n) {
        const void* trouve = std::memchr(base + j, 0x01, n - j);
        if (trouve == nullptr) {
            break;
        }
        const std::size_t k = static_cast<std::size_t>(static_cast<const std::uint8_t*>(trouve) - base);
        if (base[k - 1] == 0 && base[k - 2] == 0) {
            if (debut != n) {
                emettre(k - 2);
            }
            debut = k + 1;
            // The next start code may begin right after this one, never inside it.
            j = debut + 2;
        } else {
            j = k + 1;
        }
    }
    if (debut != n) {
        emettre(n);
    }
}

void ajouter_be32(Octets& sortie, std::uint32_t v) {
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                               static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    sortie.insert(sortie.end(), b, b + 4);
}

}  // namespace

std::vector<VueOctets> decouper_nal(VueOctets unite_acces) {
    std::vector<VueOctets> unites;
    pour_chaque_nal(unite_acces, [&](VueOctets u) { unites.push_back(u); });
    return unites;
}

void annexb_vers_longueurs(VueOctets unite_acces, Octets& sortie) {
    sortie.clear();
    sortie.reserve(unite_acces.size() + 16);
    pour_chaque_nal(unite_acces, [&](VueOctets u) {
        if (type_nal(u) == nal_delimiteur) {
            return;
        }
        ajouter_be32(sortie, static_cast<std::uint32_t>(u.size()));
        sortie.insert(sortie.end(), u.begin(), u.end());
    });
}

Octets annexb_vers_longueurs(VueOctets unite_acces) {
    Octets sortie;
    annexb_vers_longueurs(unite_acces, sortie);
    return sortie;
}

std::optional<Octets> config_avc(VueOctets unite_acces) {
    std::optional<VueOctets> sps;
    std::optional<VueOctets> pps;
    pour_chaque_nal(unite_acces, [&](VueOctets u) {
        if (!sps && type_nal(u) == nal_sps) {
            sps = u;
        } else if (!pps && type_nal(u) == nal_pps) {
            pps = u;
        }
    });
    // Both lengths go into 16-bit fields; longer parameter sets cannot be described.
    if (!sps || !pps || sps->size() <= 3 || sps->size() > 0xFFFF || pps->size() > 0xFFFF) {
        return std::nullopt;
    }
    Octets r;
    r.reserve(11 + sps->size() + pps->size());
    r.push_back(1);
    r.push_back((*sps)[1]);
    r.push_back((*sps)[2]);
    r.push_back((*sps)[3]);
    r.push_back(0xFF);
    r.push_back(0xE1);
    r.push_back(static_cast<std::uint8_t>(sps->size() >> 8));
    r.push_back(static_cast<std::uint8_t>(sps->size()));
    r.insert(r.end(), sps->begin(), sps->end());
    r.push_back(1);
    r.push_back(static_cast<std::uint8_t>(pps->size() >> 8));
    r.push_back(static_cast<std::uint8_t>(pps->size()));
    r.insert(r.end(), pps->begin(), pps->end());
    return r;
}

}  // namespace mkv
