#include "enregistrement/systeme_windows.hpp"

#include <windows.h>
#include <objbase.h>
#include <timeapi.h>

namespace enregistrement::windows {

namespace {

// Absent from the cross headers; Windows 10 1803 and later accept it.
constexpr DWORD minuterie_haute_resolution = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION

class Minuterie {
public:
    Minuterie()
        : poignee_(CreateWaitableTimerExW(nullptr, nullptr, minuterie_haute_resolution, TIMER_ALL_ACCESS)) {}
    ~Minuterie() {
        if (poignee_ != nullptr) {
            CloseHandle(poignee_);
        }
    }
    Minuterie(const Minuterie&) = delete;
    Minuterie& operator=(const Minuterie&) = delete;
    HANDLE poignee() const { return poignee_; }

private:
    HANDLE poignee_;
};

}  // namespace

void initialiser_com() { (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

void debut_resolution_minuterie() { timeBeginPeriod(1); }

void fin_resolution_minuterie() { timeEndPeriod(1); }

void dormir(std::chrono::nanoseconds duree) {
    if (duree.count() <= 0) {
        return;
    }
    thread_local Minuterie minuterie;
    if (minuterie.poignee() != nullptr) {
        LARGE_INTEGER echeance{};
        echeance.QuadPart = echeance_relative_100ns(duree);
        if (SetWaitableTimer(minuterie.poignee(), &echeance, 0, nullptr, nullptr, FALSE) &&
            WaitForSingleObject(minuterie.poignee(), INFINITE) == WAIT_OBJECT_0) {
            return;
        }
    }
    Sleep(millisecondes_arrondies(duree));
}

}  // namespace enregistrement::windows
