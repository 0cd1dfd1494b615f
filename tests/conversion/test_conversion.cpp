#include "conversion/conversion.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

using conversion::calculer_placement;

struct CasPlacement {
    std::uint32_t w, h;
    float echelle;
    std::int32_t largeur, hauteur, x, y;
};

TEST(Placement, LetterboxAndPillarboxInto1280x720) {
    const std::vector<CasPlacement> cas{
        {1920, 1080, 1280.0f / 1920.0f, 1280, 720, 0, 0},
        {1000, 1000, 0.72f, 720, 720, 280, 0},
        {1366, 768, 1280.0f / 1366.0f, 1280, 718, 0, 1},
        {800, 600, 1.2f, 960, 720, 160, 0},
        {1, 1, 720.0f, 720, 720, 280, 0},
    };
    for (const auto& c : cas) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        const auto p = calculer_placement(c.w, c.h, 1280, 720);
        EXPECT_EQ(p.echelle, c.echelle);
        EXPECT_EQ(p.largeur, c.largeur);
        EXPECT_EQ(p.hauteur, c.hauteur);
        EXPECT_EQ(p.x, c.x);
        EXPECT_EQ(p.y, c.y);
    }
    // The 1366 case is where float matters: 768 × 0.93704247 = 719.65, truncated then even.
    EXPECT_FLOAT_EQ(calculer_placement(1366, 768, 1280, 720).echelle, 0.93704247f);
}

TEST(Placement, ZeroSizedInputCountsAsOne) {
    const auto p = calculer_placement(0, 0, 1280, 720);
    EXPECT_EQ(p.largeur, 0);
    EXPECT_EQ(p.x, 640);
}

struct Image final : capture::Texture {};
struct Sortie final : conversion::SortieNv12 {};

struct Moteur final : conversion::MoteurNv12 {
    std::vector<Sortie> sorties = std::vector<Sortie>(4);
    std::vector<const capture::Texture*>* liaisons;
    std::vector<std::size_t>* ecritures;
    bool echec_liaison = false;
    bool echec_conversion = false;
    Moteur(std::vector<const capture::Texture*>* l, std::vector<std::size_t>* e) : liaisons(l), ecritures(e) {}
    std::size_t nombre_sorties() const override { return sorties.size(); }
    conversion::SortieNv12& sortie(std::size_t i) override { return sorties.at(i); }
    std::expected<void, commun::Erreur> preparer_entree(const capture::RefTexture& s) override {
        if (echec_liaison) {
            return std::unexpected(commun::Erreur("vue d'entrée"));
        }
        liaisons->push_back(s.get());
        return {};
    }
    std::expected<void, commun::Erreur> convertir(std::size_t i) override {
        ecritures->push_back(i);
        if (echec_conversion) {
            return std::unexpected(commun::Erreur("blit"));
        }
        return {};
    }
};

TEST(Convertisseur, SurfacesAreUsedInTurn) {
    std::vector<const capture::Texture*> liaisons;
    std::vector<std::size_t> ecritures;
    conversion::ConvertisseurNv12 c(std::make_unique<Moteur>(&liaisons, &ecritures));
    const capture::RefTexture source = std::make_shared<Image>();
    std::vector<std::size_t> indices;
    for (int i = 0; i < 5; ++i) {
        indices.push_back(c.convertir_image(source).value());
    }
    EXPECT_EQ(indices, (std::vector<std::size_t>{0, 1, 2, 3, 0}));
    EXPECT_EQ(ecritures, indices);
    EXPECT_EQ(liaisons.size(), 1u);  // bound once for the same image
}

TEST(Convertisseur, AnotherImageIsBoundAgainNeverReadThroughTheOldBinding) {
    std::vector<const capture::Texture*> liaisons;
    std::vector<std::size_t> ecritures;
    auto moteur = std::make_unique<Moteur>(&liaisons, &ecritures);
    Moteur& m = *moteur;
    conversion::ConvertisseurNv12 c(std::move(moteur));
    const capture::RefTexture a = std::make_shared<Image>();
    const capture::RefTexture b = std::make_shared<Image>();
    ASSERT_TRUE(c.convertir_image(a));
    ASSERT_TRUE(c.convertir_image(b));
    ASSERT_TRUE(c.convertir_image(b));
    EXPECT_EQ(liaisons, (std::vector<const capture::Texture*>{a.get(), b.get()}));

    // A failed binding is retried at the next call, not skipped over.
    m.echec_liaison = true;
    EXPECT_FALSE(c.convertir_image(a));
    m.echec_liaison = false;
    ASSERT_TRUE(c.convertir_image(a));
    EXPECT_EQ(liaisons.back(), a.get());
}

TEST(Convertisseur, FailedConversionHasStillUsedItsSurface) {
    std::vector<const capture::Texture*> liaisons;
    std::vector<std::size_t> ecritures;
    auto moteur = std::make_unique<Moteur>(&liaisons, &ecritures);
    Moteur& m = *moteur;
    conversion::ConvertisseurNv12 c(std::move(moteur));
    const capture::RefTexture source = std::make_shared<Image>();
    m.echec_conversion = true;
    EXPECT_EQ(c.convertir_image(source).error().message(), "blit");
    m.echec_conversion = false;
    EXPECT_EQ(c.convertir_image(source).value(), 1u);
}

}  // namespace
