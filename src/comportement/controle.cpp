#include "comportement/controle.hpp"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "commun/json_ecriture.hpp"
#include "comportement/partiel.hpp"

namespace comportement {

LigneControle ligne_controle(const MatchAnalysis& a) {
    LigneControle l;
    l.matchId = a.matchId;
    l.joueurId = a.playerId;
    l.score = a.score;
    l.niveau = risk_level(a.score);
    std::vector<std::string_view> noms;
    noms.reserve(a.signals.size());
    for (const Signal& s : a.signals) {
        noms.push_back(category_name(s.category));
    }
    std::sort(noms.begin(), noms.end());  // byte-wise: a prefix sorts first
    noms.erase(std::unique(noms.begin(), noms.end()), noms.end());
    l.categories.assign(noms.begin(), noms.end());
    return l;
}

std::optional<LigneControle> controler_lot(const LotTrames& lot, const EngineThresholds& seuils) {
    const auto analyse = analyse_match(seuils, lot);
    if (!analyse) {
        return std::nullopt;
    }
    return ligne_controle(*analyse);
}

std::optional<LigneControle> controler_lot(const LotCompact& lot, const EngineThresholds& seuils, Atelier& atelier) {
    // analyse_match's validation on the compact frames, so a refused batch is never expanded.
    if (!lot_valide(lot)) {
        return std::nullopt;
    }
    const auto analyse = run_engine(seuils, developper(lot, atelier));
    if (!analyse) {
        return std::nullopt;
    }
    return ligne_controle(*analyse);
}

void AccumulateurControle::ajouter(std::optional<LigneControle>&& ligne) {
    if (!ligne) {
        ++invalides;
        return;
    }
    lignes.push_back(std::move(*ligne));
}

void AccumulateurControle::ajouter(AccumulateurControle&& suite) {
    invalides += suite.invalides;
    sources.insert(sources.end(), std::make_move_iterator(suite.sources.begin()),
                   std::make_move_iterator(suite.sources.end()));
    if (lignes.empty() && lignes.capacity() < suite.lignes.size()) {
        lignes = std::move(suite.lignes);
    } else {
        lignes.insert(lignes.end(), std::make_move_iterator(suite.lignes.begin()),
                      std::make_move_iterator(suite.lignes.end()));
    }
}

RapportControle rapport_controle(AccumulateurControle&& controle) {
    RapportControle r;
    r.invalides = controle.invalides;
    r.lignes = std::move(controle.lignes);
    for (const LigneControle& l : r.lignes) {
        if (l.score >= kScoreReview) {
            ++r.reviewOuPlus;
        }
    }
    std::stable_sort(r.lignes.begin(), r.lignes.end(),
                     [](const LigneControle& a, const LigneControle& b) { return plus_fort(a.score, b.score); });
    r.matchs = r.lignes.size();
    r.tauxReviewOuPlus = r.matchs == 0 ? 0.0 : static_cast<double>(r.reviewOuPlus) / static_cast<double>(r.matchs);
    return r;
}

RapportControle controler_lots(std::span<const LotTrames> lots, const EngineThresholds& seuils) {
    AccumulateurControle controle;
    controle.lignes.reserve(lots.size());
    for (const LotTrames& lot : lots) {
        controle.ajouter(controler_lot(lot, seuils));
    }
    return rapport_controle(std::move(controle));
}

namespace {

class TraitementControle final : public Traitement {
public:
    TraitementControle(const EngineThresholds& seuils, std::span<const std::string> chemins)
        : partiels(chemins.size()), seuils_(seuils), prevision_(chemins) {}

    struct Lot final : Resultat {
        std::optional<LigneControle> ligne;
        std::size_t octets() const override {
            std::size_t n = sizeof(*this);
            if (ligne) {
                n += ligne->matchId.capacity() + ligne->joueurId.capacity() + ligne->niveau.capacity() +
                     ligne->categories.capacity() * sizeof(std::string);
            }
            return n;
        }
    };

    std::unique_ptr<Resultat> analyser(const LotCompact& lot, Atelier& atelier) const override {
        auto r = std::make_unique<Lot>();
        r->ligne = controler_lot(lot, seuils_, atelier);
        return r;
    }

    void recevoir(std::unique_ptr<Resultat> r) override { controle.ajouter(std::move(static_cast<Lot&>(*r).ligne)); }

    std::expected<std::uint64_t, std::string> recevoir_partiel(std::size_t fichier, commun::SourceOctets& source,
                                                               std::optional<std::uint64_t> taille) override {
        const std::size_t places = controle.lignes.capacity();
        const std::size_t debut = controle.lignes.size();
        std::optional<EngineThresholds> seuils;
        partiels[fichier].emplace();
        DestinationPartiel d;
        d.commande = CommandePartiel::controler;
        d.sources = &*partiels[fichier];
        d.controle = &controle;
        d.seuils = &seuils;
        d.apres = prevision_.apres(fichier);
        if (auto r = lire_partiel(source, taille, d); !r) return std::unexpected(std::move(r.error()));
        // Lines analysed with other thresholds are not those of this run.
        if (!seuils) return std::unexpected(std::string("résultat partiel calculé sans seuils (--rapport illisible)"));
        if (!memes_seuils_partiel(*seuils, seuils_)) {
            return std::unexpected(std::string("résultat partiel calculé avec d'autres seuils"));
        }
        std::uint64_t octets = (controle.lignes.capacity() - places) * sizeof(LigneControle);
        for (std::size_t k = debut; k < controle.lignes.size(); ++k) {
            const LigneControle& l = controle.lignes[k];
            octets += l.matchId.capacity() + l.joueurId.capacity() + l.niveau.capacity() +
                      l.categories.capacity() * sizeof(std::string);
        }
        return octets;
    }

    AccumulateurControle controle;
    std::vector<std::optional<std::vector<std::string>>> partiels;  // each partial's sources, by file

private:
    EngineThresholds seuils_;
    PrevisionPartiels prevision_;
};

}  // namespace

std::expected<AccumulateurControle, std::string> controler_fichiers(std::span<const std::string> chemins,
                                                                    const EngineThresholds& seuils,
                                                                    const ReglagesLecture& reglages) {
    TraitementControle t(seuils, chemins);
    if (auto r = traiter_fichiers(chemins, &t, reglages); !r) {
        return std::unexpected(std::move(r.error()));
    }
    t.controle.sources = sources_a_plat(chemins, t.partiels);
    return std::move(t.controle);
}

std::string rapport_controle_json(const RapportControle& rapport) {
    std::string texte;
    commun::json::EcrivainJson w(texte, true);
    w.debut_objet();
    w.cle("matchs");
    w.naturel(rapport.matchs);
    w.cle("invalides");
    w.naturel(rapport.invalides);
    w.cle("reviewOuPlus");
    w.naturel(rapport.reviewOuPlus);
    w.cle("tauxReviewOuPlus");
    w.flottant(rapport.tauxReviewOuPlus);
    w.cle("lignes");
    w.debut_tableau();
    for (const LigneControle& l : rapport.lignes) {
        w.debut_objet();
        w.cle("matchId");
        w.chaine(l.matchId);
        w.cle("joueurId");
        w.chaine(l.joueurId);
        w.cle("score");
        w.flottant(l.score);
        w.cle("niveau");
        w.chaine(l.niveau);
        w.cle("categories");
        w.debut_tableau();
        for (const std::string& c : l.categories) {
            w.chaine(c);
        }
        w.fin_tableau();
        w.fin_objet();
    }
    w.fin_tableau();
    w.fin_objet();
    return texte;
}

}  // namespace comportement
