#pragma once
// Control run: clean matches replayed through the engine with one threshold set, to measure how many
// clean players it would still flag at REVIEW or above.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "comportement/mod.hpp"
#include "comportement/telemetrie.hpp"
#include "comportement/traitement_fichiers.hpp"

namespace comportement {

// Scores at or above this are REVIEW, HIGH-RISK or CRITICAL-REVIEW.
inline constexpr double kScoreReview = 50.0;

struct LigneControle {
    std::string matchId;
    std::string joueurId;
    double score = 0.0;
    std::string niveau;
    std::vector<std::string> categories;  // distinct, byte-wise ascending
};

struct RapportControle {
    std::uint64_t matchs = 0;  // analysed successfully, = lignes.size()
    std::uint64_t invalides = 0;
    std::uint64_t reviewOuPlus = 0;
    double tauxReviewOuPlus = 0.0;      // 0 when no match was analysed
    std::vector<LigneControle> lignes;  // score descending, ties in batch order
};

// The line of one analysed match.
LigneControle ligne_controle(const MatchAnalysis& analyse);

// analyse_match of one batch as a line; nothing when validation refuses the batch.
std::optional<LigneControle> controler_lot(const LotTrames& lot, const EngineThresholds& seuils);
// The same on a compact batch, expanded in `atelier` only when it is valid.
std::optional<LigneControle> controler_lot(const LotCompact& lot, const EngineThresholds& seuils, Atelier& atelier);

// A control run in progress, fed batch by batch in batch order. It holds everything the report is built
// from, so two of them made from consecutive runs of batches add up to the one made from all of them;
// written out with its thresholds, it is a partial result (partiel.hpp).
struct AccumulateurControle {
    std::uint64_t invalides = 0;
    std::vector<LigneControle> lignes;  // in batch order
    std::vector<std::string> sources;   // the telemetry files it was made from, when it was made from files

    void ajouter(std::optional<LigneControle>&& ligne);
    // The batches of `suite` follow those already added.
    void ajouter(AccumulateurControle&& suite);
};

// The report: lines sorted by score (stable), counts and rate.
RapportControle rapport_controle(AccumulateurControle&& controle);

// Every batch through one AccumulateurControle. Never fails: batches refused by validation are only
// counted.
RapportControle controler_lots(std::span<const LotTrames> lots, const EngineThresholds& seuils);

// The batches of the files, read by traiter_fichiers, through one AccumulateurControle in the order
// controler_lots takes them; a control partial among the files counts as the batches it was made from, in
// its place. Errors: the reading's (a partial's faults included), a partial made with other thresholds
// (memes_seuils_partiel) or with none.
std::expected<AccumulateurControle, std::string> controler_fichiers(std::span<const std::string> chemins,
                                                                    const EngineThresholds& seuils,
                                                                    const ReglagesLecture& reglages);

// Two-space pretty JSON, keys in report order, no trailing line feed.
std::string rapport_controle_json(const RapportControle& rapport);

}  // namespace comportement
