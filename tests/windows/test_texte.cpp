#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "commun/utf16.hpp"
#include "commun/windows/texte.hpp"

namespace {

using commun::Invalides;

constexpr char16_t haut = 0xD800;
constexpr char16_t bas = 0xDC00;
const std::string fffd = "\xef\xbf\xbd";

TEST(Utf16, VersUtf8RemplaceOuRefuseLesSurrogatsIsoles) {
    struct Cas {
        std::u16string entree;
        std::string remplace;
        bool valide;
    };
    const Cas cas[] = {
        {u"jeu.exe", "jeu.exe", true},
        {u"\u00e9t\u00e9 \u20ac", "\xc3\xa9t\xc3\xa9 \xe2\x82\xac", true},
        {u"\U0001F600", "\xf0\x9f\x98\x80", true},  // a pair is one four-byte character
        {std::u16string(1, u'\0'), std::string(1, '\0'), true},
        {{u'a', haut, u'b', bas, char16_t(0xDBFF)}, "a" + fffd + "b" + fffd + fffd, false},
        {{bas, haut}, fffd + fffd, false},  // a low surrogate before a high one is not a pair
    };
    for (const Cas& c : cas) {
        EXPECT_EQ(commun::utf8_depuis_utf16(c.entree), c.remplace);
        const auto strict = commun::utf8_depuis_utf16(c.entree, Invalides::refuser);
        EXPECT_EQ(strict.has_value(), c.valide);
        if (c.valide) {
            EXPECT_EQ(*strict, c.remplace);
            EXPECT_EQ(commun::utf16_depuis_utf8(c.remplace, Invalides::refuser), c.entree);
        }
    }
}

TEST(Utf16, DepuisUtf8RemplaceOuRefuseCeQuiNestPasDuTexte) {
    struct Cas {
        std::string entree;
        std::u16string remplace;
    };
    // Each byte that starts no valid sequence gives one U+FFFD.
    const Cas cas[] = {
        {"a\xff"
         "b",
         u"a\uFFFDb"},
        {"\xc0\xaf", u"\uFFFD\uFFFD"},                      // overlong
        {"\xed\xa0\x80", u"\uFFFD\uFFFD\uFFFD"},            // an encoded surrogate
        {"\xf4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
        {"x\xe2\x82", u"x\uFFFD\uFFFD"},                    // cut short
    };
    for (const Cas& c : cas) {
        EXPECT_EQ(commun::utf16_depuis_utf8(c.entree), c.remplace);
        EXPECT_EQ(commun::utf16_depuis_utf8(c.entree, Invalides::refuser), std::nullopt);
    }
}

TEST(UneLigne, RetireLaFinDeLigneEtJointLesLignes) {
    EXPECT_EQ(commun::une_ligne("Accès refusé.\r\n"), "Accès refusé.");
    EXPECT_EQ(commun::une_ligne("Le paramètre est incorrect. \r\n"), "Le paramètre est incorrect.");
    EXPECT_EQ(commun::une_ligne("première\r\nseconde\r\n"), "première seconde");
    EXPECT_EQ(commun::une_ligne("a \r\nb"), "a b");
    EXPECT_EQ(commun::une_ligne("\r\n"), "");
    EXPECT_EQ(commun::une_ligne("sans fin"), "sans fin");
}

}  // namespace
