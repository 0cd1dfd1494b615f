#pragma once
// JSON text output: compact or two-space pretty, with the float layout every
// report and frame file relies on (shortest round-trip digits, plain decimal
// for moderate exponents, scientific otherwise, non-finite as null).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "commun/json_schema.hpp"

namespace commun::json {

// Appends the JSON form of a double (`null` when not finite).
void ajouter_flottant(std::string& sortie, double valeur);
// Appends a quoted, escaped JSON string.
void ajouter_chaine(std::string& sortie, std::string_view texte);

class EcrivainJson {
public:
    explicit EcrivainJson(std::string& sortie, bool joli = false) : sortie_(sortie), joli_(joli) {}

    void debut_objet();
    void fin_objet();
    void debut_tableau();
    void fin_tableau();
    void cle(std::string_view nom);

    void chaine(std::string_view texte);
    void chaine_optionnelle(const std::optional<std::string>& texte);
    void entier(std::int64_t valeur);
    void naturel(std::uint64_t valeur);
    void flottant(double valeur);
    void booleen(bool valeur);
    void nul();

private:
    void avant_valeur();
    void fin_conteneur(char fermeture);
    void indenter(std::size_t niveau);

    std::string& sortie_;
    bool joli_;
    bool apres_cle_ = false;
    // One byte per open container: 1 while it is still empty. A string keeps
    // the usual shallow depths in its inline buffer, so no allocation per frame.
    std::string pile_;
};

// Writes `enregistrement` as an object: the keys of its schema in their order, under their first
// form, each value as its member's type says (an absent optional text as null); nested records
// and lists by their own schemas.
void ecrire(EcrivainJson& ecrivain, const Schema& schema, const void* enregistrement);

template <class T>
void ecrire(EcrivainJson& ecrivain, const Schema& schema, const T& enregistrement) {
    ecrire(ecrivain, schema, static_cast<const void*>(&enregistrement));
}

}  // namespace commun::json
