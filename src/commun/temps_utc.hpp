#pragma once
#include <chrono>
#include <string>

namespace commun {

// "2026-12-06T11:48:44Z": whole seconds, UTC, proleptic Gregorian; before the epoch gives the epoch.
std::string texte_utc(std::chrono::system_clock::time_point instant);
std::string maintenant_utc();

}  // namespace commun
