#pragma once
// The JSON form of a record, written once and used both ways: the reader fills a record from
// it (commun/json_lecture.hpp) and the writer walks it (commun/json_ecriture.hpp), so a record's
// keys are listed in one table. A `Schema` gives its known keys (each bound to a member, in the
// order they are written), whether every key is required, whether the key may also be spelled
// with an upper-case first letter, and whether the record may be given as an array of values
// in key order.
//
//   constexpr commun::json::Champ champs_vec3[] = {
//       commun::json::champ<&Vec3::x>("x"), ...};
//   constexpr auto schema_vec3 = commun::json::schema<Vec3>(
//       "struct Vec3", champs_vec3, {.cles_requises = true, .minimum_tableau = 3});
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace commun::json {

enum class Genre : std::uint8_t {
    texte,            // std::string
    texte_optionnel,  // std::optional<std::string>; null reads as absent, absent writes as null
    booleen,
    i32,
    i64,
    u64,
    f64,
    enregistrement,  // a nested record with its own Schema
    liste,           // std::vector of records with their own Schema
};

struct Schema;

struct Champ {
    std::string_view nom;  // first form: the one named in messages and written
    Genre genre;
    void* (*acces)(void* enregistrement);             // address of the member
    const void* (*lire)(const void* enregistrement);  // the same, read-only
    const Schema* sous_schema = nullptr;              // enregistrement, liste
    void* (*ajouter)(void* liste) = nullptr;          // liste: appends a default element
    // liste: element `i`, or null past the end.
    const void* (*element)(const void* liste, std::size_t i) = nullptr;
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
template <class M>
struct membre;
template <class C, class T>
struct membre<T C::*> {
    using classe = C;
    using type = T;
};
template <class T>
struct est_vecteur : std::false_type {};
template <class T, class A>
struct est_vecteur<std::vector<T, A>> : std::true_type {};

template <class T>
constexpr Genre genre_de() {
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

template <auto Membre>
constexpr Champ champ_de(std::string_view nom, const Schema* sous_schema) {
    using M = membre<decltype(Membre)>;
    using C = typename M::classe;
    using T = typename M::type;
    Champ c{nom, genre_de<T>(), [](void* e) -> void* { return &(static_cast<C*>(e)->*Membre); },
            [](const void* e) -> const void* { return &(static_cast<const C*>(e)->*Membre); }, sous_schema};
    if constexpr (genre_de<T>() == Genre::liste) {
        c.ajouter = [](void* l) -> void* { return &static_cast<T*>(l)->emplace_back(); };
        c.element = [](const void* l, std::size_t i) -> const void* {
            const T& liste = *static_cast<const T*>(l);
            return i < liste.size() ? &liste[i] : nullptr;
        };
    }
    return c;
}
}  // namespace detail

// A scalar member: std::string, std::optional<std::string>, bool, int32_t,
// int64_t, uint64_t or double.
template <auto Membre>
constexpr Champ champ(std::string_view nom) {
    constexpr Genre g = detail::genre_de<typename detail::membre<decltype(Membre)>::type>();
    static_assert(g != Genre::enregistrement && g != Genre::liste, "a nested record needs its schema");
    return detail::champ_de<Membre>(nom, nullptr);
}

// A nested record member, or a std::vector of records.
template <auto Membre>
constexpr Champ champ(std::string_view nom, const Schema& sous_schema) {
    constexpr Genre g = detail::genre_de<typename detail::membre<decltype(Membre)>::type>();
    static_assert(g == Genre::enregistrement || g == Genre::liste, "a scalar member takes no schema");
    return detail::champ_de<Membre>(nom, &sous_schema);
}

template <class T>
constexpr Schema schema(std::string_view nom, std::span<const Champ> champs, Options options = {}) {
    // Keys already given are one bit each in a 64-bit word.
    if (champs.size() > 64) throw "a record has at most 64 keys";
    return Schema{nom, champs, options, [](void* e) { *static_cast<T*>(e) = T{}; }};
}

}  // namespace commun::json
