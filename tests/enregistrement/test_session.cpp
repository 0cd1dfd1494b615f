#include "enregistrement/session.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "commun/journal.hpp"
#include "enregistrement/rythme.hpp"
#include "faux_pipeline.hpp"

namespace {

using namespace std::chrono_literals;
using enregistrement::SessionEnregistrement;
namespace fs = std::filesystem;

std::vector<std::uint8_t> lire(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The Segment's size field: unknown (all ones) until the file is finished.
bool segment_termine(const std::vector<std::uint8_t>& o) {
    if (o.size() < 52) {
        return false;
    }
    const std::vector<std::uint8_t> inconnu{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    return !std::equal(inconnu.begin(), inconnu.end(), o.begin() + 44);
}

// The thread has left its loop once the timer resolution was given back.
void attendre_fin_du_fil(const faux::FaussePlateforme& p) {
    for (int i = 0; i < 2000 && p.fins_minuterie.load() == 0; ++i) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_EQ(p.fins_minuterie.load(), 1);
}

// Image from the first sleep on, window closed at sleep `fermeture`.
faux::FaussePlateforme::Scenario image_puis_fermeture(std::uint64_t fermeture) {
    return [fermeture](faux::FaussePlateforme& p, std::uint64_t n) {
        if (n == 1) {
            p.capture->livrer(800, 600);
        }
        if (n == fermeture) {
            p.capture->etat().fermee = true;
        }
    };
}

TEST(Session, FinirJusteApresDemarrerNeCreeRien) {
    essai::DossierTemp d;
    auto p = std::make_shared<faux::FaussePlateforme>();
    p->scenario = image_puis_fermeture(1000);
    // Holds the recording thread in its set-up so that the stop request is there before
    // the first tick.
    p->avant_peripherique = [] { std::this_thread::sleep_for(50ms); };
    auto session = SessionEnregistrement::demarrer(p, 42, d / "sortie.mkv");
    const auto resultat = std::move(session).finir();
    EXPECT_FALSE(resultat.has_value());
    EXPECT_FALSE(fs::exists(d / "sortie.mkv"));
    EXPECT_EQ(p->debuts_minuterie.load(), 1);
    EXPECT_EQ(p->fins_minuterie.load(), 1);
    EXPECT_TRUE(p->transformee->soumissions().empty());
    EXPECT_EQ(p->sommeils, (std::vector<std::chrono::nanoseconds>{120ms}));  // only the stop pause
}

TEST(Session, FenetreFermeeTermineLeFichierSansErreur) {
    essai::DossierTemp d;
    auto p = std::make_shared<faux::FaussePlateforme>();
    p->scenario = image_puis_fermeture(90);
    auto session = SessionEnregistrement::demarrer(p, 4242, d / "sortie.mkv");
    attendre_fin_du_fil(*p);
    EXPECT_EQ(session.erreur(), std::nullopt);
    const std::uint64_t octets = session.octets();
    EXPECT_GT(octets, 0u);

    const auto resultat = std::move(session).finir();
    ASSERT_TRUE(resultat.has_value());
    EXPECT_EQ(*resultat, d / "sortie.mkv");
    const auto contenu = lire(d / "sortie.mkv");
    EXPECT_TRUE(segment_termine(contenu));
    EXPECT_GE(contenu.size(), octets);

    // The pipeline was asked for what the recording needs.
    EXPECT_EQ(p->fenetre_, 4242);
    EXPECT_FALSE(p->curseur_);
    EXPECT_EQ(p->config_.largeur, 1280u);
    EXPECT_EQ(p->config_.hauteur, 720u);
    EXPECT_EQ(p->config_.images_par_seconde, 30u);
    EXPECT_EQ(p->config_.debit_kbps, 2500u);
    EXPECT_EQ(p->config_.gop_secondes, 2u);
    EXPECT_EQ(p->config_.images_b, 0u);
    EXPECT_EQ(p->config_.preset, 1);

    // One image delivered once, yet one frame per tick, numbered by tick, until the close
    // seen at tick 90; then the stop sequence's 120 ms pause.
    const auto soumissions = p->transformee->soumissions();
    ASSERT_EQ(soumissions.size(), 89u);
    // Times in 100 ns units from tick 1: one frame period on, frame 30 at one second exactly, frame 89 last.
    EXPECT_EQ(soumissions.front().temps, 333333);
    EXPECT_EQ(soumissions[29].temps, 10'000'000);
    EXPECT_EQ(soumissions.back().temps, 29'666'666);
    for (std::size_t i = 0; i < soumissions.size(); ++i) {
        const std::int64_t pas = i == 0 ? 333333 : soumissions[i].temps - soumissions[i - 1].temps;
        EXPECT_TRUE(pas == 333333 || pas == 333334) << i;
        EXPECT_EQ(soumissions[i].duree, 333333);
        EXPECT_EQ(soumissions[i].surface, i % 4);
    }
    EXPECT_EQ(p->sommeils.back(), std::chrono::nanoseconds(120ms));
    EXPECT_EQ(p->transformee->fins_de_flux.load(), 1);
    EXPECT_EQ(p->transformee->initialisations_fil.load(), 1);
#if defined(__linux__)
    EXPECT_EQ(p->nom_fil, "enregistrement-");  // "enregistrement-partie", cut to 15 bytes
    EXPECT_EQ(p->transformee->nom_fil_evenements, "encodeur-evenem");
#endif
}

// A failure of the capture (what a frame handler threw) or of the encoder's output (a new
// format it could not take) ends the recording like a closed window, the file finished with
// what came before, and is the recording's error.
TEST(Session, EchecDeCaptureOuDEncodeurTermineLeFichierPuisDevientLErreur) {
    for (const bool capture : {true, false}) {
        SCOPED_TRACE(capture ? "capture" : "encodeur");
        essai::DossierTemp d;
        auto p = std::make_shared<faux::FaussePlateforme>();
        p->scenario = [capture](faux::FaussePlateforme& pf, std::uint64_t n) {
            if (n == 1) {
                pf.capture->livrer(800, 600);
            }
            if (capture && n == 70) {
                pf.capture->etat().signaler_erreur(commun::Erreur("mémoire insuffisante"));
            }
        };
        if (!capture) {
            p->reglages.collecte_en_echec = 70;
        }
        auto session = SessionEnregistrement::demarrer(p, 1, d / "sortie.mkv");
        attendre_fin_du_fil(*p);
        EXPECT_EQ(session.erreur(), capture ? "mémoire insuffisante" : "type de sortie refusé");
        const auto soumissions = p->transformee->soumissions().size();
        EXPECT_GE(soumissions, 68u);
        EXPECT_LE(soumissions, 70u);
        EXPECT_EQ(p->transformee->fins_de_flux.load(), 1);
        const auto resultat = std::move(session).finir();
        ASSERT_TRUE(resultat.has_value());
        EXPECT_TRUE(segment_termine(lire(d / "sortie.mkv")));
    }
}

TEST(Session, TransformeeQuiNeDemandeJamaisRienNeLaissePasDeFichier) {
    essai::DossierTemp d;
    auto p = std::make_shared<faux::FaussePlateforme>();
    p->reglages.demandes_initiales = 0;
    p->scenario = image_puis_fermeture(30);
    auto session = SessionEnregistrement::demarrer(p, 1, d / "sortie.mkv");
    attendre_fin_du_fil(*p);
    EXPECT_EQ(session.erreur(), std::nullopt);
    EXPECT_EQ(session.octets(), 0u);
    EXPECT_FALSE(std::move(session).finir().has_value());
    EXPECT_FALSE(fs::exists(d / "sortie.mkv"));
    EXPECT_TRUE(p->transformee->soumissions().empty());
    EXPECT_GT(p->conversion->conversions, 0u);
}

TEST(Session, SoumissionsEnEchecNeSontPasUneErreur) {
    essai::DossierTemp d;
    auto p = std::make_shared<faux::FaussePlateforme>();
    p->reglages.soumission_en_echec = true;
    p->reglages.demandes_initiales = 1000;
    p->scenario = image_puis_fermeture(30);
    auto session = SessionEnregistrement::demarrer(p, 1, d / "sortie.mkv");
    attendre_fin_du_fil(*p);
    EXPECT_EQ(session.erreur(), std::nullopt);
    EXPECT_FALSE(std::move(session).finir().has_value());
    EXPECT_FALSE(fs::exists(d / "sortie.mkv"));
    EXPECT_EQ(p->transformee->soumissions().size(), 29u);
}

TEST(Session, FinirNeSupprimePasUnFichierQuElleNaPasCree) {
    essai::DossierTemp d;
    {
        std::ofstream f(d / "sortie.mkv", std::ios::binary);
        f << "précieux";
    }
    auto p = std::make_shared<faux::FaussePlateforme>();
    p->reglages.demandes_initiales = 0;
    p->scenario = image_puis_fermeture(10);
    auto session = SessionEnregistrement::demarrer(p, 1, d / "sortie.mkv");
    attendre_fin_du_fil(*p);
    EXPECT_FALSE(std::move(session).finir().has_value());
    ASSERT_TRUE(fs::exists(d / "sortie.mkv"));
    const auto contenu = lire(d / "sortie.mkv");
    EXPECT_EQ(std::string(contenu.begin(), contenu.end()), "précieux");
}

TEST(Session, UnBlocageSauteDesNumerosSansRafale) {
    essai::DossierTemp d;
    auto p = std::make_shared<faux::FaussePlateforme>();
    // A spare input credit: the late tick does not sleep, so it must not depend on the
    // encoder thread having answered the previous submission yet.
    p->reglages.demandes_initiales = 2;
    p->scenario = [](faux::FaussePlateforme& pf, std::uint64_t n) {
        if (n == 1) {
            pf.capture->livrer(1920, 1080);
        }
        if (n == 20) {
            pf.avancer(500ms);  // the loop stalls for half a second
        }
        if (n == 40) {
            pf.capture->etat().fermee = true;
        }
    };
    auto session = SessionEnregistrement::demarrer(p, 1, d / "sortie.mkv");
    attendre_fin_du_fil(*p);
    const auto soumissions = p->transformee->soumissions();
    ASSERT_FALSE(soumissions.empty());
    std::vector<std::int64_t> indices;
    for (const auto& s : soumissions) {
        indices.push_back((s.temps * 30 + 5'000'000) / 10'000'000);
    }
    // Frames 1…20, then the late tick resynchronises to 20 + 15 periods.
    std::vector<std::int64_t> attendus;
    for (std::int64_t i = 1; i <= 20; ++i) {
        attendus.push_back(i);
    }
    for (std::int64_t i = 35; attendus.size() < indices.size(); ++i) {
        attendus.push_back(i);
    }
    EXPECT_EQ(indices, attendus);
    // Only tick 0 and the resynchronised tick ran without sleeping: no catch-up burst.
    // (Sleeps minus the stop pause and the sleep of the tick that saw the window closed.)
    const std::size_t ticks = soumissions.size() + 1;
    const std::size_t sommeils_de_tick = p->sommeils.size() - 2;
    EXPECT_EQ(ticks - sommeils_de_tick, 2u);
    EXPECT_TRUE(std::move(session).finir().has_value());
}

TEST(Session, RedimensionnementReconstruitLeConvertisseur) {
    essai::DossierTemp d;
    auto p = std::make_shared<faux::FaussePlateforme>();
    p->scenario = [](faux::FaussePlateforme& pf, std::uint64_t n) {
        if (n == 1) {
            pf.capture->livrer(800, 600);
        }
        if (n == 30) {
            pf.capture->livrer(1000, 1000);
        }
        if (n == 40) {
            // Resized away and back between two ticks: same size, but another image.
            pf.capture->livrer(640, 480);
            pf.capture->livrer(1000, 1000);
        }
        if (n == 60) {
            pf.capture->etat().fermee = true;
        }
    };
    auto session = SessionEnregistrement::demarrer(p, 1, d / "sortie.mkv");
    attendre_fin_du_fil(*p);
    const auto& creations = p->conversion->creations;
    ASSERT_EQ(creations.size(), 2u);
    EXPECT_EQ(creations[0].largeur_entree, 800u);
    EXPECT_EQ(creations[0].hauteur_entree, 600u);
    EXPECT_EQ(creations[1].largeur_entree, 1000u);
    EXPECT_EQ(creations[1].hauteur_entree, 1000u);
    for (const auto& c : creations) {
        EXPECT_EQ(c.largeur_sortie, 1280u);
        EXPECT_EQ(c.hauteur_sortie, 720u);
        EXPECT_EQ(c.images_par_seconde, 30u);
        EXPECT_EQ(c.nombre_sorties, 4u);
    }
    EXPECT_EQ(creations[1].placement.x, 280);
    EXPECT_EQ(creations[1].placement.largeur, 720);
    // The second converter was bound again when the image object changed under it.
    const auto& liaisons = p->conversion->liaisons;
    ASSERT_EQ(liaisons.size(), 3u);
    EXPECT_NE(liaisons[1], liaisons[2]);
    // The new converter's ring starts over at surface 0.
    const auto soumissions = p->transformee->soumissions();
    ASSERT_EQ(soumissions.size(), 59u);
    EXPECT_EQ(soumissions[28].surface, 0u);  // frame 29, first of the 800 × 600 converter's 8th lap
    EXPECT_EQ(soumissions[29].surface, 0u);  // frame 30, first of the new converter
    EXPECT_EQ(soumissions[30].surface, 1u);
    EXPECT_TRUE(segment_termine(lire(*std::move(session).finir())));
}

TEST(Session, ErreurAuMilieuGardeLeFichierInacheve) {
    essai::DossierTemp d;
    std::vector<std::string> journal;
    std::mutex verrou_journal;
    commun::journal::installer_puits(
        [&](commun::journal::Niveau niveau, std::string_view cible, std::string_view message) {
        if (niveau == commun::journal::Niveau::avertissement) {
            std::lock_guard g(verrou_journal);
            journal.push_back(std::string(cible) + "|" + std::string(message));
        }
    });
    auto p = std::make_shared<faux::FaussePlateforme>();
    p->conversion->echec_a = 100;
    p->scenario = image_puis_fermeture(1000);
    auto session = SessionEnregistrement::demarrer(p, 1, d / "sortie.mkv");
    attendre_fin_du_fil(*p);
    commun::journal::installer_puits({});
    EXPECT_EQ(session.erreur(), std::optional<std::string>("vue d'entrée"));
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0], "balisor_anticheat_lib::enregistrement|enregistrement : vue d'entrée");
    // The encoder was stopped by the error path (its thread joined, its stream ended).
    EXPECT_EQ(p->transformee->fins_de_flux.load(), 1);
    EXPECT_TRUE(p->transformee->detruite);

    const auto resultat = std::move(session).finir();
    ASSERT_TRUE(resultat.has_value());
    const auto contenu = lire(*resultat);
    EXPECT_FALSE(segment_termine(contenu));
    EXPECT_GT(contenu.size(), 52u);
}

TEST(Session, ErreurAvecCanalPleinNeBloquePasLArretDeLEncodeur) {
    essai::DossierTemp d;
    auto p = std::make_shared<faux::FaussePlateforme>();
    // One submission yields more images than the channel holds: the event thread is left
    // waiting to send when the next conversion fails.
    p->reglages.sorties_par_soumission = 45;
    p->reglages.delai_calme = 100ms;
    p->conversion->echec_a = 2;
    p->scenario = image_puis_fermeture(1000);
    auto session = SessionEnregistrement::demarrer(p, 1, d / "sortie.mkv");
    attendre_fin_du_fil(*p);
    EXPECT_EQ(session.erreur(), std::optional<std::string>("vue d'entrée"));
    EXPECT_TRUE(p->transformee->detruite);
    EXPECT_GT(p->transformee->collectes.load(), 30);  // more than the channel could hold
}

TEST(Session, EchecDeMiseEnPlaceDonneLaChaineDErreur) {
    essai::DossierTemp d;
    auto p = std::make_shared<faux::FaussePlateforme>();
    p->echec_peripherique = commun::Erreur("aucune carte graphique matérielle", commun::Erreur("DXGI"));
    auto session = SessionEnregistrement::demarrer(p, 1, d / "sortie.mkv");
    attendre_fin_du_fil(*p);
    EXPECT_EQ(session.erreur(), std::optional<std::string>("aucune carte graphique matérielle: DXGI"));
    EXPECT_EQ(session.octets(), 0u);
    EXPECT_FALSE(std::move(session).finir().has_value());
    EXPECT_FALSE(fs::exists(d / "sortie.mkv"));
    EXPECT_EQ(p->debuts_minuterie.load(), 1);
}

TEST(Session, AbandonneeSansFinirArreteEtGardeLeFichier) {
    essai::DossierTemp d;
    auto p = std::make_shared<faux::FaussePlateforme>();
    p->scenario = [](faux::FaussePlateforme& pf, std::uint64_t n) {
        if (n == 1) {
            pf.capture->livrer(800, 600);
        }
    };
    {
        auto session = SessionEnregistrement::demarrer(p, 1, d / "sortie.mkv");
        while (session.octets() == 0 && p->fins_minuterie.load() == 0) {
            std::this_thread::sleep_for(1ms);
        }
    }
    EXPECT_EQ(p->fins_minuterie.load(), 1);
    EXPECT_TRUE(segment_termine(lire(d / "sortie.mkv")));
}

TEST(Session, SecondesEcouleesTronquees) {
    essai::DossierTemp d;
    auto p = std::make_shared<faux::FaussePlateforme>();
    p->echec_peripherique = commun::Erreur("x");
    auto session = SessionEnregistrement::demarrer(p, 1, d / "sortie.mkv");
    attendre_fin_du_fil(*p);
    EXPECT_EQ(session.secondes_ecoulees(), 0u);
    p->avancer(1999ms);
    EXPECT_EQ(session.secondes_ecoulees(), 1u);
    p->avancer(1ms);
    EXPECT_EQ(session.secondes_ecoulees(), 2u);
}

}  // namespace
