#pragma once
// Line-by-line reading of a JSON Lines input through an 8 KiB buffer. A line
// ends at LF, a CR just before the LF goes with it, the last line needs no LF.
// Every line must be UTF-8; an invalid one is a read error.
#include <array>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "commun/fichier.hpp"

namespace commun {

class LecteurLignes {
public:
    explicit LecteurLignes(SourceOctets& source) : source_(source) {}

    // The next line (valid until the next call), or nothing at the end.
    std::expected<std::optional<std::string_view>, std::string> suivante();
    // 1-based number of the line last returned; every line counts.
    std::size_t numero() const { return numero_; }

private:
    std::expected<std::optional<std::string_view>, std::string> rendre(std::string_view ligne);
    std::expected<std::optional<std::string_view>, std::string> rendre_morcelee();

    SourceOctets& source_;
    std::array<char, 8192> tampon_{};
    std::size_t debut_ = 0;
    std::size_t fin_ = 0;
    bool epuise_ = false;
    std::string ligne_;  // a line spread over several reads
    std::size_t numero_ = 0;
};

}  // namespace commun
