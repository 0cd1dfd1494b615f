#pragma once
// Logging facade: records carry a level and a target named after the library module.
// Neither program installs a sink, so records go nowhere unless a test installs one.
#include <functional>
#include <string_view>

namespace commun::journal {

enum class Niveau { erreur, avertissement, info, debogage };

using Puits = std::function<void(Niveau, std::string_view cible, std::string_view message)>;

// Installs (or, with an empty function, removes) the process-wide sink. Not for hot paths.
void installer_puits(Puits puits);

void ecrire(Niveau niveau, std::string_view cible, std::string_view message);

inline void erreur(std::string_view cible, std::string_view message) { ecrire(Niveau::erreur, cible, message); }
inline void avertir(std::string_view cible, std::string_view message) { ecrire(Niveau::avertissement, cible, message); }

}  // namespace commun::journal
