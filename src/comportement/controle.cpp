#include "comportement/controle.hpp"

#include <algorithm>
#include <iterator>
#include <string_view>

#include "commun/json_ecriture.hpp"

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
    if (lignes.empty()) {
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
    explicit TraitementControle(const EngineThresholds& seuils) : seuils_(seuils) {}

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

    AccumulateurControle controle;

private:
    EngineThresholds seuils_;
};

}  // namespace

std::expected<AccumulateurControle, std::string> controler_fichiers(std::span<const std::string> chemins,
                                                                    const EngineThresholds& seuils,
                                                                    const ReglagesLecture& reglages) {
    TraitementControle t(seuils);
    if (auto r = traiter_fichiers(chemins, &t, reglages); !r) {
        return std::unexpected(std::move(r.error()));
    }
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
