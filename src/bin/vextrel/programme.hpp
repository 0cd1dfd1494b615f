#pragma once
// The bench's main sequence, driven through the platform pieces so tests can run it.
#include <filesystem>
#include <memory>
#include <ostream>
#include <span>
#include <string>

#include "bin/vextrel/fenetres.hpp"
#include "enregistrement/plateforme.hpp"

namespace vextrel {

class PlateformeVextrel {
public:
    virtual ~PlateformeVextrel() = default;
    // The system's temporary directory (GetTempPath2W / GetTempPathW; TMPDIR or /tmp).
    virtual std::filesystem::path dossier_temporaire() = 0;
    virtual Fenetres& fenetres() = 0;
    // One second of the wait loop.
    virtual void attendre_une_seconde() = 0;
    virtual std::shared_ptr<enregistrement::Plateforme> enregistrement() = 0;
};

// Runs the bench: `arguments` excludes the program name. Returns the exit status (0, or
// 101 for a missing argument or no window).
int executer(std::span<const std::string> arguments, PlateformeVextrel& plateforme, std::ostream& sortie,
             std::ostream& erreurs);

// Implemented by the back end: the running system's pieces, for `main`.
std::unique_ptr<PlateformeVextrel> plateforme_vextrel();

}  // namespace vextrel
