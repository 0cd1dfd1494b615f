#pragma once
// Consistency checks on one player's batch before it is analysed.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "comportement/telemetrie.hpp"

namespace comportement {

struct ValidationLot {
    std::vector<std::string> erreurs;         // blocking, in the order found
    std::vector<std::string> avertissements;  // not blocking, in frame order
    bool valide = true;                       // erreurs is empty
};

// Raw mouse deltas above this magnitude (device counts) are flagged.
inline constexpr std::int64_t kLimiteDeltaSouris = 100000;

ValidationLot valider_lot(const LotTrames& lot);

// The blocking errors of valider_lot alone, for callers that have no use for the warnings.
std::vector<std::string> erreurs_lot(const LotTrames& lot);

}  // namespace comportement
