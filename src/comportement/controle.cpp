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
