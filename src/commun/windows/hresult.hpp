#pragma once
// HRESULT failures as errors carrying the system's own description.
#include <windows.h>

#include <expected>
#include <string>

#include "commun/erreur.hpp"

namespace commun {

// FormatMessageW's text for the code, on one line; "HRESULT 0x…" when the system has none.
std::string texte_hresult(HRESULT code);

inline Erreur erreur_hresult(HRESULT code) { return Erreur(texte_hresult(code)); }

// The calling thread's last Win32 error as an error.
Erreur erreur_derniere_win32();

// Success or the error of a failed HRESULT.
inline std::expected<void, Erreur> verifier(HRESULT code) {
    if (FAILED(code)) {
        return std::unexpected(erreur_hresult(code));
    }
    return {};
}

}  // namespace commun
