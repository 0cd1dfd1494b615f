#pragma once
// Table-driven JSON reading into records, in one SAX pass without a DOM and
// without recursion. A record is described by a `Schema`: its known keys (each
// bound to a member), whether every key is required, whether the key may also
// be spelled with an upper-case first letter, and whether the record may be
// given as an array of values in key order. Absent keys keep the member's
// default (the record is default-constructed before reading).
//
//   constexpr commun::json::Champ champs_vec3[] = {
//       commun::json::champ<&Vec3::x>("x"), ...};
//   constexpr auto schema_vec3 = commun::json::schema<Vec3>(
//       "struct Vec3", champs_vec3, {.cles_requises = true, .minimum_tableau = 3});
//   commun::json::Lecteur lecteur;          // reusable: keeps its buffers
//   Vec3 v;  auto r = lecteur.lire(texte, schema_vec3, v);
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace commun::json {

enum class Genre : std::uint8_t {
    texte,            // std::string
    texte_optionnel,  // std::optional<std::string>; null reads as absent
    booleen,
    i32,
    i64,
    u64,
    f64,
    enregistrement,   // a nested record with its own Schema
    liste,            // std::vector of records with their own Schema
};

struct Schema;

struct Champ {
    std::string_view nom;  // first form, the one named in messages
    Genre genre;
    void* (*acces)(void* enregistrement);      // address of the member
    const Schema* sous_schema = nullptr;       // enregistrement, liste
    void* (*ajouter)(void* liste) = nullptr;   // liste: appends a default element
};

struct Options {
    bool cles_requises = false;    // a missing key is an error
    bool forme_majuscule = false;  // "matchId" may also be written "MatchId"
    bool forme_tableau = true;     // [v1, v2, ...] in key order
    std::size_t minimum_tableau = 0;
};

struct Schema {
    std::string_view nom;  // as named in type errors, e.g. "struct TrameTelemetrie"
    std::span<const Champ> champs;
    Options options;
    void (*reinitialiser)(void* enregistrement);
};

namespace detail {
template <class M> struct membre;
template <class C, class T> struct membre<T C::*> {
    using classe = C;
    using type = T;
};
template <class T> struct est_vecteur : std::false_type {};
template <class T, class A> struct est_vecteur<std::vector<T, A>> : std::true_type {};

template <class T> constexpr Genre genre_de() {
    if constexpr (std::is_same_v<T, std::string>) return Genre::texte;
    else if constexpr (std::is_same_v<T, std::optional<std::string>>) return Genre::texte_optionnel;
    else if constexpr (std::is_same_v<T, bool>) return Genre::booleen;
    else if constexpr (std::is_same_v<T, std::int32_t>) return Genre::i32;
    else if constexpr (std::is_same_v<T, std::int64_t>) return Genre::i64;
    else if constexpr (std::is_same_v<T, std::uint64_t>) return Genre::u64;
    else if constexpr (std::is_same_v<T, double>) return Genre::f64;
    else if constexpr (est_vecteur<T>::value) return Genre::liste;
    else return Genre::enregistrement;
}
}  // namespace detail

// A scalar member: std::string, std::optional<std::string>, bool, int32_t,
// int64_t, uint64_t or double.
template <auto Membre> constexpr Champ champ(std::string_view nom) {
    using M = detail::membre<decltype(Membre)>;
    constexpr Genre g = detail::genre_de<typename M::type>();
    static_assert(g != Genre::enregistrement && g != Genre::liste, "a nested record needs its schema");
    return Champ{nom, g, [](void* e) -> void* { return &(static_cast<typename M::classe*>(e)->*Membre); }};
}

// A nested record member, or a std::vector of records.
template <auto Membre> constexpr Champ champ(std::string_view nom, const Schema& sous_schema) {
    using M = detail::membre<decltype(Membre)>;
    using T = typename M::type;
    constexpr Genre g = detail::genre_de<T>();
    static_assert(g == Genre::enregistrement || g == Genre::liste, "a scalar member takes no schema");
    Champ c{nom, g, [](void* e) -> void* { return &(static_cast<typename M::classe*>(e)->*Membre); },
            &sous_schema};
    if constexpr (g == Genre::liste) {
        c.ajouter = [](void* l) -> void* { return &static_cast<T*>(l)->emplace_back(); };
    }
    return c;
}

template <class T>
constexpr Schema schema(std::string_view nom, std::span<const Champ> champs, Options options = {}) {
    // Keys already given are one bit each in a 64-bit word.
    if (champs.size() > 64) throw "a record has at most 64 keys";
    return Schema{nom, champs, options, [](void* e) { *static_cast<T*>(e) = T{}; }};
}

// Parses one JSON document (nothing but JSON white space around the value)
// into `enregistrement`, which must be default-constructed. Messages are
// one-line texts such as "duplicate field `matchId` at line 1 column 25".
// Reusing one Lecteur avoids allocating its working buffers again.
class Lecteur {
public:
    Lecteur();
    ~Lecteur();
    Lecteur(const Lecteur&) = delete;
    Lecteur& operator=(const Lecteur&) = delete;

    std::expected<void, std::string> lire(std::string_view texte, const Schema& schema, void* enregistrement);

    template <class T>
    std::expected<void, std::string> lire(std::string_view texte, const Schema& s, T& enregistrement) {
        return lire(texte, s, static_cast<void*>(&enregistrement));
    }

    // The same for text whose UTF-8 is already checked strictly, such as a
    // line of LecteurLignes: no second validation, and a faster in-place parse
    // of a copy. Same results and messages.
    std::expected<void, std::string> lire_ligne(std::string_view ligne, const Schema& schema, void* enregistrement);

    template <class T>
    std::expected<void, std::string> lire_ligne(std::string_view ligne, const Schema& s, T& enregistrement) {
        return lire_ligne(ligne, s, static_cast<void*>(&enregistrement));
    }

private:
    std::expected<void, std::string> analyser(std::string_view texte, bool ligne, const Schema& schema,
                                              void* enregistrement);

    struct Etat;
    std::unique_ptr<Etat> etat_;
};

}  // namespace commun::json
