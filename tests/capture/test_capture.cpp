#include "capture/capture.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Image final : capture::Texture {
    std::uint32_t largeur;
    std::uint32_t hauteur;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> copies;
    Image(std::uint32_t l, std::uint32_t h) : largeur(l), hauteur(h) {}
};

// A frame source that records what the rule asked of it.
struct Arrivee final : capture::ImageArrivee {
    bool echouer = false;
    int creations = 0;
    std::expected<capture::RefTexture, commun::Erreur> creer_image(std::uint32_t l, std::uint32_t h) override {
        ++creations;
        if (echouer) {
            return std::unexpected(commun::Erreur("E_OUTOFMEMORY"));
        }
        return std::make_shared<Image>(l, h);
    }
    void copier_vers(capture::Texture& d, std::uint32_t l, std::uint32_t h) override {
        auto& image = static_cast<Image&>(d);
        // The box copied never exceeds the destination.
        EXPECT_LE(l, image.largeur);
        EXPECT_LE(h, image.hauteur);
        image.copies.emplace_back(l, h);
    }
};

Image& image_de(capture::EtatCapture& etat) { return static_cast<Image&>(*etat.image->texture); }

TEST(DeposerImage, ReusesTheImageWhileTheSizeHoldsAndReplacesItOnResize) {
    capture::EtatCapture etat;
    Arrivee a;
    EXPECT_TRUE(capture::deposer_image(etat, 800, 600, a));
    const capture::Texture* premiere = etat.image->texture.get();
    EXPECT_TRUE(capture::deposer_image(etat, 800, 600, a));
    EXPECT_EQ(etat.image->texture.get(), premiere);
    EXPECT_EQ(image_de(etat).copies.size(), 2u);
    EXPECT_EQ(a.creations, 1);

    EXPECT_TRUE(capture::deposer_image(etat, 1024, 768, a));
    EXPECT_NE(etat.image->texture.get(), premiere);
    EXPECT_EQ(etat.image->largeur, 1024u);
    EXPECT_EQ(etat.image->hauteur, 768u);
    EXPECT_EQ(a.creations, 2);
}

TEST(DeposerImage, EmptyContentGivesAOneByOneImage) {
    capture::EtatCapture etat;
    Arrivee a;
    EXPECT_TRUE(capture::deposer_image(etat, 0, 0, a));
    EXPECT_EQ(etat.image->largeur, 1u);
    EXPECT_EQ(etat.image->hauteur, 1u);
    EXPECT_EQ(image_de(etat).copies.back(), std::make_pair(1u, 1u));
    EXPECT_TRUE(capture::deposer_image(etat, 0, 5, a));
    EXPECT_EQ(image_de(etat).copies.back(), std::make_pair(1u, 5u));
}

TEST(DeposerImage, FailedCreationSkipsTheFrameAndKeepsTheOlderImage) {
    capture::EtatCapture etat;
    Arrivee a;
    ASSERT_TRUE(capture::deposer_image(etat, 640, 480, a));
    a.echouer = true;
    EXPECT_FALSE(capture::deposer_image(etat, 1920, 1080, a));
    EXPECT_EQ(etat.image->largeur, 640u);
    EXPECT_EQ(image_de(etat).copies.size(), 1u);  // no 1920 × 1080 box into a 640 × 480 image

    capture::EtatCapture vide;
    EXPECT_FALSE(capture::deposer_image(vide, 10, 10, a));
    EXPECT_FALSE(vide.image.has_value());
}

TEST(SuiviTaille, AsksForARecreateOnlyWhenTheContentSizeChanges) {
    capture::SuiviTaille suivi(800, 600);
    EXPECT_FALSE(suivi.changer(800, 600));
    EXPECT_TRUE(suivi.changer(1024, 768));
    EXPECT_FALSE(suivi.changer(1024, 768));
    EXPECT_TRUE(suivi.changer(0, 0));
    EXPECT_FALSE(suivi.changer(0, 0));
}

}  // namespace
