#pragma once
// The console's stop requests on Windows. Ctrl+C and Ctrl+Break stop the recording as if its
// time were up; a second one goes to the system's default handler, which ends the process at
// once. Closing the console stops the recording too: the system ends the process when the
// handler returns, so the handler first waits for the file to be finished.
#include <windows.h>

#include <atomic>

namespace vextrel {

class ArretConsole {
public:
    // `delai_fermeture` bounds the close handler's wait for the file, in milliseconds (the
    // system ends the process at its own limit anyway).
    explicit ArretConsole(DWORD delai_fermeture = INFINITE);
    ~ArretConsole();
    ArretConsole(const ArretConsole&) = delete;
    ArretConsole& operator=(const ArretConsole&) = delete;

    // Routes this process's console control events to `recevoir` (SetConsoleCtrlHandler).
    // One object at a time; false when the system refuses.
    bool installer();

    // Signalled, and left so, at the first stop request; null if it could not be created.
    HANDLE evenement_arret() const { return arret_; }
    bool arret_demande() const { return demande_.load(); }

    // The handler's answer to the control event `type` (it runs on a thread the system makes
    // for it): TRUE when handled here, FALSE to pass it on to the default handler.
    BOOL recevoir(DWORD type);

    // The file is finished and the summary written: a waiting close handler may return.
    void terminer();

private:
    HANDLE arret_;
    HANDLE termine_;
    DWORD delai_fermeture_;
    std::atomic<bool> demande_{false};
    bool installe_ = false;
};

}  // namespace vextrel
