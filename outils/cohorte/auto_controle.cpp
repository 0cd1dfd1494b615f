#include "cohorte/auto_controle.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace cohorte {

const char* const kNomsCategories[kCategories] = {"AimSnap",  "MicroCorrection",  "ReactionTime",
                                                  "VisibleTracking", "PreAim", "OccludedTracking",
                                                  "VisibilityShotCorrelation"};

namespace {

double reduire(double m) {
    m = std::fmod(m, 360.0);
    if (m > 180.0) m -= 360.0;
    if (m < -180.0) m += 360.0;
    return m;
}

struct Pas {
    double vitesse = 0.0;
    double acceleration = 0.0;
    double distance = 0.0;
    int dirYaw = 0;
    int dirPitch = 0;
};

int signe(double v) { return (v > 0.0) - (v < 0.0); }

std::vector<Pas> pas_angulaires(const std::vector<Trame>& t) {
    std::vector<Pas> pas;
    if (t.size() < 2) return pas;
    pas.reserve(t.size() - 1);
    double precedente = 0.0;
    for (std::size_t i = 1; i < t.size(); ++i) {
        const double dt = std::fmax(static_cast<double>(t[i].ts - t[i - 1].ts) / 1000.0, 0.001);
        const double dy = reduire(t[i].yaw - t[i - 1].yaw);
        const double dp = t[i].pitch - t[i - 1].pitch;
        Pas p;
        p.distance = std::sqrt(dy * dy + dp * dp);
        p.vitesse = p.distance / dt;
        p.acceleration = (p.vitesse - precedente) / dt;
        p.dirYaw = signe(dy);
        p.dirPitch = signe(dp);
        precedente = p.vitesse;
        pas.push_back(p);
    }
    return pas;
}

double clamp01(double x) { return std::fmin(std::fmax(x, 0.0), 1.0); }

// Reaction after the reveal at frame i: delay in ms, or -1 without reaction.
std::int64_t reaction_apres(const std::vector<Trame>& t, const std::vector<Pas>& pas, std::size_t i,
                            std::int64_t fenetre, bool* tirReaction) {
    for (std::size_t k = i; k < t.size(); ++k) {
        const std::int64_t delai = t[k].ts - t[i].ts;
        if (delai > fenetre) return -1;
        if (pas[k - 1].vitesse > 60.0 || t[k].tir) {
            if (tirReaction) *tirReaction = t[k].tir;
            return delai;
        }
    }
    return -1;
}

}  // namespace

void collecter(const std::vector<Trame>& t, Echantillons& e) {
    const std::vector<Pas> pas = pas_angulaires(t);
    for (std::size_t j = 0; j < pas.size(); ++j) {
        if (!t[j + 1].visible) continue;
        e.vitesse.push_back(pas[j].vitesse);
        e.acceleration.push_back(std::fabs(pas[j].acceleration));
    }
    for (const Trame& f : t)
        if (f.visible && f.vitesseCible >= 18.0) e.erreurSuivi.push_back(f.erreur);
    for (std::size_t i = 1; i < t.size(); ++i) {
        if (t[i - 1].visible || !t[i].visible || !t[i].aCible) continue;
        const std::int64_t d = reaction_apres(t, pas, i, 500, nullptr);
        if (d >= 0) e.reaction.push_back(static_cast<double>(d));
    }
}

double percentile(std::vector<double> v, double q) {
    std::erase_if(v, [](double x) { return !std::isfinite(x); });
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const double x = static_cast<double>(v.size() - 1) * clamp01(q);
    const auto lo = static_cast<std::size_t>(std::floor(x));
    const auto hi = static_cast<std::size_t>(std::ceil(x));
    if (lo == hi) return v[lo];
    const double f = x - static_cast<double>(lo);
    return f * v[hi] + (1.0 - f) * v[lo];
}

Seuils calibrer(const Echantillons& e) {
    Seuils s;
    s.snapVitesse = std::fmax(percentile(e.vitesse, 0.999), 1.0);
    s.snapAccel = std::fmax(percentile(e.acceleration, 0.999), 1.0);
    s.reactionTresRapideMs = std::max<std::int64_t>(std::llround(percentile(e.reaction, 0.001)), 1);
    s.reactionSuspecteMs = std::max<std::int64_t>(std::llround(percentile(e.reaction, 0.01)), 1);
    s.suiviExcellent = std::fmax(percentile(e.erreurSuivi, 0.01), 0.01);
    return s;
}

ResultatMatch analyser(const std::vector<Trame>& t, const Seuils& s) {
    std::array<std::vector<double>, kCategories> forces;
    const std::size_t n = t.size();
    const std::vector<Pas> pas = pas_angulaires(t);
    if (n >= 3) {
        // AimSnap
        for (std::size_t j = 1; j + 1 < n; ++j) {
            const Trame& f = t[j + 1];
            if (!f.visible || pas[j].vitesse < s.snapVitesse || std::fabs(pas[j].acceleration) < s.snapAccel) continue;
            for (std::size_t m = j; m + 1 < n; ++m) {
                const Trame& g = t[m + 1];
                if (static_cast<double>(g.ts - f.ts) > s.snapFenetreMs) break;
                if (g.erreur <= s.snapErreur && (g.tir || g.touche)) {
                    forces[0].push_back(std::fmin(
                        0.98, 0.35 + 0.25 * clamp01(pas[j].vitesse / (2 * s.snapVitesse)) +
                                  0.25 * (1 - clamp01(g.erreur / s.snapErreur)) +
                                  0.15 * clamp01(std::fabs(pas[j].acceleration) / (3 * s.snapAccel))));
                    break;
                }
            }
        }
        // MicroCorrection
        std::size_t k = 0;
        for (std::size_t j = 0; j < pas.size(); ++j) {
            while (t[j + 1].ts - t[k + 1].ts > s.microFenetreMs) ++k;
            std::vector<std::size_t> l;
            for (std::size_t m = k; m <= j; ++m)
                if (t[m + 1].visible && t[m + 1].erreur <= s.microErreur) l.push_back(m);
            if (l.size() < 5) continue;
            int inversions = 0;
            int petits = 0;
            for (std::size_t m = 1; m < l.size(); ++m) {
                const Pas& a = pas[l[m - 1]];
                const Pas& b = pas[l[m]];
                if (a.dirYaw && b.dirYaw && a.dirYaw != b.dirYaw) ++inversions;
                if (a.dirPitch && b.dirPitch && a.dirPitch != b.dirPitch) ++inversions;
                if (b.distance <= s.microPas) ++petits;
            }
            const double ratio = petits / static_cast<double>(l.size() - 1);
            if (inversions >= s.microInversions && ratio >= 0.7) {
                forces[1].push_back(std::fmin(0.92, std::fmax(0.0, 0.3 + 0.07 * inversions + 0.2 * ratio)));
                k = j;
            }
        }
        // ReactionTime
        for (std::size_t i = 1; i < n; ++i) {
            if (t[i - 1].visible || !t[i].visible || !t[i].aCible) continue;
            const std::int64_t d = reaction_apres(t, pas, i, s.reactionFenetreMs, nullptr);
            if (d < 0 || d > s.reactionSuspecteMs) continue;
            forces[2].push_back(d <= s.reactionTresRapideMs
                                    ? std::fmin(0.97, std::fmax(0.0, 0.72 + static_cast<double>(s.reactionTresRapideMs - d) / 200.0))
                                    : std::fmin(0.8, std::fmax(0.0, 0.5 + static_cast<double>(s.reactionSuspecteMs - d) / 150.0)));
        }
        // VisibleTracking
        for (std::size_t p = 0; p < n;) {
            if (!t[p].visible || t[p].vitesseCible < s.suiviVitesseMin) {
                ++p;
                continue;
            }
            std::size_t g = p;
            double somme = 0.0;
            int bons = 0;
            while (g < n && t[g].visible && t[g].vitesseCible >= s.suiviVitesseMin) {
                somme += t[g].erreur * t[g].erreur;
                bons += t[g].erreur <= s.suiviExcellent;
                ++g;
            }
            const std::size_t m = g - p;
            if (t[g - 1].ts - t[p].ts >= s.suiviVisibleDureeMs && m >= 4) {
                const double rms = std::sqrt(somme / static_cast<double>(m));
                const double ratio = bons / static_cast<double>(m);
                if (rms <= 0.95 && ratio >= 0.7)
                    forces[3].push_back(std::fmin(0.94, 0.35 + 0.3 * (1 - clamp01(rms / 0.95)) + 0.25 * ratio));
            }
            p = g;
        }
    }
    // PreAim
    for (std::size_t p = 0; p < n;) {
        if (!t[p].occulte || t[p].erreurOcculte > s.preAimErreur) {
            ++p;
            continue;
        }
        std::size_t g = p;
        double somme = 0.0;
        while (g < n && t[g].occulte && t[g].erreurOcculte <= s.preAimErreur) somme += t[g++].erreurOcculte;
        const std::int64_t tenue = t[g - 1].ts - t[p].ts;
        if (tenue >= s.preAimTenueMs) {
            for (std::size_t i = g; i < n; ++i) {
                if (t[i].ts - t[g - 1].ts > s.preAimRevelationMs) break;
                if (t[i].visible) {
                    const double moyenne = somme / static_cast<double>(g - p);
                    forces[4].push_back(std::fmin(0.95, 0.38 + std::fmin(static_cast<double>(tenue) / 1200.0, 0.25) +
                                                            0.28 * (1 - clamp01(moyenne / s.preAimErreur))));
                    break;
                }
            }
        }
        p = g;
    }
    // OccludedTracking
    const auto qualifie = [&](const Trame& f) {
        return f.occulte && f.vitesseCible >= s.suiviVitesseMin && f.erreurOcculte <= s.suiviOcculteErreur;
    };
    for (std::size_t p = 0; p < n;) {
        if (!qualifie(t[p])) {
            ++p;
            continue;
        }
        std::size_t g = p;
        double somme = 0.0;
        while (g < n && qualifie(t[g])) {
            somme += t[g].erreurOcculte * t[g].erreurOcculte;
            ++g;
        }
        const std::int64_t duree = t[g - 1].ts - t[p].ts;
        if (duree >= s.suiviOcculteDureeMs && g - p >= 4) {
            const double rms = std::sqrt(somme / static_cast<double>(g - p));
            forces[5].push_back(std::fmin(0.98, 0.55 + std::fmin(static_cast<double>(duree) / 1800.0, 0.25) +
                                                    0.18 * (1 - clamp01(rms / s.suiviOcculteErreur))));
        }
        p = g;
    }
    // VisibilityShotCorrelation
    for (std::size_t i = 1; i < n; ++i) {
        if (!t[i - 1].occulte || !t[i].visible) continue;
        const std::int64_t r = t[i].ts;
        std::optional<std::size_t> x;
        for (std::size_t b = i; b-- > 0;) {
            if (r - t[b].ts > s.tirAvantMs) break;
            if (t[b].tir) {
                x = b;
                break;
            }
        }
        if (!x)
            for (std::size_t a = i; a < n; ++a) {
                if (t[a].ts - r > s.tirApresMs) break;
                if (t[a].tir) {
                    x = a;
                    break;
                }
            }
        if (!x) continue;
        const Trame& f = t[*x];
        const double erreur = f.visible ? f.erreur : f.erreurOcculte;
        if (erreur > 2.0) continue;
        const auto rel = static_cast<double>(f.ts - r);
        forces[6].push_back(rel < 0 ? std::fmin(0.92, 0.62 + 0.22 * (-rel) / static_cast<double>(s.tirAvantMs))
                                    : std::fmin(0.82, 0.45 + 0.25 * (1 - rel / static_cast<double>(s.tirApresMs))));
    }

    static constexpr double poids[kCategories] = {1.15, 0.65, 0.7, 0.7, 1.05, 1.35, 0.95};
    ResultatMatch r;
    double somme = 0.0;
    for (int c = 0; c < kCategories; ++c) {
        auto& f = forces[static_cast<std::size_t>(c)];
        r.signaux[static_cast<std::size_t>(c)] = static_cast<int>(f.size());
        std::stable_sort(f.begin(), f.end(), std::greater<>());
        double w = 0.0;
        for (std::size_t i = 0; i < std::min(f.size(), s.maxSignaux); ++i)
            w += poids[c] * f[i] / (1.0 + 0.55 * static_cast<double>(i));
        somme += std::fmin(w, 2.5 * poids[c]);
    }
    const double score = std::clamp(100.0 * (1.0 - std::exp(-somme / 4.8)), 0.0, 100.0);
    r.score = std::round(score * 10.0) / 10.0;
    return r;
}

void Mesures::ajouter(const std::vector<Trame>& t) {
    ++matchs;
    trames += t.size();
    for (const Trame& f : t) {
        tirs += f.tir;
        touches += f.touche;
        tetes += f.tete;
        if (f.visible && f.vitesseCible >= 18.0) erreursSuivi.push_back(f.erreur);
        if (f.occulte) {
            ++tramesOcculte;
            tramesOcculteProche += f.erreurOcculte <= 1.25;
        }
    }
    const std::vector<Pas> pas = pas_angulaires(t);
    for (std::size_t i = 1; i < t.size(); ++i) {
        if (t[i - 1].visible || !t[i].visible || !t[i].aCible) continue;
        const std::int64_t d = reaction_apres(t, pas, i, 500, nullptr);
        if (d >= 0) reactions.push_back(static_cast<double>(d));
    }
    // A fast movement is a run of steps above 60 deg/s; keep its peak if it ends on a visible target.
    for (std::size_t j = 0; j < pas.size();) {
        if (pas[j].vitesse <= 60.0) {
            ++j;
            continue;
        }
        double pic = 0.0;
        while (j < pas.size() && pas[j].vitesse > 60.0) pic = std::fmax(pic, pas[j++].vitesse);
        if (t[j].visible) picsVisibles.push_back(pic);
    }
}

std::string Mesures::resume() const {
    std::string r;
    char ligne[256];
    const double minutes = static_cast<double>(trames) / 64.0 / 60.0;
    std::snprintf(ligne, sizeof ligne, "  tirs/min %.1f, précision %.1f %%, tirs à la tête %.1f %% des touches\n",
                  static_cast<double>(tirs) / std::fmax(minutes, 1e-9),
                  100.0 * static_cast<double>(touches) / std::fmax(1.0, static_cast<double>(tirs)),
                  100.0 * static_cast<double>(tetes) / std::fmax(1.0, static_cast<double>(touches)));
    r += ligne;
    static constexpr double bornes[] = {0, 50, 100, 135, 180, 250, 350, 501};
    r += "  réaction (révélation → pas > 60°/s ou tir), ms :";
    for (std::size_t b = 0; b + 1 < std::size(bornes); ++b) {
        const auto n = std::count_if(reactions.begin(), reactions.end(),
                                     [&](double d) { return d >= bornes[b] && d < bornes[b + 1]; });
        std::snprintf(ligne, sizeof ligne, " [%g,%g) %.1f%%", bornes[b], bornes[b + 1],
                      100.0 * static_cast<double>(n) / std::fmax(1.0, static_cast<double>(reactions.size())));
        r += ligne;
    }
    std::snprintf(ligne, sizeof ligne, "\n    n=%zu p1=%.0f p50=%.0f\n", reactions.size(), percentile(reactions, 0.01),
                  percentile(reactions, 0.5));
    r += ligne;
    const auto rapides = std::count_if(picsVisibles.begin(), picsVisibles.end(), [](double v) { return v >= 520.0; });
    std::snprintf(ligne, sizeof ligne,
                  "  pics des mouvements rapides finissant sur cible visible, °/s : n=%zu p50=%.0f p95=%.0f p99=%.0f, ≥520 : %.1f%%\n",
                  picsVisibles.size(), percentile(picsVisibles, 0.5), percentile(picsVisibles, 0.95),
                  percentile(picsVisibles, 0.99),
                  100.0 * static_cast<double>(rapides) / std::fmax(1.0, static_cast<double>(picsVisibles.size())));
    r += ligne;
    std::snprintf(ligne, sizeof ligne,
                  "  erreur de suivi (cible visible ≥ 18°/s), ° : n=%zu p1=%.2f p10=%.2f p50=%.2f p90=%.2f\n",
                  erreursSuivi.size(), percentile(erreursSuivi, 0.01), percentile(erreursSuivi, 0.1),
                  percentile(erreursSuivi, 0.5), percentile(erreursSuivi, 0.9));
    r += ligne;
    std::snprintf(ligne, sizeof ligne, "  cible occultée à ≤ 1,25° : %.1f %% des %zu trames occultées\n",
                  100.0 * static_cast<double>(tramesOcculteProche) / std::fmax(1.0, static_cast<double>(tramesOcculte)),
                  tramesOcculte);
    r += ligne;
    return r;
}

}  // namespace cohorte
