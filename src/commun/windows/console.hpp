#pragma once
// Text that a library must put on standard error itself (the encoder's diagnostics):
// exactly the UTF-8 bytes to a file or pipe, UTF-16 to a console, LF line ends kept.
#include <string_view>

namespace commun {

void ecrire_erreur_standard(std::string_view texte);

}  // namespace commun
