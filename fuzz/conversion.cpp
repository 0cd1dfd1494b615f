// Snapshots and the conversion stream (convertir_flux, instantane_depuis_json, convertir_instantane).
// Oracles:
// - short reads: the text handed over in random pieces gives the same bytes and counts, or the same error;
// - an error names the first line that fails alone, with its message (or the first invalid UTF-8 line);
// - an accepted stream gives exactly the frames of its lines read alone and converted one by one, each
//   (matchId, localPlayerId) with its own state, a snapshot no later than the last one skipped; each line
//   is still refused with a no-break space after it, a BOM before it, or a key of the wrong shape first;
// - the target history is pruned only past its bound, then only of players absent from the snapshot;
// - the frames written read back as themselves (unless a float is not finite: written as null).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_set>
#include <utility>

#include "commun/unicode.hpp"
#include "commun_fuzz.hpp"
#include "comportement/conversion.hpp"
#include "comportement/ecriture_telemetrie.hpp"
#include "comportement/lecture_telemetrie.hpp"

using namespace comportement;

namespace {

constexpr const char* kMauvaisesCles[] = {
    "\"timestampMs\":1.5,",
    "\"localTeamId\":1e2,",
    "\"camera\":null,",
    "\"players\":[{\"aimPoint\":{\"x\":1,\"y\":2}}],",
    "\"players\":[{\"teamId\":1,\"teamId\":2}],",
    "\"acquisitionConfidence\":null,",
    "\"camera\":[1,2],",
    "\"camera\":[1,2,3,4],",
    "\"players\":{},",
};
constexpr std::size_t kHistoriqueMax = 256;

std::expected<void, std::string> seule(std::string_view ligne) {
    auto s = instantane_depuis_json(ligne);
    if (!s) return std::unexpected(std::move(s.error()));
    return {};
}

void verifier_accepte(std::string_view ligne) {
    if (instantane_depuis_json(std::string(ligne) + "\xC2\xA0"))
        fuzz::echec("no-break space accepted after a snapshot", ligne);
    if (instantane_depuis_json("\xEF\xBB\xBF" + std::string(ligne)))
        fuzz::echec("BOM accepted before a snapshot", ligne);
    const std::size_t o = ligne.find_first_not_of(" \t\r\n");
    if (o == std::string_view::npos || ligne[o] != '{') return;
    for (const char* cle : kMauvaisesCles) {
        std::string m(ligne);
        m.insert(o + 1, cle);
        if (instantane_depuis_json(m)) fuzz::echec("a key of the wrong shape accepted", m);
    }
}

// Entries are added for the snapshot's players only; past the bound, those of absent players go, and only
// they.
void verifier_historique(const Instantane& s, const EtatConversion& avant, const EtatConversion& apres) {
    std::unordered_set<std::string> presents;
    for (const JoueurInstantane& p : s.players) presents.insert(p.entityId);
    bool tous_presents = true;
    for (const auto& [id, vue] : apres.historique) {
        if (!avant.historique.contains(id) && !presents.contains(id))
            fuzz::echec("history entry for an absent player", id);
        tous_presents = tous_presents && presents.contains(id);
    }
    if (!tous_presents && apres.historique.size() > kHistoriqueMax) fuzz::echec("history past its bound not pruned");
    for (const auto& [id, vue] : avant.historique) {
        if (apres.historique.contains(id)) continue;
        if (presents.contains(id)) fuzz::echec("history entry of a present player dropped", id);
        if (!tous_presents) fuzz::echec("history pruned partly", id);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* donnees, std::size_t taille) {
    const std::string texte(reinterpret_cast<const char*>(donnees), taille);
    commun::SourceChaine source(texte);
    commun::SortieChaine sortie;
    const auto bilan = convertir_flux(source, sortie);

    fuzz::Alea alea(texte);
    fuzz::SourceMorcelee morcelee(texte, alea);
    commun::SortieChaine sortie_morcelee;
    const auto bilan_morcele = convertir_flux(morcelee, sortie_morcelee);
    if (bilan.has_value() != bilan_morcele.has_value() || (!bilan && bilan.error() != bilan_morcele.error()) ||
        (bilan && (bilan->instantanes != bilan_morcele->instantanes || bilan->trames != bilan_morcele->trames ||
                   sortie.texte != sortie_morcelee.texte))) {
        fuzz::echec("short reads give another result", bilan ? std::string("accepted") : bilan.error());
    }

    if (!bilan) {
        fuzz::verifier_erreur(texte, bilan.error(), "", seule);
        return 0;
    }
    if (texte.find('\0') != std::string::npos) fuzz::echec("NUL accepted");

    // The model: line by line through the one-snapshot functions.
    std::map<std::pair<std::string, std::string>, EtatConversion> etats;
    commun::SortieChaine attendue;
    std::vector<TrameTelemetrie> trames;
    std::uint64_t instantanes = 0;
    for (std::string_view ligne : fuzz::lignes_de(texte)) {
        if (commun::est_blanc_unicode(ligne)) continue;
        auto s = instantane_depuis_json(ligne);
        if (!s) fuzz::echec("accepted stream with a line refused alone", s.error());
        verifier_accepte(ligne);
        ++instantanes;
        EtatConversion& etat = etats[{s->matchId, s->localPlayerId}];
        if (s->timestampMs <= etat.dernierInstant) continue;
        etat.dernierInstant = s->timestampMs;
        const EtatConversion avant = etat;
        trames.push_back(convertir_instantane(*s, etat));
        verifier_historique(*s, avant, etat);
        if (!ecrire_trame(attendue, trames.back())) fuzz::echec("write failed");
    }
    if (bilan->instantanes != instantanes || bilan->trames != trames.size())
        fuzz::echec("counts differ from the lines'");
    if (sortie.texte != attendue.texte) fuzz::echec("frames differ from the snapshots converted one by one");

    if (!std::all_of(trames.begin(), trames.end(), fuzz::finie)) return 0;
    commun::SourceChaine relue(sortie.texte);
    const auto lots = lire_lots(relue);
    if (!lots) fuzz::echec("the frames written are refused", lots.error());
    if (!fuzz::memes_lots(*lots, fuzz::grouper(std::move(trames))))
        fuzz::echec("the frames written read back differently");
    return 0;
}
