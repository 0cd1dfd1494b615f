#pragma once
// Behaviour figures of generated matches, measured in the frames the converter makes of
// them: what `--statistiques` and the self-check print beside the engine's verdicts, so
// profiles can be compared by eye. Reactions and tracking errors are the calibration's own
// samples; the rest (shots, flick peaks, aim on occluded opponents) only this tool reports.
#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "comportement/telemetrie.hpp"

namespace cohorte {

struct Mesures {
    std::size_t matchs = 0;
    std::size_t trames = 0;
    std::size_t tirs = 0;
    std::size_t touches = 0;
    std::size_t tetes = 0;
    std::vector<double> reactions;        // visibilityToActionReactionMs samples
    std::vector<double> picsVisibles;     // peak speed of each fast movement ending on a visible target
    std::vector<double> erreursSuivi;     // movingVisibleTargetErrorDeg samples
    std::size_t tramesOcculteProche = 0;  // occluded target within 1.25 degrees
    std::size_t tramesOcculte = 0;

    // The frames of one match, in time order.
    void ajouter(std::span<const comportement::TrameTelemetrie> trames);
    std::string resume() const;
};

}  // namespace cohorte
