#include "enregistrement/rythme.hpp"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using enregistrement::decider_rythme;
using enregistrement::DecisionRythme;
using enregistrement::indice_resynchronise;

constexpr std::chrono::nanoseconds origine{1'000'000'000};

TEST(Rythme, DeadlinesAreAbsoluteFromTheOrigin) {
    // Tick 3 is due at 99,999,999 ns: a tick started early sleeps exactly the difference.
    const auto d = decider_rythme(origine, 3, origine + 90ms);
    EXPECT_EQ(d.action, DecisionRythme::Action::dormir);
    EXPECT_EQ(d.attente, 9'999'999ns);
    EXPECT_EQ(decider_rythme(origine, 3, origine + 99'999'999ns).action, DecisionRythme::Action::continuer);
}

TEST(Rythme, ResynchroniseAtFourPeriodsOfLatenessNotBefore) {
    const auto due = enregistrement::echeance(origine, 10);
    EXPECT_EQ(decider_rythme(origine, 10, due + 133'333'332ns).action, DecisionRythme::Action::continuer);
    EXPECT_EQ(decider_rythme(origine, 10, due + 133'333'333ns).action, DecisionRythme::Action::resynchroniser);
}

TEST(Rythme, ResynchronisedIndexIsWholePeriodsElapsed) {
    EXPECT_EQ(indice_resynchronise(origine, origine + 33'333'332ns), 0u);
    EXPECT_EQ(indice_resynchronise(origine, origine + 33'333'333ns), 1u);
    EXPECT_EQ(indice_resynchronise(origine, origine + 500ms + 20 * 33'333'333ns), 35u);
    EXPECT_EQ(indice_resynchronise(origine, origine - 1ns), 0u);
}

}  // namespace
