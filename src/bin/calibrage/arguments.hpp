#pragma once
// The calibrage command line: parsing and dispatch to the three commands.
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "commun/fichier.hpp"

namespace calibrage {

// Four lines, no line feed after the last.
inline constexpr std::string_view texte_usage =
    "usage :\n"
    "  calibrage calibrer --cohorte \"<jeu / p\u00e9riph\u00e9rique / fps>\" [--sortie rapport.json] "
    "<fichier.jsonl>\u2026\n"
    "  calibrage controler [--rapport rapport.json] [--sortie controle.json] <fichier.jsonl>\u2026\n"
    "  calibrage convertir --sortie trames.jsonl <instantanes.jsonl>\u2026";

struct Arguments {
    std::string commande;
    std::optional<std::string> cohorte;
    std::optional<std::string> sortie;
    std::optional<std::string> rapport;
    // calibrer and controler: a partial result written there instead of the report (partiel.hpp).
    std::optional<std::string> partiel;
    std::vector<std::string> fichiers;  // in argument order, at least one
};

// Where the commands print: `sortie` for JSON results and "écrit : ", `erreurs`
// for every message.
struct Console {
    commun::SortieOctets& sortie;
    commun::SortieOctets& erreurs;
};

// `arguments` excludes the program name. The error is the full text to print
// (message, LF, usage text; or the usage text alone without a command).
std::expected<Arguments, std::string> analyser_arguments(std::span<const std::string> arguments);

// Parses, reads the telemetry inputs, runs one command. Returns the error text
// to print, if any.
std::expected<void, std::string> executer(std::span<const std::string> arguments, Console console);

// The whole program: prints an error followed by LF on `erreurs` and returns
// the exit status (0 or 1).
int programme(std::span<const std::string> arguments, Console console);

}  // namespace calibrage
