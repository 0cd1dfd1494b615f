#include "comportement/detecteurs.hpp"

#include <cmath>

namespace comportement {

namespace {

double clamp01(double x) { return std::fmin(std::fmax(x, 0.0), 1.0); }

// min(plafond, max(0, x)), NaN-ignoring like every clamp of the engine.
double borner(double plafond, double x) { return std::fmin(plafond, std::fmax(0.0, x)); }

double en_double(EcartMs e) { return static_cast<double>(e); }

double drapeau(bool b) { return b ? 1.0 : 0.0; }

std::vector<std::int64_t> horodatages(std::span<const TrameTelemetrie> frames, std::size_t premier,
                                      std::size_t dernier) {
    std::vector<std::int64_t> ts;
    ts.reserve(dernier - premier + 1);
    for (std::size_t i = premier; i <= dernier; ++i) {
        ts.push_back(frames[i].timestampMs);
    }
    return ts;
}

// The running tallies of MicroCorrection over the qualifying steps of the current window.
struct FenetreMicro {
    std::vector<std::size_t> pas;  // qualifying step indices; [tete, end) is the window's L
    std::size_t tete = 0;
    std::int64_t inversions = 0;  // over consecutive pairs of L
    std::int64_t petits = 0;      // small steps among L[1..]

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

}  // namespace

std::vector<Signal> detect_aim_snap(std::span<const TrameTelemetrie> frames, std::span<const AngularStep> steps,
                                    const EngineThresholds& seuils) {
    std::vector<Signal> signaux;
    const double V = seuils.aimSnapMinVelocityDegPerSec;
    const double E = seuils.aimSnapMaxFinalErrorDeg;
    const double A = seuils.aimSnapMinAccelDegPerSec2;
    // Step 0 is never a candidate: its acceleration is measured from rest.
    for (std::size_t j = 1; j < steps.size(); ++j) {
        const AngularStep& s = steps[j];
        const TrameTelemetrie& f = frames[j + 1];
        if (!f.targetVisible || !(s.angularVelocityDegPerSec >= V) ||
            !(std::fabs(s.angularAccelerationDegPerSec2) >= A)) {
            continue;
        }
        for (std::size_t m = j; m < steps.size(); ++m) {
            const TrameTelemetrie& g = frames[m + 1];
            const double ecoule = en_double(ecart_ms(g.timestampMs, f.timestampMs));
            if (ecoule > seuils.aimSnapStopWindowMs) {
                break;
            }
            if (g.targetAngularErrorDeg <= E && (g.shotFired || g.hit)) {
                const double force =
                    borner(0.98, 0.35 + 0.25 * clamp01(s.angularVelocityDegPerSec / (2.0 * V)) +
                                     0.25 * (1.0 - clamp01(g.targetAngularErrorDeg / E)) +
                                     0.15 * clamp01(std::fabs(s.angularAccelerationDegPerSec2) / (3.0 * A)));
                signaux.push_back(make_signal(
                    SignalCategory::AimSnap, f, g.timestampMs, force,
                    "High-speed aim transition followed by an unusually precise stop/shot.",
                    {{"peakAngularVelocityDegPerSec", s.angularVelocityDegPerSec},
                     {"angularAccelerationDegPerSec2", s.angularAccelerationDegPerSec2},
                     {"finalTargetErrorDeg", g.targetAngularErrorDeg},
                     {"elapsedMs", ecoule},
                     {"mouseDx", static_cast<double>(g.mouseDx)},
                     {"mouseDy", static_cast<double>(g.mouseDy)}},
                    horodatages(frames, j + 1, m + 1)));
                break;
            }
        }
    }
    return signaux;
}

std::vector<Signal> detect_micro_correction(std::span<const TrameTelemetrie> frames,
                                            std::span<const AngularStep> steps, const EngineThresholds& seuils) {
    std::vector<Signal> signaux;
    const auto qualifie = [&](std::size_t i) {
        const TrameTelemetrie& f = frames[i + 1];
        return f.targetVisible && f.targetAngularErrorDeg <= seuils.microMaxTargetErrorDeg;
    };
    const auto petit = [&](std::size_t i) { return steps[i].angularDistanceDeg <= seuils.microSmallStepDeg ? 1 : 0; };

    // The window's qualifying steps are kept with their pair tallies updated as the window slides, so each
    // step is added and removed once; the float total is summed afresh, in order, only when a signal is built.
    FenetreMicro l;
    l.pas.reserve(64);
    std::size_t k = 0;
    for (std::size_t j = 0; j < steps.size(); ++j) {
        const std::int64_t tj = frames[j + 1].timestampMs;
        while (k <= j && ecart_ms(tj, frames[k + 1].timestampMs) > seuils.microWindowMs) {
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
        const std::size_t premier = l.pas[l.tete];
        const std::size_t dernier = l.pas.back();
        double total = 0.0;
        std::vector<std::int64_t> ts;
        ts.reserve(l.taille());
        ts.push_back(frames[premier + 1].timestampMs);
        for (std::size_t i = l.tete + 1; i < l.pas.size(); ++i) {
            total += steps[l.pas[i]].angularDistanceDeg;
            ts.push_back(frames[l.pas[i] + 1].timestampMs);
        }
        const double inversions = static_cast<double>(l.inversions);
        const double force = borner(0.92, 0.3 + 0.07 * inversions + 0.2 * ratio);
        signaux.push_back(make_signal(
            SignalCategory::MicroCorrection, frames[premier + 1], frames[dernier + 1].timestampMs, force,
            "Repeated sub-degree direction reversals while tightly centered on a visible target.",
            {{"directionReversals", inversions},
             {"smallStepRatio", ratio},
             {"totalAngularMovementDeg", total},
             {"windowMs", en_double(ecart_ms(frames[dernier + 1].timestampMs, frames[premier + 1].timestampMs))}},
            std::move(ts)));
        // The next window starts at the step that closed this one.
        k = j;
        l.vider();
        if (qualifie(j)) {
            l.pas.push_back(j);
        }
    }
    return signaux;
}

bool is_reaction_reveal(std::span<const TrameTelemetrie> frames, std::size_t k) {
    return k >= 1 && k < frames.size() && !frames[k - 1].targetVisible && frames[k].targetVisible &&
           frames[k].targetId.has_value();
}

std::optional<Reaction> find_reaction(std::span<const TrameTelemetrie> frames, std::span<const AngularStep> steps,
                                      std::size_t reveal, std::int64_t searchWindowMs) {
    for (std::size_t k = reveal; k < frames.size(); ++k) {
        const EcartMs delai = ecart_ms(frames[k].timestampMs, frames[reveal].timestampMs);
        if (delai > searchWindowMs) {
            return std::nullopt;
        }
        const bool rapide = k >= 1 && k - 1 < steps.size() && steps[k - 1].angularVelocityDegPerSec > kVitesseReactionDegParSec;
        if (rapide || frames[k].shotFired) {
            return Reaction{k, delai};
        }
    }
    return std::nullopt;
}

std::vector<Signal> detect_reaction_time(std::span<const TrameTelemetrie> frames, std::span<const AngularStep> steps,
                                         const EngineThresholds& seuils) {
    std::vector<Signal> signaux;
    if (frames.size() < 3) {
        return signaux;
    }
    for (std::size_t k = 1; k < frames.size(); ++k) {
        if (!is_reaction_reveal(frames, k)) {
            continue;
        }
        const std::optional<Reaction> r = find_reaction(frames, steps, k, seuils.reactionSearchWindowMs);
        if (!r || r->delayMs > seuils.reactionSuspectMs) {
            continue;
        }
        const TrameTelemetrie& revelation = frames[k];
        const TrameTelemetrie& reaction = frames[r->frameIndex];
        const double force =
            r->delayMs <= seuils.reactionVeryFastMs
                ? borner(0.97, 0.72 + en_double(seuils.reactionVeryFastMs - r->delayMs) / 200.0)
                : borner(0.8, 0.5 + en_double(seuils.reactionSuspectMs - r->delayMs) / 150.0);
        signaux.push_back(make_signal(SignalCategory::ReactionTime, revelation, reaction.timestampMs, force,
                                      "Very short visibility-to-aim/shot reaction time.",
                                      {{"reactionMs", en_double(r->delayMs)},
                                       {"targetErrorAtRevealDeg", revelation.targetAngularErrorDeg},
                                       {"shotAtReaction", drapeau(reaction.shotFired)}},
                                      {revelation.timestampMs, reaction.timestampMs}));
    }
    return signaux;
}

std::vector<Signal> detect_visible_tracking(std::span<const TrameTelemetrie> frames, const EngineThresholds& seuils) {
    std::vector<Signal> signaux;
    const std::size_t n = frames.size();
    if (n < 3) {
        return signaux;
    }
    const auto qualifie = [&](const TrameTelemetrie& f) {
        return f.targetVisible && f.targetAngularSpeedDegPerSec >= seuils.trackingMinTargetSpeedDegPerSec;
    };
    std::size_t p = 0;
    while (p < n) {
        if (!qualifie(frames[p])) {
            ++p;
            continue;
        }
        std::size_t g = p;
        double carres = 0.0;
        std::size_t excellents = 0;
        while (g < n && qualifie(frames[g])) {
            const double e = frames[g].targetAngularErrorDeg;
            carres += e * e;
            excellents += e <= seuils.trackingExcellentErrorDeg ? 1 : 0;
            ++g;
        }
        const std::size_t m = g - p;
        const EcartMs duree = ecart_ms(frames[g - 1].timestampMs, frames[p].timestampMs);
        if (duree >= seuils.visibleTrackingMinDurationMs && m >= 4) {
            const double rms = std::sqrt(carres / static_cast<double>(m));
            const double ratio = static_cast<double>(excellents) / static_cast<double>(m);
            if (rms <= 0.95 && ratio >= 0.7) {
                const double force = borner(0.94, 0.35 + 0.3 * (1.0 - clamp01(rms / 0.95)) + 0.25 * ratio);
                signaux.push_back(make_signal(SignalCategory::VisibleTracking, frames[p], frames[g - 1].timestampMs,
                                              force, "Sustained low-error tracking of a moving visible target.",
                                              {{"trackingRmsErrorDeg", rms},
                                               {"excellentTrackingRatio", ratio},
                                               {"durationMs", en_double(duree)},
                                               {"samples", static_cast<double>(m)}},
                                              horodatages(frames, p, g - 1)));
            }
        }
        p = g;
    }
    return signaux;
}

std::vector<Signal> detect_pre_aim(std::span<const TrameTelemetrie> frames, const EngineThresholds& seuils) {
    std::vector<Signal> signaux;
    const std::size_t n = frames.size();
    const double max_erreur = seuils.preAimMaxOccludedErrorDeg;
    // One predicate for both the start and the extent of a run, so a NaN error can never make an empty run.
    const auto qualifie = [&](const TrameTelemetrie& f) {
        return f.targetOccluded && f.occludedTargetAngularErrorDeg <= max_erreur;
    };
    std::size_t p = 0;
    while (p < n) {
        if (!qualifie(frames[p])) {
            ++p;
            continue;
        }
        std::size_t g = p;
        double somme = 0.0;
        while (g < n && qualifie(frames[g])) {
            somme += frames[g].occludedTargetAngularErrorDeg;
            ++g;
        }
        const TrameTelemetrie& dernier = frames[g - 1];
        const EcartMs tenue = ecart_ms(dernier.timestampMs, frames[p].timestampMs);
        if (tenue >= seuils.preAimMinHoldMs) {
            for (std::size_t i = g; i < n; ++i) {
                const EcartMs delai = ecart_ms(frames[i].timestampMs, dernier.timestampMs);
                if (delai > seuils.preAimMaxRevealDelayMs) {
                    break;
                }
                if (frames[i].targetVisible) {
                    const double moyenne = somme / static_cast<double>(g - p);
                    const double force = borner(0.95, 0.38 + std::fmin(en_double(tenue) / 1200.0, 0.25) +
                                                          0.28 * (1.0 - clamp01(moyenne / max_erreur)));
                    signaux.push_back(make_signal(
                        SignalCategory::PreAim, frames[p], frames[i].timestampMs, force,
                        "Crosshair held near an occluded opponent shortly before that opponent became visible.",
                        {{"occludedHoldMs", en_double(tenue)},
                         {"avgOccludedTargetErrorDeg", moyenne},
                         {"revealDelayMs", en_double(delai)}},
                        horodatages(frames, p, i)));
                    break;
                }
            }
        }
        p = g;
    }
    return signaux;
}

std::vector<Signal> detect_occluded_tracking(std::span<const TrameTelemetrie> frames, const EngineThresholds& seuils) {
    std::vector<Signal> signaux;
    const std::size_t n = frames.size();
    const double max_erreur = seuils.occludedTrackingMaxErrorDeg;
    const auto qualifie = [&](const TrameTelemetrie& f) {
        return f.targetOccluded && f.targetAngularSpeedDegPerSec >= seuils.trackingMinTargetSpeedDegPerSec &&
               f.occludedTargetAngularErrorDeg <= max_erreur;
    };
    std::size_t p = 0;
    while (p < n) {
        if (!qualifie(frames[p])) {
            ++p;
            continue;
        }
        std::size_t g = p;
        double carres = 0.0;
        while (g < n && qualifie(frames[g])) {
            const double e = frames[g].occludedTargetAngularErrorDeg;
            carres += e * e;
            ++g;
        }
        const std::size_t m = g - p;
        const EcartMs duree = ecart_ms(frames[g - 1].timestampMs, frames[p].timestampMs);
        if (duree >= seuils.occludedTrackingMinDurationMs && m >= 4) {
            const double rms = std::sqrt(carres / static_cast<double>(m));
            const double force = borner(0.98, 0.55 + std::fmin(en_double(duree) / 1800.0, 0.25) +
                                                  0.18 * (1.0 - clamp01(rms / max_erreur)));
            signaux.push_back(make_signal(SignalCategory::OccludedTracking, frames[p], frames[g - 1].timestampMs,
                                          force,
                                          "Aim closely followed a moving opponent while that opponent was occluded.",
                                          {{"durationMs", en_double(duree)},
                                           {"occludedTrackingRmsErrorDeg", rms},
                                           {"samples", static_cast<double>(m)}},
                                          horodatages(frames, p, g - 1)));
        }
        p = g;
    }
    return signaux;
}

std::vector<Signal> detect_visibility_shot_correlation(std::span<const TrameTelemetrie> frames,
                                                       const EngineThresholds& seuils) {
    std::vector<Signal> signaux;
    const std::size_t n = frames.size();
    for (std::size_t i = 1; i < n; ++i) {
        if (!frames[i - 1].targetOccluded || !frames[i].targetVisible) {
            continue;
        }
        const std::int64_t r = frames[i].timestampMs;
        std::optional<std::size_t> tir;
        // The nearest shot before the reveal wins over any shot after it.
        for (std::size_t x = i; x-- > 0;) {
            if (ecart_ms(r, frames[x].timestampMs) > seuils.shotCorrelationBeforeRevealMs) {
                break;
            }
            if (frames[x].shotFired) {
                tir = x;
                break;
            }
        }
        if (!tir) {
            for (std::size_t x = i; x < n; ++x) {
                if (ecart_ms(frames[x].timestampMs, r) > seuils.shotCorrelationAfterRevealMs) {
                    break;
                }
                if (frames[x].shotFired) {
                    tir = x;
                    break;
                }
            }
        }
        if (!tir) {
            continue;
        }
        const TrameTelemetrie& f = frames[*tir];
        const EcartMs rel = ecart_ms(f.timestampMs, r);
        const double erreur = f.targetVisible ? f.targetAngularErrorDeg : f.occludedTargetAngularErrorDeg;
        if (!(erreur <= 2.0)) {  // a NaN error is not close to anything
            continue;
        }
        const double force =
            rel < 0 ? borner(0.92, 0.62 + 0.22 * en_double(-rel) / en_double(seuils.shotCorrelationBeforeRevealMs))
                    : borner(0.82, 0.45 + 0.25 * (1.0 - en_double(rel) /
                                                            en_double(seuils.shotCorrelationAfterRevealMs)));
        signaux.push_back(make_signal(
            SignalCategory::VisibilityShotCorrelation, f, r, force,
            "Shot timing is unusually correlated with an opponent crossing the visibility boundary.",
            {{"shotRelativeToRevealMs", en_double(rel)},
             {"targetErrorAtShotDeg", erreur},
             {"hit", drapeau(f.hit)},
             {"headshot", drapeau(f.headshot)}},
            {f.timestampMs, r}));
    }
    return signaux;
}

}  // namespace comportement
