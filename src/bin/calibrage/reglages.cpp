#include "bin/calibrage/reglages.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <limits>

#include "commun/entree.hpp"
#include "commun/fichier_temporaire.hpp"
#include "commun/systeme.hpp"

namespace calibrage {

namespace {

// More threads than this would only wait on each other.
constexpr std::uint64_t kFilsMax = 256;
constexpr std::uint64_t kMio = std::uint64_t{1} << 20;

// Unset: nothing; set: its value, or the error naming it.
std::expected<std::optional<std::uint64_t>, std::string> variable(const char* nom) {
    const char* valeur = std::getenv(nom);
    if (valeur == nullptr) return std::optional<std::uint64_t>();
    const auto n = entier_positif(valeur);
    if (!n) return std::unexpected(std::string(nom) + " : entier positif attendu");
    return n;
}

}  // namespace

std::optional<std::uint64_t> entier_positif(std::string_view texte) {
    if (texte.empty() || !std::all_of(texte.begin(), texte.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::uint64_t n = 0;
    const auto r = std::from_chars(texte.data(), texte.data() + texte.size(), n);
    if (r.ec != std::errc{} || n == 0) return std::nullopt;
    return n;
}

std::expected<comportement::ReglagesLecture, std::string> reglages_lecture() {
    auto fils = variable("CALIBRAGE_FILS");
    if (!fils) return std::unexpected(fils.error());
    auto memoire = variable("CALIBRAGE_MEMOIRE");
    if (!memoire) return std::unexpected(memoire.error());
    if (*memoire && **memoire > std::numeric_limits<std::uint64_t>::max() / kMio) {
        return std::unexpected(std::string("CALIBRAGE_MEMOIRE : entier positif attendu"));
    }

    comportement::ReglagesLecture r;
    r.fils = static_cast<std::size_t>(std::min(fils->value_or(commun::fils_disponibles()), kFilsMax));
    if (*memoire) {
        r.budget = **memoire * kMio;
    } else {
        const std::uint64_t physique = commun::memoire_physique();
        r.budget = physique != 0 ? physique / 2 : std::uint64_t{4} << 30;
    }
    // Chunks small enough for every thread to have a few in flight within the budget.
    const std::uint64_t par_morceau = r.budget / (8 * (2 * r.fils + 2));
    r.taille_morceau =
        static_cast<std::size_t>(std::clamp<std::uint64_t>(par_morceau, 16 << 10, comportement::kTailleMorceau));
    r.dossier_temporaire = commun::dossier_temporaire();
    return r;
}

std::uint64_t total_des_entrees(const Arguments& arguments) {
    std::uint64_t total = 0;
    for (const std::string& entree : arguments.fichiers) {
        const auto taille = commun::taille_fichier(entree);
        if (!taille) return 0;
        total += *taille;
    }
    return total;
}

LectureSuivie::LectureSuivie(const Arguments& arguments, const comportement::ReglagesLecture& reglages, Console console)
    : progression_(console.erreurs, total_des_entrees(arguments), commun::est_terminal(stderr)), reglages_(reglages) {
    reglages_.progression = [this](std::uint64_t octets) { progression_.avancer(octets); };
}

}  // namespace calibrage
