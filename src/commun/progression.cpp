#include "commun/progression.hpp"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace commun {

namespace {

using namespace std::chrono_literals;

constexpr auto premier_dessin = 500ms;
constexpr auto intervalle = 250ms;

// One decimal, with the decimal comma.
std::string decimale(double valeur) {
    std::string texte = fmt::format("{:.1f}", valeur);
    std::replace(texte.begin(), texte.end(), '.', ',');
    return texte;
}

std::string quantite(std::uint64_t octets) {
    if (octets < 10'000'000'000ULL) return fmt::format("{} Mo", octets / 1'000'000);
    return decimale(static_cast<double>(octets) / 1e9) + " Go";
}

std::string duree(double secondes) {
    const auto s = static_cast<std::uint64_t>(std::round(secondes));
    if (s < 60) return fmt::format("{} s", s);
    if (s < 3600) return fmt::format("{} min {:02} s", s / 60, s % 60);
    return fmt::format("{} h {:02} min", s / 3600, s % 3600 / 60);
}

}  // namespace

bool est_terminal(std::FILE* flux) {
#ifdef _WIN32
    const auto poignee = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(flux)));
    DWORD mode = 0;
    return poignee != INVALID_HANDLE_VALUE && GetConsoleMode(poignee, &mode) != 0;
#else
    return isatty(fileno(flux)) != 0;
#endif
}

std::string texte_progression(std::uint64_t lus, std::uint64_t total, double secondes) {
    std::string texte = "lu " + quantite(lus);
    if (total > 0) {
        const std::uint64_t pourcent =
            lus >= total ? 100
                         : static_cast<std::uint64_t>(static_cast<double>(lus) * 100 / static_cast<double>(total));
        texte += fmt::format(" sur {} ({} %)", quantite(total), pourcent);
    }
    if (secondes <= 0) return texte;
    const double debit = static_cast<double>(lus) / secondes;
    texte += ", " + (debit < 10e6 ? decimale(debit / 1e6) : fmt::format("{:.0f}", debit / 1e6)) + " Mo/s";
    if (total > lus && debit > 0) {
        texte += ", reste " + duree(static_cast<double>(total - lus) / debit);
    }
    return texte;
}

Progression::Progression(SortieOctets& erreurs, std::uint64_t total_octets, bool actif)
    : erreurs_(erreurs), total_(total_octets), debut_(std::chrono::steady_clock::now()) {
    if (actif) fil_ = std::thread(&Progression::boucle, this);
}

Progression::~Progression() { terminer(); }

void Progression::boucle() {
    std::unique_lock verrou(mutex_);
    auto prochain = debut_ + premier_dessin;
    while (!reveil_.wait_until(verrou, prochain, [this] { return arret_; })) {
        dessiner();
        prochain = std::chrono::steady_clock::now() + intervalle;
    }
}

void Progression::dessiner() {
    const std::chrono::duration<double> ecoule = std::chrono::steady_clock::now() - debut_;
    const std::string ligne = texte_progression(lus_.load(std::memory_order_relaxed), total_, ecoule.count());
    std::string texte = "\r" + ligne;
    // Cover what a longer line before left on screen.
    if (ligne.size() < largeur_) texte.append(largeur_ - ligne.size(), ' ');
    largeur_ = std::max(largeur_, ligne.size());
    (void)erreurs_.ecrire(texte);
}

void Progression::terminer() {
    if (!fil_.joinable()) return;
    {
        std::lock_guard verrou(mutex_);
        arret_ = true;
    }
    reveil_.notify_all();
    fil_.join();
    if (largeur_ > 0) {
        std::string effacement(largeur_ + 2, ' ');
        effacement.front() = effacement.back() = '\r';
        (void)erreurs_.ecrire(effacement);
        largeur_ = 0;
    }
}

}  // namespace commun
