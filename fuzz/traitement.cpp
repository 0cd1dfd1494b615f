// The reading of calibrer and controler (traiter_fichiers): files cut into chunks of lines, parsed on
// several threads, spilled to temporary files when the budget is small. The input is cut into one to
// three files; chunk size, budget and threads are drawn from the input. Oracles:
// - the batches handed to the traitement are those of lire_replay over each file in turn, in that order;
// - an error is lire_replay's on the first failing file, "<chemin> : " before it, with or without a
//   traitement;
// - on success the progress adds up to the files' sizes;
// - what calibrer and controler make of each compact batch (samples or refusal, control line) is what
//   they make of the same batch as full records.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "commun_fuzz.hpp"
#include "comportement/calibration.hpp"
#include "comportement/controle.hpp"
#include "comportement/lecture_telemetrie.hpp"
#include "comportement/partiel.hpp"
#include "comportement/traitement_fichiers.hpp"

using namespace comportement;

namespace {

bool memes_doubles(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

bool memes(const ResultatLotCalibration& a, const ResultatLotCalibration& b) {
    return a.refus == b.refus && a.trames == b.trames &&
           memes_doubles(a.echantillons.visibleAngularVelocityDegPerSec,
                         b.echantillons.visibleAngularVelocityDegPerSec) &&
           memes_doubles(a.echantillons.absAngularAccelerationDegPerSec2,
                         b.echantillons.absAngularAccelerationDegPerSec2) &&
           memes_doubles(a.echantillons.visibilityToActionReactionMs, b.echantillons.visibilityToActionReactionMs) &&
           memes_doubles(a.echantillons.movingVisibleTargetErrorDeg, b.echantillons.movingVisibleTargetErrorDeg);
}

bool memes(const std::optional<LigneControle>& a, const std::optional<LigneControle>& b) {
    if (a.has_value() != b.has_value()) return false;
    if (!a) return true;
    return a->matchId == b->matchId && a->joueurId == b->joueurId && memes_doubles({a->score}, {b->score}) &&
           a->niveau == b->niveau && a->categories == b->categories;
}

class Collecte final : public Traitement {
public:
    struct Lot final : Resultat {
        LotTrames lot;
        ResultatLotCalibration calibration;
        std::optional<LigneControle> controle;
        std::size_t octets() const override { return sizeof(*this) + lot.trames.size() * sizeof(TrameTelemetrie); }
    };
    std::unique_ptr<Resultat> analyser(const LotCompact& lot, Atelier& atelier) const override {
        auto r = std::make_unique<Lot>();
        const auto trames = developper(lot, atelier);
        r->lot = {std::string(lot.matchId), std::string(lot.playerId), {trames.begin(), trames.end()}};
        r->calibration = calibrer_lot(lot, atelier);
        r->controle = controler_lot(lot, EngineThresholds{}, atelier);
        return r;
    }
    void recevoir(std::unique_ptr<Resultat> r) override { lots.push_back(std::move(static_cast<Lot&>(*r))); }
    // A cut that starts with a partial's signature: read and checked only (fuzz/partiel.cpp owns partials).
    std::expected<std::uint64_t, std::string> recevoir_partiel(std::size_t, commun::SourceOctets& source,
                                                               std::optional<std::uint64_t> taille) override {
        if (auto r = lire_partiel(source, taille, DestinationPartiel{}); !r)
            return std::unexpected(std::move(r.error()));
        return 0;
    }

    std::vector<Lot> lots;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* donnees, std::size_t taille) {
    const std::string_view texte(reinterpret_cast<const char*>(donnees), taille);
    fuzz::Alea alea(texte);

    // The files: cut anywhere, a file may end without LF.
    const std::size_t nombre = 1 + alea.jusqua(3);
    std::vector<std::string> chemins;
    std::size_t debut = 0;
    bool partiel = false;
    for (std::size_t i = 0; i < nombre; ++i) {
        const std::size_t fin = i + 1 == nombre ? texte.size() : debut + alea.jusqua(texte.size() - debut + 1);
        const std::string_view contenu = texte.substr(debut, fin - debut);
        partiel = partiel || est_partiel(contenu);
        chemins.push_back(fuzz::ecrire_fichier("f" + std::to_string(i) + ".jsonl", contenu));
        debut = fin;
    }

    std::vector<LotTrames> attendus;
    std::optional<std::string> erreur_attendue;
    for (const std::string& chemin : chemins) {
        auto lots = lire_replay(chemin);
        if (!lots) {
            erreur_attendue = chemin + " : " + lots.error();
            break;
        }
        for (LotTrames& l : *lots) attendus.push_back(std::move(l));
    }

    static constexpr std::size_t kTailles[] = {1, 2, 16, 100, 4096};
    static constexpr std::uint64_t kBudgets[] = {0, 2000, 100000, std::numeric_limits<std::uint64_t>::max()};
    ReglagesLecture r;
    r.fils = 1 + alea.jusqua(3);
    r.taille_morceau = kTailles[alea.jusqua(std::size(kTailles))];
    r.budget = kBudgets[alea.jusqua(std::size(kBudgets))];
    r.dossier_temporaire = fuzz::dossier();
    std::atomic<std::uint64_t> progression{0};
    r.progression = [&](std::uint64_t n) { progression += n; };

    for (const bool avec_traitement : {true, false}) {
        progression = 0;
        Collecte collecte;
        auto resultat = traiter_fichiers(chemins, avec_traitement ? &collecte : nullptr, r);
        // A cut that is a partial is no telemetry file, so lire_replay is no oracle: only sanitizers watch.
        if (partiel) continue;
        const std::string reglages = "fils " + std::to_string(r.fils) + ", morceau " +
                                     std::to_string(r.taille_morceau) + ", budget " + std::to_string(r.budget) +
                                     (avec_traitement ? "" : ", sans traitement");
        if (erreur_attendue) {
            if (resultat) fuzz::echec("a file refused by lire_replay is accepted", reglages + " / " + *erreur_attendue);
            if (resultat.error() != *erreur_attendue)
                fuzz::echec("another error than lire_replay's",
                            reglages + " / " + resultat.error() + " / " + *erreur_attendue);
            continue;
        }
        if (!resultat) fuzz::echec("files accepted by lire_replay are refused", reglages + " / " + resultat.error());
        if (avec_traitement) {
            if (collecte.lots.size() != attendus.size())
                fuzz::echec("another number of batches than lire_replay's", reglages);
            for (std::size_t i = 0; i < attendus.size(); ++i) {
                const Collecte::Lot& lu = collecte.lots[i];
                if (!fuzz::memes_lots({&lu.lot, 1}, {&attendus[i], 1}))
                    fuzz::echec("batches differ from lire_replay's", reglages);
                if (!memes(lu.calibration, calibrer_lot(attendus[i])))
                    fuzz::echec("calibration of a compact batch differs");
                if (!memes(lu.controle, controler_lot(attendus[i], EngineThresholds{})))
                    fuzz::echec("control of a compact batch differs");
            }
        }
        if (progression != texte.size()) {
            fuzz::echec("progress does not add up to the files' sizes",
                        reglages + " / " + std::to_string(progression.load()) + " of " + std::to_string(texte.size()));
        }
    }
    return 0;
}
