#pragma once
// World snapshots as seen by the local player: the records the converter reads, and
// their JSON Lines form, which only the generator writes.
#include <string>

#include "comportement/conversion.hpp"

namespace cohorte {

using comportement::Instantane;
using comportement::JoueurInstantane;
using comportement::Vec3;

// Appends the snapshot as one compact JSON line, keys in record order, LF included.
void ajouter_instantane(std::string& sortie, const Instantane& s);

}  // namespace cohorte
