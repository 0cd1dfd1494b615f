#include "comportement/detecteurs.hpp"

#include <algorithm>
#include <cmath>

namespace comportement {

namespace {

double clamp01(double x) { return std::fmin(std::fmax(x, 0.0), 1.0); }

// min(plafond, max(0, x)), NaN-ignoring like every clamp of the engine.
double borner(double plafond, double x) { return std::fmin(plafond, std::fmax(0.0, x)); }

double en_double(EcartMs e) { return static_cast<double>(e); }

double drapeau(bool b) { return b ? 1.0 : 0.0; }

// The detectors are written once against these two views of the frames: the records themselves (the public
// detector functions) and the engine's packed copy. Either way the signals are built from the records.
struct AccesTrames {
    std::span<const TrameTelemetrie> f;

    std::size_t size() const { return f.size(); }
    std::int64_t ts(std::size_t i) const { return f[i].timestampMs; }
    bool visible(std::size_t i) const { return f[i].targetVisible; }
    bool occulte(std::size_t i) const { return f[i].targetOccluded; }
    bool tir(std::size_t i) const { return f[i].shotFired; }
    bool touche(std::size_t i) const { return f[i].hit; }
    bool tete(std::size_t i) const { return f[i].headshot; }
    bool cible(std::size_t i) const { return f[i].targetId.has_value(); }
    double err(std::size_t i) const { return f[i].targetAngularErrorDeg; }
    double err_occ(std::size_t i) const { return f[i].occludedTargetAngularErrorDeg; }
    double vitesse(std::size_t i) const { return f[i].targetAngularSpeedDegPerSec; }
    const TrameTelemetrie& trame(std::size_t i) const { return f[i]; }
};

struct AccesVues {
    std::span<const TrameTelemetrie> f;
    std::span<const VueTrame> v;

    std::size_t size() const { return v.size(); }
    std::int64_t ts(std::size_t i) const { return v[i].timestampMs; }
    bool visible(std::size_t i) const { return (v[i].drapeaux & VueTrame::kVisible) != 0; }
    bool occulte(std::size_t i) const { return (v[i].drapeaux & VueTrame::kOcculte) != 0; }
    bool tir(std::size_t i) const { return (v[i].drapeaux & VueTrame::kTir) != 0; }
    bool touche(std::size_t i) const { return (v[i].drapeaux & VueTrame::kTouche) != 0; }
    bool tete(std::size_t i) const { return (v[i].drapeaux & VueTrame::kTete) != 0; }
    bool cible(std::size_t i) const { return (v[i].drapeaux & VueTrame::kCible) != 0; }
    double err(std::size_t i) const { return v[i].targetAngularErrorDeg; }
    double err_occ(std::size_t i) const { return v[i].occludedTargetAngularErrorDeg; }
    double vitesse(std::size_t i) const { return v[i].targetAngularSpeedDegPerSec; }
    const TrameTelemetrie& trame(std::size_t i) const { return f[i]; }
};

template <class Acces>
std::vector<std::int64_t> horodatages(const Acces& a, std::size_t premier, std::size_t dernier) {
    std::vector<std::int64_t> ts;
    ts.reserve(dernier - premier + 1);
    for (std::size_t i = premier; i <= dernier; ++i) {
        ts.push_back(a.ts(i));
    }
    return ts;
}

template <class Acces>
void aim_snap(const Acces& a, std::span<const AngularStep> steps, const EngineThresholds& seuils,
              std::vector<Signal>& sortie) {
    const double V = seuils.aimSnapMinVelocityDegPerSec;
    const double E = seuils.aimSnapMaxFinalErrorDeg;
    const double A = seuils.aimSnapMinAccelDegPerSec2;
    // Step 0 is never a candidate: its acceleration is measured from rest.
    for (std::size_t j = 1; j < steps.size(); ++j) {
        const AngularStep& s = steps[j];
        const std::size_t f = j + 1;
        if (!a.visible(f) || !(s.angularVelocityDegPerSec >= V) || !(std::fabs(s.angularAccelerationDegPerSec2) >= A)) {
            continue;
        }
        for (std::size_t m = j; m < steps.size(); ++m) {
            const std::size_t g = m + 1;
            const double ecoule = en_double(ecart_ms(a.ts(g), a.ts(f)));
            if (ecoule > seuils.aimSnapStopWindowMs) {
                break;
            }
            if (a.err(g) <= E && (a.tir(g) || a.touche(g))) {
                const double force =
                    borner(0.98, 0.35 + 0.25 * clamp01(s.angularVelocityDegPerSec / (2.0 * V)) +
                                     0.25 * (1.0 - clamp01(a.err(g) / E)) +
                                     0.15 * clamp01(std::fabs(s.angularAccelerationDegPerSec2) / (3.0 * A)));
                const TrameTelemetrie& arret = a.trame(g);
                sortie.push_back(make_signal(SignalCategory::AimSnap, a.trame(f), a.ts(g), force,
                                             "High-speed aim transition followed by an unusually precise stop/shot.",
                                             {{"peakAngularVelocityDegPerSec", s.angularVelocityDegPerSec},
                                              {"angularAccelerationDegPerSec2", s.angularAccelerationDegPerSec2},
                                              {"finalTargetErrorDeg", a.err(g)},
                                              {"elapsedMs", ecoule},
                                              {"mouseDx", static_cast<double>(arret.mouseDx)},
                                              {"mouseDy", static_cast<double>(arret.mouseDy)}},
                                             horodatages(a, f, g)));
                break;
            }
        }
    }
}

// The running tallies of MicroCorrection over the qualifying steps of the current window.
struct FenetreMicro {
    std::vector<std::size_t> pas;  // qualifying step indices; [tete, end) is the window's list
    std::size_t tete = 0;
    std::int64_t inversions = 0;  // over consecutive pairs of the list
    std::int64_t petits = 0;      // small steps among the list but its first

    std::size_t taille() const { return pas.size() - tete; }

    void vider() {
        pas.clear();
        tete = 0;
        inversions = 0;
        petits = 0;
    }
};

std::int64_t inversions_entre(const AngularStep& a, const AngularStep& b) {
    std::int64_t n = 0;
    if (a.yawDirection != 0 && b.yawDirection != 0 && a.yawDirection != b.yawDirection) {
        ++n;
    }
    if (a.pitchDirection != 0 && b.pitchDirection != 0 && a.pitchDirection != b.pitchDirection) {
        ++n;
    }
    return n;
}

template <class Acces>
void micro_correction(const Acces& a, std::span<const AngularStep> steps, const EngineThresholds& seuils,
                      std::vector<Signal>& sortie) {
    const auto qualifie = [&](std::size_t i) {
        return a.visible(i + 1) && a.err(i + 1) <= seuils.microMaxTargetErrorDeg;
    };
    const auto petit = [&](std::size_t i) { return steps[i].angularDistanceDeg <= seuils.microSmallStepDeg ? 1 : 0; };

    // The window's qualifying steps are kept with their pair tallies updated as the window slides, so each
    // step is added and removed once; the float total is summed afresh, in order, only when a signal is built.
    FenetreMicro l;
    l.pas.reserve(64);
    std::size_t k = 0;
    for (std::size_t j = 0; j < steps.size(); ++j) {
        const std::int64_t tj = a.ts(j + 1);
        while (k <= j && ecart_ms(tj, a.ts(k + 1)) > seuils.microWindowMs) {
            ++k;
        }
        while (l.taille() > 0 && l.pas[l.tete] < k) {
            if (l.taille() >= 2) {
                const std::size_t second = l.pas[l.tete + 1];
                l.inversions -= inversions_entre(steps[l.pas[l.tete]], steps[second]);
                l.petits -= petit(second);
            }
            ++l.tete;
        }
        if (k <= j && qualifie(j)) {
            if (l.taille() > 0) {
                l.inversions += inversions_entre(steps[l.pas.back()], steps[j]);
                l.petits += petit(j);
            }
            l.pas.push_back(j);
        }
        if (l.taille() < 5) {
            continue;
        }
        const double ratio = static_cast<double>(l.petits) / static_cast<double>(l.taille() - 1);
        if (!(l.inversions >= seuils.microMinDirectionReversals && ratio >= 0.7)) {
            continue;
        }
        const std::size_t premier = l.pas[l.tete] + 1;  // frames, not steps
        const std::size_t dernier = l.pas.back() + 1;
        double total = 0.0;
        std::vector<std::int64_t> ts;
        ts.reserve(l.taille());
        ts.push_back(a.ts(premier));
        for (std::size_t i = l.tete + 1; i < l.pas.size(); ++i) {
            total += steps[l.pas[i]].angularDistanceDeg;
            ts.push_back(a.ts(l.pas[i] + 1));
        }
        const double inversions = static_cast<double>(l.inversions);
        const double force = borner(0.92, 0.3 + 0.07 * inversions + 0.2 * ratio);
        sortie.push_back(
            make_signal(SignalCategory::MicroCorrection, a.trame(premier), a.ts(dernier), force,
                        "Repeated sub-degree direction reversals while tightly centered on a visible target.",
                        {{"directionReversals", inversions},
                         {"smallStepRatio", ratio},
                         {"totalAngularMovementDeg", total},
                         {"windowMs", en_double(ecart_ms(a.ts(dernier), a.ts(premier)))}},
                        std::move(ts)));
        // The next window starts at the step that closed this one.
        k = j;
        l.vider();
        if (qualifie(j)) {
            l.pas.push_back(j);
        }
    }
}

template <class Acces>
bool revelation_reaction(const Acces& a, std::size_t k) {
    return k >= 1 && k < a.size() && !a.visible(k - 1) && a.visible(k) && a.cible(k);
}

template <class Acces>
std::optional<Reaction> chercher_reaction(const Acces& a, std::span<const AngularStep> steps, std::size_t reveal,
                                          std::int64_t fenetre) {
    for (std::size_t k = reveal; k < a.size(); ++k) {
        const EcartMs delai = ecart_ms(a.ts(k), a.ts(reveal));
        if (delai > fenetre) {
            return std::nullopt;
        }
        const bool rapide =
            k >= 1 && k - 1 < steps.size() && steps[k - 1].angularVelocityDegPerSec > kVitesseReactionDegParSec;
        if (rapide || a.tir(k)) {
            return Reaction{k, delai};
        }
    }
    return std::nullopt;
}

template <class Acces>
void reaction_time(const Acces& a, std::span<const AngularStep> steps, const EngineThresholds& seuils,
                   std::vector<Signal>& sortie) {
    if (a.size() < 3) {
        return;
    }
    for (std::size_t k = 1; k < a.size(); ++k) {
        if (!revelation_reaction(a, k)) {
            continue;
        }
        const std::optional<Reaction> r = chercher_reaction(a, steps, k, seuils.reactionSearchWindowMs);
        if (!r || r->delayMs > seuils.reactionSuspectMs) {
            continue;
        }
        const std::size_t x = r->frameIndex;
        const double force = r->delayMs <= seuils.reactionVeryFastMs
                                 ? borner(0.97, 0.72 + en_double(seuils.reactionVeryFastMs - r->delayMs) / 200.0)
                                 : borner(0.8, 0.5 + en_double(seuils.reactionSuspectMs - r->delayMs) / 150.0);
        sortie.push_back(make_signal(SignalCategory::ReactionTime, a.trame(k), a.ts(x), force,
                                     "Very short visibility-to-aim/shot reaction time.",
                                     {{"reactionMs", en_double(r->delayMs)},
                                      {"targetErrorAtRevealDeg", a.err(k)},
                                      {"shotAtReaction", drapeau(a.tir(x))}},
                                     {a.ts(k), a.ts(x)}));
    }
}

template <class Acces>
void visible_tracking(const Acces& a, const EngineThresholds& seuils, std::vector<Signal>& sortie) {
    const std::size_t n = a.size();
    if (n < 3) {
        return;
    }
    // One predicate for both the start and the extent of a run, so a NaN can never make an empty run.
    const auto qualifie = [&](std::size_t i) {
        return a.visible(i) && a.vitesse(i) >= seuils.trackingMinTargetSpeedDegPerSec;
    };
    std::size_t p = 0;
    while (p < n) {
        if (!qualifie(p)) {
            ++p;
            continue;
        }
        std::size_t g = p;
        double carres = 0.0;
        std::size_t excellents = 0;
        while (g < n && qualifie(g)) {
            const double e = a.err(g);
            carres += e * e;
            excellents += e <= seuils.trackingExcellentErrorDeg ? 1 : 0;
            ++g;
        }
        const std::size_t m = g - p;
        const EcartMs duree = ecart_ms(a.ts(g - 1), a.ts(p));
        if (duree >= seuils.visibleTrackingMinDurationMs && m >= 4) {
            const double rms = std::sqrt(carres / static_cast<double>(m));
            const double ratio = static_cast<double>(excellents) / static_cast<double>(m);
            if (rms <= 0.95 && ratio >= 0.7) {
                const double force = borner(0.94, 0.35 + 0.3 * (1.0 - clamp01(rms / 0.95)) + 0.25 * ratio);
                sortie.push_back(make_signal(SignalCategory::VisibleTracking, a.trame(p), a.ts(g - 1), force,
                                             "Sustained low-error tracking of a moving visible target.",
                                             {{"trackingRmsErrorDeg", rms},
                                              {"excellentTrackingRatio", ratio},
                                              {"durationMs", en_double(duree)},
                                              {"samples", static_cast<double>(m)}},
                                             horodatages(a, p, g - 1)));
            }
        }
        p = g;
    }
}

template <class Acces>
void pre_aim(const Acces& a, const EngineThresholds& seuils, std::vector<Signal>& sortie) {
    const std::size_t n = a.size();
    const double max_erreur = seuils.preAimMaxOccludedErrorDeg;
    const auto qualifie = [&](std::size_t i) { return a.occulte(i) && a.err_occ(i) <= max_erreur; };
    std::size_t p = 0;
    while (p < n) {
        if (!qualifie(p)) {
            ++p;
            continue;
        }
        std::size_t g = p;
        double somme = 0.0;
        while (g < n && qualifie(g)) {
            somme += a.err_occ(g);
            ++g;
        }
        const std::size_t dernier = g - 1;
        const EcartMs tenue = ecart_ms(a.ts(dernier), a.ts(p));
        if (tenue >= seuils.preAimMinHoldMs) {
            for (std::size_t i = g; i < n; ++i) {
                const EcartMs delai = ecart_ms(a.ts(i), a.ts(dernier));
                if (delai > seuils.preAimMaxRevealDelayMs) {
                    break;
                }
                if (a.visible(i)) {
                    const double moyenne = somme / static_cast<double>(g - p);
                    const double force = borner(0.95, 0.38 + std::fmin(en_double(tenue) / 1200.0, 0.25) +
                                                          0.28 * (1.0 - clamp01(moyenne / max_erreur)));
                    sortie.push_back(make_signal(
                        SignalCategory::PreAim, a.trame(p), a.ts(i), force,
                        "Crosshair held near an occluded opponent shortly before that opponent became visible.",
                        {{"occludedHoldMs", en_double(tenue)},
                         {"avgOccludedTargetErrorDeg", moyenne},
                         {"revealDelayMs", en_double(delai)}},
                        horodatages(a, p, i)));
                    break;
                }
            }
        }
        p = g;
    }
}

template <class Acces>
void occluded_tracking(const Acces& a, const EngineThresholds& seuils, std::vector<Signal>& sortie) {
    const std::size_t n = a.size();
    const double max_erreur = seuils.occludedTrackingMaxErrorDeg;
    const auto qualifie = [&](std::size_t i) {
        return a.occulte(i) && a.vitesse(i) >= seuils.trackingMinTargetSpeedDegPerSec && a.err_occ(i) <= max_erreur;
    };
    std::size_t p = 0;
    while (p < n) {
        if (!qualifie(p)) {
            ++p;
            continue;
        }
        std::size_t g = p;
        double carres = 0.0;
        while (g < n && qualifie(g)) {
            const double e = a.err_occ(g);
            carres += e * e;
            ++g;
        }
        const std::size_t m = g - p;
        const EcartMs duree = ecart_ms(a.ts(g - 1), a.ts(p));
        if (duree >= seuils.occludedTrackingMinDurationMs && m >= 4) {
            const double rms = std::sqrt(carres / static_cast<double>(m));
            const double force = borner(
                0.98, 0.55 + std::fmin(en_double(duree) / 1800.0, 0.25) + 0.18 * (1.0 - clamp01(rms / max_erreur)));
            sortie.push_back(make_signal(SignalCategory::OccludedTracking, a.trame(p), a.ts(g - 1), force,
                                         "Aim closely followed a moving opponent while that opponent was occluded.",
                                         {{"durationMs", en_double(duree)},
                                          {"occludedTrackingRmsErrorDeg", rms},
                                          {"samples", static_cast<double>(m)}},
                                         horodatages(a, p, g - 1)));
        }
        p = g;
    }
}

template <class Acces>
void visibility_shot_correlation(const Acces& a, const EngineThresholds& seuils, std::vector<Signal>& sortie) {
    const std::size_t n = a.size();
    for (std::size_t i = 1; i < n; ++i) {
        if (!a.occulte(i - 1) || !a.visible(i)) {
            continue;
        }
        const std::int64_t r = a.ts(i);
        std::optional<std::size_t> tir;
        // The nearest shot before the reveal wins over any shot after it.
        for (std::size_t x = i; x-- > 0;) {
            if (ecart_ms(r, a.ts(x)) > seuils.shotCorrelationBeforeRevealMs) {
                break;
            }
            if (a.tir(x)) {
                tir = x;
                break;
            }
        }
        if (!tir) {
            for (std::size_t x = i; x < n; ++x) {
                if (ecart_ms(a.ts(x), r) > seuils.shotCorrelationAfterRevealMs) {
                    break;
                }
                if (a.tir(x)) {
                    tir = x;
                    break;
                }
            }
        }
        if (!tir) {
            continue;
        }
        const std::size_t x = *tir;
        const EcartMs rel = ecart_ms(a.ts(x), r);
        const double erreur = a.visible(x) ? a.err(x) : a.err_occ(x);
        if (!(erreur <= 2.0)) {  // a NaN error is not close to anything
            continue;
        }
        const double force =
            rel < 0
                ? borner(0.92, 0.62 + 0.22 * en_double(-rel) / en_double(seuils.shotCorrelationBeforeRevealMs))
                : borner(0.82, 0.45 + 0.25 * (1.0 - en_double(rel) / en_double(seuils.shotCorrelationAfterRevealMs)));
        sortie.push_back(
            make_signal(SignalCategory::VisibilityShotCorrelation, a.trame(x), r, force,
                        "Shot timing is unusually correlated with an opponent crossing the visibility boundary.",
                        {{"shotRelativeToRevealMs", en_double(rel)},
                         {"targetErrorAtShotDeg", erreur},
                         {"hit", drapeau(a.touche(x))},
                         {"headshot", drapeau(a.tete(x))}},
                        {a.ts(x), r}));
    }
}

// Steps beyond the frames' own (a caller's mismatch) are never read.
std::span<const AngularStep> pas_de(std::span<const TrameTelemetrie> frames, std::span<const AngularStep> steps) {
    return steps.first(std::min(steps.size(), frames.empty() ? std::size_t{0} : frames.size() - 1));
}

template <class Detecteur>
std::vector<Signal> seul(Detecteur&& d) {
    std::vector<Signal> s;
    d(s);
    return s;
}

}  // namespace

VueTrame VueTrame::de(const TrameTelemetrie& t) {
    VueTrame v;
    v.timestampMs = t.timestampMs;
    v.targetAngularErrorDeg = t.targetAngularErrorDeg;
    v.occludedTargetAngularErrorDeg = t.occludedTargetAngularErrorDeg;
    v.targetAngularSpeedDegPerSec = t.targetAngularSpeedDegPerSec;
    v.drapeaux = static_cast<std::uint8_t>((t.targetVisible ? kVisible : 0) | (t.targetOccluded ? kOcculte : 0) |
                                           (t.shotFired ? kTir : 0) | (t.hit ? kTouche : 0) | (t.headshot ? kTete : 0) |
                                           (t.targetId.has_value() ? kCible : 0));
    return v;
}

bool is_reaction_reveal(std::span<const TrameTelemetrie> frames, std::size_t k) {
    return revelation_reaction(AccesTrames{frames}, k);
}

std::optional<Reaction> find_reaction(std::span<const TrameTelemetrie> frames, std::span<const AngularStep> steps,
                                      std::size_t reveal, std::int64_t searchWindowMs) {
    return chercher_reaction(AccesTrames{frames}, pas_de(frames, steps), reveal, searchWindowMs);
}

std::vector<Signal> detect_aim_snap(std::span<const TrameTelemetrie> frames, std::span<const AngularStep> steps,
                                    const EngineThresholds& seuils) {
    return seul([&](std::vector<Signal>& s) { aim_snap(AccesTrames{frames}, pas_de(frames, steps), seuils, s); });
}

std::vector<Signal> detect_micro_correction(std::span<const TrameTelemetrie> frames, std::span<const AngularStep> steps,
                                            const EngineThresholds& seuils) {
    return seul(
        [&](std::vector<Signal>& s) { micro_correction(AccesTrames{frames}, pas_de(frames, steps), seuils, s); });
}

std::vector<Signal> detect_reaction_time(std::span<const TrameTelemetrie> frames, std::span<const AngularStep> steps,
                                         const EngineThresholds& seuils) {
    return seul([&](std::vector<Signal>& s) { reaction_time(AccesTrames{frames}, pas_de(frames, steps), seuils, s); });
}

std::vector<Signal> detect_visible_tracking(std::span<const TrameTelemetrie> frames, const EngineThresholds& seuils) {
    return seul([&](std::vector<Signal>& s) { visible_tracking(AccesTrames{frames}, seuils, s); });
}

std::vector<Signal> detect_pre_aim(std::span<const TrameTelemetrie> frames, const EngineThresholds& seuils) {
    return seul([&](std::vector<Signal>& s) { pre_aim(AccesTrames{frames}, seuils, s); });
}

std::vector<Signal> detect_occluded_tracking(std::span<const TrameTelemetrie> frames, const EngineThresholds& seuils) {
    return seul([&](std::vector<Signal>& s) { occluded_tracking(AccesTrames{frames}, seuils, s); });
}

std::vector<Signal> detect_visibility_shot_correlation(std::span<const TrameTelemetrie> frames,
                                                       const EngineThresholds& seuils) {
    return seul([&](std::vector<Signal>& s) { visibility_shot_correlation(AccesTrames{frames}, seuils, s); });
}

void detect_all(std::span<const TrameTelemetrie> frames, std::span<const VueTrame> vues,
                std::span<const AngularStep> steps, const EngineThresholds& seuils, std::vector<Signal>& sortie) {
    // A view and records of different lengths (a caller's mismatch) are read only as far as both go.
    const std::size_t n = std::min(frames.size(), vues.size());
    frames = frames.first(n);
    const AccesVues a{frames, vues.first(n)};
    steps = pas_de(frames, steps);
    if (a.size() >= 3) {
        aim_snap(a, steps, seuils, sortie);
        micro_correction(a, steps, seuils, sortie);
        reaction_time(a, steps, seuils, sortie);
        visible_tracking(a, seuils, sortie);
    }
    pre_aim(a, seuils, sortie);
    occluded_tracking(a, seuils, sortie);
    visibility_shot_correlation(a, seuils, sortie);
}

}  // namespace comportement
