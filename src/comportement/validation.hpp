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

// `texte` without its leading and trailing Unicode White_Space code points (UTF-8).
std::string_view rogner_blancs(std::string_view texte);

}  // namespace comportement
