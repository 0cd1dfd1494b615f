#include "commun/windows/temporaire.hpp"

#include <windows.h>

#include <array>
#include <string>

namespace commun {

std::filesystem::path dossier_temporaire_windows() {
    using GetTempPath2W_t = DWORD(WINAPI*)(DWORD, LPWSTR);
    std::array<wchar_t, MAX_PATH + 1> tampon{};
    DWORD longueur = 0;
    HMODULE noyau = GetModuleHandleW(L"kernel32.dll");
    auto adresse = noyau != nullptr ? reinterpret_cast<void*>(GetProcAddress(noyau, "GetTempPath2W")) : nullptr;
    if (adresse != nullptr) {
        longueur = reinterpret_cast<GetTempPath2W_t>(adresse)(static_cast<DWORD>(tampon.size()), tampon.data());
    } else {
        longueur = GetTempPathW(static_cast<DWORD>(tampon.size()), tampon.data());
    }
    // 0 is a failure; a value above the buffer is the size it would have needed.
    if (longueur == 0 || longueur > tampon.size()) {
        return {};
    }
    return std::filesystem::path(std::wstring(tampon.data(), longueur));
}

}  // namespace commun
