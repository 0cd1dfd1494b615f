#include "comportement/lecture_telemetrie.hpp"

#include <utility>

#include "commun/entree.hpp"
#include "commun/morceaux.hpp"
#include "comportement/lecture_morceaux.hpp"

namespace comportement {

std::expected<TrameTelemetrie, std::string> trame_depuis_json(std::string_view texte) {
    commun::json::Lecteur lecteur;
    TrameTelemetrie t;
    if (auto r = lecteur.lire(texte, schema_trame(), t); !r) {
        return std::unexpected(std::move(r.error()));
    }
    return t;
}

std::expected<std::unique_ptr<commun::Entree>, std::string> ouvrir_telemetrie(const std::string& chemin) {
    // gzip'ed and zstd'ed files are read as their text.
    return commun::Entree::ouvrir(chemin);
}

std::expected<std::vector<LotTrames>, std::string> lire_lots(commun::SourceOctets& source) {
    commun::Decoupeur decoupeur(source, kTailleMorceau, lignes_par_morceau(kTailleMorceau));
    commun::Tampon morceau;
    LecteurMorceaux lecteur;
    ReserveTrames reserve;
    std::uint64_t lignes = 0;
    for (;;) {
        auto suite = decoupeur.suivant(morceau);
        if (!suite) {
            return std::unexpected("replay illisible : " + suite.error());
        }
        if (!*suite) break;
        const MorceauLu lu = lecteur.lire(morceau.vue());
        if (lu.erreur) {
            return std::unexpected(texte_erreur(*lu.erreur, lignes));
        }
        lignes += lu.lignes;
        reserve.ajouter(lu);
    }

    std::vector<ReserveTrames::Lot> groupes = reserve.extraire();
    std::vector<LotTrames> lots(groupes.size());
    Atelier atelier;
    for (std::size_t i = 0; i < groupes.size(); ++i) {
        const LotCompact compact =
            preparer_lot(groupes[i].matchId, groupes[i].playerId, groupes[i].trames, reserve.textes(), atelier);
        LotTrames& lot = lots[i];
        lot.trames.resize(compact.trames.size());
        developper(compact, lot.trames);
        lot.matchId = std::move(groupes[i].matchId);
        lot.playerId = std::move(groupes[i].playerId);
        groupes[i].trames = GroupeCompact{};  // each batch's compact frames go as soon as it is expanded
    }
    return lots;
}

std::expected<std::vector<LotTrames>, std::string> lire_replay(const std::string& chemin) {
    auto source = ouvrir_telemetrie(chemin);
    if (!source) {
        return std::unexpected("replay illisible : " + source.error());
    }
    return lire_lots(**source);
}

}  // namespace comportement
