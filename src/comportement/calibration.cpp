#include "comportement/calibration.hpp"

#include <algorithm>
#include <bit>
#include <utility>
#include <atomic>
#include <cmath>
#include <limits>

#include "commun/json_ecriture.hpp"
#include "commun/json_lecture.hpp"
#include "commun/temps_utc.hpp"
#include "comportement/detecteurs.hpp"
#include "comportement/partiel.hpp"
#include "comportement/validation.hpp"

namespace comportement {

namespace {

bool avant(const TrameTelemetrie& a, const TrameTelemetrie& b) { return a.timestampMs < b.timestampMs; }

void collecter_tries(std::span<const TrameTelemetrie> trames, EchantillonsMetriques& e) {
    const std::vector<AngularStep> pas = compute_angular_steps(trames);
    for (const AngularStep& s : pas) {
        if (s.frame->targetVisible) {
            e.visibleAngularVelocityDegPerSec.push_back(s.angularVelocityDegPerSec);
            e.absAngularAccelerationDegPerSec2.push_back(std::fabs(s.angularAccelerationDegPerSec2));
        }
    }
    for (const TrameTelemetrie& t : trames) {
        if (t.targetVisible && t.targetAngularSpeedDegPerSec >= kVitesseCibleMobileDegParSec) {
            e.movingVisibleTargetErrorDeg.push_back(t.targetAngularErrorDeg);
        }
    }
    // The ReactionTime detector's own reveal and reaction rule, with its default search window.
    for (std::size_t i = 1; i < trames.size(); ++i) {
        if (!is_reaction_reveal(trames, i)) {
            continue;
        }
        if (const auto r = find_reaction(trames, pas, i, kFenetreReactionMs)) {
            e.visibilityToActionReactionMs.push_back(static_cast<double>(r->delayMs));
        }
    }
}

// Sorts finite values ascending, stably: equal values (0.0 and -0.0) keep their input order. Large
// lists go through a radix sort on an order-preserving image of the bits in which -0.0 is 0.0: being
// stable, it gives exactly what std::stable_sort gives, several times faster; the calibration's last step
// runs it on millions of samples while the other threads wait.
void trier_stable(std::vector<double>& v) {
    if (v.size() < 4096) {
        std::stable_sort(v.begin(), v.end());
        return;
    }
    const auto cle = [](double x) {
        std::uint64_t b = std::bit_cast<std::uint64_t>(x);
        if (b == 0x8000000000000000ULL) b = 0;
        return (b >> 63) != 0 ? ~b : b | 0x8000000000000000ULL;
    };
    constexpr int kBits = 16;
    std::vector<double> autre(v.size());
    std::vector<std::size_t> comptes(std::size_t{1} << kBits);
    for (int decalage = 0; decalage < 64; decalage += kBits) {
        std::fill(comptes.begin(), comptes.end(), 0);
        for (double x : v) ++comptes[(cle(x) >> decalage) & 0xFFFF];
        // A digit shared by every value leaves the order as it is.
        if (comptes[(cle(v[0]) >> decalage) & 0xFFFF] == v.size()) continue;
        std::size_t debut = 0;
        for (std::size_t& c : comptes) debut += std::exchange(c, debut);
        for (double x : v) autre[comptes[(cle(x) >> decalage) & 0xFFFF]++] = x;
        v.swap(autre);
    }
}

// The finite samples, sorted ascending. Stable, so equal values (0.0 and -0.0) keep their input
// order and the percentiles do not depend on the sort algorithm.
std::vector<double> finis_tries(std::span<const double> echantillons) {
    std::vector<double> tries;
    tries.reserve(echantillons.size());
    for (double v : echantillons) {
        if (std::isfinite(v)) {
            tries.push_back(v);
        }
    }
    trier_stable(tries);
    return tries;
}

// Sorting once and reading the seven percentiles from it is what calling `percentile` seven times
// computes, without six more sorts.
Distribution distribution_triee(std::string_view metrique, std::uint64_t total, std::span<const double> tries) {
    Distribution d;
    d.metrique = std::string(metrique);
    d.echantillons = total;
    d.p001 = percentile_trie(tries, 0.001);
    d.p01 = percentile_trie(tries, 0.01);
    d.p05 = percentile_trie(tries, 0.05);
    d.p50 = percentile_trie(tries, 0.5);
    d.p95 = percentile_trie(tries, 0.95);
    d.p99 = percentile_trie(tries, 0.99);
    d.p999 = percentile_trie(tries, 0.999);
    return d;
}

namespace json = commun::json;

constexpr json::Champ kChampsDistribution[] = {
    json::champ<&Distribution::metrique>("metrique"), json::champ<&Distribution::echantillons>("echantillons"),
    json::champ<&Distribution::p001>("p001"),         json::champ<&Distribution::p01>("p01"),
    json::champ<&Distribution::p05>("p05"),           json::champ<&Distribution::p50>("p50"),
    json::champ<&Distribution::p95>("p95"),           json::champ<&Distribution::p99>("p99"),
    json::champ<&Distribution::p999>("p999"),
};
constexpr json::Schema kSchemaDistribution = json::schema<Distribution>("struct Distribution", kChampsDistribution,
                                                                        {.cles_requises = true, .minimum_tableau = 9});

constexpr json::Champ kChampsRecommandations[] = {
    json::champ<&Recommandations::snapVitesseDegS>("snapVitesseDegS"),
    json::champ<&Recommandations::snapAccelMinDegS2>("snapAccelMinDegS2"),
    json::champ<&Recommandations::reactionTresRapideMs>("reactionTresRapideMs"),
    json::champ<&Recommandations::reactionSuspecteMs>("reactionSuspecteMs"),
    json::champ<&Recommandations::suiviExcellentErreurDeg>("suiviExcellentErreurDeg"),
};
constexpr json::Schema kSchemaRecommandations = json::schema<Recommandations>(
    "struct Recommandations", kChampsRecommandations, {.cles_requises = true, .minimum_tableau = 5});

constexpr json::Champ kChampsRapport[] = {
    json::champ<&RapportCalibration::genereLe>("genereLe"),
    json::champ<&RapportCalibration::matchs>("matchs"),
    json::champ<&RapportCalibration::trames>("trames"),
    json::champ<&RapportCalibration::cohorte>("cohorte"),
    json::champ<&RapportCalibration::distributions>("distributions", kSchemaDistribution),
    json::champ<&RapportCalibration::recommandations>("recommandations", kSchemaRecommandations),
    json::champ<&RapportCalibration::avertissement>("avertissement"),
};
constexpr json::Schema kSchemaRapport = json::schema<RapportCalibration>("struct RapportCalibration", kChampsRapport,
                                                                         {.cles_requises = true, .minimum_tableau = 7});

void ecrire_distribution(json::EcrivainJson& w, const Distribution& d) {
    w.debut_objet();
    w.cle("metrique");
    w.chaine(d.metrique);
    w.cle("echantillons");
    w.naturel(d.echantillons);
    const std::pair<std::string_view, double> valeurs[] = {
        {"p001", d.p001}, {"p01", d.p01}, {"p05", d.p05},   {"p50", d.p50},
        {"p95", d.p95},   {"p99", d.p99}, {"p999", d.p999},
    };
    for (const auto& [cle, v] : valeurs) {
        w.cle(cle);
        w.flottant(v);
    }
    w.fin_objet();
}

}  // namespace

void collecter_echantillons(std::span<const TrameTelemetrie> trames, EchantillonsMetriques& echantillons) {
    // Batches from the reader are already in time order; copy only when they are not.
    if (std::is_sorted(trames.begin(), trames.end(), avant)) {
        collecter_tries(trames, echantillons);
        return;
    }
    std::vector<TrameTelemetrie> copie(trames.begin(), trames.end());
    std::stable_sort(copie.begin(), copie.end(), avant);
    collecter_tries(copie, echantillons);
}

double percentile_trie(std::span<const double> tries, double q) {
    if (tries.empty()) {
        return 0.0;
    }
    q = std::fmin(std::fmax(q, 0.0), 1.0);
    const double x = static_cast<double>(tries.size() - 1) * q;
    const double bas = std::floor(x);
    const double haut = std::ceil(x);
    const auto lo = static_cast<std::size_t>(bas);
    const auto hi = static_cast<std::size_t>(haut);
    if (lo == hi) {
        return tries[lo];
    }
    const double f = x - bas;
    return f * tries[hi] + (1.0 - f) * tries[lo];
}

double percentile(std::span<const double> echantillons, double q) {
    const std::vector<double> tries = finis_tries(echantillons);
    return percentile_trie(tries, q);
}

Distribution construire_distribution(std::string_view metrique, std::span<const double> echantillons) {
    const std::vector<double> tries = finis_tries(echantillons);
    return distribution_triee(metrique, echantillons.size(), tries);
}

std::int64_t arrondir_reaction_ms(double ms) {
    std::int64_t v = 0;
    if (std::isnan(ms)) {
        v = 0;
    } else {
        const double r = std::round(ms);  // halves away from zero
        // 2^63 is exactly representable; anything at or past it saturates.
        if (r >= 9223372036854775808.0) {
            v = std::numeric_limits<std::int64_t>::max();
        } else if (r < -9223372036854775808.0) {
            v = std::numeric_limits<std::int64_t>::min();
        } else {
            v = static_cast<std::int64_t>(r);
        }
    }
    return std::max<std::int64_t>(v, 1);
}

namespace {

std::string refus(std::string_view matchId, std::string_view erreurs) {
    std::string texte = "lot de calibration invalide ";
    texte += matchId;
    texte += " : ";
    texte += erreurs;
    return texte;
}

}  // namespace

ResultatLotCalibration calibrer_lot(const LotTrames& lot) {
    ResultatLotCalibration r;
    const ValidationLot v = valider_lot(lot);
    if (!v.valide) {
        std::string erreurs;
        for (std::size_t i = 0; i < v.erreurs.size(); ++i) {
            if (i > 0) {
                erreurs += "; ";
            }
            erreurs += v.erreurs[i];
        }
        r.refus = refus(lot.matchId, erreurs);
        return r;
    }
    collecter_echantillons(lot.trames, r.echantillons);
    r.trames = lot.trames.size();
    return r;
}

ResultatLotCalibration calibrer_lot(const LotCompact& lot, Atelier& atelier) {
    ResultatLotCalibration r;
    if (!lot_valide(lot)) {
        r.refus = refus(lot.matchId, erreurs_jointes(lot, "; "));
        return r;
    }
    collecter_echantillons(developper(lot, atelier), r.echantillons);
    r.trames = lot.trames.size();
    return r;
}

namespace {

void prolonger(std::vector<double>& liste, std::vector<double>&& suite) {
    // Room made for partials still to come is kept.
    if (liste.empty() && liste.capacity() < suite.size()) {
        liste = std::move(suite);
    } else {
        liste.insert(liste.end(), suite.begin(), suite.end());
    }
}

void prolonger(EchantillonsMetriques& e, EchantillonsMetriques&& suite) {
    prolonger(e.visibleAngularVelocityDegPerSec, std::move(suite.visibleAngularVelocityDegPerSec));
    prolonger(e.absAngularAccelerationDegPerSec2, std::move(suite.absAngularAccelerationDegPerSec2));
    prolonger(e.visibilityToActionReactionMs, std::move(suite.visibilityToActionReactionMs));
    prolonger(e.movingVisibleTargetErrorDeg, std::move(suite.movingVisibleTargetErrorDeg));
}

}  // namespace

void AccumulateurCalibration::ajouter(ResultatLotCalibration&& lot) {
    if (refus) {
        return;
    }
    if (lot.refus) {
        refus = std::move(lot.refus);
        return;
    }
    ++matchs;
    trames += lot.trames;
    prolonger(echantillons, std::move(lot.echantillons));
}

void AccumulateurCalibration::ajouter(AccumulateurCalibration&& suite) {
    if (refus) {
        return;
    }
    matchs += suite.matchs;
    trames += suite.trames;
    refus = std::move(suite.refus);
    prolonger(echantillons, std::move(suite.echantillons));
    sources.insert(sources.end(), std::make_move_iterator(suite.sources.begin()),
                   std::make_move_iterator(suite.sources.end()));
}

std::expected<RapportCalibration, std::string> calibrer_lots(std::span<const LotTrames> lots,
                                                             std::string_view cohorte) {
    AccumulateurCalibration calibration;
    for (const LotTrames& lot : lots) {
        calibration.ajouter(calibrer_lot(lot));
        if (calibration.refus) {
            break;
        }
    }
    return rapport_calibration(std::move(calibration), cohorte);
}

namespace {

class TraitementCalibration final : public Traitement {
public:
    explicit TraitementCalibration(std::span<const std::string> chemins)
        : partiels(chemins.size()), prevision_(chemins) {}

    struct Lot final : Resultat {
        ResultatLotCalibration r;
        std::size_t octets() const override {
            const EchantillonsMetriques& e = r.echantillons;
            return sizeof(*this) + (r.refus ? r.refus->capacity() : 0) +
                   sizeof(double) *
                       (e.visibleAngularVelocityDegPerSec.capacity() + e.absAngularAccelerationDegPerSec2.capacity() +
                        e.visibilityToActionReactionMs.capacity() + e.movingVisibleTargetErrorDeg.capacity());
        }
    };

    std::unique_ptr<Resultat> analyser(const LotCompact& lot, Atelier& atelier) const override {
        auto r = std::make_unique<Lot>();
        // Once a batch is refused the calibration can only end in a refusal: the valid batches need not
        // be measured any more.
        if (refus_vu_.load(std::memory_order_relaxed) && lot_valide(lot)) {
            return r;
        }
        r->r = calibrer_lot(lot, atelier);
        if (r->r.refus) {
            refus_vu_.store(true, std::memory_order_relaxed);
        }
        return r;
    }

    void recevoir(std::unique_ptr<Resultat> r) override { calibration.ajouter(std::move(static_cast<Lot&>(*r).r)); }

    std::expected<std::uint64_t, std::string> recevoir_partiel(std::size_t fichier, commun::SourceOctets& source,
                                                               std::optional<std::uint64_t> taille) override {
        const std::uint64_t avant = places();
        partiels[fichier].emplace();
        DestinationPartiel d;
        d.commande = CommandePartiel::calibrer;
        d.sources = &*partiels[fichier];
        d.calibration = &calibration;
        d.apres = prevision_.apres(fichier);
        if (auto r = lire_partiel(source, taille, d); !r) return std::unexpected(std::move(r.error()));
        if (calibration.refus) refus_vu_.store(true, std::memory_order_relaxed);
        return (places() - avant) * sizeof(double);
    }

    AccumulateurCalibration calibration;
    std::vector<std::optional<std::vector<std::string>>> partiels;  // each partial's sources, by file

private:
    std::uint64_t places() const {
        const EchantillonsMetriques& e = calibration.echantillons;
        return e.visibleAngularVelocityDegPerSec.capacity() + e.absAngularAccelerationDegPerSec2.capacity() +
               e.visibilityToActionReactionMs.capacity() + e.movingVisibleTargetErrorDeg.capacity();
    }

    mutable std::atomic<bool> refus_vu_{false};
    PrevisionPartiels prevision_;
};

}  // namespace

std::expected<AccumulateurCalibration, std::string> calibrer_fichiers(std::span<const std::string> chemins,
                                                                      const ReglagesLecture& reglages) {
    TraitementCalibration t(chemins);
    if (auto r = traiter_fichiers(chemins, &t, reglages); !r) {
        return std::unexpected(std::move(r.error()));
    }
    t.calibration.sources = sources_a_plat(chemins, t.partiels);
    return std::move(t.calibration);
}

std::expected<RapportCalibration, std::string> rapport_calibration(AccumulateurCalibration&& calibration,
                                                                   std::string_view cohorte) {
    if (calibration.refus) {
        return std::unexpected(std::move(*calibration.refus));
    }
    if (calibration.matchs == 0) {
        return std::unexpected(std::string("au moins un match propre est requis"));
    }
    EchantillonsMetriques& e = calibration.echantillons;
    const std::uint64_t trames = calibration.trames;

    RapportCalibration r;
    r.genereLe = commun::maintenant_utc();
    r.matchs = calibration.matchs;
    r.trames = trames;
    r.cohorte = std::string(cohorte);

    std::vector<double>* listes[] = {
        &e.visibleAngularVelocityDegPerSec,
        &e.absAngularAccelerationDegPerSec2,
        &e.visibilityToActionReactionMs,
        &e.movingVisibleTargetErrorDeg,
    };
    // The lists are ours: filtered and sorted in place, once each, for the distributions and the
    // recommendations alike.
    r.distributions.reserve(kMetriques.size());
    for (std::size_t i = 0; i < kMetriques.size(); ++i) {
        std::vector<double>& l = *listes[i];
        const std::uint64_t total = l.size();
        std::erase_if(l, [](double v) { return !std::isfinite(v); });
        trier_stable(l);
        r.distributions.push_back(distribution_triee(kMetriques[i], total, l));
    }

    Recommandations& rec = r.recommandations;
    rec.snapVitesseDegS = std::fmax(percentile_trie(*listes[0], 0.999), 1.0);
    rec.snapAccelMinDegS2 = std::fmax(percentile_trie(*listes[1], 0.999), 1.0);
    rec.reactionTresRapideMs = arrondir_reaction_ms(percentile_trie(*listes[2], 0.001));
    rec.reactionSuspecteMs = arrondir_reaction_ms(percentile_trie(*listes[2], 0.01));
    rec.suiviExcellentErreurDeg = std::fmax(percentile_trie(*listes[3], 0.01), 0.01);

    r.avertissement = std::string(kAvertissementRapport);
    return r;
}

std::vector<std::string> avertissements_calibration(const RapportCalibration& rapport) {
    std::vector<std::string> textes;
    for (const Distribution& d : rapport.distributions) {
        if (d.echantillons == 0) {
            textes.push_back(d.metrique + " : aucun échantillon");
        } else if (d.metrique == kMetriques[2] && d.echantillons < 1000) {
            textes.push_back(d.metrique + " : " + std::to_string(d.echantillons) +
                             " échantillons seulement (minimum conseillé 1000) — seuils de réaction peu fiables");
        }
    }
    if (rapport.matchs < 30) {
        textes.push_back("seulement " + std::to_string(rapport.matchs) +
                         " match(s) : ajoute des matchs propres de la même cohorte");
    }
    return textes;
}

EngineThresholds seuils_depuis_rapport(const RapportCalibration& rapport) {
    EngineThresholds s;
    const Recommandations& r = rapport.recommandations;
    s.aimSnapMinVelocityDegPerSec = r.snapVitesseDegS;
    s.aimSnapMinAccelDegPerSec2 = r.snapAccelMinDegS2;
    s.reactionVeryFastMs = r.reactionTresRapideMs;
    s.reactionSuspectMs = r.reactionSuspecteMs;
    s.trackingExcellentErrorDeg = r.suiviExcellentErreurDeg;
    return s;
}

std::string rapport_calibration_json(const RapportCalibration& rapport) {
    std::string texte;
    json::EcrivainJson w(texte, true);
    w.debut_objet();
    w.cle("genereLe");
    w.chaine(rapport.genereLe);
    w.cle("matchs");
    w.naturel(rapport.matchs);
    w.cle("trames");
    w.naturel(rapport.trames);
    w.cle("cohorte");
    w.chaine(rapport.cohorte);
    w.cle("distributions");
    w.debut_tableau();
    for (const Distribution& d : rapport.distributions) {
        ecrire_distribution(w, d);
    }
    w.fin_tableau();
    const Recommandations& r = rapport.recommandations;
    w.cle("recommandations");
    w.debut_objet();
    w.cle("snapVitesseDegS");
    w.flottant(r.snapVitesseDegS);
    w.cle("snapAccelMinDegS2");
    w.flottant(r.snapAccelMinDegS2);
    w.cle("reactionTresRapideMs");
    w.entier(r.reactionTresRapideMs);
    w.cle("reactionSuspecteMs");
    w.entier(r.reactionSuspecteMs);
    w.cle("suiviExcellentErreurDeg");
    w.flottant(r.suiviExcellentErreurDeg);
    w.fin_objet();
    w.cle("avertissement");
    w.chaine(rapport.avertissement);
    w.fin_objet();
    return texte;
}

std::expected<RapportCalibration, std::string> rapport_calibration_depuis_json(std::string_view texte) {
    json::Lecteur lecteur;
    RapportCalibration r;
    if (auto ok = lecteur.lire(texte, kSchemaRapport, r); !ok) {
        return std::unexpected(std::move(ok.error()));
    }
    return r;
}

}  // namespace comportement
