#pragma once
// What calibrer and controler share: where their JSON result goes.
#include <expected>
#include <string>
#include <string_view>

#include "bin/calibrage/arguments.hpp"

namespace calibrage {

// Without --sortie: the JSON and LF on the standard output. With it: exactly the JSON in the file
// (created or truncated), then "écrit : " + path on the standard output.
std::expected<void, std::string> emettre_json(const Arguments& arguments, std::string_view json, Console console);

// A message line on the standard error; a failure to show it is not worth stopping for.
void message(Console console, std::string_view texte);

}  // namespace calibrage
