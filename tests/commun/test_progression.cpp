// What the progress line says, from the first instant to inputs of a terabyte
// (its drawing and erasing are checked under a pseudo-terminal, progression_pty.py).
#include <gtest/gtest.h>

#include "commun/progression.hpp"

namespace {

TEST(Progression, TexteDeLaLigne) {
    const struct {
        std::uint64_t lus, total;
        double secondes;
        const char* attendu;
    } cas[] = {
        {0, 0, 0.0, "lu 0 Mo"},
        {0, 450'000'000, 0.0, "lu 0 Mo sur 450 Mo (0 %)"},
        {0, 450'000'000, 0.5, "lu 0 Mo sur 450 Mo (0 %), 0,0 Mo/s"},
        {120'000'000, 450'000'000, 1.25, "lu 120 Mo sur 450 Mo (26 %), 96 Mo/s, reste 3 s"},
        {3'000'000, 0, 2.0, "lu 3 Mo, 1,5 Mo/s"},
        // A pipe among the inputs, or a file that grew: never past 100 %, no time left.
        {500'000'000, 450'000'000, 5.0, "lu 500 Mo sur 450 Mo (100 %), 100 Mo/s"},
        {450'000'000, 450'000'000, 5.0, "lu 450 Mo sur 450 Mo (100 %), 90 Mo/s"},
        {12'345'000'000, 1'000'000'000'000, 100.0, "lu 12,3 Go sur 1000,0 Go (1 %), 123 Mo/s, reste 2 h 13 min"},
        {1'000'000'000, 2'000'000'000, 10.0, "lu 1000 Mo sur 2000 Mo (50 %), 100 Mo/s, reste 10 s"},
        {1'000'000'000, 20'000'000'000, 10.0, "lu 1000 Mo sur 20,0 Go (5 %), 100 Mo/s, reste 3 min 10 s"},
    };
    for (const auto& c : cas) {
        EXPECT_EQ(commun::texte_progression(c.lus, c.total, c.secondes), c.attendu);
    }
}

}  // namespace
