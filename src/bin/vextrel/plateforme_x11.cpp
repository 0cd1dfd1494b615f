// The bench's system pieces on Linux: X11 windows, TMPDIR, the recording back ends.
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "bin/vextrel/fenetres_x11.hpp"
#include "bin/vextrel/programme.hpp"
#include "enregistrement/plateforme.hpp"

namespace vextrel {

namespace {

class PlateformeVextrelX11 : public PlateformeVextrel {
public:
    std::filesystem::path dossier_temporaire() override {
        const char* tmpdir = std::getenv("TMPDIR");
        if (tmpdir != nullptr && tmpdir[0] != '\0') {
            return std::filesystem::path(tmpdir);
        }
        return std::filesystem::path("/tmp");
    }

    Fenetres& fenetres() override {
        if (!fenetres_) {
            // No display means no window to find: the lookup then fails as for an absent process.
            auto connexion = capture::ConnexionX11::ouvrir();
            fenetres_ = std::make_unique<FenetresX11>(
                connexion ? std::optional<capture::ConnexionX11>(std::move(*connexion)) : std::nullopt);
        }
        return *fenetres_;
    }

    void attendre_une_seconde() override { std::this_thread::sleep_for(std::chrono::seconds(1)); }

    std::shared_ptr<enregistrement::Plateforme> enregistrement() override {
        return enregistrement::plateforme_systeme();
    }

private:
    std::unique_ptr<FenetresX11> fenetres_;
};

}  // namespace

std::unique_ptr<PlateformeVextrel> plateforme_vextrel() {
    return std::make_unique<PlateformeVextrelX11>();
}

}  // namespace vextrel
