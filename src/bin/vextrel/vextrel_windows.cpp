// The recording program on Windows: top-level windows through user32, cloaking through the
// compositor, process image names through kernel32, the system's temporary directory, and the
// console's Ctrl+C, Ctrl+Break and close as stop requests.
#include <windows.h>
#include <dwmapi.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bin/vextrel/arret_console_windows.hpp"
#include "bin/vextrel/fenetres.hpp"
#include "bin/vextrel/programme.hpp"
#include "commun/windows/temporaire.hpp"
#include "commun/utf16.hpp"
#include "enregistrement/plateforme.hpp"

namespace vextrel {

namespace {

HWND hwnd(PoigneeFenetre fenetre) { return reinterpret_cast<HWND>(static_cast<std::intptr_t>(fenetre)); }

BOOL CALLBACK collecter(HWND fenetre, LPARAM liste) {
    reinterpret_cast<std::vector<PoigneeFenetre>*>(liste)->push_back(
        static_cast<PoigneeFenetre>(reinterpret_cast<std::intptr_t>(fenetre)));
    return TRUE;
}

class FenetresWin32 final : public Fenetres {
public:
    std::vector<PoigneeFenetre> enumerer() override {
        std::vector<PoigneeFenetre> liste;
        // A failed enumeration leaves the windows collected so far.
        (void)EnumWindows(collecter, reinterpret_cast<LPARAM>(&liste));
        return liste;
    }

    bool visible(PoigneeFenetre fenetre) override { return IsWindowVisible(hwnd(fenetre)) != FALSE; }

    bool possedee(PoigneeFenetre fenetre) override { return GetWindow(hwnd(fenetre), GW_OWNER) != nullptr; }

    bool fenetre_outil(PoigneeFenetre fenetre) override {
        return (static_cast<DWORD>(GetWindowLongW(hwnd(fenetre), GWL_EXSTYLE)) & WS_EX_TOOLWINDOW) != 0;
    }

    std::optional<bool> masquee(PoigneeFenetre fenetre) override {
        DWORD masque = 0;
        if (FAILED(DwmGetWindowAttribute(hwnd(fenetre), DWMWA_CLOAKED, &masque, sizeof(masque)))) {
            return std::nullopt;
        }
        return masque != 0;
    }

    std::size_t longueur_titre(PoigneeFenetre fenetre) override {
        std::array<wchar_t, 256> titre{};
        const int longueur = GetWindowTextW(hwnd(fenetre), titre.data(), static_cast<int>(titre.size()));
        return longueur > 0 ? static_cast<std::size_t>(longueur) : 0;
    }

    std::string nom_executable(PoigneeFenetre fenetre) override {
        DWORD processus = 0;
        GetWindowThreadProcessId(hwnd(fenetre), &processus);
        HANDLE poignee = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processus);
        if (poignee == nullptr) {
            return {};
        }
        std::array<wchar_t, 520> chemin{};
        DWORD longueur = static_cast<DWORD>(chemin.size());
        const BOOL lu = QueryFullProcessImageNameW(poignee, 0, chemin.data(), &longueur);
        CloseHandle(poignee);
        if (!lu) {
            return {};
        }
        const std::string complet = commun::utf8_depuis_utf16(
            commun::utf16(std::wstring_view(chemin.data(), std::min<std::size_t>(longueur, chemin.size()))));
        return std::string(apres_dernier(complet, '\\'));
    }
};

class PlateformeWindows final : public PlateformeVextrel {
public:
    PlateformeWindows() { arret_.installer(); }

    std::filesystem::path dossier_temporaire() override { return commun::dossier_temporaire_windows(); }
    Fenetres& fenetres() override { return fenetres_; }
    FinAttente attendre_une_seconde() override {
        if (arret_.evenement_arret() == nullptr) {
            Sleep(1000);
            return arret_.arret_demande() ? FinAttente::arret_demande : FinAttente::ecoulee;
        }
        return WaitForSingleObject(arret_.evenement_arret(), 1000) == WAIT_OBJECT_0 ? FinAttente::arret_demande
                                                                                    : FinAttente::ecoulee;
    }
    void enregistrement_termine() override { arret_.terminer(); }
    std::shared_ptr<enregistrement::Plateforme> enregistrement() override {
        return enregistrement::plateforme_systeme();
    }

private:
    FenetresWin32 fenetres_;
    ArretConsole arret_;
};

}  // namespace

std::unique_ptr<PlateformeVextrel> plateforme_vextrel() { return std::make_unique<PlateformeWindows>(); }

}  // namespace vextrel
