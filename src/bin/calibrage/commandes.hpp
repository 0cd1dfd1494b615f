#pragma once
// The bodies of the three commands. Each returns the error text to print, if any.
#include <expected>
#include <string>
#include <vector>

#include "bin/calibrage/arguments.hpp"
#include "comportement/telemetrie.hpp"

namespace calibrage {

std::expected<void, std::string> calibrer(const Arguments& arguments, const std::vector<comportement::LotTrames>& lots,
                                          Console console);
std::expected<void, std::string> controler(const Arguments& arguments,
                                           const std::vector<comportement::LotTrames>& lots, Console console);
std::expected<void, std::string> convertir(const Arguments& arguments, Console console);

}  // namespace calibrage
