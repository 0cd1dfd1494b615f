#pragma once
// Strict UTF-8 decoding and encoding: shortest forms only, no surrogates, nothing above
// U+10FFFF.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace commun::utf8 {

inline constexpr std::uint32_t remplacement = 0xFFFD;

// The code point starting at `i`, and `i` moved past it; none for an invalid sequence, of
// which one byte is then skipped.
inline std::optional<std::uint32_t> decoder(std::string_view s, std::size_t& i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        ++i;
        return c;
    }
    std::size_t n = 0;
    std::uint32_t point = 0;
    std::uint32_t minimum = 0;
    if ((c & 0xE0) == 0xC0) {
        n = 1, point = c & 0x1F, minimum = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 2, point = c & 0x0F, minimum = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 3, point = c & 0x07, minimum = 0x10000;
    } else {
        ++i;
        return std::nullopt;
    }
    if (i + n >= s.size()) {
        ++i;
        return std::nullopt;
    }
    for (std::size_t k = 1; k <= n; ++k) {
        const auto suite = static_cast<unsigned char>(s[i + k]);
        if ((suite & 0xC0) != 0x80) {
            ++i;
            return std::nullopt;
        }
        point = (point << 6) | (suite & 0x3F);
    }
    if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
        ++i;
        return std::nullopt;
    }
    i += n + 1;
    return point;
}

inline void ajouter(std::string& sortie, std::uint32_t point) {
    if (point < 0x80) {
        sortie.push_back(static_cast<char>(point));
    } else if (point < 0x800) {
        sortie.push_back(static_cast<char>(0xC0 | (point >> 6)));
        sortie.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else if (point < 0x10000) {
        sortie.push_back(static_cast<char>(0xE0 | (point >> 12)));
        sortie.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
        sortie.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else {
        sortie.push_back(static_cast<char>(0xF0 | (point >> 18)));
        sortie.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
        sortie.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
        sortie.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
}

}  // namespace commun::utf8
