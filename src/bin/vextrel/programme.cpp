#include "bin/vextrel/programme.hpp"

#include "bin/vextrel/arguments.hpp"
#include "enregistrement/session.hpp"

namespace vextrel {

int executer(std::span<const std::string> arguments, PlateformeVextrel& plateforme, std::ostream& sortie,
             std::ostream& erreurs) {
    const auto args = analyser_arguments(arguments, [&] { return plateforme.dossier_temporaire(); });
    if (!args) {
        erreurs << texte_usage << '\n' << std::flush;
        return 101;
    }
    const auto fenetre = chercher_fenetre(plateforme.fenetres(), args->processus);
    if (!fenetre) {
        erreurs << "fenêtre du processus introuvable\n" << std::flush;
        return 101;
    }
    sortie << "fenêtre " << args->processus << " : hwnd " << *fenetre << '\n' << std::flush;

    auto session = enregistrement::SessionEnregistrement::demarrer(plateforme.enregistrement(), *fenetre,
                                                                   chemin_texte(args->chemin));
    // A count of one-second sleeps, not a deadline; Ctrl+C ends it as if the time were up.
    for (std::uint64_t i = 0; i < args->secondes; ++i) {
        const FinAttente fin = plateforme.attendre_une_seconde();
        if (const auto erreur = session.erreur()) {
            sortie << "erreur : " << *erreur << '\n' << std::flush;
            break;
        }
        if (fin == FinAttente::arret_demande) {
            break;
        }
    }

    const std::uint64_t octets = session.octets();
    const std::uint64_t secondes = session.secondes_ecoulees();
    const auto erreur = session.erreur();
    sortie << "octets : " << octets << " · durée " << secondes << "s · erreur " << notation_debug(erreur) << '\n'
           << std::flush;

    const auto resultat = std::move(session).finir();
    sortie << "fichier : "
           << notation_debug(resultat ? std::optional<std::string>(texte_chemin(*resultat)) : std::nullopt) << '\n'
           << std::flush;
    plateforme.enregistrement_termine();
    return 0;
}

}  // namespace vextrel
