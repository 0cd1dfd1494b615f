#pragma once
// What calibrer and controler share: where their JSON result, or their partial result, goes.
#include <expected>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "bin/calibrage/arguments.hpp"
#include "commun/fichier.hpp"

namespace calibrage {

// Without --sortie: the JSON and LF on the standard output. With it: exactly the JSON in the file
// (created or truncated), then "écrit : " + path on the standard output. `sources`: the telemetry files
// the inputs stand for (partials replaced by theirs), which the file may not replace either.
std::expected<void, std::string> emettre_json(const Arguments& arguments, std::span<const std::string> sources,
                                              std::string_view json, Console console);

// --partiel: `ecrire` into that file, under a temporary name then renamed, then "écrit : " + path on the
// standard output. The same inputs are refused as for --sortie.
std::expected<void, std::string> emettre_partiel(
    const Arguments& arguments, std::span<const std::string> sources,
    const std::function<std::expected<void, std::string>(commun::SortieOctets&)>& ecrire, Console console);

// A message line on the standard error; a failure to show it is not worth stopping for.
void message(Console console, std::string_view texte);

}  // namespace calibrage
