#include <string>

#include <gtest/gtest.h>

#include "commun/unicode.hpp"

namespace {

TEST(Unicode, Utf8Strict) {
    EXPECT_TRUE(commun::est_utf8_valide("abc é € 𝄞 \xf4\x8f\xbf\xbf"));
    EXPECT_TRUE(commun::est_utf8_valide(std::string("a\0b", 3)));
    EXPECT_FALSE(commun::est_utf8_valide("\xc0\xaf"));          // overlong
    EXPECT_FALSE(commun::est_utf8_valide("\xe0\x80\xaf"));      // overlong
    EXPECT_FALSE(commun::est_utf8_valide("\xed\xa0\x80"));      // surrogate
    EXPECT_FALSE(commun::est_utf8_valide("\xf4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(commun::est_utf8_valide("abcdefgh\xe2\x82"));  // truncated after the fast path
    EXPECT_FALSE(commun::est_utf8_valide("\x80"));
    EXPECT_FALSE(commun::est_utf8_valide("\xe2\x28\xa1"));
}

TEST(Unicode, EspacesBlancs) {
    EXPECT_EQ(commun::rogner_unicode(" \t\u00a0x y\u3000\r\u2028"), "x y");
    EXPECT_TRUE(commun::est_blanc_unicode("\u0085\u1680\u2000\u200a\u202f\u205f\v\f"));
    EXPECT_TRUE(commun::est_blanc_unicode(""));
    // Not white space: zero-width space, Mongolian vowel separator, BOM, U+001C..U+001F.
    for (const char* t : {"\u200b", "\u180e", "\ufeff", "\x1c", "\x1f"}) {
        EXPECT_FALSE(commun::est_blanc_unicode(t)) << t;
    }
    EXPECT_EQ(commun::rogner_unicode("\u00e9\u00a0"), "\u00e9");
}

}  // namespace
