// The two line readers under everything else: LecteurLignes (convertir) and the Decoupeur (calibrer,
// controler), fed in random pieces, sometimes with a read error after some bytes. Oracles, against the
// lines of the text:
// - LecteurLignes gives every line in order (CR before LF removed, the last line without LF kept as is),
//   stops at the first invalid UTF-8 line with "UTF-8 invalide à la ligne N", and on a read error gives
//   the complete lines before it, then the error;
// - the Decoupeur's chunks put end to end are the text (up to the last complete line before a read
//   error, then the error once), each chunk non-empty, made of whole lines (only the stream's last may
//   lack its LF), at most lignes_max of them; the bytes it counts are those it was given.
#include <cstddef>
#include <cstdint>
#include <string>

#include "commun/lignes.hpp"
#include "commun/morceaux.hpp"
#include "commun/unicode.hpp"
#include "commun_fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* donnees, std::size_t taille) {
    const std::string_view texte(reinterpret_cast<const char*>(donnees), taille);
    fuzz::Alea alea(texte);
    const std::size_t coupure = alea.jusqua(3) == 0 ? alea.jusqua(taille + 1) : SIZE_MAX;
    const bool interrompu = coupure < taille;
    // The text the readers may hand out: up to the last LF before the error.
    const std::string_view complet = interrompu ? texte.substr(0, texte.substr(0, coupure).rfind('\n') + 1) : texte;

    {
        fuzz::SourceMorcelee source(texte, alea, coupure);
        commun::LecteurLignes lecteur(source);
        const auto lignes = fuzz::lignes_de(complet);
        std::size_t i = 0;
        for (;; ++i) {
            auto ligne = lecteur.suivante();
            if (!ligne) {
                if (i < lignes.size() && !commun::est_utf8_valide(lignes[i])) {
                    if (ligne.error() != "UTF-8 invalide à la ligne " + std::to_string(i + 1))
                        fuzz::echec("UTF-8 error message", ligne.error());
                    break;
                }
                if (!interrompu || i != lignes.size()) fuzz::echec("LecteurLignes: unexpected error", ligne.error());
                if (ligne.error() != "lecture interrompue")
                    fuzz::echec("LecteurLignes: another read error", ligne.error());
                break;
            }
            if (!*ligne) {
                if (interrompu || i != lignes.size()) fuzz::echec("LecteurLignes: early end", std::to_string(i));
                break;
            }
            if (i >= lignes.size() || **ligne != lignes[i])
                fuzz::echec("LecteurLignes: another line", std::to_string(i + 1));
            if (!commun::est_utf8_valide(lignes[i]))
                fuzz::echec("LecteurLignes: invalid UTF-8 handed out", std::to_string(i + 1));
            if (lecteur.numero() != i + 1) fuzz::echec("LecteurLignes: line number", std::to_string(i + 1));
        }
    }

    {
        static constexpr std::size_t kTailles[] = {0, 1, 2, 3, 7, 64, 4096};
        const std::size_t taille_morceau = kTailles[alea.jusqua(std::size(kTailles))];
        const std::size_t lignes_max = alea.jusqua(5);
        fuzz::SourceMorcelee source(texte, alea, coupure);
        commun::Decoupeur decoupeur(source, taille_morceau, lignes_max);
        commun::Tampon morceau;
        std::string bout_a_bout;
        for (;;) {
            auto suite = decoupeur.suivant(morceau);
            if (!suite) {
                if (!interrompu) fuzz::echec("Decoupeur: unexpected error", suite.error());
                if (suite.error() != "lecture interrompue") fuzz::echec("Decoupeur: another read error", suite.error());
                break;
            }
            if (!*suite) {
                if (interrompu) fuzz::echec("Decoupeur: end instead of the read error");
                break;
            }
            const std::string_view m = morceau.vue();
            if (m.empty()) fuzz::echec("Decoupeur: empty chunk");
            std::size_t lf = 0;
            for (char c : m) lf += c == '\n' ? 1 : 0;
            const bool dernier = bout_a_bout.size() + m.size() == complet.size();
            if (!m.ends_with('\n') && !(dernier && !interrompu)) fuzz::echec("Decoupeur: chunk cut inside a line");
            if (lf + (m.ends_with('\n') ? 0 : 1) > std::max<std::size_t>(lignes_max, 1))
                fuzz::echec("Decoupeur: too many lines in a chunk");
            bout_a_bout += m;
            if (!complet.starts_with(bout_a_bout)) fuzz::echec("Decoupeur: chunks are not the text");
        }
        if (bout_a_bout != complet) fuzz::echec("Decoupeur: chunks put end to end are not the text");
        if (decoupeur.octets_lus() != source.livres()) fuzz::echec("Decoupeur: bytes counted");
    }
    return 0;
}
