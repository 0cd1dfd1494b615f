#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "commun/unicode.hpp"

#include "comportement/validation.hpp"
#include "commun/unicode.hpp"
#include "test_detecteurs_aide.hpp"

namespace comportement {
namespace {

using essai::T;
using Textes = std::vector<std::string>;

std::vector<TrameTelemetrie> trois_trames() { return {T(100), T(200), T(300)}; }

TEST(Validation, BatchErrorsComeFirstInFixedOrderThenFrameErrors) {
    // Frames carry other ids than the (empty, blank) batch ids, so each gets its own errors after the batch ones.
    const ValidationLot v = valider_lot(essai::lot({T(100), T(100)}, "", " \t\xC2\xA0\xE3\x80\x80"));
    EXPECT_FALSE(v.valide);
    EXPECT_EQ(v.erreurs, (Textes{
                             "Missing match id.",
                             "Missing player id.",
                             "At least three telemetry frames are required.",
                             "frame[0]: match id differs from batch.",
                             "frame[0]: player id differs from batch.",
                             "frame[1]: match id differs from batch.",
                             "frame[1]: player id differs from batch.",
                             "frame[1]: timestamps must be strictly increasing.",
                         }));
    EXPECT_TRUE(v.avertissements.empty());
}

TEST(Validation, EqualTimestampsGiveOneErrorOnTheLaterFrame) {
    const ValidationLot v = valider_lot(essai::lot({T(100), T(100), T(200)}));
    EXPECT_EQ(v.erreurs, Textes{"frame[1]: timestamps must be strictly increasing."});
    // Out-of-order batches built by hand are caught too, with a signed comparison.
    const ValidationLot w = valider_lot(essai::lot({T(5), T(-3), T(std::numeric_limits<std::int64_t>::min())}));
    EXPECT_EQ(w.erreurs, (Textes{"frame[1]: timestamps must be strictly increasing.",
                                 "frame[2]: timestamps must be strictly increasing."}));
}

TEST(Validation, FrameChecksKeepTheirOrderAndWarningsAreSeparate) {
    auto trames = trois_trames();
    trames[1] = T(200).visible(-1.0).occulte(0.0).sansCible();
    const ValidationLot v = valider_lot(essai::lot(trames));
    EXPECT_EQ(v.erreurs, (Textes{"frame[1]: angular errors/speeds cannot be negative.",
                                 "frame[1]: a target cannot be visible and occluded at the same instant."}));
    EXPECT_EQ(v.avertissements, Textes{"frame[1]: target state present without target id."});
    EXPECT_EQ(erreurs_lot(essai::lot(trames)), v.erreurs);  // the analysis' errors-only path agrees
}

TEST(Validation, NonFiniteFieldsGiveOneErrorAndNaNIsNotNegative) {
    auto trames = trois_trames();
    TrameTelemetrie f = T(200);
    f.yawDeg = std::nan("");
    f.targetAngularErrorDeg = std::nan("");
    f.targetAngularSpeedDegPerSec = -std::numeric_limits<double>::infinity();
    trames[1] = f;
    TrameTelemetrie g = T(300);
    g.occludedTargetAngularErrorDeg = -0.0;  // not below zero
    g.acquisitionConfidence = std::nan("");  // not checked
    trames[2] = g;
    const ValidationLot v = valider_lot(essai::lot(trames));
    EXPECT_EQ(v.erreurs, (Textes{"frame[1]: numeric fields must be finite.",
                                 "frame[1]: angular errors/speeds cannot be negative."}));
    trames[1].targetAngularSpeedDegPerSec = 0.0;
    EXPECT_EQ(valider_lot(essai::lot(trames)).erreurs, Textes{"frame[1]: numeric fields must be finite."});
}

TEST(Validation, LargeMouseDeltasOnlyWarnOncePerFrame) {
    const ValidationLot v = valider_lot(essai::lot({
        T(100).souris(100000, -100000),
        T(200).souris(-100001, 0),
        T(300).souris(200000, std::numeric_limits<std::int32_t>::min()),
    }));
    EXPECT_TRUE(v.valide);
    EXPECT_TRUE(v.erreurs.empty());
    EXPECT_EQ(v.avertissements, (Textes{"frame[1]: unusually large raw mouse delta; verify source scaling.",
                                        "frame[2]: unusually large raw mouse delta; verify source scaling."}));
}

TEST(Validation, TargetIdIsTrimmedOfUnicodeWhiteSpaceOnly) {
    auto trames = trois_trames();
    trames[0] = T(100).occulte().cible("\xE2\x80\xA8 \xC2\x85");  // U+2028, space, NEL
    trames[1] = T(200).visible().cible("\xE2\x80\x8B");           // U+200B is not white space
    trames[2] = T(300).visible().cible("");
    const ValidationLot v = valider_lot(essai::lot(trames));
    EXPECT_TRUE(v.valide);
    EXPECT_EQ(v.avertissements, (Textes{"frame[0]: target state present without target id.",
                                        "frame[2]: target state present without target id."}));
}

TEST(Validation, TrimHandlesEveryWhiteSpaceKindAndNothingElse) {
    EXPECT_EQ(commun::rogner_unicode("\x09\x0A\x0B\x0C\x0D a b \xE1\x9A\x80\xE2\x80\x80\xE2\x80\x8A\xE2\x80\xA9"
                                     "\xE2\x80\xAF\xE2\x81\x9F"),
              "a b");
    EXPECT_EQ(commun::rogner_unicode("\xEF\xBB\xBFx\x1C"), "\xEF\xBB\xBFx\x1C");  // BOM and U+001C stay
    EXPECT_EQ(commun::rogner_unicode("\xE1\xA0\x8E"), "\xE1\xA0\x8E");            // U+180E stays
    EXPECT_EQ(commun::rogner_unicode("\xC2\xA0\xC2"), "\xC2");  // a truncated sequence is not white space
    EXPECT_EQ(commun::rogner_unicode(""), "");
    // Batch ids are trimmed only to decide they are missing; frames still compare them byte for byte.
    std::vector<TrameTelemetrie> trames{T(1).match(" m "), T(2).match(" m "), T(3).match("m")};
    EXPECT_EQ(valider_lot(essai::lot(trames, " m ")).erreurs, Textes{"frame[2]: match id differs from batch."});
}

}  // namespace
}  // namespace comportement
