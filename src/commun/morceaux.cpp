#include "commun/morceaux.hpp"

#include <algorithm>
#include <cstring>

namespace commun {

void Tampon::reserver(std::size_t capacite) {
    if (capacite <= capacite_) return;
    auto nouveaux = std::make_unique_for_overwrite<char[]>(capacite);
    if (taille_ > 0) std::memcpy(nouveaux.get(), octets_.get(), taille_);
    octets_ = std::move(nouveaux);
    capacite_ = capacite;
}

void Tampon::redimensionner(std::size_t taille) {
    if (taille > capacite_) reserver(std::max(taille, capacite_ * 2));
    taille_ = taille;
}

void Tampon::ajouter(std::string_view octets) {
    if (octets.empty()) return;
    const std::size_t avant = taille_;
    redimensionner(taille_ + octets.size());
    std::memcpy(octets_.get() + avant, octets.data(), octets.size());
}

void Tampon::liberer() {
    octets_.reset();
    taille_ = capacite_ = 0;
}

Decoupeur::Decoupeur(SourceOctets& source, std::size_t taille, std::size_t lignes_max)
    : source_(source), taille_(std::max<std::size_t>(taille, 1)), lignes_max_(std::max<std::size_t>(lignes_max, 1)) {}

std::expected<bool, std::string> Decoupeur::suivant(Tampon& m) {
    m.vider();
    m.ajouter(reste_.vue());
    reste_.vider();
    std::size_t cible = taille_;
    for (;;) {
        while (!fin_ && !erreur_ && m.size() < cible) {
            const std::size_t avant = m.size();
            m.reserver(cible);
            m.redimensionner(cible);
            auto n = source_.lire(std::span<char>(m.data() + avant, cible - avant));
            if (!n) {
                erreur_ = std::move(n.error());
                m.redimensionner(avant);
            } else {
                m.redimensionner(avant + *n);
                lus_ += *n;
                fin_ = *n == 0;
            }
        }
        if (m.size() == 0) {
            if (erreur_) return std::unexpected(*erreur_);
            return false;
        }
        // The LFs up to the line limit, found with memchr: lines are long, and this runs on one thread
        // for the whole input.
        const char* debut = m.data();
        const char* fin = debut + m.size();
        const char* p = debut;
        std::size_t lf = 0;
        while (lf < lignes_max_) {
            const auto* q = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(fin - p)));
            if (q == nullptr) break;
            p = q + 1;
            ++lf;
        }
        if (lf == 0) {
            if (fin_) return true;  // the last line, without LF
            if (erreur_) {
                m.vider();  // an incomplete line, cut short by the error
                continue;
            }
            cible = m.size() * 2;  // a line longer than a chunk
            continue;
        }
        if (fin_ && p != fin && lf < lignes_max_) return true;  // with the last line, which has no LF
        const auto coupe = static_cast<std::size_t>(p - debut);
        reste_.ajouter(std::string_view(debut + coupe, m.size() - coupe));
        m.redimensionner(coupe);
        return true;
    }
}

}  // namespace commun
