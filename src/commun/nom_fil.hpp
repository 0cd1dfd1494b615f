#pragma once
// Names the calling thread, for debuggers and system tools; best effort, never fails.
#include <string>

#if defined(_WIN32)
#include <windows.h>

#include "commun/utf16.hpp"
#else
#include <pthread.h>
#endif

namespace commun {

inline void nommer_fil_courant(const std::string& nom) {
#if defined(_WIN32)
    // SetThreadDescription exists from Windows 10 1607 only: look it up at run time.
    using Fonction = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    HMODULE noyau = GetModuleHandleW(L"kernel32.dll");
    if (noyau == nullptr) {
        return;
    }
    auto adresse = reinterpret_cast<void*>(GetProcAddress(noyau, "SetThreadDescription"));
    if (adresse == nullptr) {
        return;
    }
    reinterpret_cast<Fonction>(adresse)(GetCurrentThread(), large(utf16_depuis_utf8(nom)));
#elif defined(__linux__)
    // The kernel keeps 15 bytes of a thread name.
    pthread_setname_np(pthread_self(), nom.substr(0, 15).c_str());
#else
    (void)nom;
#endif
}

}  // namespace commun
