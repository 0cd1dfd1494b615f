#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bin/calibrage/arguments.hpp"

namespace {

std::expected<calibrage::Arguments, std::string> analyser(std::vector<std::string> a) {
    return calibrage::analyser_arguments(a);
}

TEST(CalibrageArguments, OptionsEtFichiersMeles) {
    auto a = analyser({"controler", "a.jsonl", "--sortie", "x.json", "-", "--rapport", "r.json", "--sortie", "y.json",
                       "--cohorte", "", "-b"});
    ASSERT_TRUE(a);
    EXPECT_EQ(a->commande, "controler");
    EXPECT_EQ(a->sortie, "y.json") << "the last value wins";
    EXPECT_EQ(a->rapport, "r.json");
    EXPECT_EQ(a->cohorte, "");
    EXPECT_EQ(a->fichiers, (std::vector<std::string>{"a.jsonl", "-", "-b"}));
}

TEST(CalibrageArguments, ValeurPriseTelleQuelle) {
    auto a = analyser({"calibrer", "--sortie", "--rapport", "f.jsonl", "--cohorte", "--sortie", "--partiel", "p",
                       "--partiel", "--cohorte"});
    ASSERT_TRUE(a);
    EXPECT_EQ(a->sortie, "--rapport");
    EXPECT_EQ(a->cohorte, "--sortie");
    EXPECT_EQ(a->partiel, "--cohorte") << "the last value wins";
    EXPECT_FALSE(a->rapport);
    EXPECT_EQ(a->fichiers, std::vector<std::string>{"f.jsonl"});
}

TEST(CalibrageArguments, UsageDe270Octets) {
    EXPECT_EQ(calibrage::texte_usage.size(), 270u);
    EXPECT_FALSE(calibrage::texte_usage.ends_with("\n"));
    EXPECT_EQ(analyser({}).error(), calibrage::texte_usage);
}

}  // namespace
