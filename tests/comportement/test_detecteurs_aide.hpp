#pragma once
// What engine tests read from signals; frames come from the shared builder.
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "comportement/mod.hpp"
#include "comportement/telemetrie.hpp"
#include "support/trames.hpp"

namespace comportement::essai {

// The shared frame builder, under the names the engine tests use.
using ::essai::lot;
using ::essai::T;

inline std::vector<std::string> cles(const Signal& s) {
    std::vector<std::string> c;
    for (const auto& [k, v] : s.evidence) c.push_back(k);
    return c;
}

inline double preuve(const Signal& s, std::string_view cle) {
    for (const auto& [k, v] : s.evidence) {
        if (k == cle) return v;
    }
    ADD_FAILURE() << "no evidence " << cle;
    return -1.0;
}

inline std::vector<SignalCategory> categories(std::span<const Signal> signaux) {
    std::vector<SignalCategory> c;
    for (const Signal& s : signaux) c.push_back(s.category);
    return c;
}

}  // namespace comportement::essai
