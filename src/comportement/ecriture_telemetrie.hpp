#pragma once
// Telemetry frames to JSON Lines.
#include <expected>
#include <string>

#include "commun/fichier.hpp"
#include "comportement/telemetrie.hpp"

namespace comportement {

// Appends the compact JSON object of a frame: all 19 keys in their order,
// absent texts as null, non-finite floats as null. No line end.
void ajouter_trame_json(std::string& sortie, const TrameTelemetrie& trame);

// Writes the frame as one compact line ending with LF; a sink error is
// returned unchanged.
std::expected<void, std::string> ecrire_trame(commun::SortieOctets& sortie, const TrameTelemetrie& trame);

}  // namespace comportement
