#include "commun/systeme.hpp"

#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#include <unistd.h>
#endif

namespace commun {

std::size_t fils_disponibles() {
#ifndef _WIN32
    cpu_set_t ensemble;
    CPU_ZERO(&ensemble);
    if (sched_getaffinity(0, sizeof ensemble, &ensemble) == 0) {
        const int n = CPU_COUNT(&ensemble);
        if (n > 0) return static_cast<std::size_t>(n);
    }
#else
    DWORD_PTR processus = 0;
    DWORD_PTR systeme = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &processus, &systeme) && processus != 0) {
        // One processor group (up to 64): what the mask says.
        return static_cast<std::size_t>(__builtin_popcountll(processus));
    }
#endif
    const unsigned n = std::thread::hardware_concurrency();
    return n > 0 ? n : 1;
}

std::uint64_t memoire_physique() {
#ifdef _WIN32
    MEMORYSTATUSEX etat{};
    etat.dwLength = sizeof etat;
    if (GlobalMemoryStatusEx(&etat)) return etat.ullTotalPhys;
    return 0;
#else
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long taille = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || taille <= 0) return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(taille);
#endif
}

}  // namespace commun
