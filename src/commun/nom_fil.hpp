#pragma once
// Names the calling thread, for debuggers and system tools; best effort, never fails.
#include <string>

#if defined(_WIN32)
#include <windows.h>
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
    const int n = MultiByteToWideChar(CP_UTF8, 0, nom.data(), static_cast<int>(nom.size()), nullptr, 0);
    std::wstring large(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, nom.data(), static_cast<int>(nom.size()), large.data(), n);
    reinterpret_cast<Fonction>(adresse)(GetCurrentThread(), large.c_str());
#elif defined(__linux__)
    // The kernel keeps 15 bytes of a thread name.
    pthread_setname_np(pthread_self(), nom.substr(0, 15).c_str());
#else
    (void)nom;
#endif
}

}  // namespace commun
