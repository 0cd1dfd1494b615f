#include <gtest/gtest.h>

#include <chrono>

#include "enregistrement/systeme_windows.hpp"

namespace {

using std::chrono::nanoseconds;
using enregistrement::windows::echeance_relative_100ns;
using enregistrement::windows::millisecondes_arrondies;

TEST(SommeilWindows, EcheanceRelativeArrondieAuDessusEnCentainesDeNanosecondes) {
    EXPECT_EQ(echeance_relative_100ns(nanoseconds(33'333'333)), -333'334);
    EXPECT_EQ(echeance_relative_100ns(nanoseconds(33'333'300)), -333'333);
    EXPECT_EQ(echeance_relative_100ns(nanoseconds(1)), -1);
    // Never zero: a zero due time would be an absolute time in the past.
    EXPECT_EQ(echeance_relative_100ns(nanoseconds(0)), -1);
    EXPECT_EQ(echeance_relative_100ns(nanoseconds(-5)), -1);
}

TEST(SommeilWindows, RepliEnMillisecondesArrondiesAuDessus) {
    EXPECT_EQ(millisecondes_arrondies(nanoseconds(33'333'333)), 34u);
    EXPECT_EQ(millisecondes_arrondies(nanoseconds(1'000'000)), 1u);
    EXPECT_EQ(millisecondes_arrondies(nanoseconds(1'000'001)), 2u);
    EXPECT_EQ(millisecondes_arrondies(nanoseconds(1)), 1u);
    EXPECT_EQ(millisecondes_arrondies(nanoseconds(0)), 0u);
    // INFINITE (0xFFFFFFFF) must never be reached by a long wait.
    EXPECT_EQ(millisecondes_arrondies(std::chrono::hours(24 * 365 * 100)), 0xffff'fffeu);
}

}  // namespace
