// Throughput of the sink: ten minutes of 2.5 Mbit/s at 30 fps (18000 access units, one keyframe
// every 60) drained from the channel into a file on tmpfs, then finished. Reports frame bytes
// per second, and fails if anything but the finish sent the file backwards.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "mkv/sortie.hpp"

namespace {

using Octets = std::vector<std::uint8_t>;

constexpr int images_par_seconde = 30;
constexpr int images = 10 * 60 * images_par_seconde;
constexpr int gop = 60;
constexpr std::size_t octets_par_image = 2'500'000 / 8 / images_par_seconde;

// Random slice bytes without zeros, so no start code appears inside a unit (as emulation
// prevention guarantees in a real stream).
Octets aleatoire(std::mt19937& g, std::size_t n) {
    std::uniform_int_distribution<int> d(1, 255);
    Octets r(n);
    for (auto& o : r) {
        o = static_cast<std::uint8_t>(d(g));
    }
    return r;
}

// One group of pictures: a keyframe four times the average size, the rest sharing what remains.
std::vector<Octets> groupe() {
    std::mt19937 g(42);
    const Octets aud = {0, 0, 0, 1, 0x09, 0xF0};
    const Octets sps = {0, 0, 0, 1, 0x67, 0x64, 0x00, 0x1F, 0xAC, 0xD9, 0x40, 0x50, 0x05, 0xBB, 0x01, 0x10};
    const Octets pps = {0, 0, 0, 1, 0x68, 0xEB, 0xE3, 0xCB, 0x22, 0xC0};
    std::vector<Octets> r;
    const std::size_t cle = 4 * octets_par_image;
    const std::size_t autre = (gop * octets_par_image - cle) / (gop - 1);
    for (int i = 0; i < gop; ++i) {
        Octets au = aud;
        if (i == 0) {
            au.insert(au.end(), sps.begin(), sps.end());
            au.insert(au.end(), pps.begin(), pps.end());
        }
        const Octets tranche = aleatoire(g, i == 0 ? cle : autre);
        au.insert(au.end(), {0, 0, 1, static_cast<std::uint8_t>(i == 0 ? 0x65 : 0x41)});
        au.insert(au.end(), tranche.begin(), tranche.end());
        r.push_back(std::move(au));
    }
    return r;
}

void BM_ecrire_images_encodees(benchmark::State& state) {
    const std::vector<Octets> unites = groupe();
    const std::filesystem::path chemin =
        std::filesystem::path("/dev/shm") / ("bench_mkv_" + std::to_string(::getpid()) + ".mkv");
    std::int64_t octets_images = 0;
    for (auto _ : state) {
        auto [tx, rx] = pipeline::creer_canal<pipeline::ImageEncodee>(30);
        mkv::EtatSortie etat{1280, 720};
        std::atomic<std::uint64_t> octets{0};
        for (int i = 0; i < images; i += 30) {
            // Filling the channel stands for the encoder's thread and is not measured.
            state.PauseTiming();
            for (int k = i; k < i + 30 && k < images; ++k) {
                const Octets& au = unites[static_cast<std::size_t>(k % gop)];
                octets_images += static_cast<std::int64_t>(au.size());
                tx.envoyer({au, std::int64_t{k} * 10'000'000 / images_par_seconde, 333333, k % gop == 0});
            }
            state.ResumeTiming();
            if (auto r = mkv::ecrire_images_encodees(rx, chemin, etat, octets); !r) {
                state.SkipWithError(r.error().chaine().c_str());
                return;
            }
        }
        if (!etat.ecrivain || etat.ecrivain->retours_arriere() != 0) {
            state.SkipWithError("the file went backwards before the finish");
            return;
        }
        if (auto r = std::move(*etat.ecrivain).terminer(); !r) {
            state.SkipWithError(r.error().chaine().c_str());
            return;
        }
        state.PauseTiming();
        std::filesystem::remove(chemin);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(octets_images);
    state.counters["images"] = benchmark::Counter(static_cast<double>(images));
}

// The machines are shared: the CPU-time rate is the code's own cost, the real-time one what a
// loaded machine gave.
BENCHMARK(BM_ecrire_images_encodees)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ecrire_images_encodees)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace
