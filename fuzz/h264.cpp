// The H.264 helpers (decouper_nal, annexb_vers_longueurs, config_avc) against a byte-by-byte reading of
// the same rules: a start code is 00 00 01 (a fourth byte 00 before it belongs to the previous unit, whose
// trailing zeros are dropped), start codes never overlap, empty units are dropped, bytes before the first
// start code are ignored. Oracles: the same units as views into the input; the length-prefixed form is
// those units without delimiters, each behind its 4-byte big-endian length, in a fresh or reused buffer;
// the configuration record is built from the first SPS and the first PPS, or absent exactly when one is
// missing or cannot be described.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "commun_fuzz.hpp"
#include "mkv/h264.hpp"

namespace {

std::vector<mkv::VueOctets> modele(mkv::VueOctets o) {
    std::vector<std::size_t> codes;
    for (std::size_t i = 0; i + 2 < o.size();) {
        if (o[i] == 0 && o[i + 1] == 0 && o[i + 2] == 1) {
            codes.push_back(i);
            i += 3;
        } else {
            ++i;
        }
    }
    std::vector<mkv::VueOctets> unites;
    for (std::size_t c = 0; c < codes.size(); ++c) {
        const std::size_t debut = codes[c] + 3;
        std::size_t fin = c + 1 < codes.size() ? codes[c + 1] : o.size();
        while (fin > debut && o[fin - 1] == 0) --fin;
        if (fin > debut) unites.push_back(o.subspan(debut, fin - debut));
    }
    return unites;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* donnees, std::size_t taille) {
    const mkv::VueOctets entree(donnees, taille);
    const auto unites = mkv::decouper_nal(entree);
    const auto attendues = modele(entree);
    if (unites.size() != attendues.size()) fuzz::echec("another number of NAL units");
    for (std::size_t i = 0; i < unites.size(); ++i) {
        if (unites[i].data() != attendues[i].data() || unites[i].size() != attendues[i].size()) {
            fuzz::echec("another NAL unit", std::to_string(i));
        }
    }

    mkv::Octets longueurs;
    std::optional<mkv::VueOctets> sps;
    std::optional<mkv::VueOctets> pps;
    for (const mkv::VueOctets u : attendues) {
        const std::uint8_t type = mkv::type_nal(u);
        if (type == mkv::nal_sps && !sps) sps = u;
        if (type == mkv::nal_pps && !pps) pps = u;
        if (type == mkv::nal_delimiteur) continue;
        for (int decalage : {24, 16, 8, 0}) longueurs.push_back(static_cast<std::uint8_t>(u.size() >> decalage));
        longueurs.insert(longueurs.end(), u.begin(), u.end());
    }
    if (mkv::annexb_vers_longueurs(entree) != longueurs) fuzz::echec("another length-prefixed form");
    mkv::Octets reutilise(taille % 97, 0xAB);
    mkv::annexb_vers_longueurs(entree, reutilise);
    if (reutilise != longueurs) fuzz::echec("another length-prefixed form in a reused buffer");

    const auto config = mkv::config_avc(entree);
    if (!sps || !pps || sps->size() <= 3 || sps->size() > 0xFFFF || pps->size() > 0xFFFF) {
        if (config) fuzz::echec("a configuration record without a usable SPS and PPS");
        return 0;
    }
    mkv::Octets attendu = {1,
                           (*sps)[1],
                           (*sps)[2],
                           (*sps)[3],
                           0xFF,
                           0xE1,
                           static_cast<std::uint8_t>(sps->size() >> 8),
                           static_cast<std::uint8_t>(sps->size())};
    attendu.insert(attendu.end(), sps->begin(), sps->end());
    attendu.insert(attendu.end(),
                   {1, static_cast<std::uint8_t>(pps->size() >> 8), static_cast<std::uint8_t>(pps->size())});
    attendu.insert(attendu.end(), pps->begin(), pps->end());
    if (!config || *config != attendu) fuzz::echec("another configuration record");
    return 0;
}
