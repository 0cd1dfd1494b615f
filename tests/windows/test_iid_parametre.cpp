#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "capture/wgc_iid_windows.hpp"
#include "commun/windows/guid.hpp"

namespace {

using commun::Guid;

std::string hex(const commun::Empreinte& e) {
    static constexpr char chiffres[] = "0123456789abcdef";
    std::string t;
    for (auto o : e) {
        t += chiffres[o >> 4];
        t += chiffres[o & 0xf];
    }
    return t;
}

commun::Empreinte sha1_texte(std::string_view s) {
    std::vector<std::uint8_t> octets(s.begin(), s.end());
    return commun::sha1(octets);
}

TEST(Sha1, VecteursDeReference) {
    EXPECT_EQ(hex(sha1_texte("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(hex(sha1_texte("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
    // 56 bytes: the padding spills into a second block.
    EXPECT_EQ(hex(sha1_texte("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    // 55 and 64 bytes: the limits of the one-block padding.
    EXPECT_EQ(hex(sha1_texte(std::string(55, 'a'))), "c1c8bbdc22796e28c0e15163d20899b65621d65a");
    EXPECT_EQ(hex(sha1_texte(std::string(64, 'a'))), "0098ba824b5c16427bd7a1122a5a442a25ec644d");
    EXPECT_EQ(hex(sha1_texte(std::string(1000000, 'a'))), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(GuidV5, EspaceDeNomsDnsConnu) {
    // uuid5(NAMESPACE_DNS, "python.org"), a widely quoted value.
    constexpr Guid dns{0x6ba7b810, 0x9dad, 0x11d1, {0x80, 0xb4, 0x00, 0xc0, 0x4f, 0xd4, 0x30, 0xc8}};
    EXPECT_EQ(commun::texte_guid(commun::guid_v5(dns, "python.org")), "886313E1-3B8A-5372-9B90-0C9AEE199E5D");
}

TEST(IidParametre, GestionnairesDeLaCaptureEgauxAuxConstantes) {
    const std::string frame_arrived =
        commun::signature_typed_event_handler(capture::iids::classe_pool, capture::iids::frame_pool);
    EXPECT_EQ(frame_arrived,
              "pinterface({9de1c534-6ae1-11e0-84e1-18a905bcc53f};rc(Windows.Graphics.Capture."
              "Direct3D11CaptureFramePool;{24eb6d22-1975-422e-82e7-780dbd8ddf24});cinterface(IInspectable))");
    EXPECT_EQ(commun::iid_parametre(frame_arrived), capture::iids::gestionnaire_frame_arrived);

    const std::string closed =
        commun::signature_typed_event_handler(capture::iids::classe_item, capture::iids::graphics_capture_item);
    EXPECT_EQ(commun::iid_parametre(closed), capture::iids::gestionnaire_closed);

    // The two handlers are distinct types, and the neighbouring generic (EventHandler) differs.
    EXPECT_NE(capture::iids::gestionnaire_frame_arrived, capture::iids::gestionnaire_closed);
    std::string autre_generique = frame_arrived;
    autre_generique.replace(autre_generique.find("9de1c534"), 8, "9de1c535");
    EXPECT_NE(commun::iid_parametre(autre_generique), capture::iids::gestionnaire_frame_arrived);
}

TEST(IidParametre, InstancesDeControlePubliees) {
    // Instances the runtime's headers publish, with other generics and a struct argument.
    const std::string rc_item =
        "rc(Windows.Graphics.Capture.GraphicsCaptureItem;{79c3f95b-31f7-4ec2-a464-632ef5d30760})";
    EXPECT_EQ(
        commun::texte_guid(commun::iid_parametre("pinterface({9fc2b0bb-e446-44e2-aa61-9cab8f636af2};" + rc_item + ")")),
        "01CCF2AE-1059-5D57-A805-0A1DFC54CAB9");
    EXPECT_EQ(
        commun::texte_guid(commun::iid_parametre("pinterface({fcdcf02c-e5d8-4478-915a-4d90b74b83a5};" + rc_item + ")")),
        "43004A3C-FFE7-5352-85A6-7BC41B782FCA");
    EXPECT_EQ(commun::texte_guid(commun::iid_parametre(
                  "pinterface({bbe1fa4c-b0e3-4583-baef-1f1b2e483e56};struct(Windows.Graphics.RectInt32;i4;i4;i4;i4))")),
              "4F5E243F-3812-5200-B70C-30DCFC61717B");
}

TEST(TexteGuid, MajusculesSansAccoladesEtFormeDeSignature) {
    // CODECAPI_AVEncMPVGOPSize, as the encoder's diagnostics print it.
    constexpr Guid gop{0x95f31b26, 0x95a4, 0x41aa, {0x93, 0x03, 0x24, 0x6a, 0x7f, 0xc6, 0xee, 0xf1}};
    EXPECT_EQ(commun::texte_guid(gop), "95F31B26-95A4-41AA-9303-246A7FC6EEF1");
    EXPECT_EQ(commun::texte_guid_signature(gop), "{95f31b26-95a4-41aa-9303-246a7fc6eef1}");
    // Leading zeros of every group are kept.
    constexpr Guid petit{0x1, 0x2, 0x3, {0, 0, 0, 0, 0, 0, 0, 0x4}};
    EXPECT_EQ(commun::texte_guid(petit), "00000001-0002-0003-0000-000000000004");
}

}  // namespace
