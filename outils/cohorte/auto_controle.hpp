#pragma once
// Self-check of the generated matches: measures the behaviour in the converted frames
// (reactions, flick peaks, tracking error) and replays the detection rules and the
// calibration, so profiles can be compared without the real tools at hand.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "cohorte/conversion_locale.hpp"

namespace cohorte {

struct Seuils {
    double snapVitesse = 520.0;
    double snapErreur = 0.85;
    double snapFenetreMs = 180.0;
    double snapAccel = 3000.0;
    double microErreur = 2.5;
    double microPas = 0.9;
    std::int64_t microFenetreMs = 280;
    std::int64_t reactionTresRapideMs = 105;
    std::int64_t reactionSuspecteMs = 135;
    std::int64_t reactionFenetreMs = 500;
    double suiviExcellent = 0.65;
    double suiviVitesseMin = 18.0;
    std::int64_t suiviVisibleDureeMs = 350;
    double preAimErreur = 1.25;
    std::int64_t preAimTenueMs = 120;
    std::int64_t preAimRevelationMs = 325;
    double suiviOcculteErreur = 1.4;
    std::int64_t suiviOcculteDureeMs = 240;
    std::int64_t tirAvantMs = 160;
    std::int64_t tirApresMs = 90;
    std::size_t maxSignaux = 8;
    int microInversions = 3;
};

inline constexpr int kCategories = 7;
extern const char* const kNomsCategories[kCategories];

struct Echantillons {
    std::vector<double> vitesse;
    std::vector<double> acceleration;
    std::vector<double> reaction;
    std::vector<double> erreurSuivi;
};

void collecter(const std::vector<Trame>& trames, Echantillons& e);
// Percentile with linear interpolation between order statistics.
double percentile(std::vector<double> valeurs, double q);
// Five thresholds from clean samples, as the calibration proposes them.
Seuils calibrer(const Echantillons& e);

struct ResultatMatch {
    double score = 0.0;
    std::array<int, kCategories> signaux{};
};
ResultatMatch analyser(const std::vector<Trame>& trames, const Seuils& seuils);

// Behaviour figures of a set of matches of one profile.
struct Mesures {
    std::size_t matchs = 0;
    std::size_t trames = 0;
    std::size_t tirs = 0;
    std::size_t touches = 0;
    std::size_t tetes = 0;
    std::vector<double> reactions;
    std::vector<double> picsVisibles;  // peak speed of each fast movement ending on a visible target
    std::vector<double> erreursSuivi;  // moving visible target
    std::size_t tramesOcculteProche = 0;  // occluded target within 1.25 degrees
    std::size_t tramesOcculte = 0;

    void ajouter(const std::vector<Trame>& trames);
    std::string resume() const;
};

}  // namespace cohorte
