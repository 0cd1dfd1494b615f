#pragma once
// Encoder configuration and the rules every back end applies the same way: H.264 level,
// presets, vendor match, diagnostic environment variables, GUID and diagnostic line texts,
// output buffer size and sample times.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace encodeur {

struct ConfigEncodeur {
    // The recording's output size, given by the recording (config_enregistrement).
    std::uint32_t largeur = 0;
    std::uint32_t hauteur = 0;
    std::uint32_t images_par_seconde = 30;
    std::uint32_t debit_kbps = 2500;
    std::uint32_t gop_secondes = 2;
    std::uint32_t images_b = 0;
    std::uint8_t preset = 1;
};

// Keyframe interval in frames: gop_secondes × images_par_seconde (wrapping like u32).
std::uint32_t intervalle_images_cles(const ConfigEncodeur& config);

// Level (MF_MT_MPEG2_LEVEL value) from the macroblock rate
// R = ips × ceil(w / 16) × ceil(h / 16): ≤ 245760 → 40, ≤ 522240 → 42, ≤ 589824 → 50,
// ≤ 983040 → 51, else 52. R is computed in 64 bits.
std::uint64_t debit_macroblocs(const ConfigEncodeur& config);
std::uint32_t niveau_h264(const ConfigEncodeur& config);

// Quality/speed value of a preset index: 0 → 20, 1 → 50, 2 → 85; none for other indices.
std::optional<std::uint32_t> qualite_preset(std::uint8_t preset);

// Text the encoder's friendly name must contain for an adapter vendor; none when the
// vendor is not one we know.
std::optional<std::string_view> texte_fournisseur(std::uint32_t id_fournisseur);

// Index of the encoder to keep among the enumerated ones, in order. An entry is the
// friendly name of the activation object (an unreadable name is ""), or none for an empty
// object. The first entry whose name contains the vendor's text (case-sensitive) wins.
std::optional<std::size_t> choisir_encodeur(std::span<const std::optional<std::string>> noms,
                                            std::uint32_t id_fournisseur);

// "aucun encodeur H.264 matériel pour la carte « <nom> »"
std::string message_aucun_encodeur(std::string_view nom_carte);

// An environment variable as read from the system.
struct VariableEnv {
    enum class Etat { absente, non_unicode, presente };
    Etat etat = Etat::absente;
    std::string valeur;  // UTF-8, when present
};
// Reads the process environment (UTF-16 on Windows, validated and converted to UTF-8;
// bytes validated as UTF-8 elsewhere).
VariableEnv lire_variable(const char* nom);

// "+" optional, then one or more ASCII digits, no overflow.
std::optional<std::uint32_t> analyser_u32(std::string_view texte);

struct OptionsDiagnostic {
    bool faible_latence = true;             // false when QUILLORY_TEST_SANS_LL is present
    std::optional<std::uint32_t> gop_test;  // QUILLORY_GOP_TEST, when it parses
    bool debogage = false;                  // QUILLORY_DEBUG_ENCODEUR is present
};
using LecteurEnv = std::function<VariableEnv(const char*)>;
OptionsDiagnostic lire_options_diagnostic(const LecteurEnv& lire = lire_variable);

// GOP size given to the codec: the test override, else the keyframe interval.
std::uint32_t taille_gop(const ConfigEncodeur& config, const OptionsDiagnostic& options);

// A COM-style GUID.
struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};
};
// 8-4-4-4-12 upper-case hexadecimal, no braces.
std::string texte_guid(const Guid& guid);

// "codecapi SetValue(<GUID>, <valeur>) refusé : <erreur>\n"
std::string ligne_refus_propriete(const Guid& propriete, std::uint32_t valeur, std::string_view erreur);
// "\tcodecapi <nom> = Some(<n>)\n" or "\tcodecapi <nom> = None\n"
std::string ligne_propriete(std::string_view nom, std::optional<std::uint32_t> valeur);
// "\tcodecapi <nom> illisible : <erreur>\n"
std::string ligne_propriete_illisible(std::string_view nom, std::string_view erreur);

// Output buffer to allocate for one ProcessOutput: max(required, 1 MiB), or none when the
// transform provides its own samples (MFT_OUTPUT_STREAM_PROVIDES_SAMPLES, 0x100).
inline constexpr std::uint32_t fournit_echantillons = 0x100;
std::optional<std::uint32_t> taille_tampon_sortie(std::uint32_t taille_requise, std::uint32_t drapeaux);

// Sample time of frame n at F frames per second, 100-ns units, truncating: n × 10^7 / F.
std::int64_t horodatage_image(std::uint64_t indice, std::uint32_t images_par_seconde);
// Sample duration: 10^7 / F, truncating.
std::uint32_t duree_image(std::uint32_t images_par_seconde);

}  // namespace encodeur
