// Real H.264 from the ffmpeg command line goes through the channel and the sink; ffprobe must
// decode every frame of the file and mkvinfo must parse it, finished or abandoned.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/dossier_temp.hpp"
#include "lecture_ebml.hpp"
#include "mkv/sortie.hpp"

namespace {

using essai::Octets;
using pipeline::ImageEncodee;

struct Resultat {
    int statut = -1;
    std::string sortie;
    std::string erreurs;
};

// Runs a shell command, capturing its standard output and error.
Resultat lancer(const std::string& commande, const essai::DossierTemp& dossier) {
    const auto fichier_erreurs = dossier / "stderr.txt";
    Resultat r;
    std::FILE* f = ::popen((commande + " 2>'" + fichier_erreurs.string() + "'").c_str(), "r");
    if (f == nullptr) {
        return r;
    }
    char tampon[4096];
    std::size_t n = 0;
    while ((n = std::fread(tampon, 1, sizeof tampon, f)) > 0) {
        r.sortie.append(tampon, n);
    }
    const int s = ::pclose(f);
    r.statut = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    std::ifstream e(fichier_erreurs);
    std::stringstream ss;
    ss << e.rdbuf();
    r.erreurs = ss.str();
    return r;
}

std::size_t occurrences(const std::string& texte, const std::string& motif) {
    std::size_t n = 0;
    for (auto p = texte.find(motif); p != std::string::npos; p = texte.find(motif, p + 1)) {
        ++n;
    }
    return n;
}

bool outil_present(const char* nom) {
    return std::system((std::string("command -v ") + nom + " >/dev/null 2>&1").c_str()) == 0;
}

// Splits a raw stream into access units at each delimiter's start code (4 bytes with ffmpeg).
std::vector<Octets> unites_acces(const Octets& flux) {
    std::vector<std::size_t> debuts;
    for (std::size_t j = 0; j + 4 <= flux.size(); ++j) {
        if (flux[j] == 0 && flux[j + 1] == 0 && flux[j + 2] == 1 && (flux[j + 3] & 0x1F) == 9) {
            debuts.push_back(j > 0 && flux[j - 1] == 0 ? j - 1 : j);
        }
    }
    std::vector<Octets> r;
    for (std::size_t i = 0; i < debuts.size(); ++i) {
        const std::size_t fin = i + 1 < debuts.size() ? debuts[i + 1] : flux.size();
        r.emplace_back(flux.begin() + static_cast<std::ptrdiff_t>(debuts[i]),
                       flux.begin() + static_cast<std::ptrdiff_t>(fin));
    }
    return r;
}

// An access unit is a keyframe when it carries an IDR slice.
bool contient_idr(const Octets& au) {
    for (std::size_t j = 0; j + 3 < au.size(); ++j) {
        if (au[j] == 0 && au[j + 1] == 0 && au[j + 2] == 1 && (au[j + 3] & 0x1F) == 5) {
            return true;
        }
    }
    return false;
}

class BoutEnBout : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* outil : {"ffmpeg", "ffprobe", "mkvinfo"}) {
            if (!outil_present(outil)) {
                GTEST_SKIP() << outil << " absent";
            }
        }
        const auto brut = dossier_ / "flux.h264";
        const auto r = lancer(
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=1280x720:rate=30 -t 4 "
            "-pix_fmt yuv420p -c:v libx264 -preset veryfast -profile:v high -bf 0 -g 60 -keyint_min 60 "
            "-sc_threshold 0 -x264-params aud=1:repeat-headers=1 -bsf:v h264_mp4toannexb "
            "-f h264 '" +
                brut.string() + "'",
            dossier_);
        ASSERT_EQ(r.statut, 0) << r.erreurs;
        unites_ = unites_acces(essai::lire_octets(brut));
        ASSERT_EQ(unites_.size(), 120u);
        ASSERT_TRUE(contient_idr(unites_[0]));
        ASSERT_TRUE(contient_idr(unites_[60]));
    }

    // Sends the images from another thread through a channel of 30 and drains it like the
    // session's ticks do. Returns the sink state, writer included.
    mkv::EtatSortie enregistrer(const std::filesystem::path& chemin) {
        auto [tx, rx] = pipeline::creer_canal<ImageEncodee>(30);
        std::atomic<bool> fini{false};
        std::thread encodeur([&, tx = std::move(tx)]() mutable {
            const std::int64_t origine = 987'654'321;
            // Trailing images of a stream joined late: dropped until the first keyframe.
            for (std::size_t i = 117; i < 120; ++i) {
                tx.envoyer({unites_[i], origine - 333333 * static_cast<std::int64_t>(120 - i), 333333, false});
            }
            for (std::size_t i = 0; i < unites_.size(); ++i) {
                const auto t = origine + static_cast<std::int64_t>(i) * 1'000'000'000 / 3000;
                tx.envoyer({unites_[i], t, 333333, contient_idr(unites_[i])});
            }
            fini = true;
        });
        mkv::EtatSortie etat{1280, 720};
        std::atomic<std::uint64_t> octets{0};
        std::uint64_t precedent = 0;
        // One last drain after the encoder has sent everything.
        for (bool dernier = false; !dernier;) {
            dernier = fini.load();
            auto r = mkv::ecrire_images_encodees(rx, chemin, etat, octets);
            EXPECT_TRUE(r) << r.error().chaine();
            EXPECT_GE(octets.load(), precedent);
            precedent = octets.load();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        encodeur.join();
        EXPECT_TRUE(etat.ecrivain.has_value());
        return etat;
    }

    Resultat sonder(const std::filesystem::path& chemin) {
        return lancer(
            "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
            "stream=codec_name,width,height,nb_read_frames -of default=noprint_wrappers=1 '" +
                chemin.string() + "'",
            dossier_);
    }

    Resultat mkvinfo(const std::filesystem::path& chemin) {
        return lancer("LC_ALL=C mkvinfo -v '" + chemin.string() + "'", dossier_);
    }

    essai::DossierTemp dossier_;
    std::vector<Octets> unites_;
};

TEST_F(BoutEnBout, FichierTermine) {
    const auto chemin = dossier_ / "termine.mkv";
    auto etat = enregistrer(chemin);
    ASSERT_TRUE(etat.ecrivain);
    ASSERT_TRUE(std::move(*etat.ecrivain).terminer());

    const auto p = sonder(chemin);
    EXPECT_EQ(p.statut, 0);
    EXPECT_EQ(p.erreurs, "");
    EXPECT_EQ(p.sortie, "codec_name=h264\nwidth=1280\nheight=720\nnb_read_frames=120\n");

    const auto m = mkvinfo(chemin);
    EXPECT_EQ(m.statut, 0) << m.sortie << m.erreurs;
    EXPECT_NE(m.sortie.find("Codec ID: V_MPEG4/ISO/AVC"), std::string::npos) << m.sortie;
    EXPECT_NE(m.sortie.find("Pixel width: 1280"), std::string::npos);
    EXPECT_NE(m.sortie.find("Pixel height: 720"), std::string::npos);
    EXPECT_NE(m.sortie.find("Segment: size " + std::to_string(std::filesystem::file_size(chemin) - 52)),
              std::string::npos);
    EXPECT_NE(m.sortie.find("Seek head"), std::string::npos);
    EXPECT_NE(m.sortie.find("Duration: 00:00:03.966"), std::string::npos);
    EXPECT_EQ(occurrences(m.sortie, "Cluster timestamp:"), 2u);
    EXPECT_NE(m.sortie.find("Cluster timestamp: 00:00:02.000"), std::string::npos);
    EXPECT_EQ(occurrences(m.sortie, "Frame with size"), 120u);
    EXPECT_NE(m.sortie.find("Cues"), std::string::npos);
    EXPECT_EQ(m.sortie.find("rror"), std::string::npos) << m.sortie;
}

TEST_F(BoutEnBout, FichierAbandonne) {
    const auto chemin = dossier_ / "abandonne.mkv";
    {
        auto etat = enregistrer(chemin);
        // Dropped unfinished: the open cluster (the second GOP) is lost.
    }
    const auto p = sonder(chemin);
    EXPECT_EQ(p.statut, 0);
    EXPECT_EQ(p.erreurs, "");
    EXPECT_EQ(p.sortie, "codec_name=h264\nwidth=1280\nheight=720\nnb_read_frames=60\n");

    const auto m = mkvinfo(chemin);
    EXPECT_EQ(m.statut, 0) << m.sortie << m.erreurs;
    EXPECT_NE(m.sortie.find("Codec ID: V_MPEG4/ISO/AVC"), std::string::npos) << m.sortie;
    EXPECT_NE(m.sortie.find("Segment: size unknown"), std::string::npos);
    EXPECT_EQ(occurrences(m.sortie, "Cluster timestamp:"), 1u);
    EXPECT_EQ(occurrences(m.sortie, "Frame with size"), 60u);
    EXPECT_EQ(m.sortie.find("Cues"), std::string::npos);
    EXPECT_EQ(m.sortie.find("rror"), std::string::npos) << m.sortie;
}

}  // namespace
