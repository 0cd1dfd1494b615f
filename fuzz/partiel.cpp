// The partial result reader (lire_partiel), alone and among the files of calibrer and controler. The input
// is a partial's bytes; a draw may set its length field and its CRC right first, so that changes reach the
// body's structure instead of stopping at the checksum. Oracles:
// - handed over in short reads, the same result as all at once; a read error drawn gives either the
//   reading's own refusal or "résultat partiel illisible : …"; with or without the size known, the same
//   acceptance;
// - a refusal is one of the documented texts, its figures those of the file; a fault of the body's
//   structure is told only when the CRC is right, "corrompu" only when it is wrong;
// - an accepted partial re-serialises to the same bytes;
// - read by calibrer_fichiers and controler_fichiers between telemetry files (twice, so that the room of a
//   partial still to come is counted too), it counts as read alone: the same refusal after its path, or
//   the telemetry's results with its own in its places.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <zlib.h>

#include "commun_fuzz.hpp"
#include "comportement/calibration.hpp"
#include "comportement/controle.hpp"
#include "comportement/ecriture_telemetrie.hpp"
#include "comportement/partiel.hpp"

using namespace comportement;

namespace {

constexpr std::size_t kEntete = 24;
constexpr std::size_t kMinimum = kEntete + 4;

std::uint32_t lire_u32(const char* p) {
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[k])) << (8 * k);
    return v;
}
std::uint64_t lire_u64(const char* p) {
    std::uint64_t v = 0;
    for (int k = 0; k < 8; ++k) v |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[k])) << (8 * k);
    return v;
}
void poser(char* p, std::uint64_t v, int octets) {
    for (int k = 0; k < octets; ++k) p[k] = static_cast<char>(static_cast<unsigned char>(v >> (8 * k)));
}
std::uint32_t crc(std::string_view o) {
    return static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(o.data()), static_cast<uInt>(o.size())));
}
// Whether the CRC stored at L - 4 is that of [0, L - 4), L the length the header states.
bool crc_juste(std::string_view o) {
    const std::uint64_t l = lire_u64(o.data() + 16);
    if (l < kMinimum || l > o.size()) return false;
    return lire_u32(o.data() + l - 4) == crc(o.substr(0, l - 4));
}

class SourceEntiere final : public commun::SourceOctets {
public:
    explicit SourceEntiere(std::string_view o) : o_(o) {}
    std::expected<std::size_t, std::string> lire(std::span<char> tampon) override {
        const std::size_t n = std::min(tampon.size(), o_.size());
        std::memcpy(tampon.data(), o_.data(), n);
        o_.remove_prefix(n);
        return n;
    }

private:
    std::string_view o_;
};

class SortieTexte final : public commun::SortieOctets {
public:
    std::expected<void, std::string> ecrire(std::string_view o) override {
        texte.append(o);
        return {};
    }
    std::string texte;
};

struct Lu {
    std::expected<void, std::string> r;
    std::vector<std::string> sources;
    AccumulateurCalibration calibration;
    AccumulateurControle controle;
    std::optional<EngineThresholds> seuils;
};

Lu lire(commun::SourceOctets& source, std::optional<std::uint64_t> taille,
        std::optional<CommandePartiel> commande = {}) {
    Lu lu;
    DestinationPartiel d;
    d.commande = commande;
    d.sources = &lu.sources;
    d.calibration = &lu.calibration;
    d.controle = &lu.controle;
    d.seuils = &lu.seuils;
    lu.r = lire_partiel(source, taille, d);
    return lu;
}

// An accepted partial written out again from what was read.
std::string reecrire(std::string_view octets, Lu& lu) {
    SortieTexte ecrit;
    std::expected<void, std::string> r;
    if (octets[12] == static_cast<char>(CommandePartiel::calibrer)) {
        lu.calibration.sources = lu.sources;
        r = ecrire_partiel_calibration(ecrit, lu.calibration);
    } else {
        lu.controle.sources = lu.sources;
        r = ecrire_partiel_controle(ecrit, lu.controle, lu.seuils);
    }
    if (!r) fuzz::echec("an accepted partial cannot be written", r.error());
    return std::move(ecrit.texte);
}

bool memes_doubles(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

bool memes(const AccumulateurCalibration& a, const AccumulateurCalibration& b) {
    const EchantillonsMetriques& x = a.echantillons;
    const EchantillonsMetriques& y = b.echantillons;
    return a.matchs == b.matchs && a.trames == b.trames && a.refus == b.refus && a.sources == b.sources &&
           memes_doubles(x.visibleAngularVelocityDegPerSec, y.visibleAngularVelocityDegPerSec) &&
           memes_doubles(x.absAngularAccelerationDegPerSec2, y.absAngularAccelerationDegPerSec2) &&
           memes_doubles(x.visibilityToActionReactionMs, y.visibilityToActionReactionMs) &&
           memes_doubles(x.movingVisibleTargetErrorDeg, y.movingVisibleTargetErrorDeg);
}

bool memes(const AccumulateurControle& a, const AccumulateurControle& b) {
    if (a.invalides != b.invalides || a.sources != b.sources || a.lignes.size() != b.lignes.size()) return false;
    for (std::size_t i = 0; i < a.lignes.size(); ++i) {
        const LigneControle& x = a.lignes[i];
        const LigneControle& y = b.lignes[i];
        if (x.matchId != y.matchId || x.joueurId != y.joueurId || !memes_doubles({x.score}, {y.score}) ||
            x.niveau != y.niveau || x.categories != y.categories) {
            return false;
        }
    }
    return true;
}

// The documented refusals; the figures of "tronqué" are the file's size and its header's length.
void verifier_refus(std::string_view o, const std::string& e) {
    static const std::regex kTextes(
        "pas un résultat partiel|résultat partiel de version [0-9]+ inconnue \\(ce programme lit la version 1\\)|"
        "résultat partiel d'une commande inconnue \\([0-9]+\\)|"
        "résultat partiel de (calibrer, pas de controler|controler, pas de calibrer)|"
        "résultat partiel tronqué \\(une longueur dépasse la fin annoncée\\)|"
        "résultat partiel corrompu \\(somme de contrôle CRC-32 fausse\\)|résultat partiel invalide \\(.+\\)|"
        "résultat partiel illisible : lecture interrompue");
    static const std::regex kTronque(
        "résultat partiel tronqué \\(([0-9]+) octets(, en-tête incomplet| sur ([0-9]+) annoncés)\\)");
    std::smatch m;
    if (std::regex_match(e, m, kTronque)) {
        if (std::stoull(m[1]) != o.size()) fuzz::echec("a truncation that does not give the file's size", e);
        if (m[3].matched ? std::stoull(m[3]) != lire_u64(o.data() + 16) : o.size() >= kMinimum) {
            fuzz::echec("a truncation with the wrong figures", e);
        }
        return;
    }
    if (!std::regex_match(e, kTextes)) fuzz::echec("an undocumented refusal", e);
    if ((e == "pas un résultat partiel") != (o.size() >= kMinimum && !est_partiel(o))) {
        fuzz::echec("the signature misjudged", e);
    }
    const bool structure = e.find("longueur dépasse") != std::string::npos ||
                           (e.starts_with("résultat partiel invalide") && lire_u64(o.data() + 16) == o.size());
    if (structure && !crc_juste(o)) fuzz::echec("a fault of the structure told before a wrong CRC", e);
    if (e.find("corrompu") != std::string::npos && crc_juste(o)) fuzz::echec("corrupted with a right CRC", e);
}

// A small valid match of one player: telemetry to put the partial between.
std::string telemetrie() {
    std::string t;
    for (int i = 0; i < 12; ++i) {
        TrameTelemetrie f;
        f.matchId = "m";
        f.playerId = "p";
        f.timestampMs = 1765000000000 + 16 * i;
        f.yawDeg = i < 4 ? 0.0 : 30.0 + 0.5 * i;
        f.targetId = "c";
        f.targetVisible = i >= 2;
        f.targetAngularErrorDeg = i < 4 ? 30.0 : 0.4;
        f.targetAngularSpeedDegPerSec = 20.0;
        f.shotFired = i == 6;
        ajouter_trame_json(t, f);
        t += '\n';
    }
    return t;
}

// Among the files [T, P, T, P], through the commands' own path.
void verifier_parmi(const std::string& octets, fuzz::Alea& alea) {
    static const std::string t = fuzz::ecrire_fichier("t.jsonl", telemetrie());
    const std::string p = fuzz::ecrire_fichier("p.partiel", octets);
    const std::vector<std::string> chemins = {t, p, t, p};
    static constexpr std::size_t kTailles[] = {64, 4096, kTailleMorceau};
    ReglagesLecture r;
    r.fils = 1 + alea.jusqua(3);
    r.taille_morceau = kTailles[alea.jusqua(std::size(kTailles))];
    r.dossier_temporaire = fuzz::dossier();
    const std::string reglages = "fils " + std::to_string(r.fils) + ", morceau " + std::to_string(r.taille_morceau);
    // What both commands record as their sources: each partial's in its place (partials are read the
    // same way by both, the sources come first).
    std::vector<std::string> sources;
    {
        SourceEntiere s(octets);
        const Lu lu = lire(s, octets.size());
        for (int k = 0; k < 2; ++k) {
            sources.push_back(t);
            sources.insert(sources.end(), lu.sources.begin(), lu.sources.end());
        }
    }

    {
        static const auto seule = calibrer_fichiers({&t, 1}, ReglagesLecture{});
        if (!seule || seule->refus) fuzz::echec("the telemetry file is not a valid match");
        SourceEntiere s(octets);
        Lu lu = lire(s, octets.size(), CommandePartiel::calibrer);
        const auto fusion = calibrer_fichiers(chemins, r);
        if (!lu.r) {
            if (fusion) fuzz::echec("calibrer accepts a partial refused alone", reglages + " / " + lu.r.error());
            if (fusion.error() != p + " : " + lu.r.error())
                fuzz::echec("calibrer refuses it otherwise", reglages + " / " + fusion.error());
        } else {
            if (!fusion) fuzz::echec("calibrer refuses a partial accepted alone", reglages + " / " + fusion.error());
            lu.calibration.sources = lu.sources;
            AccumulateurCalibration attendu;
            for (int k = 0; k < 2; ++k) {
                attendu.ajouter(AccumulateurCalibration(*seule));
                attendu.ajouter(AccumulateurCalibration(lu.calibration));
            }
            attendu.sources = sources;
            if (!memes(*fusion, attendu)) fuzz::echec("calibrer's merge differs from the partial read alone", reglages);
        }
    }
    {
        static const auto seule = controler_fichiers({&t, 1}, EngineThresholds{}, ReglagesLecture{});
        if (!seule || seule->lignes.size() != 1) fuzz::echec("the telemetry file is not a valid match");
        SourceEntiere s(octets);
        Lu lu = lire(s, octets.size(), CommandePartiel::controler);
        const auto fusion = controler_fichiers(chemins, EngineThresholds{}, r);
        std::optional<std::string> erreur;
        if (!lu.r) {
            erreur = lu.r.error();
        } else if (!lu.seuils) {
            erreur = "résultat partiel calculé sans seuils (--rapport illisible)";
        } else if (!memes_seuils_partiel(*lu.seuils, EngineThresholds{})) {
            erreur = "résultat partiel calculé avec d'autres seuils";
        }
        if (erreur) {
            if (fusion) fuzz::echec("controler accepts a partial it must refuse", reglages + " / " + *erreur);
            if (fusion.error() != p + " : " + *erreur)
                fuzz::echec("controler refuses it otherwise", reglages + " / " + fusion.error());
        } else {
            if (!fusion) fuzz::echec("controler refuses a partial accepted alone", reglages + " / " + fusion.error());
            lu.controle.sources = lu.sources;
            AccumulateurControle attendu;
            for (int k = 0; k < 2; ++k) {
                attendu.ajouter(AccumulateurControle(*seule));
                attendu.ajouter(AccumulateurControle(lu.controle));
            }
            attendu.sources = sources;
            if (!memes(*fusion, attendu))
                fuzz::echec("controler's merge differs from the partial read alone", reglages);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* donnees, std::size_t taille) {
    std::string octets(reinterpret_cast<const char*>(donnees), taille);
    fuzz::Alea alea(octets);
    // 0: as given; 1: the CRC set right; 2: the length field too.
    const std::size_t remise = alea.jusqua(3);
    if (remise > 0 && octets.size() >= kMinimum) {
        if (remise == 2) poser(octets.data() + 16, octets.size(), 8);
        const std::uint64_t l = lire_u64(octets.data() + 16);
        if (l >= kMinimum && l <= octets.size())
            poser(octets.data() + l - 4, crc(std::string_view(octets).substr(0, l - 4)), 4);
    }

    SourceEntiere entiere(octets);
    Lu lu = lire(entiere, octets.size());
    if (!lu.r) verifier_refus(octets, lu.r.error());

    fuzz::SourceMorcelee morcelee(octets, alea);
    const Lu court = lire(morcelee, octets.size());
    if (court.r != lu.r) fuzz::echec("short reads give another result", court.r ? "accepté" : court.r.error());

    fuzz::SourceMorcelee sans_taille_source(octets, alea);
    const Lu sans_taille = lire(sans_taille_source, std::nullopt);
    if (sans_taille.r.has_value() != lu.r.has_value()) {
        fuzz::echec("the size known or not changes the acceptance", sans_taille.r ? "accepté" : sans_taille.r.error());
    }
    if (!sans_taille.r) verifier_refus(octets, sans_taille.r.error());

    if (!octets.empty()) {
        const std::size_t coupure = alea.jusqua(octets.size());
        fuzz::SourceMorcelee interrompue(octets, alea, coupure);
        const Lu i = lire(interrompue, octets.size());
        if (i.r) fuzz::echec("accepted with a read error", std::to_string(coupure));
        if (i.r.error() != "résultat partiel illisible : lecture interrompue" && i.r != lu.r) {
            fuzz::echec("a read error gives another refusal", i.r.error());
        }
    }

    if (lu.r) {
        const std::string ecrit = reecrire(octets, lu);
        if (ecrit != octets) {
            // What the format fixes at 0 beside a flag (the counts and samples of a refused calibration, the
            // five thresholds of a control run without them) is read and dropped: an older calibrage wrote a
            // refused calibration's counts and samples. Anything else must come back byte for byte, and the
            // rewritten form must be its own rewriting and mean the same.
            const bool tolere = lu.calibration.refus.has_value() || (octets[12] == 2 && !lu.seuils);
            if (!tolere) fuzz::echec("an accepted partial is written back otherwise");
            SourceEntiere s(ecrit);
            Lu relu = lire(s, ecrit.size());
            if (!relu.r) fuzz::echec("a rewritten partial is refused", relu.r.error());
            if (reecrire(ecrit, relu) != ecrit) fuzz::echec("a rewritten partial is written back otherwise");
            if (relu.sources != lu.sources || relu.calibration.refus != lu.calibration.refus ||
                relu.seuils.has_value() != lu.seuils.has_value() || !memes(relu.controle, lu.controle)) {
                fuzz::echec("a rewritten partial means something else");
            }
        }
    }

    if (est_partiel(octets)) verifier_parmi(octets, alea);
    return 0;
}
