// Telemetry lines (lire_lots, trame_depuis_json). Oracles:
// - short reads: the text handed over in random pieces gives the same batches or the same error;
// - an error names the first line that fails alone, with its message (or the first invalid UTF-8 line);
// - an accepted stream is exactly its lines read alone, grouped by (matchId, playerId) in bytewise order
//   and sorted by timestampMs (stable); it holds no NUL; each line is still refused with a no-break space
//   after it, a BOM before it, or a key of the wrong type or value put first;
// - it re-serialises (ecrire_trame, the same bytes as ajouter_trame_json) and reads back identically.
#include <cstddef>
#include <cstdint>
#include <string>

#include "commun/unicode.hpp"
#include "commun_fuzz.hpp"
#include "comportement/ecriture_telemetrie.hpp"
#include "comportement/lecture_telemetrie.hpp"

using namespace comportement;

namespace {

// Each is refused wherever it stands: a wrong type, a fraction or exponent in an integer, an integer out
// of range, a lone surrogate, a non-finite number.
constexpr const char* kMauvaisesCles[] = {
    "\"timestampMs\":1.5,",
    "\"mouseDx\":1e2,",
    "\"yawDeg\":null,",
    "\"hit\":0,",
    "\"weaponId\":\"\\ud800\",",
    "\"timestampMs\":100.0,",
    "\"mouseDy\":2147483648,",
    "\"yawDeg\":1e400,",
    "\"MatchId\":7,",
};

std::expected<void, std::string> seule(std::string_view ligne) {
    auto t = trame_depuis_json(ligne);
    if (!t) return std::unexpected(std::move(t.error()));
    return {};
}

void verifier_acceptee(std::string_view ligne) {
    if (trame_depuis_json(std::string(ligne) + "\xC2\xA0")) fuzz::echec("no-break space accepted after a frame", ligne);
    if (trame_depuis_json("\xEF\xBB\xBF" + std::string(ligne))) fuzz::echec("BOM accepted before a frame", ligne);
    const std::size_t o = ligne.find_first_not_of(" \t\r\n");
    if (o == std::string_view::npos || ligne[o] != '{') return;
    for (const char* cle : kMauvaisesCles) {
        // In an empty object the comma makes a syntax error: refused as well.
        std::string m(ligne);
        m.insert(o + 1, cle);
        if (trame_depuis_json(m)) fuzz::echec("a key of the wrong type or value accepted", m);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* donnees, std::size_t taille) {
    const std::string texte(reinterpret_cast<const char*>(donnees), taille);
    commun::SourceChaine source(texte);
    const auto lots = lire_lots(source);

    fuzz::Alea alea(texte);
    fuzz::SourceMorcelee morcelee(texte, alea);
    const auto lots_morceles = lire_lots(morcelee);
    if (lots.has_value() != lots_morceles.has_value() || (!lots && lots.error() != lots_morceles.error()) ||
        (lots && !fuzz::memes_lots(*lots, *lots_morceles))) {
        fuzz::echec("short reads give another result", lots ? std::string("accepted") : lots.error());
    }

    if (!lots) {
        fuzz::verifier_erreur(texte, lots.error(), "replay illisible : ", seule);
        return 0;
    }
    if (texte.find('\0') != std::string::npos) fuzz::echec("NUL accepted");

    // The model: every non-blank line alone, grouped and sorted.
    std::vector<TrameTelemetrie> seules;
    for (std::string_view ligne : fuzz::lignes_de(texte)) {
        if (commun::est_blanc_unicode(ligne)) continue;
        auto t = trame_depuis_json(ligne);
        if (!t) fuzz::echec("accepted stream with a line refused alone", t.error());
        verifier_acceptee(ligne);
        seules.push_back(std::move(*t));
    }
    const std::vector<LotTrames> attendus = fuzz::grouper(std::move(seules));
    if (!fuzz::memes_lots(*lots, attendus)) fuzz::echec("batches differ from the lines read alone");

    commun::SortieChaine sortie;
    std::string texte_json;
    bool finies = true;
    for (const LotTrames& lot : *lots) {
        for (const TrameTelemetrie& t : lot.trames) {
            if (!ecrire_trame(sortie, t)) fuzz::echec("write failed");
            ajouter_trame_json(texte_json, t);
            texte_json += '\n';
            finies = finies && fuzz::finie(t);
        }
    }
    if (sortie.texte != texte_json) fuzz::echec("ecrire_trame and ajouter_trame_json differ");
    // Non-finite floats are written as null, which a float key refuses.
    if (!finies) return 0;
    commun::SourceChaine relue(sortie.texte);
    const auto relus = lire_lots(relue);
    if (!relus) fuzz::echec("the re-serialised stream is refused", relus.error());
    if (!fuzz::memes_lots(*lots, *relus)) fuzz::echec("the re-serialised stream reads back differently");
    return 0;
}
