#pragma once
// Control run: clean matches replayed through the engine with one threshold set, to measure how many
// clean players it would still flag at REVIEW or above.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "comportement/mod.hpp"
#include "comportement/telemetrie.hpp"

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
    double tauxReviewOuPlus = 0.0;  // 0 when no match was analysed
    std::vector<LigneControle> lignes;  // score descending, ties in batch order
};

// Never fails: batches refused by validation are only counted.
RapportControle controler_lots(std::span<const LotTrames> lots, const EngineThresholds& seuils);

// Two-space pretty JSON, keys in report order, no trailing line feed.
std::string rapport_controle_json(const RapportControle& rapport);

}  // namespace comportement
