#pragma once
// Command line of the recording program: `vextrel <processus.exe> [secondes] [chemin.mkv]`.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace vextrel {

inline constexpr std::string_view texte_usage = "usage: vextrel <processus.exe> [secondes] [chemin.mkv]";
inline constexpr std::uint64_t secondes_par_defaut = 6;

struct Arguments {
    std::string processus;
    std::uint64_t secondes = secondes_par_defaut;
    std::string chemin;  // UTF-8 text
};

// "+" optional then ASCII digits, u64 without overflow; anything else is none.
std::optional<std::uint64_t> analyser_secondes(std::string_view texte);

// `arguments` excludes the program name; arguments beyond the third are ignored. None when
// `processus` is missing. `dossier_temporaire` is asked only when no path is given.
std::optional<Arguments> analyser_arguments(std::span<const std::string> arguments,
                                            const std::function<std::filesystem::path()>& dossier_temporaire);

// Path ↔ UTF-8 text (lossy for names that are not valid Unicode).
std::string texte_chemin(const std::filesystem::path& chemin);
std::filesystem::path chemin_texte(std::string_view texte);

// Debug notation of an optional text: None, or Some("…") with backslash, double quote and
// control characters escaped.
std::string notation_debug(const std::optional<std::string>& texte);

}  // namespace vextrel
