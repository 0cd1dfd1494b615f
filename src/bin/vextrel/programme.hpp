#pragma once
// The recording program's main sequence, driven through the platform pieces so tests can run it.
#include <filesystem>
#include <memory>
#include <ostream>
#include <span>
#include <string>

#include "bin/vextrel/fenetres.hpp"
#include "enregistrement/plateforme.hpp"

namespace vextrel {

// How one second of the wait ended.
enum class FinAttente {
    ecoulee,
    arret_demande,  // the user asked the recording to stop (Ctrl+C, SIGTERM, console closed)
};

class PlateformeVextrel {
public:
    virtual ~PlateformeVextrel() = default;
    // The system's temporary directory (GetTempPath2W / GetTempPathW; TMPDIR or /tmp).
    virtual std::filesystem::path dossier_temporaire() = 0;
    virtual Fenetres& fenetres() = 0;
    // One second of the wait loop, cut short by a stop request (at once when one came earlier).
    virtual FinAttente attendre_une_seconde() = 0;
    // The summary is printed and the file finished (a console being closed may now let the
    // process end).
    virtual void enregistrement_termine() {}
    virtual std::shared_ptr<enregistrement::Plateforme> enregistrement() = 0;
};

// Runs the recording program: `arguments` excludes the program name. Returns the exit status
// (0, or 101 for a missing argument or no window). A stop request ends the wait as if the time
// were up: the summary shows the time actually recorded and the file is finished.
int executer(std::span<const std::string> arguments, PlateformeVextrel& plateforme, std::ostream& sortie,
             std::ostream& erreurs);

// Implemented by the back end: the running system's pieces, for `main`.
std::unique_ptr<PlateformeVextrel> plateforme_vextrel();

}  // namespace vextrel
