#include "commun/sommeil.hpp"

#if defined(_WIN32)
#include <windows.h>
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif
#else
#include <thread>
#endif

namespace commun {

void dormir(std::chrono::nanoseconds duree) {
    if (duree.count() <= 0) {
        return;
    }
#if defined(_WIN32)
    // One high-resolution timer per sleeping thread, made on its first sleep.
    struct Minuterie {
        HANDLE poignee =
            CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
        ~Minuterie() {
            if (poignee != nullptr) {
                CloseHandle(poignee);
            }
        }
    };
    thread_local Minuterie minuterie;
    if (minuterie.poignee != nullptr) {
        LARGE_INTEGER echeance;
        // Negative: relative, in 100-ns units.
        echeance.QuadPart = -static_cast<LONGLONG>((duree.count() + 99) / 100);
        if (SetWaitableTimer(minuterie.poignee, &echeance, 0, nullptr, nullptr, FALSE) &&
            WaitForSingleObject(minuterie.poignee, INFINITE) == WAIT_OBJECT_0) {
            return;
        }
    }
    // No high-resolution timer on this system: whole milliseconds, rounded up.
    Sleep(static_cast<DWORD>((duree.count() + 999'999) / 1'000'000));
#else
    std::this_thread::sleep_for(duree);
#endif
}

}  // namespace commun
