#pragma once
// Partial results: what calibrer and controler have gathered once their inputs are read, written to a file
// by one process (`--partiel`) and merged by another that finds it among its inputs, so that a cohort split
// by file over several machines gives exactly what one process on all of it gives.
//
// The format is binary and little-endian, written byte by byte (the same bytes on every platform):
//   0   8  signature 89 50 41 52 54 0D 0A 1A
//   8   4  version (u32, 1)
//   12  4  command (u32): 1 calibrer, 2 controler
//   16  8  length of the whole file (u64)
//   24     body: the telemetry files it stands for, then the command's accumulator
//   L-4 4  CRC-32 (zlib's) of bytes [0, L-4)
// A text is a u64 byte count and the bytes; floats are binary64, bit for bit.
#include <array>
#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "commun/fichier.hpp"
#include "comportement/mod.hpp"
#include "comportement/traitement_fichiers.hpp"

namespace comportement {

struct AccumulateurCalibration;
struct AccumulateurControle;

inline constexpr std::array<char, 8> kSignaturePartiel = {'\x89', 'P', 'A', 'R', 'T', '\r', '\n', '\x1A'};
inline constexpr std::uint32_t kVersionPartiel = 1;

enum class CommandePartiel : std::uint32_t { calibrer = 1, controler = 2 };

// Whether a file's first bytes are a partial's signature.
bool est_partiel(std::span<const char> debut);

// The five thresholds a calibration report replaces, compared bit for bit: they alone make two control runs
// differ.
bool memes_seuils_partiel(const EngineThresholds& a, const EngineThresholds& b);

// A calibration's partial, bytes to `sortie`: its sources, counts, first refusal and sample lists (a refused
// one: its refusal, no count, no sample).
std::expected<void, std::string> ecrire_partiel_calibration(commun::SortieOctets& sortie,
                                                            const AccumulateurCalibration& calibration);
// A control run's partial: its sources, the thresholds it ran with (none: its --rapport could not be read,
// nothing was analysed), invalid batches and lines in batch order.
std::expected<void, std::string> ecrire_partiel_controle(commun::SortieOctets& sortie,
                                                         const AccumulateurControle& controle,
                                                         const std::optional<EngineThresholds>& seuils);

// `ecrire` into a file beside `chemin` under a temporary name, renamed to `chemin` once complete: a process
// killed meanwhile never leaves half a partial under its name, and a failure leaves nothing. The error is the
// system's description.
std::expected<void, std::string> ecrire_fichier_partiel(
    const std::string& chemin, const std::function<std::expected<void, std::string>(commun::SortieOctets&)>& ecrire);

// Room the lists will need for the partials still to be read, so that each list grows once and exactly.
struct ComptesPartiel {
    std::array<std::uint64_t, 4> echantillons{};  // calibrer, per metric
    std::uint64_t lignes = 0;                     // controler
    ComptesPartiel& operator+=(const ComptesPartiel& autre);
    ComptesPartiel& operator-=(const ComptesPartiel& autre);
};

// The counts a partial file states, read past its lists. Nothing for anything but a regular file that starts
// like a partial, or when the counts do not fit the file (its reading will say why).
std::optional<ComptesPartiel> compter_partiel(const std::string& chemin);

// The room the partials among a command's files will need after a given one: counted, at the first partial
// read, from the files after it.
class PrevisionPartiels {
public:
    explicit PrevisionPartiels(std::span<const std::string> chemins) : chemins_(chemins) {}
    // What partials after file `fichier` (a partial, read in file order) state.
    ComptesPartiel apres(std::size_t fichier);

private:
    std::span<const std::string> chemins_;
    std::vector<std::optional<ComptesPartiel>> comptes_;  // empty until the first partial
    ComptesPartiel restant_;
};

// Where a partial's contents go as it is read. What is null is read and checked, not kept.
struct DestinationPartiel {
    std::optional<CommandePartiel> commande;         // the command it must be of; none: either
    std::vector<std::string>* sources = nullptr;     // the telemetry files it stands for
    AccumulateurCalibration* calibration = nullptr;  // its batches after those already there
    AccumulateurControle* controle = nullptr;
    std::optional<EngineThresholds>* seuils = nullptr;  // a control partial's thresholds
    ComptesPartiel apres{};                             // room to leave in the lists for partials read later
};

// Reads a partial from its first byte, streaming: each list is given its room from its stated count, then
// filled. `taille`: the file's size, when known. The error is the text to put after "<file> : ":
// "résultat partiel tronqué (…)", "… corrompu (…)", "… de controler, pas de calibrer", …
std::expected<void, std::string> lire_partiel(commun::SourceOctets& source, std::optional<std::uint64_t> taille,
                                              const DestinationPartiel& destination);

// The paths with each partial's (recorded in `partiels` by index) replaced by its own sources.
std::vector<std::string> sources_a_plat(std::span<const std::string> chemins,
                                        const std::vector<std::optional<std::vector<std::string>>>& partiels);

// The files only checked, as traiter_fichiers checks them, the partials among them of `commande` (a control
// partial's thresholds are not compared). Gives the telemetry files they stand for.
std::expected<std::vector<std::string>, std::string> verifier_fichiers(std::span<const std::string> chemins,
                                                                       CommandePartiel commande,
                                                                       const ReglagesLecture& reglages);

}  // namespace comportement
