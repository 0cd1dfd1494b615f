// The table-driven reader, on small records shaped like the real ones: a flat
// record with optional keys and upper-case forms, and a nested record with a
// list and required keys.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "commun/json_lecture.hpp"

namespace {

namespace j = commun::json;

struct Plat {
    std::string nom;
    std::int64_t instant = 0;
    std::int32_t delta = 0;
    double angle = 0.0;
    std::optional<std::string> cible;
    bool visible = false;
    double confiance = 1.0;
};

constexpr j::Champ champs_plat[] = {
    j::champ<&Plat::nom>("nom"),
    j::champ<&Plat::instant>("instant"),
    j::champ<&Plat::delta>("delta"),
    j::champ<&Plat::angle>("angle"),
    j::champ<&Plat::cible>("cible"),
    j::champ<&Plat::visible>("visible"),
    j::champ<&Plat::confiance>("confiance"),
};
constexpr auto schema_plat = j::schema<Plat>("struct Plat", champs_plat, {.forme_majuscule = true});

struct Point {
    double x = 0, y = 0, z = 0;
};
struct Joueur {
    std::string id;
    Point position;
};
struct Rapport {
    std::uint64_t n = 0;
    std::vector<Joueur> joueurs;
    Point origine;
};

constexpr j::Champ champs_point[] = {j::champ<&Point::x>("x"), j::champ<&Point::y>("y"), j::champ<&Point::z>("z")};
constexpr auto schema_point =
    j::schema<Point>("struct Point", champs_point, {.cles_requises = true, .minimum_tableau = 3});
constexpr j::Champ champs_joueur[] = {j::champ<&Joueur::id>("id"),
                                      j::champ<&Joueur::position>("position", schema_point)};
constexpr auto schema_joueur = j::schema<Joueur>("struct Joueur", champs_joueur);
constexpr j::Champ champs_rapport[] = {j::champ<&Rapport::n>("n"),
                                       j::champ<&Rapport::joueurs>("joueurs", schema_joueur),
                                       j::champ<&Rapport::origine>("origine", schema_point)};
constexpr auto schema_rapport =
    j::schema<Rapport>("struct Rapport", champs_rapport, {.cles_requises = true, .forme_tableau = false});

std::expected<Plat, std::string> plat(std::string_view texte) {
    j::Lecteur lecteur;
    Plat p;
    auto r = lecteur.lire(texte, schema_plat, p);
    if (!r) return std::unexpected(r.error());
    return p;
}

std::string erreur(std::string_view texte) {
    auto r = plat(texte);
    return r ? std::string("<accepted>") : r.error();
}

TEST(JsonLecture, DefautsFormesEtClesInconnues) {
    auto p = plat(R"({"Nom":"a","delta":-3,"Angle":1,"inconnu":{"x":[1,{"y":null}],"x":2},"cible":null})");
    ASSERT_TRUE(p) << p.error();
    EXPECT_EQ(p->nom, "a");
    EXPECT_EQ(p->delta, -3);
    EXPECT_EQ(p->angle, 1.0);
    EXPECT_FALSE(p->cible.has_value());
    EXPECT_EQ(p->confiance, 1.0);
    EXPECT_EQ(p->instant, 0);

    // Matching is exact apart from the first letter.
    auto q = plat(R"({"NOM":"x","nOm":"y","cible":"t"})");
    ASSERT_TRUE(q);
    EXPECT_EQ(q->nom, "");
    EXPECT_EQ(q->cible, "t");
}

TEST(JsonLecture, DoublonsToutesFormes) {
    EXPECT_EQ(erreur(R"({"nom":"a","Nom":"b"})"), "duplicate field `nom` at line 1 column 17");
    EXPECT_TRUE(erreur(R"({"Cible":null,"cible":"b"})").starts_with("duplicate field `cible`"));
    // Unknown keys may repeat.
    EXPECT_EQ(erreur(R"({"zz":1,"zz":2})"), "<accepted>");
}

TEST(JsonLecture, ErreursDeType) {
    EXPECT_TRUE(erreur(R"({"instant":1.5})").starts_with("invalid type: floating point `1.5`, expected i64"));
    EXPECT_TRUE(erreur(R"({"instant":1e2})").starts_with("invalid type: floating point `100.0`, expected i64"));
    EXPECT_TRUE(erreur(R"({"angle":null})").starts_with("invalid type: null, expected f64"));
    EXPECT_TRUE(erreur(R"({"nom":5})").starts_with("invalid type: integer `5`, expected a string"));
    EXPECT_TRUE(erreur(R"({"visible":"oui"})").starts_with("invalid type: string \"oui\", expected a boolean"));
    EXPECT_TRUE(erreur(R"({"delta":[]})").starts_with("invalid type: sequence, expected i32"));
    EXPECT_TRUE(erreur(R"("x")").starts_with("invalid type: string \"x\", expected struct Plat"));
    EXPECT_TRUE(erreur("42").starts_with("invalid type: integer `42`, expected struct Plat"));
}

TEST(JsonLecture, BornesEntieres) {
    EXPECT_EQ(plat(R"({"delta":2147483647})")->delta, 2147483647);
    EXPECT_EQ(plat(R"({"delta":-2147483648})")->delta, -2147483648LL);
    EXPECT_TRUE(erreur(R"({"delta":2147483648})").starts_with("invalid value: integer `2147483648`, expected i32"));
    EXPECT_EQ(plat(R"({"instant":-9223372036854775808})")->instant, INT64_MIN);
    EXPECT_TRUE(erreur(R"({"instant":9223372036854775808})").starts_with("invalid value"));
    EXPECT_TRUE(erreur(R"({"instant":100000000000000000000000})").starts_with("invalid value"));
    EXPECT_EQ(plat(R"({"instant":-0})")->instant, 0);
}

TEST(JsonLecture, Flottants) {
    auto p = plat(R"({"angle":-0})");
    ASSERT_TRUE(p);
    EXPECT_TRUE(std::signbit(p->angle));
    p = plat(R"({"angle":-1e-400})");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->angle, 0.0);
    EXPECT_TRUE(std::signbit(p->angle));
    p = plat(R"({"angle":1e-400})");
    ASSERT_TRUE(p);
    EXPECT_FALSE(std::signbit(p->angle));
    EXPECT_EQ(plat(R"({"angle":0.1})")->angle, 0.1);
    EXPECT_EQ(plat(R"({"angle":4.9e-324})")->angle, 4.9e-324);
    EXPECT_TRUE(erreur(R"({"angle":1e400})").starts_with("number out of range"));
    EXPECT_TRUE(erreur(R"({"angle":-1e309})").starts_with("number out of range"));
    // The largest double written out in full is finite.
    std::string max = "{\"angle\":179769313486231570" + std::string(291, '0') + "}";
    ASSERT_TRUE(plat(max)) << plat(max).error();
    EXPECT_EQ(plat(max)->angle, 1.7976931348623157e308);
    // Inside an ignored value any well-formed number is fine, even with a
    // known key after it; a malformed one is still refused.
    p = plat(R"({"autre":[1e400,-1e99999,2],"delta":7,"angle":-2.5})");
    ASSERT_TRUE(p) << p.error();
    EXPECT_EQ(p->delta, 7);
    EXPECT_EQ(p->angle, -2.5);
    EXPECT_FALSE(plat(R"({"autre":[1e400,1.e5]})"));
    EXPECT_TRUE(erreur("NaN").starts_with("expected value"));
}

TEST(JsonLecture, FormeTableau) {
    auto p = plat(R"(["n",5,-1,2.5])");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->nom, "n");
    EXPECT_EQ(p->instant, 5);
    EXPECT_EQ(p->angle, 2.5);
    EXPECT_EQ(p->confiance, 1.0);
    EXPECT_TRUE(plat(R"(["n",5,-1,2.5,null,true,0.5])"));
    EXPECT_TRUE(erreur(R"(["n",5,-1,2.5,null,true,0.5,1])")
                    .starts_with("invalid length 8, expected struct Plat with at most 7 elements"));
}

TEST(JsonLecture, Syntaxe) {
    EXPECT_TRUE(erreur(R"({} x)").starts_with("trailing characters at line 1 column 4"));
    EXPECT_EQ(erreur(" \t{}\r "), "<accepted>");
    EXPECT_TRUE(erreur("{}\xc2\xa0").starts_with("trailing characters"));
    EXPECT_TRUE(erreur(std::string("{}\0{", 4)).starts_with("trailing characters"));
    EXPECT_TRUE(erreur("{\"nom\":").starts_with("EOF while parsing"));
    EXPECT_TRUE(erreur("").starts_with("EOF while parsing a value"));
    EXPECT_TRUE(erreur(R"({"nom":"\ud800"})").starts_with("invalid unicode code point"));
    EXPECT_TRUE(erreur(R"({"x":"\udc00"})").starts_with("invalid unicode code point"));
    EXPECT_TRUE(erreur("{\"x\":\"\xff\"}").starts_with("invalid unicode code point"));
    EXPECT_TRUE(erreur("{\"nom\":\"a\nb\"}").starts_with("control character")) << erreur("{\"nom\":\"a\nb\"}");
}

TEST(JsonLecture, ImbricationProfondeSansRecursion) {
    std::string profond = "{\"autre\":" + std::string(200000, '[') + std::string(200000, ']') + "}";
    EXPECT_EQ(erreur(profond), "<accepted>");
    EXPECT_TRUE(erreur(std::string(200000, '[')).starts_with("invalid type: sequence, expected a string"));
}

TEST(JsonLecture, EnregistrementsImbriquesEtClesRequises) {
    j::Lecteur lecteur;
    Rapport r;
    auto ok = lecteur.lire(
        R"({"n":2,"joueurs":[{"id":"a","position":[1,2,3]},{"position":{"z":1,"y":2,"x":3}}],
            "origine":{"x":0,"y":-0.5,"z":1e2}})",
        schema_rapport, r);
    ASSERT_TRUE(ok) << ok.error();
    ASSERT_EQ(r.joueurs.size(), 2u);
    EXPECT_EQ(r.joueurs[0].position.z, 3.0);
    EXPECT_EQ(r.joueurs[1].id, "");
    EXPECT_EQ(r.joueurs[1].position.x, 3.0);
    EXPECT_EQ(r.origine.y, -0.5);

    const auto refus = [&](std::string_view texte) {
        Rapport x;
        auto e = lecteur.lire(texte, schema_rapport, x);
        return e ? std::string("<accepted>") : e.error();
    };
    EXPECT_TRUE(refus(R"({"n":1,"joueurs":[],"origine":{"x":0,"y":0}})").starts_with("missing field `z`"));
    EXPECT_TRUE(refus(R"({"n":1,"joueurs":[]})").starts_with("missing field `origine`"));
    EXPECT_TRUE(refus(R"({"n":1,"joueurs":[{"position":[1,2]}],"origine":[0,0,0]})")
                    .starts_with("invalid length 2, expected struct Point with 3 elements"));
    EXPECT_TRUE(
        refus(R"({"n":-1,"joueurs":[],"origine":[0,0,0]})").starts_with("invalid value: integer `-1`, expected u64"));
    EXPECT_TRUE(refus(R"([1,[],[0,0,0]])").starts_with("invalid type: sequence, expected struct Rapport"));
    EXPECT_TRUE(refus(R"({"n":1,"n":1})").starts_with("duplicate field `n`"));
    EXPECT_TRUE(
        refus(R"({"n":1,"joueurs":{},"origine":[0,0,0]})").starts_with("invalid type: map, expected a sequence"));
    EXPECT_EQ(refus(R"({"n":1,"joueurs":[],"origine":[0,0,0],"extra":[1]})"), "<accepted>");
    // The reader is reusable after an error.
    Rapport y;
    EXPECT_TRUE(lecteur.lire(R"({"n":3,"joueurs":[],"origine":[0,0,0]})", schema_rapport, y));
    EXPECT_EQ(y.n, 3u);
}

}  // namespace
