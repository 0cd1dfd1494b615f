#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "commun/json_ecriture.hpp"
#include "commun/json_lecture.hpp"

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

namespace j = commun::json;

struct Point {
    std::int32_t x = 0;
    double y = 0.0;
};
struct Fiche {
    std::string nom;
    std::optional<std::string> note;
    bool actif = false;
    std::int64_t t = 0;
    std::uint64_t n = 0;
    Point origine;
    std::vector<Point> points;
};
constexpr j::Champ champs_point[] = {j::champ<&Point::x>("x"), j::champ<&Point::y>("y")};
constexpr auto schema_point = j::schema<Point>("struct Point", champs_point);
constexpr j::Champ champs_fiche[] = {
    j::champ<&Fiche::nom>("nom"),
    j::champ<&Fiche::note>("note"),
    j::champ<&Fiche::actif>("actif"),
    j::champ<&Fiche::t>("t"),
    j::champ<&Fiche::n>("n"),
    j::champ<&Fiche::origine>("origine", schema_point),
    j::champ<&Fiche::points>("points", schema_point),
};
constexpr auto schema_fiche = j::schema<Fiche>("struct Fiche", champs_fiche);

std::string ecrire(const Fiche& f, bool joli = false) {
    std::string texte;
    j::EcrivainJson e(texte, joli);
    j::ecrire(e, schema_fiche, f);
    return texte;
}

TEST(JsonEcriture, EnregistrementParSonSchemaEtRelu) {
    const Fiche f{"a\"b", std::nullopt, true, -5, 18446744073709551615ULL, {1, 0.5}, {{2, -0.0}, {-3, 1e300}}};
    const std::string compact = ecrire(f);
    EXPECT_EQ(compact, R"({"nom":"a\"b","note":null,"actif":true,"t":-5,"n":18446744073709551615,)"
                       R"("origine":{"x":1,"y":0.5},"points":[{"x":2,"y":-0.0},{"x":-3,"y":1e300}]})");
    // What is written reads back to the same record.
    Fiche relue;
    ASSERT_TRUE(j::Lecteur().lire(compact, schema_fiche, relue));
    EXPECT_EQ(ecrire(relue), compact);

    Fiche vide;
    vide.note = "";
    EXPECT_EQ(ecrire(vide, true),
              "{\n  \"nom\": \"\",\n  \"note\": \"\",\n  \"actif\": false,\n  \"t\": 0,\n"
              "  \"n\": 0,\n  \"origine\": {\n    \"x\": 0,\n    \"y\": 0.0\n  },\n"
              "  \"points\": []\n}");
}

}  // namespace
