#include "comportement/mod.hpp"

#include <algorithm>
#include <array>
#include <bitset>
#include <cmath>
#include <mutex>

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
    double plafond;  // 2.5 x the weight
};

constexpr std::array<InfoCategorie, kNombreCategories> kCategories{{
    {"AimSnap", 1.15, 2.875},
    {"MicroCorrection", 0.65, 1.625},
    {"ReactionTime", 0.7, 1.75},
    {"VisibleTracking", 0.7, 1.75},
    {"PreAim", 1.05, 2.625},
    {"OccludedTracking", 1.35, 3.375},
    {"VisibilityShotCorrelation", 0.95, 2.375},
    {"StatisticalPersistence", 1.25, 3.125},
}};

std::string nouvel_identifiant() {
    // One generator for the process: it keeps its handle on the system source between signals. Shared
    // rather than one per thread: the analysis runs on pool threads, and the objects a thread owns are
    // not reliably destroyed in order when it ends on every platform.
    static std::mutex verrou;
    static boost::uuids::random_generator generateur;
    boost::uuids::uuid u;
    {
        std::lock_guard garde(verrou);
        u = generateur();
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string texte(32, '0');
    for (std::size_t i = 0; i < 16; ++i) {
        texte[2 * i] = kHex[u.data[i] >> 4];
        texte[2 * i + 1] = kHex[u.data[i] & 0x0F];
    }
    return texte;
}

int signe(double x) { return (x > 0.0) - (x < 0.0); }  // NaN gives 0

constexpr auto avant = [](const TrameTelemetrie& a, const TrameTelemetrie& b) { return a.timestampMs < b.timestampMs; };

AngularStep pas_entre(const TrameTelemetrie& a, const TrameTelemetrie& b, double vitesse_precedente) {
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
    return s;
}

struct Preparation {
    std::vector<AngularStep> pas;
    std::vector<VueTrame> vues;
    std::size_t tirs = 0;
    std::size_t touches = 0;
    std::size_t tetes = 0;
};

// The engine's one pass over the full records: steps, packed view and shot counts together. Gives up, returning
// false, at the first frame earlier than its predecessor: the caller then sorts and starts again.
bool preparer(std::span<const TrameTelemetrie> trames, Preparation& p) {
    p.pas.clear();
    p.vues.clear();
    p.tirs = p.touches = p.tetes = 0;
    p.pas.reserve(trames.size());
    p.vues.reserve(trames.size());
    double vitesse = 0.0;
    for (std::size_t i = 0; i < trames.size(); ++i) {
        const TrameTelemetrie& t = trames[i];
        if (i > 0) {
            if (t.timestampMs < trames[i - 1].timestampMs) {
                return false;
            }
            p.pas.push_back(pas_entre(trames[i - 1], t, vitesse));
            vitesse = p.pas.back().angularVelocityDegPerSec;
        }
        p.vues.push_back(VueTrame::de(t));
        p.tirs += t.shotFired ? 1 : 0;
        p.touches += t.hit ? 1 : 0;
        p.tetes += t.headshot ? 1 : 0;
    }
    return true;
}

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

}  // namespace

std::string_view category_name(SignalCategory c) {
    const auto i = static_cast<std::size_t>(c);
    return i < kNombreCategories ? kCategories[i].nom : std::string_view{};
}

double category_weight(SignalCategory c) {
    const auto i = static_cast<std::size_t>(c);
    return i < kNombreCategories ? kCategories[i].poids : 0.0;
}

double category_cap(SignalCategory c) {
    const auto i = static_cast<std::size_t>(c);
    return i < kNombreCategories ? kCategories[i].plafond : 0.0;
}

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
    double vitesse = 0.0;
    for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
        pas.push_back(pas_entre(frames[i], frames[i + 1], vitesse));
        vitesse = pas.back().angularVelocityDegPerSec;
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
            // A NaN strength (only a caller's extra signal can carry one) adds nothing rather than the whole cap.
            if (s.category == categorie && !std::isnan(s.strength)) {
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
    // Frames are read-only: ordered input is analysed in place, otherwise a stably sorted copy.
    std::vector<TrameTelemetrie> copie;
    std::span<const TrameTelemetrie> trames = frames;
    Preparation prep;
    if (!preparer(trames, prep)) {
        copie.assign(frames.begin(), frames.end());
        std::stable_sort(copie.begin(), copie.end(), avant);
        trames = copie;
        preparer(trames, prep);
    }

    std::vector<Signal> signaux;
    detect_all(trames, prep.vues, prep.pas, seuils, signaux);

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

    const std::size_t tirs = prep.tirs;
    const std::size_t touches = prep.touches;
    const std::size_t tetes = prep.tetes;
    std::bitset<256> categories;
    for (const Signal& s : signaux) {
        categories.set(static_cast<std::size_t>(s.category));
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
        {"distinctSignalCategories", d(categories.count())},
    };

    analyse.matchId = trames.front().matchId;
    analyse.playerId = trames.front().playerId;
    analyse.analyzedAt = commun::maintenant_utc();
    analyse.level = risk_level(analyse.score);
    analyse.signals = std::move(signaux);
    return analyse;
}

std::expected<MatchAnalysis, std::string> analyse_match(const EngineThresholds& seuils, const LotTrames& lot) {
    const std::vector<std::string> erreurs = erreurs_lot(lot);
    if (!erreurs.empty()) {
        std::string message;
        for (std::size_t i = 0; i < erreurs.size(); ++i) {
            if (i > 0) {
                message += '\n';
            }
            message += erreurs[i];
        }
        return std::unexpected(std::move(message));
    }
    return run_engine(seuils, lot.trames);
}

}  // namespace comportement
