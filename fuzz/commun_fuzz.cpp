#include "commun_fuzz.hpp"

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <utility>

#include "commun/unicode.hpp"

namespace fuzz {

using comportement::TrameTelemetrie;

void echec(std::string_view oracle, std::string_view detail) {
    std::fprintf(stderr, "ORACLE : %.*s\n", static_cast<int>(oracle.size()), oracle.data());
    if (!detail.empty())
        std::fprintf(stderr, "  %.*s\n", static_cast<int>(std::min<std::size_t>(detail.size(), 2000)), detail.data());
    std::fflush(stderr);
    __builtin_trap();
}

Alea::Alea(std::string_view graine) : etat_(0xcbf29ce484222325ULL) {
    for (const char c : graine) etat_ = (etat_ ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;  // FNV-1a
}

std::uint64_t Alea::suivant() {  // splitmix64
    std::uint64_t z = (etat_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

std::vector<std::string_view> lignes_de(std::string_view texte) {
    std::vector<std::string_view> r;
    std::size_t d = 0;
    while (d < texte.size()) {
        const std::size_t f = texte.find('\n', d);
        if (f == std::string_view::npos) {
            r.push_back(texte.substr(d));
            break;
        }
        std::string_view l = texte.substr(d, f - d);
        if (l.ends_with('\r')) l.remove_suffix(1);
        r.push_back(l);
        d = f + 1;
    }
    return r;
}

SourceMorcelee::SourceMorcelee(std::string_view texte, Alea& alea, std::size_t erreur_apres)
    : texte_(texte), alea_(alea), limite_(std::min(erreur_apres, texte.size())) {}

std::expected<std::size_t, std::string> SourceMorcelee::lire(std::span<char> tampon) {
    if (position_ == limite_ && limite_ < texte_.size()) return std::unexpected("lecture interrompue");
    const std::size_t piece = 1 + alea_.jusqua(alea_.jusqua(2) ? 4 : 9000);
    const std::size_t n = std::min({tampon.size(), limite_ - position_, piece});
    std::memcpy(tampon.data(), texte_.data() + position_, n);
    position_ += n;
    return n;
}

const std::string& dossier() {
    static const std::string d = [] {
        // fuzz/lancer.sh gives a folder it removes afterwards, even when a target dies.
        const char* parent = std::getenv("FUZZ_DOSSIER");
        std::string modele = parent != nullptr && *parent != '\0'        ? parent
                             : std::filesystem::is_directory("/dev/shm") ? "/dev/shm"
                                                                         : "/tmp";
        modele += "/fuzz-XXXXXX";
        if (mkdtemp(modele.data()) == nullptr) echec("mkdtemp", modele);
        return modele;
    }();
    static const bool nettoyage = std::atexit([] {
                                      std::error_code ec;
                                      std::filesystem::remove_all(dossier(), ec);
                                  }) == 0;
    (void)nettoyage;
    return d;
}

std::string ecrire_fichier(std::string_view nom, std::string_view octets) {
    std::string chemin = dossier() + "/" + std::string(nom);
    std::FILE* f = std::fopen(chemin.c_str(), "wb");
    if (f == nullptr || std::fwrite(octets.data(), 1, octets.size(), f) != octets.size() || std::fclose(f) != 0) {
        echec("cannot write an input file", chemin);
    }
    return chemin;
}

bool memes(const TrameTelemetrie& a, const TrameTelemetrie& b) {
    const auto d = [](double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    return a.matchId == b.matchId && a.playerId == b.playerId && a.timestampMs == b.timestampMs &&
           d(a.yawDeg, b.yawDeg) && d(a.pitchDeg, b.pitchDeg) && a.mouseDx == b.mouseDx && a.mouseDy == b.mouseDy &&
           a.targetId == b.targetId && a.targetVisible == b.targetVisible && a.targetOccluded == b.targetOccluded &&
           d(a.targetAngularErrorDeg, b.targetAngularErrorDeg) &&
           d(a.occludedTargetAngularErrorDeg, b.occludedTargetAngularErrorDeg) &&
           d(a.targetAngularSpeedDegPerSec, b.targetAngularSpeedDegPerSec) && a.shotFired == b.shotFired &&
           a.hit == b.hit && a.headshot == b.headshot && a.weaponId == b.weaponId &&
           a.acquisitionMode == b.acquisitionMode && d(a.acquisitionConfidence, b.acquisitionConfidence);
}

bool memes_lots(std::span<const comportement::LotTrames> a, std::span<const comportement::LotTrames> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].matchId != b[i].matchId || a[i].playerId != b[i].playerId) return false;
        if (a[i].trames.size() != b[i].trames.size()) return false;
        for (std::size_t k = 0; k < a[i].trames.size(); ++k) {
            if (!memes(a[i].trames[k], b[i].trames[k])) return false;
        }
    }
    return true;
}

bool finie(const TrameTelemetrie& t) {
    for (double v : {t.yawDeg, t.pitchDeg, t.targetAngularErrorDeg, t.occludedTargetAngularErrorDeg,
                     t.targetAngularSpeedDegPerSec, t.acquisitionConfidence}) {
        if (!std::isfinite(v)) return false;
    }
    return true;
}

std::vector<comportement::LotTrames> grouper(std::vector<TrameTelemetrie> trames) {
    std::map<std::pair<std::string, std::string>, std::vector<TrameTelemetrie>> groupes;
    for (TrameTelemetrie& t : trames) groupes[{t.matchId, t.playerId}].push_back(std::move(t));
    std::vector<comportement::LotTrames> lots;
    for (auto& [cle, g] : groupes) {
        std::stable_sort(g.begin(), g.end(), [](const TrameTelemetrie& a, const TrameTelemetrie& b) {
            return a.timestampMs < b.timestampMs;
        });
        lots.push_back({cle.first, cle.second, std::move(g)});
    }
    return lots;
}

void verifier_erreur(std::string_view texte, std::string_view erreur, std::string_view prefixe_utf8,
                     const std::function<std::expected<void, std::string>(std::string_view)>& seule) {
    const std::string utf8 = std::string(prefixe_utf8) + "UTF-8 invalide à la ligne ";
    const bool lecture = erreur.starts_with(utf8);
    std::string_view reste = erreur.substr(lecture ? utf8.size() : 0);
    if (!lecture) {
        if (!reste.starts_with("ligne ")) echec("error neither UTF-8 nor \"ligne N : \"", erreur);
        reste.remove_prefix(6);
    }
    std::size_t n = 0;
    std::size_t chiffres = 0;
    while (chiffres < reste.size() && reste[chiffres] >= '0' && reste[chiffres] <= '9' && chiffres < 18) {
        n = n * 10 + static_cast<std::size_t>(reste[chiffres] - '0');
        ++chiffres;
    }
    if (chiffres == 0 || reste[0] == '0') echec("error without line number", erreur);
    reste.remove_prefix(chiffres);
    if (lecture ? !reste.empty() : !reste.starts_with(" : ")) echec("error format", erreur);
    const auto lignes = lignes_de(texte);
    if (n > lignes.size()) echec("error line number past the end", erreur);
    for (std::size_t i = 0; i + 1 < n; ++i) {
        if (!commun::est_utf8_valide(lignes[i])) echec("error after an earlier invalid line", erreur);
        if (commun::est_blanc_unicode(lignes[i])) continue;
        if (auto r = seule(lignes[i]); !r) {
            echec("error after an earlier line refused alone",
                  std::string(erreur) + " / ligne " + std::to_string(i + 1) + " : " + r.error());
        }
    }
    const std::string_view ligne = lignes[n - 1];
    if (lecture) {
        if (commun::est_utf8_valide(ligne)) echec("UTF-8 error on a valid line", erreur);
        return;
    }
    if (!commun::est_utf8_valide(ligne)) echec("line error on invalid UTF-8", erreur);
    auto r = seule(ligne);
    if (r) echec("the line in error is accepted alone", erreur);
    if (r.error() != reste.substr(3))
        echec("message differs from the lone line's", std::string(erreur) + " / " + r.error());
}

}  // namespace fuzz
