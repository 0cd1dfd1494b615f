#include "encodeur/config.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "commun/decimal.hpp"
#include "commun/unicode.hpp"

#if defined(_WIN32)
#include <windows.h>

#include "commun/utf16.hpp"
#endif

namespace encodeur {

std::uint32_t intervalle_images_cles(const ConfigEncodeur& config) {
    return config.gop_secondes * config.images_par_seconde;
}

std::uint64_t debit_macroblocs(const ConfigEncodeur& config) {
    const std::uint64_t colonnes = (std::uint64_t{config.largeur} + 15) / 16;
    const std::uint64_t lignes = (std::uint64_t{config.hauteur} + 15) / 16;
    return std::uint64_t{config.images_par_seconde} * colonnes * lignes;
}

std::uint32_t niveau_h264(const ConfigEncodeur& config) {
    const std::uint64_t r = debit_macroblocs(config);
    if (r <= 245760) {
        return 40;
    }
    if (r <= 522240) {
        return 42;
    }
    if (r <= 589824) {
        return 50;
    }
    if (r <= 983040) {
        return 51;
    }
    return 52;
}

std::optional<std::uint32_t> qualite_preset(std::uint8_t preset) {
    static constexpr std::array<std::uint32_t, 3> table{20, 50, 85};
    if (preset >= table.size()) {
        return std::nullopt;
    }
    return table[preset];
}

std::optional<std::string_view> texte_fournisseur(std::uint32_t id_fournisseur) {
    switch (id_fournisseur) {
    case 0x10DE: return "NVIDIA";
    case 0x8086: return "Intel";
    case 0x1002:
    case 0x1022: return "AMD";
    default: return std::nullopt;
    }
}

std::optional<std::size_t> choisir_encodeur(std::span<const std::optional<std::string>> noms,
                                            std::uint32_t id_fournisseur) {
    const auto texte = texte_fournisseur(id_fournisseur);
    if (!texte) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < noms.size(); ++i) {
        if (noms[i] && noms[i]->find(*texte) != std::string::npos) {
            return i;
        }
    }
    return std::nullopt;
}

std::string message_aucun_encodeur(std::string_view nom_carte) {
    std::string texte = "aucun encodeur H.264 matériel pour la carte « ";
    texte += nom_carte;
    texte += " »";
    return texte;
}

VariableEnv lire_variable(const char* nom) {
    VariableEnv v;
#if defined(_WIN32)
    const std::u16string nom_utf16 = commun::utf16_depuis_utf8(nom);
    SetLastError(ERROR_SUCCESS);
    DWORD n = GetEnvironmentVariableW(commun::large(nom_utf16), nullptr, 0);
    if (n == 0) {
        // 0 also answers an empty value: only ERROR_ENVVAR_NOT_FOUND means absent.
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
            return v;
        }
        v.etat = VariableEnv::Etat::presente;
        return v;
    }
    std::wstring valeur(n, L'\0');
    n = GetEnvironmentVariableW(commun::large(nom_utf16), valeur.data(), n);
    valeur.resize(n);
    auto texte = commun::utf8_depuis_utf16(commun::utf16(valeur), commun::Invalides::refuser);
    if (!texte) {
        v.etat = VariableEnv::Etat::non_unicode;
        return v;
    }
    v.valeur = std::move(*texte);
    v.etat = VariableEnv::Etat::presente;
#else
    const char* brut = std::getenv(nom);
    if (brut == nullptr) {
        return v;
    }
    if (!commun::est_utf8_valide(brut)) {
        v.etat = VariableEnv::Etat::non_unicode;
        return v;
    }
    v.valeur = brut;
    v.etat = VariableEnv::Etat::presente;
#endif
    return v;
}

std::optional<std::uint32_t> analyser_u32(std::string_view texte) {
    return commun::analyser_decimal<std::uint32_t>(texte);
}

OptionsDiagnostic lire_options_diagnostic(const LecteurEnv& lire) {
    OptionsDiagnostic options;
    options.faible_latence = lire("QUILLORY_TEST_SANS_LL").etat != VariableEnv::Etat::presente;
    if (const auto gop = lire("QUILLORY_GOP_TEST"); gop.etat == VariableEnv::Etat::presente) {
        options.gop_test = analyser_u32(gop.valeur);
    }
    options.debogage = lire("QUILLORY_DEBUG_ENCODEUR").etat == VariableEnv::Etat::presente;
    return options;
}

std::uint32_t taille_gop(const ConfigEncodeur& config, const OptionsDiagnostic& options) {
    return options.gop_test.value_or(intervalle_images_cles(config));
}

std::string texte_guid(const Guid& g) {
    char texte[40];
    std::snprintf(texte, sizeof texte, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  static_cast<unsigned>(g.data1), static_cast<unsigned>(g.data2), static_cast<unsigned>(g.data3),
                  g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return texte;
}

std::string ligne_refus_propriete(const Guid& propriete, std::uint32_t valeur, std::string_view erreur) {
    std::string ligne = "codecapi SetValue(";
    ligne += texte_guid(propriete);
    ligne += ", ";
    ligne += std::to_string(valeur);
    ligne += ") refusé : ";
    ligne += erreur;
    ligne += '\n';
    return ligne;
}

std::string ligne_propriete(std::string_view nom, std::optional<std::uint32_t> valeur) {
    std::string ligne = "\tcodecapi ";
    ligne += nom;
    ligne += " = ";
    ligne += valeur ? "Some(" + std::to_string(*valeur) + ")" : std::string("None");
    ligne += '\n';
    return ligne;
}

std::string ligne_propriete_illisible(std::string_view nom, std::string_view erreur) {
    std::string ligne = "\tcodecapi ";
    ligne += nom;
    ligne += " illisible : ";
    ligne += erreur;
    ligne += '\n';
    return ligne;
}

std::optional<std::uint32_t> taille_tampon_sortie(std::uint32_t taille_requise, std::uint32_t drapeaux) {
    if ((drapeaux & fournit_echantillons) != 0) {
        return std::nullopt;
    }
    return std::max<std::uint32_t>(taille_requise, 1048576);
}

std::int64_t horodatage_image(std::uint64_t indice, std::uint32_t images_par_seconde) {
    if (images_par_seconde == 0) {
        return 0;
    }
    // n × 10^7 / F without the intermediate product overflowing.
    const std::uint64_t f = images_par_seconde;
    const std::uint64_t t = (indice / f) * 10'000'000u + (indice % f) * 10'000'000u / f;
    return static_cast<std::int64_t>(t);
}

std::uint32_t duree_image(std::uint32_t images_par_seconde) {
    return images_par_seconde == 0 ? 0 : 10'000'000u / images_par_seconde;
}

}  // namespace encodeur
