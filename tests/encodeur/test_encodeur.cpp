#include "encodeur/encodeur.hpp"

#include <gtest/gtest.h>

#include <mutex>

#include "../enregistrement/faux_pipeline.hpp"
#include "commun/journal.hpp"

namespace {

using namespace std::chrono_literals;
using encodeur::EncodeurMateriel;
using encodeur::Soumission;
using encodeur::TypeEvenement;

struct Banc {
    std::shared_ptr<faux::EtatTransformee> etat;
    pipeline::Recepteur<pipeline::ImageEncodee> recepteur;
    std::optional<EncodeurMateriel> encodeur;

    explicit Banc(faux::Reglages r, std::size_t capacite = 30) : etat(std::make_shared<faux::EtatTransformee>(r)) {
        auto [e, rc] = pipeline::creer_canal<pipeline::ImageEncodee>(capacite);
        recepteur = std::move(rc);
        encodeur.emplace(
            EncodeurMateriel::creer(std::make_unique<faux::FausseTransformee>(etat), 30, std::move(e)).value());
    }
};

TEST(EncodeurMateriel, InputCreditAllowsOneSubmissionPerRequest) {
    faux::Reglages r;
    r.demandes_initiales = 0;
    r.redemander = false;
    r.produire = false;
    Banc b(r);
    faux::FausseSortie surface;
    EXPECT_EQ(b.encodeur->soumettre_texture(surface, 0).value(), Soumission::non_soumise);

    b.etat->ajouter_evenement(TypeEvenement::besoin_entree);
    b.etat->ajouter_evenement(TypeEvenement::besoin_entree);
    b.etat->attendre_calme();
    EXPECT_EQ(b.encodeur->credit(), 2u);
    EXPECT_EQ(b.encodeur->soumettre_texture(surface, 1).value(), Soumission::soumise);
    EXPECT_EQ(b.encodeur->soumettre_texture(surface, 3).value(), Soumission::soumise);
    EXPECT_EQ(b.encodeur->soumettre_texture(surface, 4).value(), Soumission::non_soumise);

    const auto s = b.etat->soumissions();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].temps, 333333);
    EXPECT_EQ(s[1].temps, 1000000);
    EXPECT_EQ(s[1].duree, 333333);
}

TEST(EncodeurMateriel, FailedSubmissionStillSpendsTheCredit) {
    faux::Reglages r;
    r.demandes_initiales = 1;
    r.soumission_en_echec = true;
    Banc b(r);
    b.etat->attendre_calme();
    faux::FausseSortie surface;
    EXPECT_EQ(b.encodeur->soumettre_texture(surface, 0).error().message(), "ProcessInput refusé");
    EXPECT_EQ(b.encodeur->credit(), 0u);
    EXPECT_EQ(b.encodeur->soumettre_texture(surface, 1).value(), Soumission::non_soumise);
}

TEST(EncodeurMateriel, OutputsReachTheChannelInOrder) {
    faux::Reglages r;
    r.demandes_initiales = 1;
    r.gop = 2;
    Banc b(r);
    faux::FausseSortie surface;
    for (std::uint64_t n = 0; n < 3; ++n) {
        b.etat->attendre_calme();
        ASSERT_EQ(b.encodeur->soumettre_texture(surface, n).value(), Soumission::soumise);
    }
    b.etat->attendre_calme();
    std::vector<pipeline::ImageEncodee> recues;
    pipeline::ImageEncodee image;
    while (b.recepteur.essayer_recevoir(image) == pipeline::EtatReception::recu) {
        recues.push_back(image);
    }
    ASSERT_EQ(recues.size(), 3u);
    EXPECT_EQ(recues[0].horodatage, 0);
    EXPECT_EQ(recues[2].horodatage, 666666);
    EXPECT_TRUE(recues[0].cle);
    EXPECT_FALSE(recues[1].cle);
    EXPECT_TRUE(recues[2].cle);
}

TEST(EncodeurMateriel, ErrorEventsAreLoggedAndTheThreadGoesOn) {
    std::mutex verrou;
    std::vector<std::string> journal;
    commun::journal::installer_puits([&](commun::journal::Niveau n, std::string_view cible, std::string_view m) {
        std::lock_guard g(verrou);
        if (n == commun::journal::Niveau::erreur) {
            journal.push_back(std::string(cible) + "|" + std::string(m));
        }
    });
    faux::Reglages r;
    r.demandes_initiales = 0;
    Banc b(r);
    b.etat->ajouter_evenement(TypeEvenement::erreur);
    b.etat->ajouter_evenement(TypeEvenement::autre);
    b.etat->ajouter_evenement(TypeEvenement::besoin_entree);
    b.etat->attendre_calme();
    commun::journal::installer_puits({});
    EXPECT_EQ(journal, (std::vector<std::string>{
                           "balisor_anticheat_lib::encodeur|encodeur : événement d'erreur Media Foundation"}));
    EXPECT_EQ(b.encodeur->credit(), 1u);
}

TEST(EncodeurMateriel, WithoutReceiverOutputsAreCollectedThenDropped) {
    faux::Reglages r;
    r.demandes_initiales = 1;
    Banc b(r, 1);
    b.recepteur.fermer();
    faux::FausseSortie surface;
    for (std::uint64_t n = 0; n < 4; ++n) {
        b.etat->attendre_calme();
        ASSERT_EQ(b.encodeur->soumettre_texture(surface, n).value(), Soumission::soumise);
    }
    b.etat->attendre_calme();
    EXPECT_EQ(b.etat->collectes.load(), 4);
    std::move(*b.encodeur).arreter();
    EXPECT_EQ(b.etat->fins_de_flux.load(), 1);
    EXPECT_TRUE(b.etat->detruite);
}

TEST(EncodeurMateriel, DroppedWithoutStopStillJoinsAndEndsTheStream) {
    faux::Reglages r;
    Banc b(r);
    b.etat->attendre_calme();
    b.encodeur.reset();
    EXPECT_TRUE(b.etat->detruite);
    EXPECT_EQ(b.etat->fins_de_flux.load(), 1);
    EXPECT_EQ(b.etat->initialisations_fil.load(), 1);
}

}  // namespace
