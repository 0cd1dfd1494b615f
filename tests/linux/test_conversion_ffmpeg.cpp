// libswscale conversion: placement, BT.709 limited-range values, bars, ring surfaces.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/buffer.h>
}

#include "capture/texture_x11.hpp"
#include "conversion/conversion.hpp"
#include "conversion/conversion_ffmpeg.hpp"

namespace {

using conversion::MoteurSws;
using conversion::SurfaceNv12Cpu;

std::vector<std::uint8_t> uni(std::uint32_t l, std::uint32_t h, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    std::vector<std::uint8_t> p(static_cast<std::size_t>(l) * h * 4);
    for (std::size_t i = 0; i < p.size(); i += 4) {
        p[i] = b;
        p[i + 1] = g;
        p[i + 2] = r;
        p[i + 3] = 0;  // X leaves the alpha byte of depth-24 windows undefined
    }
    return p;
}

int y_at(const SurfaceNv12Cpu& s, std::uint32_t x, std::uint32_t y) { return s.luma()[y * s.pas() + x]; }
int u_at(const SurfaceNv12Cpu& s, std::uint32_t x, std::uint32_t y) {
    return s.chroma()[(y / 2) * s.pas() + (x / 2) * 2];
}
int v_at(const SurfaceNv12Cpu& s, std::uint32_t x, std::uint32_t y) {
    return s.chroma()[(y / 2) * s.pas() + (x / 2) * 2 + 1];
}

void attendre_noir(const SurfaceNv12Cpu& s, std::uint32_t x, std::uint32_t y) {
    EXPECT_EQ(y_at(s, x, y), 16) << x << "," << y;
    EXPECT_EQ(u_at(s, x, y), 128) << x << "," << y;
    EXPECT_EQ(v_at(s, x, y), 128) << x << "," << y;
}

std::unique_ptr<MoteurSws> moteur(std::uint32_t l, std::uint32_t h, std::uint32_t n = 4) {
    auto m = MoteurSws::creer(conversion::parametres_conversion(l, h, 1280, 720, 30, n));
    EXPECT_TRUE(m) << m.error().chaine();
    return m ? std::move(*m) : nullptr;
}

TEST(ConversionSws, RougeEnBt709LimiteAvecBandesNoires) {
    auto m = moteur(1000, 1000);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->placement().x, 280);
    EXPECT_EQ(m->placement().largeur, 720);
    const auto rouge = uni(1000, 1000, 0, 0, 255);
    ASSERT_TRUE(m->convertir_pixels(2, rouge.data(), 4000));
    const SurfaceNv12Cpu& s = m->sortie(2);
    EXPECT_EQ(s.largeur(), 1280U);
    EXPECT_EQ(s.hauteur(), 720U);
    // BT.709, 16–235: Y 63, Cb 102, Cr 240 (BT.601 would give 81, 90, 240).
    EXPECT_NEAR(y_at(s, 640, 360), 63, 1);
    EXPECT_NEAR(u_at(s, 640, 360), 102, 1);
    EXPECT_NEAR(v_at(s, 640, 360), 240, 1);
    EXPECT_NEAR(y_at(s, 280, 0), 63, 1);
    EXPECT_NEAR(y_at(s, 999, 719), 63, 1);
    attendre_noir(s, 0, 0);
    attendre_noir(s, 278, 360);
    attendre_noir(s, 1000, 360);
    attendre_noir(s, 1279, 719);
    // Only the surface asked for was written.
    attendre_noir(m->sortie(0), 640, 360);
    attendre_noir(m->sortie(3), 640, 360);
}

TEST(ConversionSws, PleineImageBlancheSansBandes) {
    auto m = moteur(1920, 1080, 1);
    ASSERT_TRUE(m);
    const auto blanc = uni(1920, 1080, 255, 255, 255);
    ASSERT_TRUE(m->convertir_pixels(0, blanc.data(), 1920 * 4));
    const SurfaceNv12Cpu& s = m->sortie(0);
    for (const auto& [x, y] : {std::pair{0U, 0U}, {1279U, 0U}, {0U, 719U}, {1279U, 719U}, {640U, 360U}}) {
        EXPECT_EQ(y_at(s, x, y), 235);
        EXPECT_EQ(u_at(s, x, y), 128);
        EXPECT_EQ(v_at(s, x, y), 128);
    }
}

TEST(ConversionSws, DecalageImpairRameneAuPairPourLaChroma) {
    // 1366 × 768 lands 1280 × 718 at y = 1: chroma rows cover two luma rows, so it starts at 0.
    auto m = moteur(1366, 768, 1);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->placement().y, 0);
    EXPECT_EQ(m->placement().hauteur, 718);
    const auto blanc = uni(1366, 768, 255, 255, 255);
    ASSERT_TRUE(m->convertir_pixels(0, blanc.data(), 1366 * 4));
    const SurfaceNv12Cpu& s = m->sortie(0);
    EXPECT_EQ(y_at(s, 0, 0), 235);
    EXPECT_EQ(y_at(s, 0, 717), 235);
    attendre_noir(s, 0, 718);
    attendre_noir(s, 1279, 719);
}

TEST(ConversionSws, PasDeLigneDeLaSourceSuivi) {
    // Rows padded to 40 bytes for a 7-pixel-wide image: the padding must not be read as pixels.
    constexpr std::uint32_t l = 7;
    constexpr std::uint32_t h = 4;
    std::vector<std::uint8_t> p(40 * h, 0);
    for (std::uint32_t y = 0; y < h; ++y) {
        for (std::uint32_t x = 0; x < l; ++x) {
            std::fill_n(p.begin() + y * 40 + x * 4, 3, 255);
        }
    }
    auto m = moteur(l, h, 1);
    ASSERT_TRUE(m);
    ASSERT_TRUE(m->convertir_pixels(0, p.data(), 40));
    const SurfaceNv12Cpu& s = m->sortie(0);
    const auto pl = m->placement();
    EXPECT_EQ(y_at(s, static_cast<std::uint32_t>(pl.x + pl.largeur / 2), 360), 235);
    EXPECT_EQ(y_at(s, static_cast<std::uint32_t>(pl.x + pl.largeur - 1), 719), 235);
}

TEST(SurfaceNv12Cpu, StockagePartageRemplaceAvantEcriture) {
    SurfaceNv12Cpu s(64, 32);
    s.remplir_noir();
    EXPECT_FALSE(s.rendre_inscriptible()) << "nobody else holds it";
    AVBufferRef* tenue = s.referencer();
    ASSERT_NE(tenue, nullptr);
    EXPECT_EQ(tenue->data, s.luma());
    EXPECT_TRUE(s.rendre_inscriptible());
    EXPECT_NE(tenue->data, s.luma());
    EXPECT_EQ(s.luma()[0], 16);
    EXPECT_EQ(s.chroma()[0], 128);
    std::memset(s.luma(), 200, s.pas() * 32);
    EXPECT_EQ(tenue->data[0], 16) << "the held picture is untouched";
    av_buffer_unref(&tenue);
    EXPECT_FALSE(s.rendre_inscriptible());
}

TEST(ConversionSws, SurfaceEncoreTenueParLEncodeurNEstPasReecrite) {
    auto m = moteur(64, 64, 1);
    ASSERT_TRUE(m);
    const auto blanc = uni(64, 64, 255, 255, 255);
    AVBufferRef* tenue = m->sortie(0).referencer();
    ASSERT_TRUE(m->convertir_pixels(0, blanc.data(), 64 * 4));
    EXPECT_EQ(y_at(m->sortie(0), 640, 360), 235);
    EXPECT_EQ(y_at(m->sortie(0), 0, 0), 16) << "bars painted on the new storage";
    EXPECT_EQ(tenue->data[360 * m->sortie(0).pas() + 640], 16);
    av_buffer_unref(&tenue);
}

TEST(ConversionSws, ParametresEtEntreesRefusees) {
    auto p = conversion::parametres_conversion(100, 100, 1280, 720, 30, 4);
    p.placement.x = 1200;
    EXPECT_FALSE(MoteurSws::creer(p));
    p = conversion::parametres_conversion(100, 100, 1281, 720, 30, 4);
    EXPECT_FALSE(MoteurSws::creer(p));
    p = conversion::parametres_conversion(100, 100, 1280, 720, 30, 0);
    EXPECT_FALSE(MoteurSws::creer(p));

    auto m = moteur(100, 100);
    ASSERT_TRUE(m);
    const auto img = uni(100, 100, 1, 2, 3);
    EXPECT_FALSE(m->convertir_pixels(4, img.data(), 400));
    EXPECT_FALSE(m->convertir_pixels(0, img.data(), 399));
    EXPECT_FALSE(m->convertir(0)) << "no input bound yet";
    EXPECT_FALSE(m->preparer_entree(std::make_shared<capture::TextureCpu>(100, 101)));
}

TEST(ConversionSws, FenetreTropFinePourLaSortieDonneDesImagesNoires) {
    // A window 1 px wide and 721 tall (or 5000 × 3) scales to less than one chroma pair: the
    // recording goes on with black frames instead of ending on that window's shape.
    for (const auto& [l, h] : {std::pair{1U, 721U}, {5000U, 3U}, {1281U, 1U}}) {
        auto m = MoteurSws::creer(conversion::parametres_conversion(l, h, 1280, 720, 30, 2));
        ASSERT_TRUE(m) << l << "x" << h << " : " << m.error().chaine();
        const auto img = uni(l, h, 255, 255, 255);
        ASSERT_TRUE((*m)->convertir_pixels(1, img.data(), static_cast<std::size_t>(l) * 4));
        attendre_noir((*m)->sortie(1), 0, 0);
        attendre_noir((*m)->sortie(1), 640, 360);
        attendre_noir((*m)->sortie(1), 1279, 719);
    }
}

TEST(ConversionSws, ConvertisseurPortableSurImageCpu) {
    auto peripherique = capture::Peripherique{};
    auto conv = conversion::creer_convertisseur(peripherique, 64, 36, 1280, 720, 30, 4);
    ASSERT_TRUE(conv) << conv.error().chaine();
    auto image = std::make_shared<capture::TextureCpu>(64, 36);
    std::fill(image->pixels.begin(), image->pixels.end(), 255);
    for (std::size_t attendu : {0U, 1U, 2U, 3U, 0U}) {
        auto i = conv->convertir_image(image);
        ASSERT_TRUE(i) << i.error().chaine();
        EXPECT_EQ(*i, attendu);
    }
    auto& s = dynamic_cast<SurfaceNv12Cpu&>(conv->sortie(3));
    EXPECT_EQ(y_at(s, 640, 360), 235);
}

TEST(ConversionSws, ImageInchangeeRepeteeEtImageNouvelleConvertie) {
    auto m = moteur(64, 36);
    ASSERT_TRUE(m);
    auto image = std::make_shared<capture::TextureCpu>(64, 36);
    std::fill(image->pixels.begin(), image->pixels.end(), 255);
    image->generation = 1;
    ASSERT_TRUE(m->preparer_entree(image));
    ASSERT_TRUE(m->convertir(0));
    // Still the same capture: every surface of the ring gets the same picture.
    ASSERT_TRUE(m->convertir(1));
    ASSERT_TRUE(m->convertir(1));
    EXPECT_EQ(y_at(m->sortie(1), 640, 360), 235);
    EXPECT_EQ(std::memcmp(m->sortie(0).luma(), m->sortie(1).luma(), m->sortie(1).pas() * 720 * 3 / 2), 0);
    // A new capture into the same image: converted afresh.
    std::fill(image->pixels.begin(), image->pixels.end(), 0);
    ++image->generation;
    ASSERT_TRUE(m->convertir(2));
    EXPECT_EQ(y_at(m->sortie(2), 640, 360), 16);
    ASSERT_TRUE(m->convertir(3));
    EXPECT_EQ(y_at(m->sortie(3), 640, 360), 16);
    EXPECT_EQ(y_at(m->sortie(1), 640, 360), 235);
    // Another image bound, even with an equal generation number, is converted.
    auto autre = std::make_shared<capture::TextureCpu>(64, 36);
    std::fill(autre->pixels.begin(), autre->pixels.end(), 255);
    autre->generation = image->generation;
    ASSERT_TRUE(m->preparer_entree(autre));
    ASSERT_TRUE(m->convertir(0));
    EXPECT_EQ(y_at(m->sortie(0), 640, 360), 235);
}

}  // namespace
