// generer_cohorte: simulated matches written as JSON Lines world snapshots, for the
// calibration demo and the benchmarks. Same options, same bytes, on every machine.
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cohorte/instantane.hpp"
#include "cohorte/mesures.hpp"
#include "cohorte/simulation.hpp"
#include "comportement/calibration.hpp"
#include "comportement/controle.hpp"
#include "comportement/mod.hpp"

namespace {

using namespace cohorte;

constexpr std::string_view kUsage =
    "usage : generer_cohorte [--profil humain|snap|trigger|wallhack] [--matchs N] [--graine S]\n"
    "                        [--duree-s SECONDES] [--debut-s SECONDES] [--prefixe TEXTE]\n"
    "                        [--sortie chemin.jsonl|-] [--statistiques]\n"
    "        generer_cohorte --autocontrole [--matchs N] [--graine S] [--duree-s SECONDES]\n";

struct Options {
    Profil profil = Profil::humain;
    std::uint64_t matchs = 10;
    std::uint64_t graine = 1;
    double dureeS = 180.0;
    double debutS = 0.0;  // snapshots before this instant are simulated but not written
    std::string prefixe;
    std::string sortie = "-";
    bool statistiques = false;
    bool autocontrole = false;
    bool aide = false;
};

template <typename T>
std::expected<T, std::string> nombre(std::string_view option, std::string_view texte) {
    T valeur{};
    const auto [fin, ec] = std::from_chars(texte.data(), texte.data() + texte.size(), valeur);
    if (ec != std::errc{} || fin != texte.data() + texte.size())
        return std::unexpected(std::string(option) + " : nombre invalide « " + std::string(texte) + " »");
    return valeur;
}

std::expected<Options, std::string> lire_options(int argc, char** argv) {
    Options o;
    bool prefixeDonne = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        const auto valeur = [&]() -> std::expected<std::string_view, std::string> {
            if (i + 1 >= argc) return std::unexpected(std::string(a) + " attend une valeur");
            return std::string_view(argv[++i]);
        };
        if (a == "--aide" || a == "-h" || a == "--help") {
            o.aide = true;
        } else if (a == "--statistiques") {
            o.statistiques = true;
        } else if (a == "--autocontrole") {
            o.autocontrole = true;
        } else if (a == "--profil" || a == "--matchs" || a == "--graine" || a == "--duree-s" || a == "--debut-s" ||
                   a == "--prefixe" || a == "--sortie") {
            const auto v = valeur();
            if (!v) return std::unexpected(v.error());
            if (a == "--profil") {
                const auto p = profil_depuis_texte(*v);
                if (!p) return std::unexpected("profil inconnu : " + std::string(*v));
                o.profil = *p;
            } else if (a == "--matchs") {
                const auto n = nombre<std::uint64_t>(a, *v);
                if (!n) return std::unexpected(n.error());
                o.matchs = *n;
            } else if (a == "--graine") {
                const auto n = nombre<std::uint64_t>(a, *v);
                if (!n) return std::unexpected(n.error());
                o.graine = *n;
            } else if (a == "--duree-s") {
                const auto n = nombre<double>(a, *v);
                if (!n) return std::unexpected(n.error());
                if (!(*n > 0.0 && *n <= 86400.0)) return std::unexpected("--duree-s : entre 0 et 86400 secondes");
                o.dureeS = *n;
            } else if (a == "--debut-s") {
                const auto n = nombre<double>(a, *v);
                if (!n) return std::unexpected(n.error());
                if (!(*n >= 0.0 && *n <= 86400.0)) return std::unexpected("--debut-s : entre 0 et 86400 secondes");
                o.debutS = *n;
            } else if (a == "--prefixe") {
                o.prefixe = std::string(*v);
                prefixeDonne = true;
            } else {
                o.sortie = std::string(*v);
            }
        } else {
            return std::unexpected("argument inconnu : " + std::string(a));
        }
    }
    if (!prefixeDonne) o.prefixe = std::string(nom_profil(o.profil));
    return o;
}

std::string numero(std::uint64_t i) {
    std::string n = std::to_string(i);
    return n.size() < 4 ? std::string(4 - n.size(), '0') + n : n;
}

ParametresMatch parametres(Profil profil, std::uint64_t graine, std::uint64_t indice, double duree,
                           const std::string& prefixe) {
    ParametresMatch p;
    p.profil = profil;
    p.graine = graine;
    p.indice = indice;
    p.dureeS = duree;
    p.matchId = prefixe + "-" + numero(indice + 1);
    p.joueurId = prefixe + "-joueur-" + numero(indice + 1);
    return p;
}

int generer(const Options& o) {
    std::FILE* sortie = stdout;
    if (o.sortie != "-") {
        sortie = std::fopen(o.sortie.c_str(), "wb");
        if (!sortie) {
            std::fprintf(stderr, "%s : %s\n", o.sortie.c_str(), std::strerror(errno));
            return 1;
        }
    }
    const auto debut = std::chrono::steady_clock::now();
    std::string tampon;
    tampon.reserve(1 << 21);
    std::uint64_t octets = 0;
    std::uint64_t instantanes = 0;
    bool ok = true;
    Mesures mesures;
    Instantane s;
    for (std::uint64_t m = 0; m < o.matchs && ok; ++m) {
        const ParametresMatch p = parametres(o.profil, o.graine, m, o.dureeS, o.prefixe);
        SimulationMatch simulation(p);
        comportement::EtatConversion conversion;
        std::vector<comportement::TrameTelemetrie> trames;
        std::int64_t premier = -1;
        while (simulation.suivant(s)) {
            if (premier < 0) premier = s.timestampMs;
            if (static_cast<double>(s.timestampMs - premier) < o.debutS * 1000.0) continue;
            ajouter_instantane(tampon, s);
            ++instantanes;
            if (o.statistiques)
                if (auto t = trame_suivante(s, conversion)) trames.push_back(std::move(*t));
            if (tampon.size() >= (1u << 20)) {
                ok = std::fwrite(tampon.data(), 1, tampon.size(), sortie) == tampon.size();
                octets += tampon.size();
                tampon.clear();
                if (!ok) break;
            }
        }
        if (o.statistiques) mesures.ajouter(trames);
    }
    if (ok && !tampon.empty()) {
        ok = std::fwrite(tampon.data(), 1, tampon.size(), sortie) == tampon.size();
        octets += tampon.size();
    }
    if (std::fflush(sortie) != 0) ok = false;
    const int erreurEcriture = errno;
    if (sortie != stdout && std::fclose(sortie) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "%s : écriture impossible : %s\n", o.sortie.c_str(), std::strerror(erreurEcriture));
        return 1;
    }
    const double secondes = std::chrono::duration<double>(std::chrono::steady_clock::now() - debut).count();
    std::fprintf(stderr, "%llu match(s), %llu instantanés, %.1f Mo en %.2f s (%.0f Mo/s), profil %s\n",
                 static_cast<unsigned long long>(o.matchs), static_cast<unsigned long long>(instantanes),
                 static_cast<double>(octets) / 1e6, secondes,
                 static_cast<double>(octets) / 1e6 / std::fmax(secondes, 1e-9),
                 std::string(nom_profil(o.profil)).c_str());
    if (o.statistiques) std::fputs(mesures.resume().c_str(), stderr);
    return 0;
}

// The demo in miniature, with the library's own calibration and control run: calibrate on
// clean matches, then measure the REVIEW-or-above rate on held-out clean matches and on each
// cheating profile.
int autocontrole(const Options& o) {
    using namespace comportement;
    std::vector<LotTrames> lots;
    for (std::uint64_t m = 0; m < o.matchs; ++m)
        lots.push_back(lot_du_match(parametres(Profil::humain, o.graine, m, o.dureeS, "calib")));
    const auto rapport = calibrer_lots(lots, "autocontrôle");
    if (!rapport) {
        std::fprintf(stderr, "%s\n", rapport.error().c_str());
        return 1;
    }
    const EngineThresholds calibres = seuils_depuis_rapport(*rapport);
    std::printf(
        "seuils calibrés sur %llu matchs propres : snap %.1f °/s, accel %.0f °/s², réaction %lld / %lld ms, "
        "suivi %.3f °\n",
        static_cast<unsigned long long>(o.matchs), calibres.aimSnapMinVelocityDegPerSec,
        calibres.aimSnapMinAccelDegPerSec2, static_cast<long long>(calibres.reactionVeryFastMs),
        static_cast<long long>(calibres.reactionSuspectMs), calibres.trackingExcellentErrorDeg);
    const Profil profils[] = {Profil::humain, Profil::snap, Profil::trigger, Profil::wallhack};
    for (const Profil profil : profils) {
        Mesures mesures;
        lots.clear();
        for (std::uint64_t m = 0; m < o.matchs; ++m) {
            // Held-out matches: a different seed stream from the calibration set.
            lots.push_back(lot_du_match(parametres(profil, o.graine + 1000003, m, o.dureeS, "controle")));
            mesures.ajouter(lots.back().trames);
        }
        const RapportControle defaut = controler_lots(lots, EngineThresholds{});
        const RapportControle calibre = controler_lots(lots, calibres);
        std::array<std::uint64_t, kNombreCategories> signaux{};
        for (const LotTrames& lot : lots)
            if (const auto analyse = analyse_match(calibres, lot))
                for (const Signal& signal : analyse->signals) ++signaux[static_cast<std::size_t>(signal.category)];
        std::printf("profil %s : REVIEW ou plus %.1f %% (seuils par défaut %.1f %%)\n",
                    std::string(nom_profil(profil)).c_str(), 100.0 * calibre.tauxReviewOuPlus,
                    100.0 * defaut.tauxReviewOuPlus);
        if (calibre.invalides > 0)
            std::printf("  %llu match(s) refusé(s) par la validation\n",
                        static_cast<unsigned long long>(calibre.invalides));
        std::printf("  signaux par match :");
        for (std::size_t c = 0; c < kNombreCategories; ++c)
            std::printf(" %s %.1f", std::string(category_name(static_cast<SignalCategory>(c))).c_str(),
                        static_cast<double>(signaux[c]) / static_cast<double>(o.matchs));
        std::printf("\n%s", mesures.resume().c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const auto options = lire_options(argc, argv);
    if (!options) {
        std::fprintf(stderr, "%s\n%.*s", options.error().c_str(), static_cast<int>(kUsage.size()), kUsage.data());
        return 1;
    }
    if (options->aide) {
        std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
        return 0;
    }
    if (options->matchs == 0) {
        std::fprintf(stderr, "--matchs : au moins un match\n");
        return 1;
    }
    return options->autocontrole ? autocontrole(*options) : generer(*options);
}
