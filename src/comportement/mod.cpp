#include "comportement/mod.hpp"

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid.hpp>

#include "commun/temps_utc.hpp"
#include "comportement/detecteurs.hpp"
#include "comportement/validation.hpp"

namespace comportement {

namespace {

struct InfoCategorie {
    std::string_view nom;
    double poids;
};

constexpr std::array<InfoCategorie, kNombreCategories> kCategories{{
    {"AimSnap", 1.15},
    {"MicroCorrection", 0.65},
    {"ReactionTime", 0.7},
    {"VisibleTracking", 0.7},
    {"PreAim", 1.05},
    {"OccludedTracking", 1.35},
    {"VisibilityShotCorrelation", 0.95},
    {"StatisticalPersistence", 1.25},
}};

std::string nouvel_identifiant() {
    // One generator per thread: it keeps its handle on the system source between signals.
    thread_local boost::uuids::random_generator generateur;
    const boost::uuids::uuid u = generateur();
    static constexpr char kHex[] = "0123456789abcdef";
    std::string texte(32, '0');
    for (std::size_t i = 0; i < 16; ++i) {
        texte[2 * i] = kHex[u.data[i] >> 4];
        texte[2 * i + 1] = kHex[u.data[i] & 0x0F];
    }
    return texte;
}

int signe(double x) { return (x > 0.0) - (x < 0.0); }  // NaN gives 0

bool avant(const TrameTelemetrie& a, const TrameTelemetrie& b) { return a.timestampMs < b.timestampMs; }

void appliquer_confiance(std::span<const TrameTelemetrie> trames, Signal& s) {
    auto it = std::partition_point(trames.begin(), trames.end(),
                                   [&](const TrameTelemetrie& t) { return t.timestampMs < s.startMs; });
    double conf = 1.0;
    for (; it != trames.end() && it->timestampMs <= s.endMs; ++it) {
        conf = std::fmin(conf, it->acquisitionConfidence);
    }
    conf = std::fmin(std::fmax(conf, 0.0), 1.0);
    if (conf < 1.0) {
        if (conf == 0.0) {
            conf = 0.0;  // no -0.0 strengths
        }
        s.strength *= conf;
        s.evidence.emplace_back("acquisitionConfidence", conf);
    }
}

void ajouter(std::vector<Signal>& tous, std::vector<Signal>&& nouveaux) {
    tous.insert(tous.end(), std::make_move_iterator(nouveaux.begin()), std::make_move_iterator(nouveaux.end()));
}

}  // namespace

std::string_view category_name(SignalCategory c) {
    const auto i = static_cast<std::size_t>(c);
    return i < kNombreCategories ? kCategories[i].nom : std::string_view{};
}

double category_weight(SignalCategory c) {
    const auto i = static_cast<std::size_t>(c);
    return i < kNombreCategories ? kCategories[i].poids : 0.0;
}

double category_cap(SignalCategory c) { return category_weight(c) * 2.5; }

bool plus_fort(double a, double b) {
    if (std::isnan(a)) {
        return false;
    }
    return std::isnan(b) || a > b;
}

std::vector<AngularStep> compute_angular_steps(std::span<const TrameTelemetrie> frames) {
    std::vector<AngularStep> pas;
    if (frames.size() < 2) {
        return pas;
    }
    pas.reserve(frames.size() - 1);
    double vitesse_precedente = 0.0;
    for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
        const TrameTelemetrie& a = frames[i];
        const TrameTelemetrie& b = frames[i + 1];
        AngularStep s;
        s.frame = &b;
        s.dtSec = std::fmax(static_cast<double>(ecart_ms(b.timestampMs, a.timestampMs)) / 1000.0, 0.001);
        const double brut = b.yawDeg - a.yawDeg;
        // fmod returns its argument unchanged below one turn; skipping the call keeps the hot loop cheap.
        double lacet = std::fabs(brut) < 360.0 ? brut : std::fmod(brut, 360.0);
        if (lacet > 180.0) {
            lacet -= 360.0;
        }
        if (lacet < -180.0) {
            lacet += 360.0;
        }
        s.deltaYawDeg = lacet;
        s.deltaPitchDeg = b.pitchDeg - a.pitchDeg;
        s.angularDistanceDeg = std::sqrt(s.deltaYawDeg * s.deltaYawDeg + s.deltaPitchDeg * s.deltaPitchDeg);
        s.angularVelocityDegPerSec = s.angularDistanceDeg / s.dtSec;
        s.angularAccelerationDegPerSec2 = (s.angularVelocityDegPerSec - vitesse_precedente) / s.dtSec;
        s.yawDirection = signe(s.deltaYawDeg);
        s.pitchDirection = signe(s.deltaPitchDeg);
        vitesse_precedente = s.angularVelocityDegPerSec;
        pas.push_back(s);
    }
    return pas;
}

Signal make_signal(SignalCategory category, const TrameTelemetrie& start, std::int64_t endMs, double strength,
                   std::string_view description, std::initializer_list<std::pair<std::string_view, double>> evidence,
                   std::vector<std::int64_t> frameTimestamps) {
    Signal s;
    s.id = nouvel_identifiant();
    s.matchId = start.matchId;
    s.playerId = start.playerId;
    s.description = description;
    s.evidence.reserve(evidence.size() + 1);  // room for the confidence pair
    for (const auto& [cle, valeur] : evidence) {
        s.evidence.emplace_back(std::string(cle), valeur);
    }
    s.frameTimestamps = std::move(frameTimestamps);
    s.startMs = std::min(start.timestampMs, endMs);
    s.endMs = std::max(start.timestampMs, endMs);
    s.strength = strength;
    s.category = category;
    return s;
}

double score_signals(std::span<const Signal> signals, const EngineThresholds& seuils) {
    std::vector<double> forces;
    double somme = 0.0;
    for (std::size_t c = 0; c < kNombreCategories; ++c) {
        const auto categorie = static_cast<SignalCategory>(c);
        forces.clear();
        for (const Signal& s : signals) {
            if (s.category == categorie) {
                forces.push_back(s.strength);
            }
        }
        if (forces.empty()) {
            continue;
        }
        std::stable_sort(forces.begin(), forces.end(), plus_fort);
        const std::size_t k = std::min(seuils.maxSignalsPerCategory, forces.size());
        const double poids = category_weight(categorie);
        double w = 0.0;
        for (std::size_t i = 0; i < k; ++i) {
            w += poids * forces[i] / (1.0 + 0.55 * static_cast<double>(i));
        }
        somme += std::fmin(w, category_cap(categorie));
    }
    double score = 100.0 * (1.0 - std::exp(-somme / 4.8));
    score = std::fmin(std::fmax(score, 0.0), 100.0);
    return std::round(score * 10.0) / 10.0;
}

std::string risk_level(double score) {
    if (score < 30.0) {
        return "NORMAL";
    }
    if (score < 50.0) {
        return "OBSERVE";
    }
    if (score < 70.0) {
        return "REVIEW";
    }
    if (score < 85.0) {
        return "HIGH-RISK";
    }
    return "CRITICAL-REVIEW";
}

std::expected<MatchAnalysis, std::string> run_engine(const EngineThresholds& seuils,
                                                     std::span<const TrameTelemetrie> frames,
                                                     std::optional<Signal> extra) {
    if (frames.empty()) {
        return std::unexpected(std::string("au moins une trame de télémétrie est requise"));
    }
    // Frames are read-only: already ordered input is used in place, otherwise a sorted copy is analysed.
    std::vector<TrameTelemetrie> copie;
    std::span<const TrameTelemetrie> trames = frames;
    if (!std::is_sorted(frames.begin(), frames.end(), avant)) {
        copie.assign(frames.begin(), frames.end());
        std::stable_sort(copie.begin(), copie.end(), avant);
        trames = copie;
    }

    std::vector<Signal> signaux;
    if (trames.size() >= 3) {
        const std::vector<AngularStep> pas = compute_angular_steps(trames);
        ajouter(signaux, detect_aim_snap(trames, pas, seuils));
        ajouter(signaux, detect_micro_correction(trames, pas, seuils));
        ajouter(signaux, detect_reaction_time(trames, pas, seuils));
        ajouter(signaux, detect_visible_tracking(trames, seuils));
    }
    ajouter(signaux, detect_pre_aim(trames, seuils));
    ajouter(signaux, detect_occluded_tracking(trames, seuils));
    ajouter(signaux, detect_visibility_shot_correlation(trames, seuils));

    for (Signal& s : signaux) {
        appliquer_confiance(trames, s);
    }
    if (extra) {
        signaux.push_back(std::move(*extra));
    }

    MatchAnalysis analyse;
    analyse.score = score_signals(signaux, seuils);
    std::stable_sort(signaux.begin(), signaux.end(),
                     [](const Signal& a, const Signal& b) { return plus_fort(a.strength, b.strength); });

    std::size_t tirs = 0;
    std::size_t touches = 0;
    std::size_t tetes = 0;
    for (const TrameTelemetrie& t : trames) {
        tirs += t.shotFired ? 1 : 0;
        touches += t.hit ? 1 : 0;
        tetes += t.headshot ? 1 : 0;
    }
    std::bitset<256> vues;
    for (const Signal& s : signaux) {
        vues.set(static_cast<std::size_t>(s.category));
    }
    const auto d = [](std::size_t v) { return static_cast<double>(v); };
    analyse.metrics = {
        {"frames", d(trames.size())},
        {"shots", d(tirs)},
        {"hits", d(touches)},
        {"headshots", d(tetes)},
        {"hitRate", tirs == 0 ? 0.0 : d(touches) / d(tirs)},
        {"headshotRate", touches == 0 ? 0.0 : d(tetes) / d(touches)},
        {"signals", d(signaux.size())},
        {"distinctSignalCategories", d(vues.count())},
    };

    analyse.matchId = trames.front().matchId;
    analyse.playerId = trames.front().playerId;
    analyse.analyzedAt = commun::maintenant_utc();
    analyse.level = risk_level(analyse.score);
    analyse.signals = std::move(signaux);
    return analyse;
}

std::expected<MatchAnalysis, std::string> analyse_match(const EngineThresholds& seuils, const LotTrames& lot) {
    const ValidationLot v = valider_lot(lot);
    if (!v.valide) {
        std::string message;
        for (std::size_t i = 0; i < v.erreurs.size(); ++i) {
            if (i > 0) {
                message += '\n';
            }
            message += v.erreurs[i];
        }
        return std::unexpected(std::move(message));
    }
    return run_engine(seuils, lot.trames);
}

}  // namespace comportement
