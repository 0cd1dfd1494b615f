#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "comportement/detecteurs.hpp"
#include "test_detecteurs_aide.hpp"

namespace comportement {
namespace {

using essai::T;
using Trames = std::vector<TrameTelemetrie>;
using Horodatages = std::vector<std::int64_t>;
using Cles = std::vector<std::string>;
const EngineThresholds kDefaut{};

std::vector<Signal> aim_snap(const Trames& f, const EngineThresholds& s = kDefaut) {
    return detect_aim_snap(f, compute_angular_steps(f), s);
}
std::vector<Signal> micro(const Trames& f, const EngineThresholds& s = kDefaut) {
    return detect_micro_correction(f, compute_angular_steps(f), s);
}
std::vector<Signal> reaction(const Trames& f, const EngineThresholds& s = kDefaut) {
    return detect_reaction_time(f, compute_angular_steps(f), s);
}

// ---- AimSnap ----

TEST(AimSnap, FlickAfterTheFirstStepWithShotOnTarget) {
    // 10 degrees in 10 ms from rest: 1000 deg/s, 100000 deg/s².
    const Trames f{T(0), T(10), T(20).yaw(10.0).visible(0.5).tir().souris(300, -20), T(30).yaw(10.0)};
    const auto s = aim_snap(f);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].category, SignalCategory::AimSnap);
    EXPECT_EQ(s[0].description, "High-speed aim transition followed by an unusually precise stop/shot.");
    EXPECT_EQ(essai::cles(s[0]), (Cles{"peakAngularVelocityDegPerSec", "angularAccelerationDegPerSec2",
                                       "finalTargetErrorDeg", "elapsedMs", "mouseDx", "mouseDy"}));
    EXPECT_DOUBLE_EQ(essai::preuve(s[0], "peakAngularVelocityDegPerSec"), 1000.0);
    EXPECT_DOUBLE_EQ(essai::preuve(s[0], "angularAccelerationDegPerSec2"), 100000.0);
    EXPECT_EQ(essai::preuve(s[0], "elapsedMs"), 0.0);  // the snap frame is its own stop
    EXPECT_EQ(essai::preuve(s[0], "mouseDx"), 300.0);
    EXPECT_EQ(essai::preuve(s[0], "mouseDy"), -20.0);
    EXPECT_EQ(s[0].frameTimestamps, Horodatages{20});
    EXPECT_NEAR(s[0].strength, 0.35 + 0.25 * (1000.0 / 1040.0) + 0.25 * (1.0 - 0.5 / 0.85) + 0.15, 1e-12);

    // The same flick as the very first movement is never a candidate.
    EXPECT_TRUE(aim_snap({T(0), T(10).yaw(10.0).visible(0.0).tir(), T(20).yaw(10.0)}).empty());
    // Nor when the snap frame does not see the target.
    EXPECT_TRUE(aim_snap({T(0), T(10), T(20).yaw(10.0).tir(), T(30).yaw(10.0)}).empty());
}

TEST(AimSnap, StepsBeyondTheFramesAreIgnored) {
    // Steps of a longer list than the frames given: the extra ones would index past the frames.
    const Trames f{T(0), T(10), T(20).yaw(10.0).visible(0.0).tir(), T(30).yaw(40.0).visible(0.0).tir()};
    const auto pas = compute_angular_steps(f);
    const std::span<const TrameTelemetrie> debut = std::span(f).first(3);
    EXPECT_EQ(detect_aim_snap(debut, pas, kDefaut).size(), 1u);
    EXPECT_EQ(detect_micro_correction(debut, pas, kDefaut).size(), 0u);
    EXPECT_EQ(detect_reaction_time(debut, pas, kDefaut).size(), 1u);
    EXPECT_EQ(detect_aim_snap(f, pas, kDefaut).size(), 2u);
}

TEST(AimSnap, StopNeedsShotOrHitOnTargetWithinTheInclusiveWindow) {
    auto avec_arret = [](std::int64_t t) {
        return Trames{T(0),
                      T(10),
                      T(20).yaw(10.0).visible(2.0),
                      T(110).yaw(10.0).visible(0.9).tir(),  // fires, but off target
                      T(150).yaw(10.0).visible(0.5),        // on target, but neither shot nor hit
                      T(t).yaw(10.0).visible(0.85).touche()};
    };
    const auto s = aim_snap(avec_arret(200));
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].startMs, 20);
    EXPECT_EQ(s[0].endMs, 200);
    EXPECT_EQ(s[0].frameTimestamps, (Horodatages{20, 110, 150, 200}));
    EXPECT_EQ(essai::preuve(s[0], "elapsedMs"), 180.0);
    EXPECT_EQ(essai::preuve(s[0], "finalTargetErrorDeg"), 0.85);
    EXPECT_NEAR(s[0].strength, 0.35 + 0.25 * (1000.0 / 1040.0) + 0.15, 1e-12);
    EXPECT_TRUE(aim_snap(avec_arret(201)).empty());
}

TEST(AimSnap, ConsecutiveFastStepsEachSignalWithTheSameStop) {
    const Trames f{T(0), T(10), T(20).yaw(10.0).visible(3.0), T(30).yaw(30.0).visible(0.0).tir(), T(40).yaw(30.0)};
    const auto s = aim_snap(f);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].frameTimestamps, (Horodatages{20, 30}));
    EXPECT_EQ(s[1].frameTimestamps, Horodatages{30});
    EXPECT_EQ(s[0].endMs, s[1].endMs);
}

// ---- MicroCorrection ----

// Frame 0 at rest off target, then one visible frame per yaw value, `pas` ms apart.
Trames oscillation(const std::vector<double>& lacets, std::int64_t pas = 20, double erreur = 1.0) {
    Trames f{T(0)};
    for (std::size_t i = 0; i < lacets.size(); ++i) {
        f.push_back(T(static_cast<std::int64_t>(i + 1) * pas).yaw(lacets[i]).visible(erreur));
    }
    return f;
}

TEST(MicroCorrection, NeedsFiveQualifyingStepsInTheWindow) {
    EXPECT_TRUE(micro(oscillation({0.5, 0.0, 0.5, 0.0})).empty());
    const auto s = micro(oscillation({0.5, 0.0, 0.5, 0.0, 0.5}));
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].description, "Repeated sub-degree direction reversals while tightly centered on a visible target.");
    EXPECT_EQ(essai::cles(s[0]), (Cles{"directionReversals", "smallStepRatio", "totalAngularMovementDeg", "windowMs"}));
    EXPECT_EQ(essai::preuve(s[0], "directionReversals"), 4.0);
    EXPECT_EQ(essai::preuve(s[0], "smallStepRatio"), 1.0);
    EXPECT_DOUBLE_EQ(essai::preuve(s[0], "totalAngularMovementDeg"), 2.0);  // the first step is not counted
    EXPECT_EQ(essai::preuve(s[0], "windowMs"), 80.0);
    EXPECT_EQ(s[0].frameTimestamps, (Horodatages{20, 40, 60, 80, 100}));
    EXPECT_DOUBLE_EQ(s[0].strength, 0.3 + 0.07 * 4 + 0.2);
    // Off target (error above 2.5) the steps do not qualify.
    EXPECT_TRUE(micro(oscillation({0.5, 0.0, 0.5, 0.0, 0.5}, 20, 2.6)).empty());
}

TEST(MicroCorrection, ReversalAndSmallStepThresholds) {
    // Three reversals is enough; two is not.
    const auto trois = micro(oscillation({0.5, 0.0, 0.5, 0.0, -0.5}));
    ASSERT_EQ(trois.size(), 1u);
    EXPECT_DOUBLE_EQ(trois[0].strength, 0.3 + 0.07 * 3 + 0.2);
    EXPECT_TRUE(micro(oscillation({0.5, 0.0, 0.5, 1.0, 1.5})).empty());
    // One large later step: ratio 0.75 passes; two: 0.5 fails; a large first step is not judged.
    const auto un_grand = micro(oscillation({0.5, -0.5, 0.0, -0.5, 0.0}));
    ASSERT_EQ(un_grand.size(), 1u);
    EXPECT_EQ(essai::preuve(un_grand[0], "smallStepRatio"), 0.75);
    EXPECT_TRUE(micro(oscillation({0.5, -0.5, 0.5, 0.0, 0.5})).empty());
    const auto premier = micro(oscillation({1.0, 0.5, 1.0, 0.5, 1.0}));
    ASSERT_EQ(premier.size(), 1u);
    EXPECT_EQ(essai::preuve(premier[0], "smallStepRatio"), 1.0);
}

TEST(MicroCorrection, ZeroDirectionsNeitherCountNorBridgeAndAxesCountSeparately) {
    EXPECT_TRUE(micro(oscillation({0.5, 0.5, 0.0, 0.0, 0.5})).empty());  // +, 0, -, 0, +
    Trames f{T(0)};
    for (int i = 1; i <= 5; ++i) {
        const double v = i % 2 == 1 ? 0.3 : 0.0;
        f.push_back(T(i * 20).yaw(v).pitch(v).visible(1.0));
    }
    const auto s = micro(f);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(essai::preuve(s[0], "directionReversals"), 8.0);
    EXPECT_EQ(s[0].strength, 0.92);  // ceiling
}

TEST(MicroCorrection, WindowIsInclusiveAndRestartsAtTheClosingStep) {
    EXPECT_EQ(micro(oscillation({0.5, 0.0, 0.5, 0.0, 0.5}, 70)).size(), 1u);  // spans exactly 280 ms
    EXPECT_TRUE(micro(oscillation({0.5, 0.0, 0.5, 0.0, 0.5}, 71)).empty());
    const auto deux = micro(oscillation({0.5, 0.0, 0.5, 0.0, 0.5, 0.0, 0.5, 0.0, 0.5}));
    ASSERT_EQ(deux.size(), 2u);
    EXPECT_EQ(deux[0].frameTimestamps, (Horodatages{20, 40, 60, 80, 100}));
    EXPECT_EQ(deux[1].frameTimestamps, (Horodatages{100, 120, 140, 160, 180}));
}

TEST(MicroCorrection, UnqualifiedStepsAreSkippedNotBreaking) {
    Trames f = oscillation({0.5, 0.0, 0.5, 0.0, 0.5, 0.0});
    f[3].targetAngularErrorDeg = 3.0;
    const auto s = micro(f);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].frameTimestamps, (Horodatages{20, 40, 80, 100, 120}));
    EXPECT_EQ(essai::preuve(s[0], "directionReversals"), 3.0);
}

// The algorithm as plainly stated, rebuilding the window's list at every step.
std::vector<Signal> micro_reference(const std::vector<AngularStep>& s, const EngineThresholds& th) {
    std::vector<Signal> out;
    std::size_t k = 0;
    for (std::size_t j = 0; j < s.size(); ++j) {
        while (s[j].frame->timestampMs - s[k].frame->timestampMs > th.microWindowMs) ++k;
        std::vector<const AngularStep*> l;
        for (std::size_t i = k; i <= j; ++i) {
            if (s[i].frame->targetVisible && s[i].frame->targetAngularErrorDeg <= th.microMaxTargetErrorDeg) {
                l.push_back(&s[i]);
            }
        }
        if (l.size() < 5) continue;
        int rev = 0;
        int petits = 0;
        double total = 0.0;
        for (std::size_t m = 1; m < l.size(); ++m) {
            if (l[m]->yawDirection != 0 && l[m - 1]->yawDirection != 0 && l[m]->yawDirection != l[m - 1]->yawDirection)
                ++rev;
            if (l[m]->pitchDirection != 0 && l[m - 1]->pitchDirection != 0 &&
                l[m]->pitchDirection != l[m - 1]->pitchDirection)
                ++rev;
            if (l[m]->angularDistanceDeg <= th.microSmallStepDeg) ++petits;
            total += l[m]->angularDistanceDeg;
        }
        const double ratio = static_cast<double>(petits) / static_cast<double>(l.size() - 1);
        if (rev >= th.microMinDirectionReversals && ratio >= 0.7) {
            Horodatages ts;
            for (const AngularStep* p : l) ts.push_back(p->frame->timestampMs);
            out.push_back(make_signal(
                SignalCategory::MicroCorrection, *l.front()->frame, l.back()->frame->timestampMs,
                std::fmin(0.92, std::fmax(0.0, 0.3 + 0.07 * rev + 0.2 * ratio)), "",
                {{"directionReversals", rev},
                 {"smallStepRatio", ratio},
                 {"totalAngularMovementDeg", total},
                 {"windowMs", static_cast<double>(l.back()->frame->timestampMs - l.front()->frame->timestampMs)}},
                ts));
            k = j;
        }
    }
    return out;
}

TEST(MicroCorrection, SlidingTalliesMatchAFullRecount) {
    std::mt19937_64 alea(12345);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int essai_n = 0; essai_n < 40; ++essai_n) {
        EngineThresholds th;
        th.microWindowMs = 100 + static_cast<std::int64_t>(u(alea) * 400);
        th.microMinDirectionReversals = 2 + static_cast<std::int32_t>(u(alea) * 4);
        Trames f;
        std::int64_t t = 0;
        double lacet = 0.0;
        double tangage = 0.0;
        for (int i = 0; i < 3000; ++i) {
            t += 5 + static_cast<std::int64_t>(u(alea) * 50);
            const double r = u(alea);
            lacet += r < 0.15 ? 0.0 : (u(alea) - 0.5) * (r < 0.9 ? 1.6 : 6.0);
            tangage += u(alea) < 0.5 ? 0.0 : (u(alea) - 0.5) * 1.2;
            T trame(t);
            trame.yaw(lacet).pitch(tangage);
            if (u(alea) < 0.85) trame.visible(u(alea) * 3.0);
            f.push_back(trame);
        }
        const auto pas = compute_angular_steps(f);
        const auto attendu = micro_reference(pas, th);
        const auto obtenu = detect_micro_correction(f, pas, th);
        ASSERT_EQ(obtenu.size(), attendu.size()) << "trial " << essai_n;
        ASSERT_GT(attendu.size(), 0u);
        for (std::size_t i = 0; i < attendu.size(); ++i) {
            EXPECT_EQ(obtenu[i].frameTimestamps, attendu[i].frameTimestamps);
            EXPECT_EQ(obtenu[i].evidence, attendu[i].evidence);
            EXPECT_EQ(obtenu[i].strength, attendu[i].strength);
        }
    }
}

// ---- ReactionTime ----

TEST(ReactionTime, DelayBandsAndBoundary) {
    auto tir_a = [](std::int64_t delai) {
        return Trames{T(0), T(1000).visible(0.3), T(1000 + delai).visible().tir(), T(2000).visible()};
    };
    const auto s = reaction(tir_a(135));
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].description, "Very short visibility-to-aim/shot reaction time.");
    EXPECT_EQ(essai::cles(s[0]), (Cles{"reactionMs", "targetErrorAtRevealDeg", "shotAtReaction"}));
    EXPECT_EQ(essai::preuve(s[0], "reactionMs"), 135.0);
    EXPECT_EQ(essai::preuve(s[0], "targetErrorAtRevealDeg"), 0.3);
    EXPECT_EQ(essai::preuve(s[0], "shotAtReaction"), 1.0);
    EXPECT_EQ(s[0].frameTimestamps, (Horodatages{1000, 1135}));
    EXPECT_DOUBLE_EQ(s[0].strength, 0.5);
    EXPECT_TRUE(reaction(tir_a(136)).empty());
    EXPECT_DOUBLE_EQ(reaction(tir_a(106))[0].strength, 0.5 + 29.0 / 150.0);
    EXPECT_DOUBLE_EQ(reaction(tir_a(105))[0].strength, 0.72);

    const Trames immediat{T(0), T(1000).visible().tir(), T(1100).visible()};
    const auto z = reaction(immediat);
    ASSERT_EQ(z.size(), 1u);
    EXPECT_EQ(z[0].strength, 0.97);
    EXPECT_EQ(z[0].frameTimestamps, (Horodatages{1000, 1000}));
}

TEST(ReactionTime, AStepOfExactlySixtyDegreesPerSecondIsNoReaction) {
    auto mouvement = [](double lacet) {
        // 125 ms is exact in binary, so lacet / 0.125 is exact too.
        return Trames{T(0), T(1000).visible(), T(1125).visible().yaw(lacet), T(1130).visible().yaw(lacet).tir()};
    };
    const auto lent = reaction(mouvement(7.5));
    ASSERT_EQ(lent.size(), 1u);
    EXPECT_EQ(essai::preuve(lent[0], "reactionMs"), 130.0);
    const auto rapide = reaction(mouvement(7.6));
    ASSERT_EQ(rapide.size(), 1u);
    EXPECT_EQ(essai::preuve(rapide[0], "reactionMs"), 125.0);
    EXPECT_EQ(essai::preuve(rapide[0], "shotAtReaction"), 0.0);
}

TEST(ReactionTime, RevealNeedsATargetIdAndAPreviouslyHiddenTarget) {
    EXPECT_TRUE(reaction({T(0), T(100).visible().sansCible().tir(), T(200)}).empty());
    EXPECT_EQ(reaction({T(0), T(100).visible().cible("").tir(), T(200)}).size(), 1u);
    EXPECT_TRUE(reaction({T(0).visible(), T(100).visible().tir(), T(200)}).empty());
    EXPECT_TRUE(reaction({T(0), T(100).visible().tir()}).empty());  // fewer than three frames
    // A reveal inside an earlier reveal's search window is examined on its own.
    const auto deux = reaction({T(0), T(10).visible(), T(20), T(30).visible(), T(40).visible().tir()});
    ASSERT_EQ(deux.size(), 2u);
    EXPECT_EQ(essai::preuve(deux[0], "reactionMs"), 30.0);
    EXPECT_EQ(essai::preuve(deux[1], "reactionMs"), 10.0);
}

TEST(ReactionTime, SharedRuleSearchesWithinTheWindow) {
    auto avec = [](std::int64_t delai) { return Trames{T(0), T(1000).visible(), T(1000 + delai).tir()}; };
    const Trames a = avec(500);
    ASSERT_TRUE(is_reaction_reveal(a, 1));
    EXPECT_FALSE(is_reaction_reveal(a, 0));
    EXPECT_FALSE(is_reaction_reveal(a, 2));
    const auto r = find_reaction(a, compute_angular_steps(a), 1, 500);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->frameIndex, 2u);
    EXPECT_TRUE(r->delayMs == 500);
    const Trames b = avec(501);
    EXPECT_FALSE(find_reaction(b, compute_angular_steps(b), 1, 500));
    EngineThresholds lache;
    lache.reactionSuspectMs = 1000;
    EXPECT_EQ(reaction(avec(500), lache).size(), 1u);
    EXPECT_TRUE(reaction(b, lache).empty());
}

// ---- PreAim ----

Trames pre_visee(std::int64_t fin_tenue, std::int64_t revelation, double erreur = 1.0) {
    return {T(0).occulte(erreur),         T(40).occulte(erreur), T(80).occulte(erreur),
            T(fin_tenue).occulte(erreur), T(fin_tenue + 30),     T(revelation).visible().cible("autre")};
}

TEST(PreAim, HoldAndRevealBoundaries) {
    const auto s = detect_pre_aim(pre_visee(120, 445), kDefaut);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].description,
              "Crosshair held near an occluded opponent shortly before that opponent became visible.");
    EXPECT_EQ(essai::cles(s[0]), (Cles{"occludedHoldMs", "avgOccludedTargetErrorDeg", "revealDelayMs"}));
    EXPECT_EQ(essai::preuve(s[0], "occludedHoldMs"), 120.0);
    EXPECT_DOUBLE_EQ(essai::preuve(s[0], "avgOccludedTargetErrorDeg"), 1.0);
    EXPECT_EQ(essai::preuve(s[0], "revealDelayMs"), 325.0);
    EXPECT_EQ(s[0].frameTimestamps, (Horodatages{0, 40, 80, 120, 150, 445}));
    EXPECT_NEAR(s[0].strength, 0.38 + 0.1 + 0.28 * (1.0 - 1.0 / 1.25), 1e-12);
    EXPECT_TRUE(detect_pre_aim(pre_visee(120, 446), kDefaut).empty());
    EXPECT_TRUE(detect_pre_aim(pre_visee(119, 200), kDefaut).empty());
}

TEST(PreAim, ShortHoldResumesAfterTheRunAndErrorLimitIsInclusive) {
    Trames f = pre_visee(119, 200);
    for (std::int64_t t = 300; t <= 420; t += 40) f.push_back(T(t).occulte(1.25));
    f.push_back(T(500).visible());
    const auto s = detect_pre_aim(f, kDefaut);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].startMs, 300);
    EXPECT_NEAR(s[0].strength, 0.38 + 0.1, 1e-12);

    Trames g = pre_visee(120, 150);
    g[3].occludedTargetAngularErrorDeg = 1.26;  // ends the run after 80 ms
    EXPECT_TRUE(detect_pre_aim(g, kDefaut).empty());
    // A run that reaches the last frame has no reveal.
    EXPECT_TRUE(detect_pre_aim(Trames{T(0).occulte(), T(100).occulte(), T(200).occulte()}, kDefaut).empty());
}

// ---- VisibleTracking ----

Trames suivi(const std::vector<double>& erreurs, std::int64_t pas, double vitesse = 18.0, std::int64_t debut = 0) {
    Trames f;
    for (std::size_t i = 0; i < erreurs.size(); ++i) {
        f.push_back(T(debut + static_cast<std::int64_t>(i) * pas).visible(erreurs[i]).vitesse(vitesse));
    }
    return f;
}

TEST(VisibleTracking, RunLengthAndDuration) {
    const Trames quatre{T(0).visible(0.5).vitesse(18.0), T(100).visible(0.5).vitesse(18.0),
                        T(200).visible(0.5).vitesse(18.0), T(350).visible(0.5).vitesse(18.0)};
    const auto s = detect_visible_tracking(quatre, kDefaut);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].description, "Sustained low-error tracking of a moving visible target.");
    EXPECT_EQ(essai::cles(s[0]), (Cles{"trackingRmsErrorDeg", "excellentTrackingRatio", "durationMs", "samples"}));
    EXPECT_DOUBLE_EQ(essai::preuve(s[0], "trackingRmsErrorDeg"), 0.5);
    EXPECT_EQ(essai::preuve(s[0], "durationMs"), 350.0);
    EXPECT_EQ(essai::preuve(s[0], "samples"), 4.0);
    EXPECT_EQ(s[0].frameTimestamps, (Horodatages{0, 100, 200, 350}));
    EXPECT_NEAR(s[0].strength, 0.35 + 0.3 * (1.0 - 0.5 / 0.95) + 0.25, 1e-12);
    EXPECT_TRUE(detect_visible_tracking(suivi({0.5, 0.5, 0.5}, 200), kDefaut).empty());       // 3 samples, 400 ms
    EXPECT_TRUE(detect_visible_tracking(suivi({0.5, 0.5, 0.5, 0.5}, 116), kDefaut).empty());  // 348 ms
    EXPECT_TRUE(detect_visible_tracking(suivi({0.5, 0.5, 0.5, 0.5}, 120, 17.9), kDefaut).empty());
}

TEST(VisibleTracking, SlowFrameSplitsTheRun) {
    Trames f = suivi({0.5, 0.5, 0.5, 0.5}, 120);
    f.push_back(T(400).visible(0.5).vitesse(17.0));
    for (const auto& t : suivi({0.5, 0.5, 0.5, 0.5}, 120, 18.0, 450)) f.push_back(t);
    const auto s = detect_visible_tracking(f, kDefaut);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].endMs, 360);
    EXPECT_EQ(s[1].startMs, 450);
}

TEST(VisibleTracking, RmsAndRatioLimitsAreInclusive) {
    const double b = 1.5572411502397436;  // with seven samples of 0.5, rms is exactly 0.95
    const auto pile = detect_visible_tracking(suivi({0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, b, b, b}, 50), kDefaut);
    ASSERT_EQ(pile.size(), 1u);
    EXPECT_EQ(essai::preuve(pile[0], "trackingRmsErrorDeg"), 0.95);
    EXPECT_EQ(essai::preuve(pile[0], "excellentTrackingRatio"), 0.7);
    EXPECT_NEAR(pile[0].strength, 0.35 + 0.25 * 0.7, 1e-12);
    EXPECT_TRUE(detect_visible_tracking(suivi({0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5, b, b, 1.56}, 50), kDefaut).empty());
    EXPECT_TRUE(
        detect_visible_tracking(suivi({0.5, 0.5, 0.5, 0.5, 0.5, 0.5, 0.7, 0.7, 0.7, 0.7}, 50), kDefaut).empty());
    // Every sample excellent is not enough when rms is above 0.95.
    EngineThresholds large;
    large.trackingExcellentErrorDeg = 1.0;
    EXPECT_TRUE(detect_visible_tracking(suivi({0.96, 0.96, 0.96, 0.96, 0.96}, 100), large).empty());
}

// ---- OccludedTracking ----

TEST(OccludedTracking, ErrorAboveLimitEndsTheRunAndIsLeftOut) {
    Trames f;
    for (std::int64_t t = 0; t <= 240; t += 80) f.push_back(T(t).occulte(1.0).vitesse(20.0));
    f.push_back(T(320).occulte(1.41).vitesse(20.0));
    for (std::int64_t t = 400; t <= 640; t += 80) f.push_back(T(t).occulte(1.4).vitesse(20.0));
    const auto s = detect_occluded_tracking(f, kDefaut);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].description, "Aim closely followed a moving opponent while that opponent was occluded.");
    EXPECT_EQ(essai::cles(s[0]), (Cles{"durationMs", "occludedTrackingRmsErrorDeg", "samples"}));
    EXPECT_EQ(s[0].frameTimestamps, (Horodatages{0, 80, 160, 240}));
    EXPECT_EQ(essai::preuve(s[0], "durationMs"), 240.0);
    EXPECT_DOUBLE_EQ(essai::preuve(s[0], "occludedTrackingRmsErrorDeg"), 1.0);
    EXPECT_EQ(s[1].startMs, 400);
    EXPECT_NEAR(s[1].strength, 0.55 + 240.0 / 1800.0, 1e-12);  // rms at the limit adds nothing
    f.erase(f.begin() + 3);                                    // 160 ms left before the break
    EXPECT_EQ(detect_occluded_tracking(f, kDefaut).size(), 1u);
}

TEST(OccludedTracking, LongPerfectRunReachesTheCeiling) {
    Trames f;
    for (std::int64_t t = 0; t <= 1800; t += 100) f.push_back(T(t).occulte(0.0).vitesse(18.0));
    const auto s = detect_occluded_tracking(f, kDefaut);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].strength, 0.98);
    f[5].targetAngularSpeedDegPerSec = 17.9;  // a slow target splits it
    EXPECT_EQ(detect_occluded_tracking(f, kDefaut).size(), 2u);
}

// ---- VisibilityShotCorrelation ----

Trames revelation(std::vector<TrameTelemetrie> autour) {
    Trames f{T(0), T(100).occulte(0.5), T(200).visible(0.3), T(400)};
    for (auto& t : autour) f.push_back(std::move(t));
    std::stable_sort(f.begin(), f.end(),
                     [](const TrameTelemetrie& a, const TrameTelemetrie& b) { return a.timestampMs < b.timestampMs; });
    return f;
}

TEST(VisibilityShotCorrelation, WindowEdgesAroundTheReveal) {
    const auto avant = detect_visibility_shot_correlation(revelation({T(40).occulte(0.5).tir().touche()}), kDefaut);
    ASSERT_EQ(avant.size(), 1u);
    EXPECT_EQ(avant[0].description,
              "Shot timing is unusually correlated with an opponent crossing the visibility boundary.");
    EXPECT_EQ(essai::cles(avant[0]), (Cles{"shotRelativeToRevealMs", "targetErrorAtShotDeg", "hit", "headshot"}));
    EXPECT_EQ(essai::preuve(avant[0], "shotRelativeToRevealMs"), -160.0);
    EXPECT_EQ(essai::preuve(avant[0], "targetErrorAtShotDeg"), 0.5);  // occluded: the occluded error
    EXPECT_EQ(essai::preuve(avant[0], "hit"), 1.0);
    EXPECT_EQ(essai::preuve(avant[0], "headshot"), 0.0);
    EXPECT_EQ(avant[0].frameTimestamps, (Horodatages{40, 200}));
    EXPECT_EQ(avant[0].startMs, 40);
    EXPECT_EQ(avant[0].endMs, 200);
    EXPECT_DOUBLE_EQ(avant[0].strength, 0.84);
    EXPECT_TRUE(detect_visibility_shot_correlation(revelation({T(39).occulte(0.5).tir()}), kDefaut).empty());

    const auto apres = detect_visibility_shot_correlation(revelation({T(290).visible(1.0).tir()}), kDefaut);
    ASSERT_EQ(apres.size(), 1u);
    EXPECT_EQ(essai::preuve(apres[0], "shotRelativeToRevealMs"), 90.0);
    EXPECT_DOUBLE_EQ(apres[0].strength, 0.45);
    EXPECT_EQ(apres[0].startMs, 200);
    EXPECT_EQ(apres[0].endMs, 290);
    EXPECT_TRUE(detect_visibility_shot_correlation(revelation({T(291).visible(1.0).tir()}), kDefaut).empty());
}

TEST(VisibilityShotCorrelation, NearestShotBeforeWinsAndErrorLimit) {
    const auto s = detect_visibility_shot_correlation(
        revelation({T(60).occulte(0.5).tir(), T(150).occulte(0.5).tir(), T(210).visible(0.1).tir()}), kDefaut);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(essai::preuve(s[0], "shotRelativeToRevealMs"), -50.0);

    auto au_tir = [](TrameTelemetrie tir) {
        return detect_visibility_shot_correlation(revelation({std::move(tir)}), kDefaut).size();
    };
    EXPECT_EQ(au_tir(T(150).occulte(2.0).tir()), 1u);
    EXPECT_EQ(au_tir(T(150).occulte(2.01).tir()), 0u);
    EXPECT_EQ(au_tir(T(250).visible(2.0).erreurOcc(9.0).tir()), 1u);  // visible: its own error counts
    EXPECT_EQ(au_tir(T(250).visible(2.01).erreurOcc(0.0).tir()), 0u);
}

TEST(VisibilityShotCorrelation, RevealMustComeOutOfOcclusion) {
    // Visible, merely invisible, visible: a reaction reveal but not an occlusion reveal.
    const Trames f{T(0).visible(), T(100), T(200).visible().tir(), T(300)};
    EXPECT_TRUE(detect_visibility_shot_correlation(f, kDefaut).empty());
    EXPECT_EQ(reaction(f).size(), 1u);
    // Without a target id it is no reaction reveal, yet still an occlusion reveal.
    const Trames g{T(0).occulte(), T(100).visible().sansCible().tir(), T(300)};
    EXPECT_TRUE(reaction(g).empty());
    EXPECT_EQ(detect_visibility_shot_correlation(g, kDefaut).size(), 1u);
}

}  // namespace
}  // namespace comportement
