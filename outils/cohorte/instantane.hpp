#pragma once
// World snapshots as seen by the local player: the records the converter reads, their
// JSON Lines form (which only the generator writes), and the frame the converter makes of each.
#include <optional>
#include <string>

#include "comportement/conversion.hpp"

namespace cohorte {

using comportement::Instantane;
using comportement::JoueurInstantane;
using comportement::Vec3;

// Appends the snapshot as one compact JSON line, keys in record order, LF included.
void ajouter_instantane(std::string& sortie, const Instantane& s);

// The frame `calibrage convertir` writes for the next snapshot of one local player, whose
// state is `etat`; nothing when the snapshot does not move time forward (the converter drops it).
std::optional<comportement::TrameTelemetrie> trame_suivante(const Instantane& s, comportement::EtatConversion& etat);

}  // namespace cohorte
