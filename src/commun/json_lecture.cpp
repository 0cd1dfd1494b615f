#include "commun/json_lecture.hpp"

#include <charconv>
#include <cstring>
#include <limits>
#include <system_error>

#include <rapidjson/reader.h>

#include "commun/json_ecriture.hpp"

namespace commun::json::detail {

// A byte range read by RapidJSON; '\0' past the end is its end-of-input mark.
// An embedded NUL also looks like the end to it, so callers check Tell().
struct Flux {
    using Ch = char;
    const char* debut;
    const char* p;
    const char* fin;
    Ch Peek() const { return p != fin ? *p : '\0'; }
    Ch Take() { return p != fin ? *p++ : '\0'; }
    std::size_t Tell() const { return static_cast<std::size_t>(p - debut); }
    Ch* PutBegin() { return nullptr; }
    void Put(Ch) {}
    void Flush() {}
    std::size_t PutEnd(Ch*) { return 0; }
};

}  // namespace commun::json::detail

namespace rapidjson {
template <>
struct StreamTraits<commun::json::detail::Flux> {
    enum { copyOptimization = 1 };
};
}  // namespace rapidjson

namespace commun::json {
namespace {

using detail::Flux;
constexpr unsigned drapeaux =
    rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag | rapidjson::kParseNumbersAsStringsFlag;
// Lines whose UTF-8 was already checked strictly (LecteurLignes), parsed in
// place in a copy: strings and numbers are not copied again one byte at a time.
constexpr unsigned drapeaux_ligne =
    rapidjson::kParseIterativeFlag | rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseInsituFlag;

// RapidJSON decodes "\udc00" alone into the three bytes of a surrogate, which
// is not text; any encoded surrogate is ED A0..BF.
bool contient_substitut(const char* s, std::size_t n) {
    const char* fin = s + n;
    const char* p = s;
    while (p != fin) {
        p = static_cast<const char*>(std::memchr(p, 0xED, static_cast<std::size_t>(fin - p)));
        if (p == nullptr) {
            return false;
        }
        if (p + 1 != fin && static_cast<unsigned char>(p[1]) >= 0xA0) {
            return true;
        }
        ++p;
    }
    return false;
}

// Key names are short: compare inline, eight bytes at a time, rather than
// calling memcmp for each key of each line.
bool memes_octets(const char* a, const char* b, std::size_t n) {
    for (; n >= 8; n -= 8, a += 8, b += 8) {
        std::uint64_t x = 0;
        std::uint64_t y = 0;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        if (x != y) return false;
    }
    for (; n > 0; --n, ++a, ++b) {
        if (*a != *b) return false;
    }
    return true;
}

bool est_entier(std::string_view jeton) { return jeton.find_first_of(".eE") == std::string_view::npos; }

// The JSON number grammar, for tokens RapidJSON did not check itself.
bool nombre_bien_forme(std::string_view j) {
    std::size_t i = 0;
    const auto chiffre = [&](std::size_t k) { return k < j.size() && j[k] >= '0' && j[k] <= '9'; };
    if (i < j.size() && j[i] == '-') ++i;
    if (!chiffre(i)) return false;
    if (j[i] == '0') {
        ++i;
    } else {
        while (chiffre(i)) ++i;
    }
    if (i < j.size() && j[i] == '.') {
        ++i;
        if (!chiffre(i)) return false;
        while (chiffre(i)) ++i;
    }
    if (i < j.size() && (j[i] == 'e' || j[i] == 'E')) {
        ++i;
        if (i < j.size() && (j[i] == '+' || j[i] == '-')) ++i;
        if (!chiffre(i)) return false;
        while (chiffre(i)) ++i;
    }
    return i == j.size();
}

// from_chars reports overflow and underflow alike; the decimal exponent of the
// first significant digit tells them apart (>= 0 means the value is >= 1).
bool depasse_vers_le_haut(std::string_view j) {
    std::size_t i = j.starts_with('-') ? 1 : 0;
    long long position = 0;  // exponent of the first non-zero digit, before the e part
    bool trouve = false;
    long long entiers = 0;
    for (; i < j.size() && j[i] >= '0' && j[i] <= '9'; ++i) {
        if (!trouve && j[i] != '0') {
            trouve = true;
            entiers = 0;
        }
        if (trouve) ++entiers;
    }
    if (trouve) position = entiers - 1;
    if (i < j.size() && j[i] == '.') {
        ++i;
        for (long long rang = -1; i < j.size() && j[i] >= '0' && j[i] <= '9'; ++i, --rang) {
            if (!trouve && j[i] != '0') {
                trouve = true;
                position = rang;
            }
        }
    }
    long long exposant = 0;
    if (i < j.size() && (j[i] == 'e' || j[i] == 'E')) {
        ++i;
        bool negatif = false;
        if (i < j.size() && (j[i] == '+' || j[i] == '-')) negatif = j[i++] == '-';
        for (; i < j.size(); ++i) {
            if (exposant < 1'000'000'000) exposant = exposant * 10 + (j[i] - '0');
        }
        if (negatif) exposant = -exposant;
    }
    return position + exposant >= 0;
}

std::string decrire_nombre(std::string_view jeton) {
    if (est_entier(jeton)) {
        return "integer `" + std::string(jeton) + "`";
    }
    std::string texte = "floating point `";
    double v = 0.0;
    const auto r = std::from_chars(jeton.data(), jeton.data() + jeton.size(), v);
    if (r.ec == std::errc{}) {
        ajouter_flottant(texte, v);
    } else {
        texte += jeton;
    }
    return texte + "`";
}

std::string_view attendu(const Champ& c) {
    switch (c.genre) {
    case Genre::texte:
    case Genre::texte_optionnel: return "a string";
    case Genre::booleen: return "a boolean";
    case Genre::i32: return "i32";
    case Genre::i64: return "i64";
    case Genre::u64: return "u64";
    case Genre::f64: return "f64";
    case Genre::enregistrement: return c.sous_schema->nom;
    case Genre::liste: return "a sequence";
    }
    return "a value";
}

class Gestionnaire {
public:
    void preparer(const Schema& racine, void* objet, const std::vector<std::string_view>* jetons, bool echappements) {
        echappements_ = echappements;
        racine_ = &racine;
        objet_racine_ = objet;
        cadres_.clear();
        attendu_ = nullptr;
        ignorer_suivant_ = false;
        ignore_ = 0;
        jetons_ = jetons;
        jeton_suivant_ = 0;
        erreur_.clear();
    }
    const std::string& erreur() const { return erreur_; }

    bool Null() {
        if (ignore_ != 0) return true;
        Cible c;
        if (!prochaine(c)) return false;
        if (c.sorte == Sorte::ignorer) return true;
        if (c.sorte == Sorte::champ && c.champ->genre == Genre::texte_optionnel) {
            static_cast<std::optional<std::string>*>(c.champ->acces(c.objet))->reset();
            return true;
        }
        return type_invalide("null", c);
    }

    bool Bool(bool b) {
        if (ignore_ != 0) return true;
        Cible c;
        if (!prochaine(c)) return false;
        if (c.sorte == Sorte::ignorer) return true;
        if (c.sorte == Sorte::champ && c.champ->genre == Genre::booleen) {
            *static_cast<bool*>(c.champ->acces(c.objet)) = b;
            return true;
        }
        return type_invalide(b ? "boolean `true`" : "boolean `false`", c);
    }

    // Numbers arrive as text (kParseNumbersAsStringsFlag); these are never called.
    bool Int(int) { return true; }
    bool Uint(unsigned) { return true; }
    bool Int64(std::int64_t) { return true; }
    bool Uint64(std::uint64_t) { return true; }
    bool Double(double) { return true; }

    bool RawNumber(const char* s, rapidjson::SizeType n, bool) {
        std::string_view jeton(s, n);
        if (jetons_ != nullptr) {
            // Second pass: the token in the text is a stand-in, the original is here.
            jeton = (*jetons_)[jeton_suivant_++];
            if (!nombre_bien_forme(jeton)) {
                erreur_ = "invalid number";
                return false;
            }
        }
        if (ignore_ != 0) return true;
        Cible c;
        if (!prochaine(c)) return false;
        if (c.sorte == Sorte::ignorer) return true;
        if (c.sorte == Sorte::champ) {
            switch (c.champ->genre) {
            case Genre::i32:
            case Genre::i64:
            case Genre::u64: return lire_entier(jeton, *c.champ, c.objet);
            case Genre::f64: return lire_flottant(jeton, *c.champ, c.objet);
            default: break;
            }
        }
        return type_invalide(decrire_nombre(jeton), c);
    }

    bool String(const char* s, rapidjson::SizeType n, bool) {
        if (echappements_ && contient_substitut(s, n)) {
            erreur_ = "invalid unicode code point";
            return false;
        }
        if (ignore_ != 0) return true;
        Cible c;
        if (!prochaine(c)) return false;
        if (c.sorte == Sorte::ignorer) return true;
        if (c.sorte == Sorte::champ) {
            if (c.champ->genre == Genre::texte) {
                static_cast<std::string*>(c.champ->acces(c.objet))->assign(s, n);
                return true;
            }
            if (c.champ->genre == Genre::texte_optionnel) {
                auto& o = *static_cast<std::optional<std::string>*>(c.champ->acces(c.objet));
                if (o) {
                    o->assign(s, n);
                } else {
                    o.emplace(s, n);
                }
                return true;
            }
        }
        std::string texte = "string ";
        ajouter_chaine(texte, std::string_view(s, n));
        return type_invalide(texte, c);
    }

    bool Key(const char* s, rapidjson::SizeType n, bool) {
        if (echappements_ && contient_substitut(s, n)) {
            erreur_ = "invalid unicode code point";
            return false;
        }
        if (ignore_ != 0) return true;
        Cadre& cadre = cadres_.back();
        const auto& champs = cadre.schema->champs;
        const bool majuscule = cadre.schema->options.forme_majuscule;
        // Keys mostly come in declared order: start after the last one found.
        const std::size_t nombre = champs.size();
        for (std::size_t k = 0, i = cadre.indice_cle; k < nombre; ++k, i = i + 1 == nombre ? 0 : i + 1) {
            const std::string_view nom = champs[i].nom;
            if (nom.size() != n) continue;
            const char premier = nom[0];
            const bool debut_ok =
                s[0] == premier || (majuscule && premier >= 'a' && premier <= 'z' && s[0] == premier - 'a' + 'A');
            if (!debut_ok || !memes_octets(s + 1, nom.data() + 1, n - 1)) continue;
            const std::uint64_t bit = std::uint64_t{1} << i;
            if ((cadre.vus & bit) != 0) {
                erreur_ = "duplicate field `" + std::string(nom) + "`";
                return false;
            }
            cadre.vus |= bit;
            cadre.indice_cle = i + 1 == nombre ? 0 : static_cast<std::uint32_t>(i + 1);
            attendu_ = &champs[i];
            return true;
        }
        ignorer_suivant_ = true;
        return true;
    }

    bool StartObject() {
        if (ignore_ != 0) {
            ++ignore_;
            return true;
        }
        Cible c;
        if (!prochaine(c)) return false;
        switch (c.sorte) {
        case Sorte::ignorer: ignore_ = 1; return true;
        case Sorte::champ:
            if (c.champ->genre != Genre::enregistrement) return type_invalide("map", c);
            cadres_.push_back({c.champ->sous_schema, c.champ->acces(c.objet), nullptr, 0, 0, false});
            return true;
        case Sorte::enregistrement: cadres_.push_back({c.schema, c.objet, nullptr, 0, 0, false}); return true;
        case Sorte::element:
            cadres_.push_back({c.champ->sous_schema, c.champ->ajouter(c.objet), nullptr, 0, 0, false});
            return true;
        }
        return false;
    }

    bool StartArray() {
        if (ignore_ != 0) {
            ++ignore_;
            return true;
        }
        Cible c;
        if (!prochaine(c)) return false;
        const Schema* s = nullptr;
        void* objet = nullptr;
        switch (c.sorte) {
        case Sorte::ignorer: ignore_ = 1; return true;
        case Sorte::champ:
            if (c.champ->genre == Genre::liste) {
                cadres_.push_back({nullptr, c.champ->acces(c.objet), c.champ, 0, 0, false});
                return true;
            }
            if (c.champ->genre != Genre::enregistrement) return type_invalide("sequence", c);
            s = c.champ->sous_schema;
            objet = c.champ->acces(c.objet);
            break;
        case Sorte::enregistrement:
            s = c.schema;
            objet = c.objet;
            break;
        case Sorte::element:
            s = c.champ->sous_schema;
            if (!s->options.forme_tableau) return type_invalide("sequence", c);
            objet = c.champ->ajouter(c.objet);
            break;
        }
        if (!s->options.forme_tableau) return type_invalide("sequence", c);
        cadres_.push_back({s, objet, nullptr, 0, 0, true});
        return true;
    }

    bool EndObject(rapidjson::SizeType) {
        if (ignore_ != 0) {
            --ignore_;
            return true;
        }
        return fermer_enregistrement();
    }

    bool EndArray(rapidjson::SizeType) {
        if (ignore_ != 0) {
            --ignore_;
            return true;
        }
        const Cadre& cadre = cadres_.back();
        if (cadre.schema == nullptr) {
            cadres_.pop_back();
            return true;
        }
        if (cadre.index < cadre.schema->options.minimum_tableau) {
            erreur_ = "invalid length " + std::to_string(cadre.index) + ", expected " + std::string(cadre.schema->nom) +
                      " with " + std::to_string(cadre.schema->options.minimum_tableau) + " elements";
            return false;
        }
        return fermer_enregistrement();
    }

private:
    enum class Sorte : std::uint8_t { ignorer, champ, enregistrement, element };
    struct Cible {
        Sorte sorte = Sorte::ignorer;
        const Champ* champ = nullptr;    // champ, element (the list's field)
        const Schema* schema = nullptr;  // enregistrement
        void* objet = nullptr;           // the parent record, the record itself, or the list
    };
    struct Cadre {
        const Schema* schema;  // nullptr: a list of records
        void* objet;
        const Champ* liste;
        std::uint64_t vus;    // keys (or positions) already given
        std::uint32_t index;  // array form: next position
        bool tableau;
        std::uint32_t indice_cle = 0;  // where to start looking for the next key
    };

    // Where the next value goes; advances the array position.
    bool prochaine(Cible& c) {
        if (cadres_.empty()) {
            c = {Sorte::enregistrement, nullptr, racine_, objet_racine_};
            return true;
        }
        Cadre& cadre = cadres_.back();
        if (cadre.schema == nullptr) {
            c = {Sorte::element, cadre.liste, nullptr, cadre.objet};
            return true;
        }
        if (!cadre.tableau) {
            if (ignorer_suivant_) {
                ignorer_suivant_ = false;
                c = {};
            } else {
                c = {Sorte::champ, attendu_, nullptr, cadre.objet};
            }
            return true;
        }
        const auto n = cadre.schema->champs.size();
        if (cadre.index >= n) {
            erreur_ = "invalid length " + std::to_string(cadre.index + 1) + ", expected " +
                      std::string(cadre.schema->nom) + " with at most " + std::to_string(n) + " elements";
            return false;
        }
        cadre.vus |= std::uint64_t{1} << cadre.index;
        c = {Sorte::champ, &cadre.schema->champs[cadre.index++], nullptr, cadre.objet};
        return true;
    }

    bool fermer_enregistrement() {
        const Cadre& cadre = cadres_.back();
        if (cadre.schema->options.cles_requises) {
            const auto& champs = cadre.schema->champs;
            for (std::size_t i = 0; i < champs.size(); ++i) {
                if ((cadre.vus & (std::uint64_t{1} << i)) == 0) {
                    erreur_ = "missing field `" + std::string(champs[i].nom) + "`";
                    return false;
                }
            }
        }
        cadres_.pop_back();
        return true;
    }

    bool type_invalide(std::string_view trouve, const Cible& c) {
        erreur_ = "invalid type: ";
        erreur_ += trouve;
        erreur_ += ", expected ";
        if (c.sorte == Sorte::champ) {
            erreur_ += attendu(*c.champ);
        } else if (c.sorte == Sorte::element) {
            erreur_ += c.champ->sous_schema->nom;
        } else {
            erreur_ += c.schema->nom;
        }
        return false;
    }

    bool valeur_invalide(std::string_view jeton, const Champ& ch) {
        erreur_ = "invalid value: integer `" + std::string(jeton) + "`, expected " + std::string(attendu(ch));
        return false;
    }

    bool lire_entier(std::string_view j, const Champ& ch, void* parent) {
        if (!est_entier(j)) {
            Cible c{Sorte::champ, &ch, nullptr, parent};
            return type_invalide(decrire_nombre(j), c);
        }
        const char* fin = j.data() + j.size();
        void* membre = ch.acces(parent);
        if (ch.genre == Genre::u64) {
            if (j.starts_with('-')) {
                if (j != "-0") return valeur_invalide(j, ch);
                *static_cast<std::uint64_t*>(membre) = 0;
                return true;
            }
            std::uint64_t v = 0;
            if (std::from_chars(j.data(), fin, v).ec != std::errc{}) return valeur_invalide(j, ch);
            *static_cast<std::uint64_t*>(membre) = v;
            return true;
        }
        std::int64_t v = 0;
        if (std::from_chars(j.data(), fin, v).ec != std::errc{}) return valeur_invalide(j, ch);
        if (ch.genre == Genre::i64) {
            *static_cast<std::int64_t*>(membre) = v;
            return true;
        }
        if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max()) {
            return valeur_invalide(j, ch);
        }
        *static_cast<std::int32_t*>(membre) = static_cast<std::int32_t>(v);
        return true;
    }

    bool lire_flottant(std::string_view j, const Champ& ch, void* parent) {
        double v = 0.0;
        const auto r = std::from_chars(j.data(), j.data() + j.size(), v);
        if (r.ec == std::errc::result_out_of_range) {
            if (depasse_vers_le_haut(j)) {
                erreur_ = "number out of range";
                return false;
            }
            v = j.starts_with('-') ? -0.0 : 0.0;
        } else if (r.ec != std::errc{}) {
            erreur_ = "invalid number";
            return false;
        }
        *static_cast<double*>(ch.acces(parent)) = v;
        return true;
    }

    bool echappements_ = true;  // the text holds a backslash
    const Schema* racine_ = nullptr;
    void* objet_racine_ = nullptr;
    std::vector<Cadre> cadres_;
    const Champ* attendu_ = nullptr;
    bool ignorer_suivant_ = false;
    std::size_t ignore_ = 0;  // depth inside an ignored value
    const std::vector<std::string_view>* jetons_ = nullptr;
    std::size_t jeton_suivant_ = 0;
    std::string erreur_;
};

std::string message_syntaxe(rapidjson::ParseErrorCode code, std::string_view texte, std::size_t position) {
    using namespace rapidjson;
    if (position >= texte.size()) {
        switch (code) {
        case kParseErrorObjectMissName:
        case kParseErrorObjectMissColon:
        case kParseErrorObjectMissCommaOrCurlyBracket: return "EOF while parsing an object";
        case kParseErrorArrayMissCommaOrSquareBracket: return "EOF while parsing a list";
        case kParseErrorStringMissQuotationMark: return "EOF while parsing a string";
        case kParseErrorNumberMissFraction:
        case kParseErrorNumberMissExponent: return "EOF while parsing a number";
        default: return "EOF while parsing a value";
        }
    }
    switch (code) {
    case kParseErrorDocumentEmpty: return "EOF while parsing a value";
    case kParseErrorDocumentRootNotSingular: return "trailing characters";
    case kParseErrorValueInvalid: return "expected value";
    case kParseErrorObjectMissName: return "key must be a string";
    case kParseErrorObjectMissColon: return "expected `:`";
    case kParseErrorObjectMissCommaOrCurlyBracket: return "expected `,` or `}`";
    case kParseErrorArrayMissCommaOrSquareBracket: return "expected `,` or `]`";
    case kParseErrorStringUnicodeEscapeInvalidHex: return "invalid escape";
    case kParseErrorStringUnicodeSurrogateInvalid: return "invalid unicode code point";
    case kParseErrorStringEscapeInvalid:
    case kParseErrorStringMissQuotationMark:
    case kParseErrorStringInvalidEncoding:
        // RapidJSON reports a raw control character as a bad escape.
        if (static_cast<unsigned char>(texte[position]) < 0x20) {
            return "control character (\\u0000-\\u001F) found while parsing a string";
        }
        return code == kParseErrorStringEscapeInvalid ? "invalid escape" : "invalid unicode code point";
    case kParseErrorNumberTooBig: return "number out of range";
    case kParseErrorNumberMissFraction:
    case kParseErrorNumberMissExponent: return "invalid number";
    default: return "invalid JSON";
    }
}

void ajouter_position(std::string& message, std::string_view texte, std::size_t position) {
    position = std::min(position, texte.size());
    std::size_t ligne = 1;
    std::size_t debut_ligne = 0;
    for (std::size_t i = 0; i < position; ++i) {
        if (texte[i] == '\n') {
            ++ligne;
            debut_ligne = i + 1;
        }
    }
    message += " at line " + std::to_string(ligne) + " column " + std::to_string(position - debut_ligne + 1);
}

// Replaces every number outside strings by "0" padded with spaces (same
// length, so positions in messages stay right) and keeps the originals in order.
void neutraliser_nombres(std::string& copie, std::string_view original, std::vector<std::string_view>& jetons) {
    jetons.clear();
    std::size_t i = 0;
    while (i < copie.size()) {
        const char c = copie[i];
        if (c == '"') {
            for (++i; i < copie.size() && copie[i] != '"'; ++i) {
                if (copie[i] == '\\') ++i;
            }
            ++i;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            const std::size_t debut = i;
            while (i < copie.size() && ((copie[i] >= '0' && copie[i] <= '9') || copie[i] == '-' || copie[i] == '+' ||
                                        copie[i] == '.' || copie[i] == 'e' || copie[i] == 'E')) {
                copie[i] = ' ';
                ++i;
            }
            copie[debut] = '0';
            jetons.push_back(original.substr(debut, i - debut));
        } else {
            ++i;
        }
    }
}

}  // namespace

struct Lecteur::Etat {
    rapidjson::Reader lecteur;
    Gestionnaire gestionnaire;
    std::string copie;
    std::string sur_place;
    std::vector<std::string_view> jetons;
};

Lecteur::Lecteur() : etat_(std::make_unique<Etat>()) {}
Lecteur::~Lecteur() = default;

std::expected<void, std::string> Lecteur::lire(std::string_view texte, const Schema& schema, void* enregistrement) {
    return analyser(texte, false, schema, enregistrement);
}

std::expected<void, std::string> Lecteur::lire_ligne(std::string_view ligne, const Schema& schema,
                                                     void* enregistrement) {
    return analyser(ligne, true, schema, enregistrement);
}

std::expected<void, std::string> Lecteur::analyser(std::string_view texte, bool ligne, const Schema& schema,
                                                   void* enregistrement) {
    Etat& e = *etat_;
    // Raw surrogates are refused by UTF-8 validation; only a \u escape can
    // produce one, so strings are checked only when the text has escapes.
    const bool echappements = std::memchr(texte.data(), '\\', texte.size()) != nullptr;
    e.gestionnaire.preparer(schema, enregistrement, nullptr, echappements);
    rapidjson::ParseResult resultat;
    std::size_t fin_valeur = 0;
    if (ligne) {
        e.sur_place.assign(texte);
        rapidjson::InsituStringStream flux(e.sur_place.data());
        resultat = e.lecteur.Parse<drapeaux_ligne>(flux, e.gestionnaire);
        fin_valeur = flux.Tell();
    } else {
        Flux flux{texte.data(), texte.data(), texte.data() + texte.size()};
        resultat = e.lecteur.Parse<drapeaux>(flux, e.gestionnaire);
        fin_valeur = flux.Tell();
    }
    std::string_view lu = texte;
    if (resultat.IsError() && resultat.Code() == rapidjson::kParseErrorNumberTooBig) {
        // RapidJSON refuses numbers past the double range before we see them,
        // even inside ignored values and for finite values written with many
        // digits. Parse again with every number replaced by a stand-in; the
        // handler converts (or ignores) the original tokens itself.
        schema.reinitialiser(enregistrement);
        e.copie.assign(texte);
        neutraliser_nombres(e.copie, texte, e.jetons);
        e.gestionnaire.preparer(schema, enregistrement, &e.jetons, echappements);
        lu = e.copie;
        Flux flux{lu.data(), lu.data(), lu.data() + lu.size()};
        resultat = e.lecteur.Parse<drapeaux>(flux, e.gestionnaire);
        fin_valeur = flux.Tell();
    }
    if (resultat.IsError()) {
        std::string message = resultat.Code() == rapidjson::kParseErrorTermination
                                  ? e.gestionnaire.erreur()
                                  : message_syntaxe(resultat.Code(), lu, resultat.Offset());
        ajouter_position(message, lu, resultat.Offset());
        return std::unexpected(std::move(message));
    }
    // RapidJSON takes an embedded NUL for the end of the text.
    if (fin_valeur != lu.size()) {
        std::string message = "trailing characters";
        ajouter_position(message, lu, fin_valeur);
        return std::unexpected(std::move(message));
    }
    return {};
}

}  // namespace commun::json
