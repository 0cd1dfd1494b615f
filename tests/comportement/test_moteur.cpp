#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "comportement/detecteurs.hpp"
#include "comportement/mod.hpp"
#include "test_detecteurs_aide.hpp"

namespace comportement {
namespace {

using essai::T;
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

Signal signal_de(SignalCategory c, double force) { return make_signal(c, T(0), 0, force, "d", {}, {}); }

std::vector<Signal> serie(SignalCategory c, double force, int nombre) {
    std::vector<Signal> s;
    for (int i = 0; i < nombre; ++i) s.push_back(signal_de(c, force));
    return s;
}

// ---- Angular steps ----

TEST(AngularSteps, YawWrapsIntoHalfTurnAndPitchDoesNot) {
    const std::vector<TrameTelemetrie> f{T(0).yaw(179.0), T(10).yaw(-179.0).pitch(100.0), T(20).yaw(170.0),
                                         T(30).yaw(-10.0 + 720.0), T(40).yaw(-10.0).pitch(-100.0)};
    const auto s = compute_angular_steps(f);
    ASSERT_EQ(s.size(), 4u);
    EXPECT_DOUBLE_EQ(s[0].deltaYawDeg, 2.0);
    EXPECT_EQ(s[0].yawDirection, 1);
    EXPECT_DOUBLE_EQ(s[0].deltaPitchDeg, 100.0);
    EXPECT_DOUBLE_EQ(s[1].deltaYawDeg, -11.0);  // -179 -> 170 goes back through the seam
    EXPECT_DOUBLE_EQ(s[2].deltaYawDeg, 180.0);  // 540 is a half turn, kept positive
    EXPECT_DOUBLE_EQ(s[3].deltaYawDeg, 0.0);    // exactly two turns
    EXPECT_EQ(s[3].yawDirection, 0);
    EXPECT_DOUBLE_EQ(s[3].deltaPitchDeg, -100.0);  // pitch is never wrapped
    EXPECT_EQ(s[3].pitchDirection, -1);
    EXPECT_EQ(s[1].frame, &f[2]);

    const auto t = compute_angular_steps(std::vector<TrameTelemetrie>{T(0).yaw(-170.0), T(10).yaw(170.0)});
    EXPECT_DOUBLE_EQ(t[0].deltaYawDeg, -20.0);
}

TEST(AngularSteps, KinematicsUseTheTimeFloorAndStartFromRest) {
    const std::vector<TrameTelemetrie> f{T(0), T(100).yaw(3.0).pitch(4.0), T(100).yaw(4.0).pitch(4.0),
                                         T(50).yaw(4.0).pitch(4.0)};
    const auto s = compute_angular_steps(f);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_DOUBLE_EQ(s[0].dtSec, 0.1);
    EXPECT_DOUBLE_EQ(s[0].angularDistanceDeg, 5.0);
    EXPECT_DOUBLE_EQ(s[0].angularVelocityDegPerSec, 50.0);
    EXPECT_DOUBLE_EQ(s[0].angularAccelerationDegPerSec2, 500.0);  // from rest
    EXPECT_DOUBLE_EQ(s[1].dtSec, 0.001);                          // equal times: floor, no division by zero
    EXPECT_DOUBLE_EQ(s[1].angularVelocityDegPerSec, 1000.0);
    EXPECT_DOUBLE_EQ(s[1].angularAccelerationDegPerSec2, 950000.0);
    EXPECT_DOUBLE_EQ(s[2].dtSec, 0.001);  // going back in time: floor too
    EXPECT_DOUBLE_EQ(s[2].angularAccelerationDegPerSec2, -1000000.0);
    EXPECT_TRUE(compute_angular_steps(std::vector<TrameTelemetrie>{T(0)}).empty());
}

// ---- Score and level ----

TEST(Score, OneAimSnapAndCategoryWeights) {
    EXPECT_EQ(score_signals({}, EngineThresholds{}), 0.0);
    EXPECT_EQ(score_signals(serie(SignalCategory::AimSnap, 0.9, 1), EngineThresholds{}), 19.4);
    std::vector<Signal> deux = serie(SignalCategory::AimSnap, 0.9, 1);
    deux.push_back(signal_de(SignalCategory::PreAim, 0.8));
    EXPECT_EQ(score_signals(deux, EngineThresholds{}), 32.3);
    EXPECT_EQ(category_name(SignalCategory::VisibilityShotCorrelation), "VisibilityShotCorrelation");
    EXPECT_DOUBLE_EQ(category_cap(SignalCategory::OccludedTracking), 3.375);
    EXPECT_DOUBLE_EQ(category_weight(SignalCategory::StatisticalPersistence), 1.25);
}

TEST(Score, OnlyTheStrongestKPerCategoryCountWithDecayAndCap) {
    EXPECT_EQ(score_signals(serie(SignalCategory::AimSnap, 0.9, 10), EngineThresholds{}), 45.1);  // capped at 2.875
    EXPECT_EQ(score_signals(serie(SignalCategory::AimSnap, 0.1, 10), EngineThresholds{}), 8.1);   // 8 of 10
    EngineThresholds dix;
    dix.maxSignalsPerCategory = 10;
    EXPECT_EQ(score_signals(serie(SignalCategory::AimSnap, 0.1, 10), dix), 8.9);
    // K = 2 keeps the two strongest whatever their order: 0.9 then 0.5 (decayed by 1.55).
    EngineThresholds deux;
    deux.maxSignalsPerCategory = 2;
    std::vector<Signal> s{signal_de(SignalCategory::AimSnap, 0.2), signal_de(SignalCategory::AimSnap, 0.5),
                          signal_de(SignalCategory::AimSnap, 0.9)};
    EXPECT_EQ(score_signals(s, deux), 25.4);
}

TEST(Score, NaNStrengthAddsNothing) {
    std::vector<Signal> s = serie(SignalCategory::AimSnap, 0.9, 1);
    s.push_back(signal_de(SignalCategory::AimSnap, std::nan("")));
    s.push_back(signal_de(SignalCategory::StatisticalPersistence, std::nan("")));
    EXPECT_EQ(score_signals(s, EngineThresholds{}), 19.4);
}

TEST(Score, RiskLevelCutOffs) {
    EXPECT_EQ(risk_level(0.0), "NORMAL");
    EXPECT_EQ(risk_level(29.9), "NORMAL");
    EXPECT_EQ(risk_level(30.0), "OBSERVE");
    EXPECT_EQ(risk_level(49.9), "OBSERVE");
    EXPECT_EQ(risk_level(50.0), "REVIEW");
    EXPECT_EQ(risk_level(69.9), "REVIEW");
    EXPECT_EQ(risk_level(70.0), "HIGH-RISK");
    EXPECT_EQ(risk_level(84.9), "HIGH-RISK");
    EXPECT_EQ(risk_level(85.0), "CRITICAL-REVIEW");
    EXPECT_EQ(risk_level(100.0), "CRITICAL-REVIEW");
}

// ---- Signals ----

TEST(Signals, IdIsARandomVersion4UuidInLowerCaseHex) {
    const std::regex forme("[0-9a-f]{12}4[0-9a-f]{3}[89ab][0-9a-f]{15}");
    std::set<std::string> vus;
    for (int i = 0; i < 50; ++i) {
        const Signal s = signal_de(SignalCategory::AimSnap, 0.5);
        EXPECT_TRUE(std::regex_match(s.id, forme)) << s.id;
        vus.insert(s.id);
    }
    EXPECT_EQ(vus.size(), 50u);
}

TEST(Signals, MakeSignalOrdersTimesAndCopiesIdentity) {
    const Signal s = make_signal(SignalCategory::PreAim, T(500).match("mx").joueur("px"), 200, 0.4, "desc",
                                 {{"a", 1.0}, {"b", 2.0}}, {200, 500});
    EXPECT_EQ(s.startMs, 200);
    EXPECT_EQ(s.endMs, 500);
    EXPECT_EQ(s.matchId, "mx");
    EXPECT_EQ(s.playerId, "px");
    EXPECT_EQ(essai::cles(s), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(s.frameTimestamps, (std::vector<std::int64_t>{200, 500}));
}

// ---- Engine ----

TEST(Engine, FailsWithoutFramesAndJoinsValidationErrors) {
    const auto vide = run_engine(EngineThresholds{}, {});
    ASSERT_FALSE(vide);
    EXPECT_EQ(vide.error(), "au moins une trame de télémétrie est requise");
    const auto invalide = analyse_match(
        EngineThresholds{},
        essai::lot({T(1).match("").joueur(""), T(2).match("").joueur(""), T(3).match("").joueur("")}, "", ""));
    ASSERT_FALSE(invalide);
    EXPECT_EQ(invalide.error(), "Missing match id.\nMissing player id.");
    // Warnings do not block.
    const auto averti = analyse_match(EngineThresholds{}, essai::lot({T(1).visible().sansCible(), T(2), T(3)}));
    EXPECT_TRUE(averti);
}

TEST(Engine, AnalysesInTimeOrderAndReportsMetrics) {
    // Given out of order: the earliest frame names the result.
    const std::vector<TrameTelemetrie> f{T(300).tir().touche(), T(100).match("premier").joueur("j0"),
                                         T(200).tir().touche().tete(), T(400).tir()};
    const auto r = run_engine(EngineThresholds{}, f);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->matchId, "premier");
    EXPECT_EQ(r->playerId, "j0");
    const std::vector<std::pair<std::string, double>> attendu{
        {"frames", 4.0},        {"shots", 3.0},        {"hits", 2.0},    {"headshots", 1.0},
        {"hitRate", 2.0 / 3.0}, {"headshotRate", 0.5}, {"signals", 0.0}, {"distinctSignalCategories", 0.0}};
    EXPECT_EQ(r->metrics, attendu);
    EXPECT_EQ(r->score, 0.0);
    EXPECT_EQ(r->level, "NORMAL");
    EXPECT_TRUE(std::regex_match(r->analyzedAt, std::regex(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z)")));

    const auto calme = run_engine(EngineThresholds{}, std::vector<TrameTelemetrie>{T(1), T(2), T(3)});
    EXPECT_EQ(calme->metrics[4].second, 0.0);  // no shot: no division
    EXPECT_EQ(calme->metrics[5].second, 0.0);
}

TEST(Engine, TwoFramesSkipTheFirstPassOnly) {
    // Frame 1 is both a reaction reveal with a shot on it and a reveal out of occlusion.
    const std::vector<TrameTelemetrie> f{T(0).occulte(), T(50).visible(0.5).tir()};
    const auto r = run_engine(EngineThresholds{}, f);
    ASSERT_TRUE(r);
    EXPECT_EQ(essai::categories(r->signals), std::vector{SignalCategory::VisibilityShotCorrelation});
    // With a third frame the first pass runs: the shot on the reveal is also a reaction.
    std::vector<TrameTelemetrie> g = f;
    g.push_back(T(100).visible());
    const auto s = run_engine(EngineThresholds{}, g);
    EXPECT_EQ(essai::categories(s->signals),
              (std::vector{SignalCategory::ReactionTime, SignalCategory::VisibilityShotCorrelation}));
}

// An occluded tracking run of 300 ms at zero error: strength 0.55 + 300/1800 + 0.18.
std::vector<TrameTelemetrie> suivi_occulte(double confiance_milieu) {
    std::vector<TrameTelemetrie> f{T(0)};
    for (std::int64_t t = 100; t <= 400; t += 100) f.push_back(T(t).occulte(0.0).vitesse(30.0));
    f.push_back(T(500));
    f.push_back(T(600).confiance(0.1));  // outside the signal's span
    TrameTelemetrie& milieu = f[2];
    milieu.acquisitionConfidence = confiance_milieu;
    return f;
}

TEST(Engine, AcquisitionConfidenceScalesStrength) {
    const double pleine = 0.55 + 300.0 / 1800.0 + 0.18;
    const auto normal = run_engine(EngineThresholds{}, suivi_occulte(1.0));
    ASSERT_EQ(normal->signals.size(), 1u);
    EXPECT_DOUBLE_EQ(normal->signals[0].strength, pleine);
    EXPECT_EQ(normal->signals[0].evidence.size(), 3u);

    const auto moitie = run_engine(EngineThresholds{}, suivi_occulte(0.5));
    ASSERT_EQ(moitie->signals.size(), 1u);
    EXPECT_DOUBLE_EQ(moitie->signals[0].strength, pleine * 0.5);
    EXPECT_EQ(moitie->signals[0].evidence.back(), (std::pair<std::string, double>{"acquisitionConfidence", 0.5}));

    for (double c : {1.7, std::nan("")}) {  // clamped to 1, or ignored: nothing changes
        const auto r = run_engine(EngineThresholds{}, suivi_occulte(c));
        ASSERT_EQ(r->signals.size(), 1u);
        EXPECT_EQ(r->signals[0].strength, normal->signals[0].strength);
        EXPECT_EQ(r->signals[0].evidence.size(), 3u);
    }
    const auto negatif = run_engine(EngineThresholds{}, suivi_occulte(-2.0));
    EXPECT_EQ(negatif->signals[0].strength, 0.0);
    EXPECT_FALSE(std::signbit(negatif->signals[0].strength));
    EXPECT_EQ(negatif->signals[0].evidence.back().second, 0.0);
}

TEST(Engine, EqualStrengthsKeepDetectorOrderAndExtraSignalComesLast) {
    // Two identical occluded runs give two signals of equal strength, in time order.
    std::vector<TrameTelemetrie> f{T(0)};
    for (std::int64_t t = 100; t <= 400; t += 100) f.push_back(T(t).occulte(0.0).vitesse(30.0));
    f.push_back(T(500));
    for (std::int64_t t = 600; t <= 900; t += 100) f.push_back(T(t).occulte(0.0).vitesse(30.0));
    f.push_back(T(1000));
    const double force = 0.55 + 300.0 / 1800.0 + 0.18;
    Signal egal = signal_de(SignalCategory::StatisticalPersistence, force);
    egal.startMs = -50;  // spans no frame, and is never scaled anyway
    egal.endMs = 2000;
    const auto r = run_engine(EngineThresholds{}, f, egal);
    ASSERT_EQ(r->signals.size(), 3u);
    EXPECT_EQ(r->signals[0].startMs, 100);
    EXPECT_EQ(r->signals[1].startMs, 600);
    EXPECT_EQ(r->signals[2].category, SignalCategory::StatisticalPersistence);
    EXPECT_EQ(r->signals[2].id, egal.id);
    EXPECT_EQ(r->metrics[7].second, 2.0);

    Signal fort = signal_de(SignalCategory::StatisticalPersistence, 0.99);
    fort.startMs = 100;
    fort.endMs = 100;
    f[1].acquisitionConfidence = 0.2;  // would scale a detector signal, not the extra one
    const auto s = run_engine(EngineThresholds{}, f, fort);
    EXPECT_EQ(s->signals[0].strength, 0.99);
    EXPECT_EQ(s->signals[0].category, SignalCategory::StatisticalPersistence);
    EXPECT_EQ(s->signals[1].startMs, 600);  // unscaled run now outranks the scaled one
    EXPECT_DOUBLE_EQ(s->signals[2].strength, force * 0.2);
}

// A long random match where every detector fires: the engine's packed pass must find exactly what the public
// detectors find on the records, in detector order before the strength sort.
TEST(Engine, FindsWhatTheDetectorsFindInTheirOrder) {
    std::mt19937_64 alea(7);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<TrameTelemetrie> f;
    std::int64_t t = 0;
    double lacet = 0.0;
    int etat = 0;
    double vitesse = 0.0;
    double precision = 1.0;
    for (int i = 0; i < 6000; ++i) {
        t += 10 + static_cast<std::int64_t>(u(alea) * 20);
        if (u(alea) < 0.05) {  // a new phase: hidden, occluded or visible, with its own target speed and aim
            etat = static_cast<int>(u(alea) * 3);
            vitesse = u(alea) * 40.0;
            precision = u(alea) < 0.5 ? 0.8 : 3.0;
        }
        lacet += u(alea) < 0.03 ? (u(alea) - 0.5) * 60.0 : (u(alea) - 0.5) * 1.5;
        T trame(t);
        trame.yaw(lacet).vitesse(vitesse);
        if (etat == 1) trame.occulte(u(alea) * precision);
        if (etat == 2) trame.visible(u(alea) * precision);
        if (u(alea) < 0.1) trame.tir();
        if (u(alea) < 0.05) trame.touche();
        if (u(alea) < 0.02) trame.sansCible();
        f.push_back(trame);
    }
    const EngineThresholds th;
    const auto pas = compute_angular_steps(f);
    std::vector<Signal> attendu;
    for (auto&& lot : {detect_aim_snap(f, pas, th), detect_micro_correction(f, pas, th),
                       detect_reaction_time(f, pas, th), detect_visible_tracking(f, th), detect_pre_aim(f, th),
                       detect_occluded_tracking(f, th), detect_visibility_shot_correlation(f, th)}) {
        ASSERT_FALSE(lot.empty());
        attendu.insert(attendu.end(), lot.begin(), lot.end());
    }
    std::stable_sort(attendu.begin(), attendu.end(),
                     [](const Signal& a, const Signal& b) { return a.strength > b.strength; });
    const auto r = run_engine(th, f);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->signals.size(), attendu.size());
    for (std::size_t i = 0; i < attendu.size(); ++i) {
        EXPECT_EQ(r->signals[i].category, attendu[i].category) << i;
        EXPECT_EQ(r->signals[i].frameTimestamps, attendu[i].frameTimestamps) << i;
        EXPECT_EQ(r->signals[i].evidence, attendu[i].evidence) << i;
        EXPECT_EQ(r->signals[i].strength, attendu[i].strength) << i;
        EXPECT_EQ(r->signals[i].description, attendu[i].description) << i;
    }
    EXPECT_EQ(r->score, score_signals(attendu, th));
}

TEST(Engine, ExtremeTimestampsNeverOverflow) {
    // Differences beyond 2^63 ms between neighbours; the sanitizer build also checks for overflow.
    const std::vector<TrameTelemetrie> f{
        T(kMin).occulte(0.5).vitesse(30.0),
        T(kMin + 100).occulte(0.5).vitesse(30.0).tir(),
        T(kMin + 200).occulte(0.5).vitesse(30.0),
        T(kMin + 300).occulte(0.5).vitesse(30.0).yaw(90.0),
        T(1000).visible(0.1).yaw(-90.0).tir(),
        T(1001).visible(0.1).yaw(90.0).tir(),
        T(kMax - 100),
        T(kMax).visible(0.0).tir().touche(),
    };
    const auto r = analyse_match(EngineThresholds{}, essai::lot(f));
    ASSERT_TRUE(r) << r.error();
    // The occluded run is long enough for OccludedTracking but 2^63 ms away from the reveal (no PreAim); the
    // reveal at 1000 is shot on at once (ReactionTime, and VisibilityShotCorrelation from the reveal frame, not
    // from the shot 2^63 ms earlier); the flick into frame 1001 is an AimSnap; the last frame reacts at once.
    std::vector<SignalCategory> c = essai::categories(r->signals);
    std::sort(c.begin(), c.end());
    EXPECT_EQ(c, (std::vector{SignalCategory::AimSnap, SignalCategory::ReactionTime, SignalCategory::ReactionTime,
                              SignalCategory::OccludedTracking, SignalCategory::VisibilityShotCorrelation}));
    const auto pas = compute_angular_steps(f);
    EXPECT_DOUBLE_EQ(pas[3].dtSec, 9223372036854775808.0 / 1000.0);
    EXPECT_EQ(static_cast<double>(ecart_ms(kMax, kMin)), 18446744073709551615.0);

    // Even the widest windows do not reach across 2^63 ms: a wrapped difference would look negative here.
    EngineThresholds large;
    large.reactionSearchWindowMs = kMax;
    large.preAimMaxRevealDelayMs = kMax;
    large.shotCorrelationBeforeRevealMs = kMax;
    const auto l = analyse_match(large, essai::lot(f));
    ASSERT_TRUE(l);
    for (const Signal& s : l->signals) {
        EXPECT_NE(s.category, SignalCategory::PreAim);
        if (s.category == SignalCategory::VisibilityShotCorrelation) {
            EXPECT_EQ(essai::preuve(s, "shotRelativeToRevealMs"), 0.0);
        }
    }
}

// The confidence span's two ends, and the time order of the frames whatever order they arrive in.
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

TEST(Engine, ConfidenceSpanIncludesBothEndFramesAndNothingBeyond) {
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

TEST(Engine, ArrivalOrderChangesNothingAndEqualTimesKeepIt) {
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
