// Throughput of the behaviour analysis on synthetic matches built in memory.
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "comportement/mod.hpp"

namespace {

using comportement::LotTrames;
using comportement::TrameTelemetrie;

// One player at about 64 Hz: quiet walks, occluded opponents drifting behind cover, reveals followed by a
// flick, tracking and bursts of fire, and targets that simply vanish. A few confidences below 1.
LotTrames match_synthetique(std::size_t trames, std::uint64_t graine) {
    std::mt19937_64 alea(graine);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> bruit(0.0, 1.0);

    LotTrames lot;
    lot.matchId = "match-2026-12-000" + std::to_string(graine % 1000);
    lot.playerId = "player-steam-7656119" + std::to_string(graine);
    lot.trames.reserve(trames);

    enum class Phase { Calme, Occulte, Visible, Perdu };
    Phase phase = Phase::Calme;
    int reste = 60;
    std::int64_t t = 1'700'000'000'000;
    double lacet = 0.0;
    double tangage = 0.0;
    double erreur = 10.0;
    double vitesse_cible = 40.0;
    int cible = 0;
    int rafale = 0;
    double derive = 0.0;  // the hand's own smooth drift, degrees per frame
    double derive_tangage = 0.0;
    int latence = 0;  // frames before a human reacts to a reveal (about 200 ms)

    for (std::size_t i = 0; i < trames; ++i) {
        t += 15 + static_cast<std::int64_t>(u(alea) * 2.5);
        if (--reste <= 0) {
            const double r = u(alea);
            switch (phase) {
            case Phase::Calme:
                phase = r < 0.6 ? Phase::Occulte : Phase::Visible;
                latence = 11 + static_cast<int>(u(alea) * 6);
                ++cible;
                erreur = 3.0 + u(alea) * 25.0;
                vitesse_cible = 5.0 + u(alea) * 120.0;
                reste = 20 + static_cast<int>(u(alea) * 80);
                break;
            case Phase::Occulte:
                phase = r < 0.8 ? Phase::Visible : Phase::Calme;
                latence = 11 + static_cast<int>(u(alea) * 6);
                reste = 30 + static_cast<int>(u(alea) * 120);
                break;
            case Phase::Visible:
                phase = r < 0.5 ? Phase::Perdu : Phase::Calme;
                reste = 10 + static_cast<int>(u(alea) * 90);
                break;
            case Phase::Perdu:
                phase = r < 0.5 ? Phase::Visible : Phase::Calme;
                latence = 11 + static_cast<int>(u(alea) * 6);
                reste = 20 + static_cast<int>(u(alea) * 60);
                break;
            }
        }

        TrameTelemetrie f;
        f.matchId = lot.matchId;
        f.playerId = lot.playerId;
        f.timestampMs = t;
        f.weaponId = u(alea) < 0.7 ? "rifle_ak" : "smg_mp9";
        derive = derive * 0.97 + bruit(alea) * 0.05;
        double pas_lacet = derive;
        switch (phase) {
        case Phase::Calme: pas_lacet += derive * 2.0; break;
        case Phase::Occulte:
            f.targetId = "enemy-" + std::to_string(cible % 10);
            f.targetOccluded = true;
            erreur = std::fabs(erreur + bruit(alea) * 0.6 + (erreur < 4.0 ? 0.3 : 0.0));
            f.occludedTargetAngularErrorDeg = erreur;
            f.targetAngularSpeedDegPerSec = vitesse_cible;
            f.acquisitionMode = "raycast";
            break;
        case Phase::Visible: {
            f.targetId = "enemy-" + std::to_string(cible % 10);
            f.targetVisible = true;
            // Flick while far off, then follow with a little noise.
            const double correction = latence > 0 ? 0.0 : (erreur > 4.0 ? erreur * (0.2 + u(alea) * 0.3) : 0.0);
            latence = latence > 0 ? latence - 1 : 0;
            pas_lacet += correction + (latence > 0 ? 0.0 : vitesse_cible * 0.016);  // following the target
            erreur = std::fabs(erreur - correction + derive * 3.0) + (erreur < 0.8 ? 0.25 : 0.0);
            f.targetAngularErrorDeg = erreur;
            f.targetAngularSpeedDegPerSec = std::fabs(vitesse_cible + bruit(alea) * 8.0);
            f.acquisitionMode = "raycast";
            if (rafale == 0 && latence == 0 && erreur < 3.0 && u(alea) < 0.08) {
                rafale = 3 + static_cast<int>(u(alea) * 6);
            }
            break;
        }
        case Phase::Perdu: pas_lacet += derive; break;
        }
        if (rafale > 0 && i % 6 == 0) {
            --rafale;
            f.shotFired = true;
            f.hit = f.targetVisible && u(alea) < 0.45;
            f.headshot = f.hit && u(alea) < 0.3;
        }
        lacet = std::remainder(lacet + pas_lacet, 360.0);
        derive_tangage = derive_tangage * 0.97 + bruit(alea) * 0.02;
        tangage = std::fmin(89.0, std::fmax(-89.0, tangage + derive_tangage));
        f.yawDeg = lacet;
        f.pitchDeg = tangage;
        f.mouseDx = static_cast<std::int32_t>(pas_lacet * 45.0);
        f.mouseDy = static_cast<std::int32_t>(bruit(alea) * 4.0);
        f.acquisitionConfidence = u(alea) < 0.02 ? 0.8 : 1.0;
        lot.trames.push_back(std::move(f));
    }
    return lot;
}

void BM_AnalyseMatch(benchmark::State& etat) {
    const auto trames = static_cast<std::size_t>(etat.range(0));
    const std::vector<LotTrames> lots{match_synthetique(trames, 1), match_synthetique(trames, 2),
                                      match_synthetique(trames, 3), match_synthetique(trames, 4)};
    const comportement::EngineThresholds seuils;
    std::size_t signaux = 0;
    std::size_t i = 0;
    for (auto _ : etat) {
        auto r = comportement::analyse_match(seuils, lots[i++ % lots.size()]);
        if (!r) {
            etat.SkipWithError(r.error().c_str());
            break;
        }
        signaux += r->signals.size();
        benchmark::DoNotOptimize(r);
    }
    etat.SetItemsProcessed(static_cast<std::int64_t>(etat.iterations()) * static_cast<std::int64_t>(trames));
    etat.counters["frames_per_s"] = benchmark::Counter(
        static_cast<double>(static_cast<std::size_t>(etat.iterations()) * trames), benchmark::Counter::kIsRate);
    etat.counters["signals_per_match"] =
        static_cast<double>(signaux) / static_cast<double>(etat.iterations() == 0 ? 1 : etat.iterations());
}
BENCHMARK(BM_AnalyseMatch)->Arg(2'000)->Arg(20'000)->Arg(120'000)->Unit(benchmark::kMicrosecond);

void BM_AngularSteps(benchmark::State& etat) {
    const LotTrames lot = match_synthetique(static_cast<std::size_t>(etat.range(0)), 5);
    for (auto _ : etat) {
        auto pas = comportement::compute_angular_steps(lot.trames);
        benchmark::DoNotOptimize(pas);
    }
    etat.SetItemsProcessed(static_cast<std::int64_t>(etat.iterations()) * etat.range(0));
}
BENCHMARK(BM_AngularSteps)->Arg(20'000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
