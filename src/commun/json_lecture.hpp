#pragma once
// JSON reading into records described by a `Schema` (commun/json_schema.hpp), in one SAX pass
// without a DOM and without recursion. Absent keys keep the member's default (the record is
// default-constructed before reading).
//
//   commun::json::Lecteur lecteur;          // reusable: keeps its buffers
//   Vec3 v;  auto r = lecteur.lire(texte, schema_vec3, v);
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "commun/json_schema.hpp"

namespace commun::json {

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
