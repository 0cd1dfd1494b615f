#include "bin/vextrel/arguments.hpp"

#include <gtest/gtest.h>

namespace {

using namespace vextrel;

TEST(Secondes, OptionalPlusThenDigitsElseTheDefault) {
    EXPECT_EQ(analyser_secondes("5"), 5u);
    EXPECT_EQ(analyser_secondes("+5"), 5u);
    EXPECT_EQ(analyser_secondes("0"), 0u);
    EXPECT_EQ(analyser_secondes("18446744073709551615"), 18446744073709551615u);
    for (const char* refuse : {"-5", "5s", "", "+", "18446744073709551616", " 5", "５", "0x10"}) {
        EXPECT_EQ(analyser_secondes(refuse), std::nullopt) << refuse;
    }
}

TEST(Arguments, DefaultsAndExtraArguments) {
    int demandes = 0;
    const auto temp = [&] {
        ++demandes;
        return std::filesystem::path("/tmp/dossier");
    };
    EXPECT_EQ(analyser_arguments({}, temp), std::nullopt);

    const std::vector<std::string> un{"jeu.exe"};
    auto a = analyser_arguments(un, temp).value();
    EXPECT_EQ(a.processus, "jeu.exe");
    EXPECT_EQ(a.secondes, 6u);
    EXPECT_EQ(a.chemin, "/tmp/dossier/vextrel.mkv");
    EXPECT_EQ(demandes, 1);

    const std::vector<std::string> quatre{"jeu.exe", "-5", "sortie.mkv", "ignoré"};
    a = analyser_arguments(quatre, temp).value();
    EXPECT_EQ(a.secondes, 6u);
    EXPECT_EQ(a.chemin, "sortie.mkv");
    EXPECT_EQ(demandes, 1);  // not asked when a path is given

    const std::vector<std::string> vide{"jeu.exe", ""};
    EXPECT_EQ(analyser_arguments(vide, temp)->secondes, 6u);
}

TEST(NotationDebug, EscapesLikeTheDebugFormOfAString) {
    EXPECT_EQ(notation_debug(std::nullopt), "None");
    EXPECT_EQ(notation_debug(std::string("")), "Some(\"\")");
    EXPECT_EQ(notation_debug(std::string("C:\\Temp\\vextrel.mkv")), "Some(\"C:\\\\Temp\\\\vextrel.mkv\")");
    EXPECT_EQ(notation_debug(std::string("dit \"non\"")), "Some(\"dit \\\"non\\\"\")");
    EXPECT_EQ(notation_debug(std::string("a\tb\r\nc")), "Some(\"a\\tb\\r\\nc\")");
    EXPECT_EQ(notation_debug(std::string("\x1b[0m\x7f", 5)), "Some(\"\\u{1b}[0m\\u{7f}\")");
    EXPECT_EQ(notation_debug(std::string("nul\0", 4)), "Some(\"nul\\0\")");
    EXPECT_EQ(notation_debug(std::string("\xc2\x85")), "Some(\"\\u{85}\")");
    EXPECT_EQ(notation_debug(std::string("l'entrée « é »")), "Some(\"l'entrée « é »\")");
}

TEST(Chemins, TextAndBack) {
    EXPECT_EQ(texte_chemin(chemin_texte("dossier/été.mkv")), "dossier/été.mkv");
#if !defined(_WIN32)
    // Bytes that are not UTF-8 come out replaced.
    EXPECT_EQ(texte_chemin(std::filesystem::path(std::string("a\xff.mkv"))), "a\xef\xbf\xbd.mkv");
#endif
}

}  // namespace
