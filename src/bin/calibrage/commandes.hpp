#pragma once
// The bodies of the three commands. Each returns the error text to print, if any.
#include <expected>
#include <string>
#include <vector>

#include "bin/calibrage/arguments.hpp"
#include "comportement/traitement_fichiers.hpp"

namespace calibrage {

// calibrer and controler read the input files themselves: their errors come first, in argument order.
std::expected<void, std::string> calibrer(const Arguments& arguments, const comportement::ReglagesLecture& reglages,
                                          Console console);
std::expected<void, std::string> controler(const Arguments& arguments, const comportement::ReglagesLecture& reglages,
                                           Console console);
std::expected<void, std::string> convertir(const Arguments& arguments, Console console);

}  // namespace calibrage
