#include "bin/vextrel/arret_console_windows.hpp"

namespace vextrel {

namespace {

std::atomic<ArretConsole*> actif{nullptr};

BOOL WINAPI gestionnaire(DWORD type) {
    ArretConsole* arret = actif.load();
    return arret != nullptr ? arret->recevoir(type) : FALSE;
}

}  // namespace

ArretConsole::ArretConsole(DWORD delai_fermeture)
    : arret_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      termine_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      delai_fermeture_(delai_fermeture) {}

ArretConsole::~ArretConsole() {
    if (installe_) {
        SetConsoleCtrlHandler(gestionnaire, FALSE);
        actif.store(nullptr);
    }
    // A close handler still waiting must not be left waiting on a closed handle.
    terminer();
    for (HANDLE h : {arret_, termine_}) {
        if (h != nullptr) {
            CloseHandle(h);
        }
    }
}

bool ArretConsole::installer() {
    actif.store(this);
    installe_ = SetConsoleCtrlHandler(gestionnaire, TRUE) != FALSE;
    if (!installe_) {
        actif.store(nullptr);
    }
    return installe_;
}

BOOL ArretConsole::recevoir(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (demande_.exchange(true)) {
            return FALSE;
        }
        if (arret_ != nullptr) {
            SetEvent(arret_);
        }
        return TRUE;
    case CTRL_CLOSE_EVENT:
        demande_.store(true);
        if (arret_ != nullptr) {
            SetEvent(arret_);
        }
        if (termine_ != nullptr) {
            WaitForSingleObject(termine_, delai_fermeture_);
        }
        return TRUE;
    default: return FALSE;
    }
}

void ArretConsole::terminer() {
    if (termine_ != nullptr) {
        SetEvent(termine_);
    }
}

}  // namespace vextrel
