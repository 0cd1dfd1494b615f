#pragma once
// Seeded random draws that give the same numbers with every standard library:
// only the engine (fully specified by the standard) comes from <random>, the
// distributions are written here because libstdc++, libc++ and the MSVC library
// each implement std::normal_distribution and friends differently.
#include <cmath>
#include <cstdint>
#include <random>

namespace cohorte {

// Mixes a 64-bit value; used to derive independent streams from one seed.
constexpr std::uint64_t splitmix64(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

class Alea {
public:
    explicit Alea(std::uint64_t graine) : moteur_(graine) {}

    // The stream of item `indice` of seed `graine`, independent of how many items there are.
    static Alea flux(std::uint64_t graine, std::uint64_t indice) {
        return Alea(splitmix64(graine ^ splitmix64(indice + 0x5851F42D4C957F2DULL)));
    }

    std::uint64_t brut() { return moteur_(); }

    // [0, 1) with 53 random bits.
    double uniforme() { return static_cast<double>(moteur_() >> 11) * 0x1.0p-53; }
    double uniforme(double a, double b) { return a + (b - a) * uniforme(); }

    // Integer in [a, b], unbiased (rejection on the top of the range).
    std::int64_t entier(std::int64_t a, std::int64_t b) {
        const std::uint64_t etendue = static_cast<std::uint64_t>(b - a) + 1;
        if (etendue == 0) return static_cast<std::int64_t>(moteur_());
        const std::uint64_t limite = UINT64_MAX - UINT64_MAX % etendue;
        std::uint64_t x;
        do {
            x = moteur_();
        } while (x >= limite);
        return a + static_cast<std::int64_t>(x % etendue);
    }

    bool bernoulli(double p) { return uniforme() < p; }

    // Standard normal by Box-Muller; the second value of each pair is kept for the next call.
    double normale() {
        if (reserve_valide_) {
            reserve_valide_ = false;
            return reserve_;
        }
        const double u1 = 1.0 - uniforme();  // (0, 1]: log stays finite
        const double u2 = uniforme();
        const double r = std::sqrt(-2.0 * std::log(u1));
        const double theta = 6.283185307179586 * u2;
        reserve_ = r * std::sin(theta);
        reserve_valide_ = true;
        return r * std::cos(theta);
    }
    double normale(double moyenne, double ecart) { return moyenne + ecart * normale(); }

    double lognormale(double mediane, double sigma) { return mediane * std::exp(sigma * normale()); }

    double exponentielle(double moyenne) { return -moyenne * std::log(1.0 - uniforme()); }

private:
    std::mt19937_64 moteur_;
    double reserve_ = 0.0;
    bool reserve_valide_ = false;
};

}  // namespace cohorte
