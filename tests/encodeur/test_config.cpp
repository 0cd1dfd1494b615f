#include "encodeur/config.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

namespace {

using namespace encodeur;

ConfigEncodeur config(std::uint32_t w, std::uint32_t h, std::uint32_t ips) {
    ConfigEncodeur c;
    c.largeur = w;
    c.hauteur = h;
    c.images_par_seconde = ips;
    return c;
}

TEST(Niveau, FromTheMacroblockRate) {
    EXPECT_EQ(debit_macroblocs(config(1280, 720, 30)), 108000u);
    EXPECT_EQ(niveau_h264(config(1280, 720, 30)), 40u);
    EXPECT_EQ(debit_macroblocs(config(1920, 1080, 60)), 489600u);  // 1080 rounds up to 68 rows
    EXPECT_EQ(niveau_h264(config(1920, 1080, 60)), 42u);
    EXPECT_EQ(debit_macroblocs(config(3840, 2160, 30)), 972000u);
    EXPECT_EQ(niveau_h264(config(3840, 2160, 30)), 51u);
    // Boundaries are inclusive.
    EXPECT_EQ(niveau_h264(config(16 * 245760, 16, 1)), 40u);
    EXPECT_EQ(niveau_h264(config(16 * 245761, 16, 1)), 42u);
    EXPECT_EQ(niveau_h264(config(16 * 589824, 16, 1)), 50u);
    EXPECT_EQ(niveau_h264(config(16 * 983041, 16, 1)), 52u);
    // No 32-bit overflow on absurd sizes.
    EXPECT_EQ(niveau_h264(config(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF)), 52u);
}

TEST(Presets, AndVendors) {
    EXPECT_EQ(qualite_preset(0), 20u);
    EXPECT_EQ(qualite_preset(1), 50u);
    EXPECT_EQ(qualite_preset(2), 85u);
    EXPECT_EQ(qualite_preset(3), std::nullopt);

    const std::vector<std::optional<std::string>> noms{std::nullopt,
                                                       "",
                                                       "nvidia H.264 Encoder MFT",
                                                       "Intel® Quick Sync Video H.264 Encoder MFT",
                                                       "AMDh264Encoder",
                                                       "NVIDIA H.264 Encoder MFT"};
    EXPECT_EQ(choisir_encodeur(noms, 0x10DE), 5u);  // lower-case spelling does not match
    EXPECT_EQ(choisir_encodeur(noms, 0x8086), 3u);
    EXPECT_EQ(choisir_encodeur(noms, 0x1002), 4u);
    EXPECT_EQ(choisir_encodeur(noms, 0x1022), 4u);
    EXPECT_EQ(choisir_encodeur(noms, 0x1414), std::nullopt);  // unknown vendor, encoders or not
    EXPECT_EQ(message_aucun_encodeur("Carte X"), "aucun encodeur H.264 matériel pour la carte « Carte X »");
}

TEST(Environnement, NumbersAreAnOptionalPlusThenDigits) {
    EXPECT_EQ(analyser_u32("90"), 90u);
    EXPECT_EQ(analyser_u32("+90"), 90u);
    EXPECT_EQ(analyser_u32("4294967295"), 4294967295u);
    for (const char* refuse : {"", "+", "-5", " 90", "90 ", "abc", "4294967296", "++1", "9a", "-0"}) {
        EXPECT_EQ(analyser_u32(refuse), std::nullopt) << refuse;
    }
}

LecteurEnv lecteur(std::map<std::string, VariableEnv> valeurs) {
    return [valeurs](const char* nom) {
        const auto it = valeurs.find(nom);
        return it == valeurs.end() ? VariableEnv{} : it->second;
    };
}

TEST(Environnement, DiagnosticOptions) {
    using E = VariableEnv::Etat;
    const ConfigEncodeur c = config(1280, 720, 30);

    auto o = lire_options_diagnostic(lecteur({}));
    EXPECT_TRUE(o.faible_latence);
    EXPECT_FALSE(o.debogage);
    EXPECT_EQ(taille_gop(c, o), 60u);

    o = lire_options_diagnostic(lecteur({{"QUILLORY_TEST_SANS_LL", {E::presente, ""}},
                                         {"QUILLORY_GOP_TEST", {E::presente, "90"}},
                                         {"QUILLORY_DEBUG_ENCODEUR", {E::presente, "0"}}}));
    EXPECT_FALSE(o.faible_latence);  // the empty string counts as present
    EXPECT_TRUE(o.debogage);
    EXPECT_EQ(taille_gop(c, o), 90u);
    EXPECT_EQ(intervalle_images_cles(c), 60u);  // the media type keeps its own spacing

    o = lire_options_diagnostic(lecteur({{"QUILLORY_TEST_SANS_LL", {E::non_unicode, ""}},
                                         {"QUILLORY_GOP_TEST", {E::presente, " 90"}},
                                         {"QUILLORY_DEBUG_ENCODEUR", {E::non_unicode, ""}}}));
    EXPECT_TRUE(o.faible_latence);
    EXPECT_FALSE(o.debogage);
    EXPECT_EQ(taille_gop(c, o), 60u);
}

#if !defined(_WIN32)
TEST(Environnement, SystemVariablesAreCheckedAsUtf8) {
    ::setenv("COEUR_TEST_VIDE", "", 1);
    ::setenv("COEUR_TEST_TEXTE", "débit", 1);
    ::setenv("COEUR_TEST_BRUT", "\xff\xfe", 1);
    ::setenv("COEUR_TEST_SURROGAT", "\xed\xa0\x80", 1);
    ::unsetenv("COEUR_TEST_ABSENT");
    EXPECT_EQ(lire_variable("COEUR_TEST_VIDE").etat, VariableEnv::Etat::presente);
    EXPECT_EQ(lire_variable("COEUR_TEST_TEXTE").valeur, "débit");
    EXPECT_EQ(lire_variable("COEUR_TEST_BRUT").etat, VariableEnv::Etat::non_unicode);
    EXPECT_EQ(lire_variable("COEUR_TEST_SURROGAT").etat, VariableEnv::Etat::non_unicode);
    EXPECT_EQ(lire_variable("COEUR_TEST_ABSENT").etat, VariableEnv::Etat::absente);
}
#endif

TEST(Diagnostic, GuidAndLines) {
    // CODECAPI_AVEncMPVGOPSize
    const Guid gop{0x95f31b26, 0x95a4, 0x41aa, {0x93, 0x03, 0x24, 0x6a, 0x7f, 0xc6, 0xee, 0xf1}};
    EXPECT_EQ(texte_guid(gop), "95F31B26-95A4-41AA-9303-246A7FC6EEF1");
    EXPECT_EQ(texte_guid(Guid{}), "00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(ligne_refus_propriete(gop, 60, "Paramètre incorrect."),
              "codecapi SetValue(95F31B26-95A4-41AA-9303-246A7FC6EEF1, 60) refusé : Paramètre incorrect.\n");
    EXPECT_EQ(ligne_propriete("GOP", 60u), "\tcodecapi GOP = Some(60)\n");
    EXPECT_EQ(ligne_propriete("B", std::nullopt), "\tcodecapi B = None\n");
    EXPECT_EQ(ligne_propriete_illisible("mode", "Non implémenté"), "\tcodecapi mode illisible : Non implémenté\n");
}

TEST(Sortie, BufferSizeAndSampleTimes) {
    EXPECT_EQ(taille_tampon_sortie(0, 0), 1048576u);
    EXPECT_EQ(taille_tampon_sortie(4096, 0), 1048576u);
    EXPECT_EQ(taille_tampon_sortie(2097152, 0), 2097152u);
    EXPECT_EQ(taille_tampon_sortie(4096, 0x100), std::nullopt);
    EXPECT_EQ(taille_tampon_sortie(4096, 0x104), std::nullopt);

    EXPECT_EQ(horodatage_image(1, 30), 333333);
    EXPECT_EQ(horodatage_image(3, 30), 1000000);
    EXPECT_EQ(horodatage_image(300, 30), 100000000);
    EXPECT_EQ(horodatage_image(2, 30), 666666);
    EXPECT_EQ(duree_image(30), 333333u);
    // Large indices keep exact truncating arithmetic (no overflow of n × 10^7).
    EXPECT_EQ(horodatage_image(1'000'000'000'001ull, 30), 333'333'333'333'666'666);
}

}  // namespace
