#include "commun/lignes.hpp"

#include <cstring>

#include "commun/unicode.hpp"

namespace commun {

std::expected<std::optional<std::string_view>, std::string> LecteurLignes::rendre(std::string_view ligne) {
    ++numero_;
    if (!est_utf8_valide(ligne)) {
        return std::unexpected("UTF-8 invalide à la ligne " + std::to_string(numero_));
    }
    return ligne;
}

std::expected<std::optional<std::string_view>, std::string> LecteurLignes::rendre_morcelee() {
    if (ligne_.ends_with('\r')) ligne_.pop_back();
    return rendre(ligne_);
}

std::expected<std::optional<std::string_view>, std::string> LecteurLignes::suivante() {
    ligne_.clear();
    bool morcelee = false;
    for (;;) {
        if (debut_ < fin_) {
            const char* d = tampon_.data() + debut_;
            const auto* lf = static_cast<const char*>(std::memchr(d, '\n', fin_ - debut_));
            if (lf != nullptr) {
                const auto n = static_cast<std::size_t>(lf - d);
                debut_ += n + 1;
                if (morcelee) {
                    ligne_.append(d, n);
                    return rendre_morcelee();
                }
                std::string_view ligne(d, n);
                if (ligne.ends_with('\r')) ligne.remove_suffix(1);
                return rendre(ligne);
            }
            ligne_.append(d, fin_ - debut_);
            morcelee = true;
            debut_ = fin_ = 0;
        }
        if (epuise_) {
            // The last line keeps a CR that no LF follows.
            if (morcelee) return rendre(ligne_);
            return std::optional<std::string_view>{};
        }
        auto n = source_.lire(tampon_);
        if (!n) return std::unexpected(n.error());
        debut_ = 0;
        fin_ = *n;
        epuise_ = *n == 0;
    }
}

}  // namespace commun
