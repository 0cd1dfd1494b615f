#include <gtest/gtest.h>

#include "mkv/h264.hpp"

namespace {

using mkv::Octets;

std::vector<Octets> unites(const Octets& au) {
    std::vector<Octets> r;
    for (auto u : mkv::decouper_nal(au)) {
        r.emplace_back(u.begin(), u.end());
    }
    return r;
}

const Octets sps = {0x67, 0x64, 0x00, 0x1F, 0xAC, 0xD9};
const Octets pps = {0x68, 0xEB, 0xE3, 0xCB};
const Octets tranche = {0x65, 0x88, 0x84, 0x00, 0x21};

Octets concat(std::initializer_list<Octets> parties) {
    Octets r;
    for (const auto& p : parties) {
        r.insert(r.end(), p.begin(), p.end());
    }
    return r;
}

const Octets code4 = {0, 0, 0, 1};
const Octets code3 = {0, 0, 1};

TEST(DecouperNal, CodesDeTroisEtQuatreOctets) {
    const Octets au = concat({code4, sps, code4, pps, code3, tranche});
    EXPECT_EQ(unites(au), (std::vector<Octets>{sps, pps, tranche}));
    // The views point into the input.
    const auto vues = mkv::decouper_nal(au);
    ASSERT_EQ(vues.size(), 3u);
    EXPECT_EQ(vues[0].data(), au.data() + 4);
}

TEST(DecouperNal, ZerosDeFinRetiresEtUnitesVidesOmises) {
    // Trailing cabac_zero_words, back-to-back start codes, bytes before the first code.
    const Octets au = concat({{0xAA, 0x00}, code3, sps, {0, 0, 0}, code3, code3, code4, pps, {0, 0}});
    EXPECT_EQ(unites(au), (std::vector<Octets>{sps, pps}));
    // A unit made only of zeros disappears.
    EXPECT_EQ(unites(concat({code3, {0, 0}, code3, tranche})), (std::vector<Octets>{tranche}));
}

TEST(DecouperNal, SansCodeDeDebut) {
    EXPECT_TRUE(mkv::decouper_nal(Octets{}).empty());
    EXPECT_TRUE(mkv::decouper_nal(Octets{0, 0}).empty());
    EXPECT_TRUE(mkv::decouper_nal(Octets{0x65, 0x01, 0x00, 0x00, 0x02}).empty());
    // A start code at the very end opens an empty unit only.
    EXPECT_TRUE(mkv::decouper_nal(Octets{0x11, 0, 0, 1}).empty());
}

TEST(AnnexbVersLongueurs, DelimiteurRetireLesAutresPrefixes) {
    const Octets aud = {0x09, 0xF0};
    const Octets au = concat({code4, aud, code4, sps, code4, pps, code3, tranche});
    const Octets attendu = concat({{0, 0, 0, 6}, sps, {0, 0, 0, 4}, pps, {0, 0, 0, 5}, tranche});
    EXPECT_EQ(mkv::annexb_vers_longueurs(au), attendu);
    EXPECT_TRUE(mkv::annexb_vers_longueurs(Octets{0x67, 0x64, 0x00}).empty());

    // The reusing form clears what the buffer held.
    Octets tampon = {1, 2, 3};
    mkv::annexb_vers_longueurs(au, tampon);
    EXPECT_EQ(tampon, attendu);
}

TEST(ConfigAvc, EnregistrementComplet) {
    const Octets au = concat({code4, {0x09, 0xF0}, code4, sps, code4, pps, code3, tranche});
    const auto r = mkv::config_avc(au);
    ASSERT_TRUE(r.has_value());
    const Octets attendu = concat({{0x01, 0x64, 0x00, 0x1F, 0xFF, 0xE1, 0x00, 0x06}, sps, {0x01, 0x00, 0x04}, pps});
    EXPECT_EQ(*r, attendu);
}

TEST(ConfigAvc, PremierSpsEtPremierPps) {
    const Octets sps2 = {0x67, 0x4D, 0x00, 0x28, 0x01};
    const Octets pps2 = {0x68, 0x01};
    // The PPS may come before the SPS; only the first of each counts.
    const auto r = mkv::config_avc(concat({code3, pps, code3, sps, code3, sps2, code3, pps2}));
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(Octets(r->begin() + 8, r->begin() + 14), sps);
    EXPECT_EQ(Octets(r->end() - 4, r->end()), pps);
}

TEST(ConfigAvc, ManqueSpsOuPps) {
    EXPECT_FALSE(mkv::config_avc(concat({code4, sps, code3, tranche})).has_value());
    EXPECT_FALSE(mkv::config_avc(concat({code4, pps, code3, tranche})).has_value());
    EXPECT_FALSE(mkv::config_avc(Octets{}).has_value());
    // An SPS of 3 bytes is too short, and a later one is not tried.
    EXPECT_FALSE(mkv::config_avc(concat({code3, {0x67, 0x64, 0x1F}, code3, sps, code3, pps})).has_value());
}

}  // namespace
