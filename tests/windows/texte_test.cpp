#include <gtest/gtest.h>

#include <string>

#include "commun/windows/texte.hpp"

namespace {

TEST(Utf8AvecPertes, ConvertitEtRemplaceLesSurrogatsIsoles) {
    EXPECT_EQ(commun::utf8_avec_pertes(u"jeu.exe"), "jeu.exe");
    EXPECT_EQ(commun::utf8_avec_pertes(u"\u00e9t\u00e9 \u20ac"), "\xc3\xa9t\xc3\xa9 \xe2\x82\xac");
    // A pair gives one four-byte character.
    EXPECT_EQ(commun::utf8_avec_pertes(u"\U0001F600"), "\xf0\x9f\x98\x80");
    const std::u16string isoles{u'a', char16_t(0xd800), u'b', char16_t(0xdc00), char16_t(0xdbff)};
    EXPECT_EQ(commun::utf8_avec_pertes(isoles), "a\xef\xbf\xbd" "b\xef\xbf\xbd\xef\xbf\xbd");
    // A low surrogate before a high one is not a pair.
    const std::u16string inverses{char16_t(0xdc00), char16_t(0xd800)};
    EXPECT_EQ(commun::utf8_avec_pertes(inverses), "\xef\xbf\xbd\xef\xbf\xbd");
    EXPECT_EQ(commun::utf8_avec_pertes(std::u16string(1, u'\0')), std::string(1, '\0'));
}

TEST(UneLigne, RetireLaFinDeLigneEtJointLesLignes) {
    EXPECT_EQ(commun::une_ligne("Accès refusé.\r\n"), "Accès refusé.");
    EXPECT_EQ(commun::une_ligne("Le paramètre est incorrect. \r\n"), "Le paramètre est incorrect.");
    EXPECT_EQ(commun::une_ligne("première\r\nseconde\r\n"), "première seconde");
    EXPECT_EQ(commun::une_ligne("a \r\nb"), "a b");
    EXPECT_EQ(commun::une_ligne("\r\n"), "");
    EXPECT_EQ(commun::une_ligne("sans fin"), "sans fin");
}

TEST(NomApresBarre, GardeLeNomDuFichier) {
    EXPECT_EQ(commun::nom_apres_barre_oblique_inverse("C:\\Jeux\\jeu.exe"), "jeu.exe");
    EXPECT_EQ(commun::nom_apres_barre_oblique_inverse("jeu.exe"), "jeu.exe");
    EXPECT_EQ(commun::nom_apres_barre_oblique_inverse("C:\\dossier\\"), "");
    EXPECT_EQ(commun::nom_apres_barre_oblique_inverse(""), "");
}

}  // namespace
