// Writes a deterministic, realistic telemetry file for the reader benchmarks:
// matches of ten players sampled at 64 Hz, frames of one tick interleaved as a
// server logs them, float values carried at single precision like the game's.
//   generer_telemetrie <sortie.jsonl> [mégaoctets = 300] [--ids-longs] [--premier-match N]
// --ids-longs: match and player ids of real-world length (20 characters and more)
// instead of "m004200" and "p01"; --premier-match: the number of the first match
// (files of one cohort hold different matches), 0 by default.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "commun/fichier.hpp"
#include "comportement/ecriture_telemetrie.hpp"

namespace {

// splitmix64: fixed seed, same file on every machine.
struct Alea {
    std::uint64_t etat = 0x5eed'1234'abcd'0042ULL;
    std::uint64_t suivant() {
        std::uint64_t z = (etat += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    double uniforme() { return static_cast<double>(suivant() >> 11) * 0x1.0p-53; }
    double entre(double a, double b) { return a + (b - a) * uniforme(); }
    bool chance(double p) { return uniforme() < p; }
};

double simple(double v) { return static_cast<double>(static_cast<float>(v)); }

struct Joueur {
    double yaw = 0, pitch = 0, vitesse = 0;
    bool visible = false;
    int cible = -1;
    int arme = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage : generer_telemetrie <sortie.jsonl> [mégaoctets] [--ids-longs] [--premier-match N]\n",
                   stderr);
        return 1;
    }
    double megaoctets = 300.0;
    bool ids_longs = false;
    int premier_match = 0;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--ids-longs") {
            ids_longs = true;
        } else if (a == "--premier-match" && i + 1 < argc) {
            premier_match = std::atoi(argv[++i]);
        } else {
            megaoctets = std::atof(argv[i]);
        }
    }
    const auto limite = static_cast<std::uint64_t>(megaoctets * 1024 * 1024);
    auto sortie = commun::SortieFichier::creer(argv[1]);
    if (!sortie) {
        std::fprintf(stderr, "%s : %s\n", argv[1], sortie.error().c_str());
        return 1;
    }
    static const char* const armes[] = {"ak47", "m4a1", "awp", "deagle", "usp", "mp9"};
    static const char* const modes[] = {"serveur", "client", "replay"};
    Alea alea;
    std::uint64_t ecrits = 0;
    std::uint64_t trames = 0;
    std::string ligne;
    for (int match = premier_match; ecrits < limite; ++match) {
        char id_match[48];
        if (ids_longs) {
            std::snprintf(id_match, sizeof id_match, "eu-west-2025-12-07-match-%08d", 4200 + match);
        } else {
            std::snprintf(id_match, sizeof id_match, "m%06d", 4200 + match);
        }
        Joueur joueurs[10];
        for (auto& j : joueurs) {
            j.yaw = alea.entre(-180, 180);
            j.arme = static_cast<int>(alea.suivant() % 6);
        }
        const std::int64_t debut = 1'765'000'000'000LL + match * 3'600'000LL;
        // Five minutes at 64 Hz.
        for (int tick = 0; tick < 19200 && ecrits < limite; ++tick) {
            for (int p = 0; p < 10; ++p) {
                Joueur& j = joueurs[p];
                j.vitesse = 0.9 * j.vitesse + alea.entre(-40, 40);
                j.yaw = std::remainder(j.yaw + j.vitesse / 64.0, 360.0);
                j.pitch = std::fmin(std::fmax(j.pitch + alea.entre(-1.5, 1.5), -89.0), 89.0);
                if (alea.chance(0.02)) {
                    j.cible = alea.chance(0.3) ? -1 : static_cast<int>((p < 5 ? 5 : 0) + alea.suivant() % 5);
                }
                if (alea.chance(0.05)) j.visible = !j.visible;

                comportement::TrameTelemetrie t;
                t.matchId = id_match;
                char id_joueur[32];
                if (ids_longs) {
                    std::snprintf(id_joueur, sizeof id_joueur, "steam-765611980%08d", (match * 10 + p) % 99999999);
                } else {
                    std::snprintf(id_joueur, sizeof id_joueur, "p%02d", p + 1);
                }
                t.playerId = id_joueur;
                t.timestampMs = debut + tick * 1000LL / 64 + static_cast<std::int64_t>(alea.suivant() % 3);
                t.yawDeg = simple(j.yaw);
                t.pitchDeg = simple(j.pitch);
                t.mouseDx = static_cast<std::int32_t>(std::lround(j.vitesse * 2.2));
                t.mouseDy = static_cast<std::int32_t>(alea.suivant() % 21) - 10;
                if (j.cible >= 0) {
                    char id_cible[32];
                    if (ids_longs) {
                        std::snprintf(id_cible, sizeof id_cible, "steam-765611980%08d",
                                      (match * 10 + j.cible) % 99999999);
                    } else {
                        std::snprintf(id_cible, sizeof id_cible, "p%02d", j.cible + 1);
                    }
                    t.targetId = id_cible;
                    t.targetVisible = j.visible;
                    t.targetOccluded = !j.visible;
                    t.targetAngularErrorDeg = j.visible ? simple(alea.entre(0, 30)) : 180.0;
                    t.occludedTargetAngularErrorDeg = j.visible ? 180.0 : simple(alea.entre(0, 30));
                    t.targetAngularSpeedDegPerSec = simple(alea.entre(0, 120));
                } else {
                    t.targetAngularErrorDeg = 180.0;
                    t.occludedTargetAngularErrorDeg = 180.0;
                }
                t.shotFired = alea.chance(0.04);
                t.hit = t.shotFired && alea.chance(0.3);
                t.headshot = t.hit && alea.chance(0.25);
                t.weaponId = armes[j.arme];
                if (!alea.chance(0.1)) {
                    t.acquisitionMode = modes[alea.suivant() % 3];
                    t.acquisitionConfidence = simple(alea.entre(0.6, 1.0));
                }
                ligne.clear();
                comportement::ajouter_trame_json(ligne, t);
                ligne += '\n';
                if (auto r = sortie->ecrire(ligne); !r) {
                    std::fprintf(stderr, "%s : %s\n", argv[1], r.error().c_str());
                    return 1;
                }
                ecrits += ligne.size();
                ++trames;
            }
        }
    }
    if (auto r = sortie->vider(); !r) {
        std::fprintf(stderr, "%s : %s\n", argv[1], r.error().c_str());
        return 1;
    }
    std::fprintf(stderr, "%llu trames, %llu octets : %s\n", static_cast<unsigned long long>(trames),
                 static_cast<unsigned long long>(ecrits), argv[1]);
    return 0;
}
