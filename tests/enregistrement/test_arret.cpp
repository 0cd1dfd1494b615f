// A way out of the recording loop that neither the stop nor the error sequence takes: an
// exception thrown through it.
#include "enregistrement/session.hpp"

#include <gtest/gtest.h>

#include <new>

#include "faux_pipeline.hpp"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Delegates to the fake platform, except that building a converter throws.
class PlateformeQuiLance final : public enregistrement::Plateforme {
public:
    faux::FaussePlateforme f;

    void initialiser_fil() override { f.initialiser_fil(); }
    void debut_resolution_minuterie() override { f.debut_resolution_minuterie(); }
    void fin_resolution_minuterie() override { f.fin_resolution_minuterie(); }
    std::chrono::nanoseconds maintenant() override { return f.maintenant(); }
    void dormir(std::chrono::nanoseconds duree) override { f.dormir(duree); }
    std::expected<std::unique_ptr<capture::Peripherique>, commun::Erreur> creer_peripherique() override {
        return f.creer_peripherique();
    }
    std::expected<std::unique_ptr<capture::CaptureFenetre>, commun::Erreur> demarrer_capture(
        capture::Peripherique& peripherique, capture::PoigneeFenetre fenetre, bool curseur) override {
        return f.demarrer_capture(peripherique, fenetre, curseur);
    }
    std::expected<std::unique_ptr<encodeur::TransformeAsync>, commun::Erreur> creer_transformee(
        capture::Peripherique& peripherique, const encodeur::ConfigEncodeur& config) override {
        return f.creer_transformee(peripherique, config);
    }
    std::expected<conversion::ConvertisseurNv12, commun::Erreur> creer_convertisseur(
        capture::Peripherique&, const conversion::ParametresConversion&) override {
        throw std::bad_alloc();
    }
};

TEST(Arret, UneExceptionRendAussiLaResolutionDuMinuteur) {
    essai::DossierTemp d;
    PlateformeQuiLance p;
    p.f.scenario = [](faux::FaussePlateforme& pf, std::uint64_t n) {
        if (n == 1) {
            pf.capture->livrer(640, 480);
        }
    };
    enregistrement::EtatPartage etat;
    EXPECT_THROW((void)enregistrement::boucle_enregistrement(p, 1, d / "sortie.mkv", etat), std::bad_alloc);
    EXPECT_EQ(p.f.debuts_minuterie.load(), 1);
    EXPECT_EQ(p.f.fins_minuterie.load(), 1);
    EXPECT_TRUE(p.f.transformee->detruite);
    EXPECT_EQ(p.f.transformee->fins_de_flux.load(), 1);
}

}  // namespace
