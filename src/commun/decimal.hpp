#pragma once
// Unsigned decimal text as the command line and the diagnostic variables take it: an
// optional "+", then one or more ASCII digits, no overflow; nothing else.
#include <charconv>
#include <concepts>
#include <optional>
#include <string_view>

namespace commun {

template <std::unsigned_integral T>
std::optional<T> analyser_decimal(std::string_view texte) {
    if (!texte.empty() && texte.front() == '+') {
        texte.remove_prefix(1);
    }
    if (texte.empty()) {
        return std::nullopt;
    }
    for (const char c : texte) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
    }
    T valeur = 0;
    const auto [fin, code] = std::from_chars(texte.data(), texte.data() + texte.size(), valeur);
    if (code != std::errc{} || fin != texte.data() + texte.size()) {
        return std::nullopt;
    }
    return valeur;
}

}  // namespace commun
