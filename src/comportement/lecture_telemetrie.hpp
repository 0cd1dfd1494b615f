#pragma once
// Telemetry frames from JSON: one frame per JSON Lines line, grouped per
// (matchId, playerId).
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "commun/entree.hpp"
#include "commun/fichier.hpp"
#include "commun/json_lecture.hpp"
#include "comportement/telemetrie.hpp"

namespace comportement {

// One frame from one JSON document; the error is the JSON reader's message.
std::expected<TrameTelemetrie, std::string> trame_depuis_json(std::string_view texte);

// The batches of one JSON Lines stream, ordered bytewise by (matchId,
// playerId), each sorted by timestampMs (stable). Errors: "replay illisible : "
// + description for read and UTF-8 failures, "ligne N : " + message for a line
// that is not a frame. The first error abandons the whole stream.
std::expected<std::vector<LotTrames>, std::string> lire_lots(commun::SourceOctets& source);

// A telemetry file opened for reading, as its text whether it is compressed or not; the error is the
// system's description or the compression's.
std::expected<std::unique_ptr<commun::Entree>, std::string> ouvrir_telemetrie(const std::string& chemin);

// lire_lots on a file.
std::expected<std::vector<LotTrames>, std::string> lire_replay(const std::string& chemin);

}  // namespace comportement
