#pragma once
// UTF-8 text to a standard handle: UTF-16 to a console (whatever its code page), exactly the
// UTF-8 bytes to a file or pipe, LF line ends kept.
#include <windows.h>

#include <string_view>

namespace commun {

// `console`: GetConsoleMode succeeds on `poignee`. Nothing is written to a missing handle.
void ecrire_poignee(HANDLE poignee, bool console, std::string_view texte);

// Text that a library must put on standard error itself (the encoder's diagnostics).
void ecrire_erreur_standard(std::string_view texte);

}  // namespace commun
