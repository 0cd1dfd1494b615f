#pragma once
// Calibration of one cohort: raw metric samples gathered over clean matches, their percentile
// distributions, the five threshold candidates derived from them, and the report that carries both.
#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "comportement/mod.hpp"
#include "comportement/telemetrie.hpp"
#include "comportement/traitement_fichiers.hpp"

namespace comportement {

// The four metrics, in report order.
inline constexpr std::array<std::string_view, 4> kMetriques = {
    "visibleAngularVelocityDegPerSec",
    "absAngularAccelerationDegPerSec2",
    "visibilityToActionReactionMs",
    "movingVisibleTargetErrorDeg",
};

// Same fixed values as the engine's defaults, so calibration measures what the detectors threshold.
inline constexpr double kVitesseCibleMobileDegParSec = 18.0;
inline constexpr std::int64_t kFenetreReactionMs = 500;

inline constexpr std::string_view kAvertissementRapport =
    "Candidates only. Re-run per game/input/FPS/skill cohort and validate false-positive rates before "
    "enforcement.";

// One growing list per metric, accumulated in match order.
struct EchantillonsMetriques {
    std::vector<double> visibleAngularVelocityDegPerSec;
    std::vector<double> absAngularAccelerationDegPerSec2;
    std::vector<double> visibilityToActionReactionMs;
    std::vector<double> movingVisibleTargetErrorDeg;
};

// Appends the samples of one match whose batch passed validation. The frames need not be in time
// order: a time-sorted copy is used when they are not.
void collecter_echantillons(std::span<const TrameTelemetrie> trames, EchantillonsMetriques& echantillons);

// Linear interpolation between order statistics of the finite samples; 0 when there is none.
// `echantillons` is left as it is.
double percentile(std::span<const double> echantillons, double q);

// The same on samples already finite and sorted ascending.
double percentile_trie(std::span<const double> tries, double q);

struct Distribution {
    std::string metrique;
    std::uint64_t echantillons = 0;  // before non-finite values are dropped
    double p001 = 0.0;
    double p01 = 0.0;
    double p05 = 0.0;
    double p50 = 0.0;
    double p95 = 0.0;
    double p99 = 0.0;
    double p999 = 0.0;
};

Distribution construire_distribution(std::string_view metrique, std::span<const double> echantillons);

struct Recommandations {
    double snapVitesseDegS = 1.0;
    double snapAccelMinDegS2 = 1.0;
    std::int64_t reactionTresRapideMs = 1;
    std::int64_t reactionSuspecteMs = 1;
    double suiviExcellentErreurDeg = 0.01;
};

struct RapportCalibration {
    std::string genereLe;
    std::uint64_t matchs = 0;
    std::uint64_t trames = 0;
    std::string cohorte;
    std::vector<Distribution> distributions;
    Recommandations recommandations;
    std::string avertissement;
};

// What one batch brings to a calibration: its refusal, or its samples and its number of frames.
struct ResultatLotCalibration {
    std::optional<std::string> refus;  // "lot de calibration invalide <matchId> : <errors joined by "; ">"
    EchantillonsMetriques echantillons;
    std::uint64_t trames = 0;
};

// valider_lot, then collecter_echantillons when the batch is valid.
ResultatLotCalibration calibrer_lot(const LotTrames& lot);
// The same on a compact batch, expanded in `atelier` only when it is valid.
ResultatLotCalibration calibrer_lot(const LotCompact& lot, Atelier& atelier);

// A calibration in progress, fed batch by batch in batch order: the first refusal ends it, and the
// batches after it are ignored. It holds everything the report is built from, so two of them made
// from consecutive runs of batches add up to the one made from all of them; written out, it is a
// partial result (partiel.hpp).
struct AccumulateurCalibration {
    std::uint64_t matchs = 0;            // valid batches before the refusal
    std::uint64_t trames = 0;            // their frames
    std::optional<std::string> refus;    // the first refusal
    EchantillonsMetriques echantillons;  // their samples, in batch order
    std::vector<std::string> sources;    // the telemetry files it was made from, when it was made from files

    void ajouter(ResultatLotCalibration&& lot);
    // The batches of `suite` follow those already added.
    void ajouter(AccumulateurCalibration&& suite);
};

// The report of a finished calibration. Errors: its refusal, or "au moins un match propre est requis"
// when no batch was added.
std::expected<RapportCalibration, std::string> rapport_calibration(AccumulateurCalibration&& calibration,
                                                                   std::string_view cohorte);

// Every batch through one AccumulateurCalibration. Errors: "au moins un match propre est requis", or the
// first invalid batch's "lot de calibration invalide <matchId> : <errors joined by "; ">".
std::expected<RapportCalibration, std::string> calibrer_lots(std::span<const LotTrames> lots, std::string_view cohorte);

// The batches of the files, read by traiter_fichiers, through one AccumulateurCalibration in the order
// calibrer_lots takes them; a calibration partial among the files counts as the batches it was made from,
// in its place. Errors: the reading's (a partial's faults included).
std::expected<AccumulateurCalibration, std::string> calibrer_fichiers(std::span<const std::string> chemins,
                                                                      const ReglagesLecture& reglages);

// Thin-data warnings, in the order the user should read them; empty when the data is sufficient.
std::vector<std::string> avertissements_calibration(const RapportCalibration& rapport);

// The engine's defaults with the five recommended fields replaced.
EngineThresholds seuils_depuis_rapport(const RapportCalibration& rapport);

// Milliseconds from a reaction percentile: nearest integer (halves away from zero), saturating,
// NaN as 0, then at least 1.
std::int64_t arrondir_reaction_ms(double ms);

// Two-space pretty JSON, keys in report order, no trailing line feed.
std::string rapport_calibration_json(const RapportCalibration& rapport);

// A report read back: every key required and given once, typed; unknown keys ignored. The error is the
// JSON reader's message.
std::expected<RapportCalibration, std::string> rapport_calibration_depuis_json(std::string_view texte);

}  // namespace comportement
