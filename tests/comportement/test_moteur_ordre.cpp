// Engine behaviours the other suites leave open: the confidence span's two ends, and the time order of the
// frames whatever order they arrive in.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "comportement/mod.hpp"
#include "test_detecteurs_aide.hpp"

namespace comportement {
namespace {

using essai::T;
using Trames = std::vector<TrameTelemetrie>;

// A reveal out of occlusion at 200 answered by a shot at 290: one ReactionTime and one VisibilityShotCorrelation
// signal, both spanning exactly [200, 290] (the latter from its shot frame, the later of its two times).
Trames revelation_puis_tir(double conf_revelation, double conf_tir) {
    return {T(0),
            T(100).occulte(0.5),
            T(199).occulte(0.5).confiance(0.2),  // one millisecond before the span
            T(200).visible(0.3).confiance(conf_revelation),
            T(290).visible(1.0).tir().confiance(conf_tir),
            T(291).confiance(0.1)};  // one millisecond after it
}

void attendre_confiance(const MatchAnalysis& r, double conf) {
    ASSERT_EQ(r.signals.size(), 2u);
    for (const Signal& s : r.signals) {
        EXPECT_EQ(s.startMs, 200);
        EXPECT_EQ(s.endMs, 290);
        EXPECT_EQ(s.evidence.back(), (std::pair<std::string, double>{"acquisitionConfidence", conf}));
    }
    EXPECT_EQ(r.signals[0].category, SignalCategory::ReactionTime);
    EXPECT_DOUBLE_EQ(r.signals[0].strength, (0.72 + 15.0 / 200.0) * conf);
    EXPECT_EQ(r.signals[1].category, SignalCategory::VisibilityShotCorrelation);
    EXPECT_DOUBLE_EQ(r.signals[1].strength, 0.45 * conf);
}

TEST(RevueMoteur, ConfidenceSpanIncludesBothEndFramesAndNothingBeyond) {
    const auto debut = run_engine(EngineThresholds{}, revelation_puis_tir(0.6, 0.7));
    ASSERT_TRUE(debut);
    attendre_confiance(*debut, 0.6);
    const auto fin = run_engine(EngineThresholds{}, revelation_puis_tir(1.0, 0.7));
    ASSERT_TRUE(fin);
    attendre_confiance(*fin, 0.7);
    // With both ends at full confidence the neighbours' 0.2 and 0.1 are outside and change nothing.
    const auto entier = run_engine(EngineThresholds{}, revelation_puis_tir(1.0, 1.0));
    ASSERT_TRUE(entier);
    ASSERT_EQ(entier->signals.size(), 2u);
    EXPECT_EQ(entier->signals[0].evidence.size(), 3u);
    EXPECT_EQ(entier->signals[1].evidence.size(), 4u);
}

TEST(RevueMoteur, ArrivalOrderChangesNothingAndEqualTimesKeepIt) {
    const Trames ordre = revelation_puis_tir(0.6, 0.7);
    Trames inverse = ordre;
    std::reverse(inverse.begin(), inverse.end());
    const auto a = run_engine(EngineThresholds{}, ordre);
    const auto b = run_engine(EngineThresholds{}, inverse);
    ASSERT_TRUE(a);
    ASSERT_TRUE(b);
    ASSERT_EQ(a->signals.size(), b->signals.size());
    for (std::size_t i = 0; i < a->signals.size(); ++i) {
        EXPECT_EQ(a->signals[i].frameTimestamps, b->signals[i].frameTimestamps);
        EXPECT_EQ(a->signals[i].evidence, b->signals[i].evidence);
        EXPECT_EQ(a->signals[i].strength, b->signals[i].strength);
    }
    EXPECT_EQ(a->metrics, b->metrics);
    EXPECT_EQ(a->score, b->score);

    // Two frames share the earliest time: the first given names the result, whether the input needs sorting
    // (a later frame comes first) or not.
    const Trames deja{T(100).match("a"), T(100).match("b"), T(200)};
    const Trames melange{T(300), T(100).match("a"), T(100).match("b")};
    EXPECT_EQ(run_engine(EngineThresholds{}, deja)->matchId, "a");
    EXPECT_EQ(run_engine(EngineThresholds{}, melange)->matchId, "a");
}

}  // namespace
}  // namespace comportement
