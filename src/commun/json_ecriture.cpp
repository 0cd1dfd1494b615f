#include "commun/json_ecriture.hpp"

#include <array>
#include <charconv>
#include <cmath>

namespace commun::json {

void ajouter_flottant(std::string& sortie, double valeur) {
    if (!std::isfinite(valeur)) {
        sortie += "null";
        return;
    }
    // Shortest round-trip digits in scientific form: [-]d[.ddd]e±XX.
    std::array<char, 40> tampon{};
    const auto fin =
        std::to_chars(tampon.data(), tampon.data() + tampon.size(), valeur, std::chars_format::scientific).ptr;
    const char* p = tampon.data();
    if (*p == '-') {
        sortie += '-';
        ++p;
    }
    std::array<char, 20> chiffres{};
    int n = 0;
    while (p != fin && *p != 'e') {
        if (*p != '.') {
            chiffres[static_cast<std::size_t>(n++)] = *p;
        }
        ++p;
    }
    int exposant = 0;
    std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), fin, exposant);
    const std::string_view d(chiffres.data(), static_cast<std::size_t>(n));
    // Value = 0.d × 10^kk; k is the exponent of the integer d.
    const int kk = exposant + 1;
    const int k = kk - n;
    if (k >= 0 && kk <= 16) {
        sortie += d;
        sortie.append(static_cast<std::size_t>(k), '0');
        sortie += ".0";
    } else if (kk > 0 && kk <= 16) {
        sortie += d.substr(0, static_cast<std::size_t>(kk));
        sortie += '.';
        sortie += d.substr(static_cast<std::size_t>(kk));
    } else if (kk > -5 && kk <= 0) {
        sortie += "0.";
        sortie.append(static_cast<std::size_t>(-kk), '0');
        sortie += d;
    } else {
        sortie += d[0];
        if (n > 1) {
            sortie += '.';
            sortie += d.substr(1);
        }
        sortie += 'e';
        std::array<char, 8> e{};
        sortie.append(e.data(), std::to_chars(e.data(), e.data() + e.size(), kk - 1).ptr);
    }
}

void ajouter_chaine(std::string& sortie, std::string_view texte) {
    static constexpr char hex[] = "0123456789abcdef";
    sortie += '"';
    std::size_t debut = 0;
    for (std::size_t i = 0; i < texte.size(); ++i) {
        const auto c = static_cast<unsigned char>(texte[i]);
        if (c >= 0x20 && c != '"' && c != '\\') {
            continue;
        }
        sortie.append(texte, debut, i - debut);
        debut = i + 1;
        switch (c) {
        case '"': sortie += "\\\""; break;
        case '\\': sortie += "\\\\"; break;
        case '\n': sortie += "\\n"; break;
        case '\r': sortie += "\\r"; break;
        case '\t': sortie += "\\t"; break;
        case '\b': sortie += "\\b"; break;
        case '\f': sortie += "\\f"; break;
        default:
            sortie += "\\u00";
            sortie += hex[c >> 4];
            sortie += hex[c & 0xF];
        }
    }
    sortie.append(texte, debut, texte.size() - debut);
    sortie += '"';
}

void EcrivainJson::indenter(std::size_t niveau) {
    sortie_ += '\n';
    sortie_.append(2 * niveau, ' ');
}

void EcrivainJson::avant_valeur() {
    if (apres_cle_) {
        apres_cle_ = false;
        return;
    }
    if (pile_.empty()) {
        return;
    }
    if (pile_.back() == 0) {
        sortie_ += ',';
    }
    pile_.back() = 0;
    if (joli_) {
        indenter(pile_.size());
    }
}

void EcrivainJson::fin_conteneur(char fermeture) {
    const bool vide = pile_.back() == 1;
    pile_.pop_back();
    if (joli_ && !vide) {
        indenter(pile_.size());
    }
    sortie_ += fermeture;
}

void EcrivainJson::debut_objet() {
    avant_valeur();
    sortie_ += '{';
    pile_ += '\1';
}

void EcrivainJson::fin_objet() { fin_conteneur('}'); }

void EcrivainJson::debut_tableau() {
    avant_valeur();
    sortie_ += '[';
    pile_ += '\1';
}

void EcrivainJson::fin_tableau() { fin_conteneur(']'); }

void EcrivainJson::cle(std::string_view nom) {
    avant_valeur();
    ajouter_chaine(sortie_, nom);
    sortie_ += joli_ ? ": " : ":";
    apres_cle_ = true;
}

void EcrivainJson::chaine(std::string_view texte) {
    avant_valeur();
    ajouter_chaine(sortie_, texte);
}

void EcrivainJson::chaine_optionnelle(const std::optional<std::string>& texte) {
    if (texte) {
        chaine(*texte);
    } else {
        nul();
    }
}

void EcrivainJson::entier(std::int64_t valeur) {
    avant_valeur();
    std::array<char, 24> t{};
    sortie_.append(t.data(), std::to_chars(t.data(), t.data() + t.size(), valeur).ptr);
}

void EcrivainJson::naturel(std::uint64_t valeur) {
    avant_valeur();
    std::array<char, 24> t{};
    sortie_.append(t.data(), std::to_chars(t.data(), t.data() + t.size(), valeur).ptr);
}

void EcrivainJson::flottant(double valeur) {
    avant_valeur();
    ajouter_flottant(sortie_, valeur);
}

void EcrivainJson::booleen(bool valeur) {
    avant_valeur();
    sortie_ += valeur ? "true" : "false";
}

void EcrivainJson::nul() {
    avant_valeur();
    sortie_ += "null";
}

void ecrire(EcrivainJson& e, const Schema& schema, const void* enregistrement) {
    e.debut_objet();
    for (const Champ& c : schema.champs) {
        e.cle(c.nom);
        const void* membre = c.lire(enregistrement);
        switch (c.genre) {
        case Genre::texte: e.chaine(*static_cast<const std::string*>(membre)); break;
        case Genre::texte_optionnel:
            e.chaine_optionnelle(*static_cast<const std::optional<std::string>*>(membre));
            break;
        case Genre::booleen: e.booleen(*static_cast<const bool*>(membre)); break;
        case Genre::i32: e.entier(*static_cast<const std::int32_t*>(membre)); break;
        case Genre::i64: e.entier(*static_cast<const std::int64_t*>(membre)); break;
        case Genre::u64: e.naturel(*static_cast<const std::uint64_t*>(membre)); break;
        case Genre::f64: e.flottant(*static_cast<const double*>(membre)); break;
        case Genre::enregistrement: ecrire(e, *c.sous_schema, membre); break;
        case Genre::liste:
            e.debut_tableau();
            for (std::size_t i = 0; const void* element = c.element(membre, i); ++i) {
                ecrire(e, *c.sous_schema, element);
            }
            e.fin_tableau();
            break;
        }
    }
    e.fin_objet();
}

}  // namespace commun::json
