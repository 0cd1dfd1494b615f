// libx264 as an asynchronous transform: event flow, access units, keyframes with parameter
// sets, time stamps, rate control and the configuration mapping.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <set>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "conversion/conversion_ffmpeg.hpp"
#include "encodeur/config.hpp"
#include "encodeur/encodeur_ffmpeg.hpp"
#include "enregistrement/session.hpp"

namespace {

using namespace std::chrono_literals;
using encodeur::TransformX264;
using encodeur::TypeEvenement;

// The recording's settings, as its encoder gets them without diagnostic options.
encodeur::ConfigX264 config_enregistrement() {
    return encodeur::config_x264(enregistrement::config_enregistrement(), encodeur::OptionsDiagnostic{});
}

// NAL unit types of an Annex B access unit, in order.
std::vector<int> types_nal(const std::vector<std::uint8_t>& d) {
    std::vector<int> types;
    for (std::size_t i = 0; i + 3 < d.size(); ++i) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            types.push_back(d[i + 3] & 0x1F);
            i += 2;
        }
    }
    return types;
}

// Byte after the start code of the first SPS: profile_idc, constraints, level_idc.
std::optional<std::pair<int, int>> profil_niveau(const std::vector<std::uint8_t>& d) {
    for (std::size_t i = 0; i + 6 < d.size(); ++i) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && (d[i + 3] & 0x1F) == 7) {
            return std::pair{static_cast<int>(d[i + 4]), static_cast<int>(d[i + 6])};
        }
    }
    return std::nullopt;
}

struct Pilote {
    explicit Pilote(TransformX264& transformee) : t(transformee) {}
    TransformX264& t;
    std::uint32_t credit = 0;
    std::vector<pipeline::ImageEncodee> sorties;

    void pomper() {
        for (TypeEvenement e = t.evenement_suivant(); e != TypeEvenement::aucun; e = t.evenement_suivant()) {
            ASSERT_NE(e, TypeEvenement::erreur);
            if (e == TypeEvenement::besoin_entree) {
                ++credit;
            } else if (e == TypeEvenement::sortie_prete) {
                auto s = t.sortie();
                ASSERT_TRUE(s);
                sorties.push_back(std::move(*s));
            }
        }
    }
    // Waits for credit as the event thread would, then submits.
    void soumettre(conversion::SurfaceNv12Cpu& s, std::int64_t temps) {
        const auto fin = std::chrono::steady_clock::now() + 20s;
        while (credit == 0 && std::chrono::steady_clock::now() < fin) {
            pomper();
            std::this_thread::sleep_for(200us);
        }
        ASSERT_GT(credit, 0U);
        --credit;
        ASSERT_TRUE(t.soumettre(s, temps, 333333));
    }
    void attendre_sorties(std::size_t n) {
        const auto fin = std::chrono::steady_clock::now() + 20s;
        while (sorties.size() < n && std::chrono::steady_clock::now() < fin) {
            pomper();
            std::this_thread::sleep_for(200us);
        }
    }
};

void bruit(conversion::SurfaceNv12Cpu& s, std::mt19937& alea) {
    for (std::size_t i = 0; i < s.pas() * s.hauteur() * 3 / 2; ++i) {
        s.luma()[i] = static_cast<std::uint8_t>(16 + alea() % 220);
    }
}

TEST(TransformX264, AccesUnitesDansLOrdreAvecImagesClesEtEnTetes) {
    encodeur::ConfigX264 config = config_enregistrement();
    config.gop_images = 10;
    auto t = TransformX264::creer(config);
    ASSERT_TRUE(t) << t.error().chaine();
    conversion::SurfaceNv12Cpu surface(1280, 720);
    surface.remplir_noir();
    Pilote p{**t};
    p.pomper();
    EXPECT_EQ(p.credit, TransformX264::entrees_en_attente);
    EXPECT_TRUE(p.sorties.empty());

    constexpr int n = 25;
    for (int i = 0; i < n; ++i) {
        // Two frames skipped as after a stall: the times are kept as given.
        const std::int64_t indice = i < 12 ? i : i + 2;
        surface.rendre_inscriptible();
        surface.luma()[static_cast<std::size_t>(i)] = 200;
        p.soumettre(surface, indice * 333333);
    }
    p.attendre_sorties(n);
    ASSERT_EQ(p.sorties.size(), static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        const auto& s = p.sorties[static_cast<std::size_t>(i)];
        const std::int64_t indice = i < 12 ? i : i + 2;
        EXPECT_EQ(s.horodatage, indice * 333333) << i;
        EXPECT_EQ(s.duree, 333333) << i;
        ASSERT_GE(s.donnees.size(), 4U);
        EXPECT_EQ(s.donnees[0] | s.donnees[1], 0) << "Annex B start code";
        const auto types = types_nal(s.donnees);
        const bool sps = std::count(types.begin(), types.end(), 7) == 1;
        const bool pps = std::count(types.begin(), types.end(), 8) == 1;
        const bool idr = std::count(types.begin(), types.end(), 5) > 0;
        EXPECT_EQ(s.cle, i % 10 == 0) << i;
        EXPECT_EQ(idr, s.cle) << i;
        // Parameter sets travel with every keyframe, and only with keyframes.
        EXPECT_EQ(sps, s.cle) << i;
        EXPECT_EQ(pps, s.cle) << i;
    }
    const auto pn = profil_niveau(p.sorties[10].donnees);
    ASSERT_TRUE(pn);
    EXPECT_EQ(pn->first, 100);  // High
    EXPECT_EQ(pn->second, 40);
}

// Luma at the centre of each picture the units decode to, with FFmpeg's own decoder.
std::vector<int> luma_decodee(const std::vector<pipeline::ImageEncodee>& unites) {
    std::vector<int> valeurs;
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    AVPacket* paquet = av_packet_alloc();
    AVFrame* image = av_frame_alloc();
    if (avcodec_open2(c, codec, nullptr) == 0) {
        auto recevoir = [&] {
            while (avcodec_receive_frame(c, image) == 0) {
                valeurs.push_back(image->data[0][(image->height / 2) * image->linesize[0] + image->width / 2]);
            }
        };
        for (const auto& u : unites) {
            av_new_packet(paquet, static_cast<int>(u.donnees.size()));
            std::memcpy(paquet->data, u.donnees.data(), u.donnees.size());
            avcodec_send_packet(c, paquet);
            av_packet_unref(paquet);
            recevoir();
        }
        avcodec_send_packet(c, nullptr);
        recevoir();
    }
    av_frame_free(&image);
    av_packet_free(&paquet);
    avcodec_free_context(&c);
    return valeurs;
}

TEST(TransformX264, SurfaceReecriteApresSoumissionNAltereQueLaSuivante) {
    // The encoder keeps a reference instead of a copy: rewriting the surface right after
    // submitting it must reach only the next frame.
    auto t = TransformX264::creer(config_enregistrement());
    ASSERT_TRUE(t);
    conversion::SurfaceNv12Cpu surface(1280, 720);
    surface.remplir_noir();
    Pilote p(**t);
    for (int i = 0; i < 6; ++i) {
        p.soumettre(surface, static_cast<std::int64_t>(i) * 333333);
        surface.rendre_inscriptible();
        std::memset(surface.luma(), i % 2 == 0 ? 235 : 16, surface.pas() * 720);
    }
    p.attendre_sorties(6);
    ASSERT_EQ(p.sorties.size(), 6U);
    const auto y = luma_decodee(p.sorties);
    ASSERT_EQ(y.size(), 6U);
    for (std::size_t i = 0; i < y.size(); ++i) {
        EXPECT_NEAR(y[i], i % 2 == 0 ? 16 : 235, 3) << i;
    }
}

TEST(TransformX264, DebitConstantPlafonne) {
    encodeur::ConfigX264 config = config_enregistrement();
    auto t = TransformX264::creer(config);
    ASSERT_TRUE(t);
    std::vector<std::unique_ptr<conversion::SurfaceNv12Cpu>> surfaces;
    std::mt19937 alea(7);
    for (int i = 0; i < 4; ++i) {
        surfaces.push_back(std::make_unique<conversion::SurfaceNv12Cpu>(1280, 720));
        bruit(*surfaces.back(), alea);
    }
    Pilote p{**t};
    constexpr int n = 45;  // 1.5 s of noise, the worst case for the rate control
    for (int i = 0; i < n; ++i) {
        p.soumettre(*surfaces[static_cast<std::size_t>(i % 4)], static_cast<std::int64_t>(i) * 333333);
    }
    p.attendre_sorties(n);
    ASSERT_EQ(p.sorties.size(), static_cast<std::size_t>(n));
    double bits = 0;
    for (const auto& s : p.sorties) {
        bits += static_cast<double>(s.donnees.size()) * 8;
    }
    const double secondes = n / 30.0;
    // At most the rate plus one full buffer (half a second); noise uses most of the budget.
    EXPECT_LE(bits, 2.5e6 * secondes + 1.25e6);
    EXPECT_GE(bits, 0.5 * 2.5e6 * secondes);
}

TEST(TransformX264, FaibleLatenceRendChaqueImageAussitot) {
    encodeur::ConfigX264 config = config_enregistrement();
    auto t = TransformX264::creer(config);
    ASSERT_TRUE(t);
    conversion::SurfaceNv12Cpu surface(1280, 720);
    surface.remplir_noir();
    Pilote p{**t};
    p.soumettre(surface, 0);
    p.attendre_sorties(1);
    EXPECT_EQ(p.sorties.size(), 1U);

    // Without low latency x264 looks ahead: nothing comes out after a single frame.
    config.faible_latence = false;
    auto lent = TransformX264::creer(config);
    ASSERT_TRUE(lent);
    Pilote q{**lent};
    q.soumettre(surface, 0);
    std::this_thread::sleep_for(300ms);
    q.pomper();
    EXPECT_TRUE(q.sorties.empty());
}

TEST(TransformX264, SurfaceEtConfigurationRefusees) {
    auto t = TransformX264::creer(config_enregistrement());
    ASSERT_TRUE(t);
    conversion::SurfaceNv12Cpu petite(640, 360);
    EXPECT_FALSE((*t)->soumettre(petite, 0, 333333));
    encodeur::ConfigX264 impair = config_enregistrement();
    impair.largeur = 1279;
    EXPECT_FALSE(TransformX264::creer(impair));
    encodeur::ConfigX264 debit = config_enregistrement();
    debit.debit_kbps = 4'294'967'295U;  // half of it in bits would not fit the codec's int
    EXPECT_FALSE(TransformX264::creer(debit));
    encodeur::ConfigX264 gop = config_enregistrement();
    gop.gop_images = 4'000'000'000U;  // a diagnostic override may be that large
    EXPECT_TRUE(TransformX264::creer(gop));
    // Ending the stream, then destroying the transform, stops the worker once.
    (*t)->terminer_flux();
}

TEST(ConfigX264, PresetsQualiteVitesse) {
    EXPECT_STREQ(encodeur::preset_x264(20), "superfast");
    EXPECT_STREQ(encodeur::preset_x264(50), "veryfast");
    EXPECT_STREQ(encodeur::preset_x264(85), "medium");
    EXPECT_STREQ(encodeur::preset_x264(0), "superfast");
    EXPECT_STREQ(encodeur::preset_x264(34), "superfast");
    EXPECT_STREQ(encodeur::preset_x264(36), "veryfast");
    EXPECT_STREQ(encodeur::preset_x264(67), "veryfast");
    EXPECT_STREQ(encodeur::preset_x264(68), "medium");
    EXPECT_STREQ(encodeur::preset_x264(100), "medium");
}

TEST(ConfigX264, DepuisLaConfigurationEtLesOptions) {
    encodeur::ConfigEncodeur c = enregistrement::config_enregistrement();
    encodeur::OptionsDiagnostic o;
    auto x = encodeur::config_x264(c, o);
    EXPECT_EQ(x.gop_images, 60U);
    EXPECT_EQ(x.qualite_vitesse, 50U);
    EXPECT_EQ(x.niveau, 40U);
    EXPECT_EQ(x.debit_kbps, 2500U);
    EXPECT_EQ(x.images_b, 0U);
    EXPECT_TRUE(x.faible_latence);

    c.largeur = 1920;
    c.hauteur = 1080;
    c.images_par_seconde = 60;
    c.preset = 2;
    o.gop_test = 90;
    o.faible_latence = false;
    x = encodeur::config_x264(c, o);
    EXPECT_EQ(x.gop_images, 90U);
    EXPECT_EQ(x.qualite_vitesse, 85U);
    EXPECT_EQ(x.niveau, 42U);
    EXPECT_FALSE(x.faible_latence);

    auto t = TransformX264::creer(config_enregistrement());
    ASSERT_TRUE(t);
    const auto r = (*t)->reglages();
    EXPECT_EQ(r.gop, 60U);
    EXPECT_EQ(r.debit, 2500000U);
    EXPECT_EQ(r.mode, 0U);
    EXPECT_EQ(r.images_b, 0U);
}

}  // namespace
