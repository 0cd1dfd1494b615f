#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "commun/json_ecriture.hpp"

namespace {

std::string f(double v) {
    std::string s;
    commun::json::ajouter_flottant(s, v);
    return s;
}

TEST(JsonEcriture, DispositionDesFlottants) {
    EXPECT_EQ(f(0.0), "0.0");
    EXPECT_EQ(f(-0.0), "-0.0");
    EXPECT_EQ(f(1.0), "1.0");
    EXPECT_EQ(f(1.5), "1.5");
    EXPECT_EQ(f(0.001), "0.001");
    EXPECT_EQ(f(1234567.0), "1234567.0");
    EXPECT_EQ(f(520.0), "520.0");
    EXPECT_EQ(f(0.65), "0.65");
    EXPECT_EQ(f(12.34), "12.34");
    EXPECT_EQ(f(-3.25), "-3.25");
    // Plain decimal up to sixteen integer digits, scientific beyond.
    EXPECT_EQ(f(1e15), "1000000000000000.0");
    EXPECT_EQ(f(1234567890123456.0), "1234567890123456.0");
    EXPECT_EQ(f(1e16), "1e16");
    EXPECT_EQ(f(1.2345678901234567e16), "1.2345678901234568e16");
    EXPECT_EQ(f(1.5e300), "1.5e300");
    // Down to four leading zeros after the point, scientific below.
    EXPECT_EQ(f(0.0001), "0.0001");
    EXPECT_EQ(f(0.00001), "0.00001");
    EXPECT_EQ(f(0.000012), "0.000012");
    EXPECT_EQ(f(0.000001), "1e-6");
    EXPECT_EQ(f(1e-7), "1e-7");
    EXPECT_EQ(f(-1.5e-7), "-1.5e-7");
    EXPECT_EQ(f(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(f(5e-324), "5e-324");
    EXPECT_EQ(f(1.7976931348623157e308), "1.7976931348623157e308");
    EXPECT_EQ(f(std::numeric_limits<double>::quiet_NaN()), "null");
    EXPECT_EQ(f(-std::numeric_limits<double>::infinity()), "null");
}

TEST(JsonEcriture, Chaines) {
    std::string s;
    commun::json::ajouter_chaine(s, std::string("a\"b\\c\n\r\t\b\f\x01\x1f\x7f é\0", 17));
    EXPECT_EQ(s, "\"a\\\"b\\\\c\\n\\r\\t\\b\\f\\u0001\\u001f\x7f é\\u0000\"");
}

TEST(JsonEcriture, CompactEtIndente) {
    const auto ecrire = [](commun::json::EcrivainJson& e) {
        e.debut_objet();
        e.cle("a");
        e.entier(-1);
        e.cle("vide");
        e.debut_tableau();
        e.fin_tableau();
        e.cle("objets");
        e.debut_tableau();
        e.debut_objet();
        e.cle("x");
        e.chaine_optionnelle(std::nullopt);
        e.fin_objet();
        e.debut_objet();
        e.fin_objet();
        e.fin_tableau();
        e.cle("n");
        e.naturel(18446744073709551615ULL);
        e.cle("b");
        e.booleen(true);
        e.fin_objet();
    };
    std::string compact;
    commun::json::EcrivainJson c(compact);
    ecrire(c);
    EXPECT_EQ(compact, R"({"a":-1,"vide":[],"objets":[{"x":null},{}],"n":18446744073709551615,"b":true})");
    std::string joli;
    commun::json::EcrivainJson p(joli, true);
    ecrire(p);
    EXPECT_EQ(joli,
              "{\n  \"a\": -1,\n  \"vide\": [],\n  \"objets\": [\n    {\n      \"x\": null\n    },\n    {}\n  ],\n"
              "  \"n\": 18446744073709551615,\n  \"b\": true\n}");
}

}  // namespace
