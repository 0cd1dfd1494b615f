// The vextrel program recording a real X client on a private Xvfb, checked by ffprobe and
// mkvinfo.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <regex>
#include <thread>

#include <unistd.h>
#include <xcb/xcb.h>

#include <array>

#include "bin/vextrel/fenetres_x11.hpp"
#include "capture/affichage_x11.hpp"
#include "processus.hpp"

namespace {

using namespace std::chrono_literals;
using essai::Execution;

#ifndef VEXTREL_BINAIRE
#error "VEXTREL_BINAIRE must name the built program"
#endif
const std::string vextrel = VEXTREL_BINAIRE;

class Enregistrement : public ::testing::Test {
protected:
    void SetUp() override {
        serveur_ = essai::ServeurXPrive::demarrer();
        ASSERT_TRUE(serveur_) << "no private Xvfb could be started";
        client_ = essai::Processus::lancer({"xclock", "-update", "1"}, affichage());
        ASSERT_TRUE(client_);
        fenetre_ = essai::attendre_fenetre(affichage(), "xclock", 15s);
        ASSERT_TRUE(fenetre_) << "xclock never showed its window";
    }
    void TearDown() override {
        client_.reset();
        serveur_.reset();
    }
    const std::string& affichage() const { return serveur_->affichage(); }

    std::optional<essai::ServeurXPrive> serveur_;
    std::optional<essai::Processus> client_;
    std::optional<std::uint32_t> fenetre_;
    essai::DossierTemp temp_;
    const std::string dossier_ = temp_.chemin().string();
};

struct Probe {
    std::string codec;
    int largeur = 0;
    int hauteur = 0;
    int images = -1;
};

// Decodes every frame: a file ffprobe cannot decode gives no frame count.
Probe sonder(const std::string& chemin) {
    const Execution e =
        essai::executer({"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                         "stream=codec_name,width,height,nb_read_frames", "-of", "default=noprint_wrappers=1", chemin},
                        "");
    Probe p;
    std::smatch m;
    if (std::regex_search(e.sortie, m, std::regex("codec_name=(\\w+)"))) {
        p.codec = m[1];
    }
    if (std::regex_search(e.sortie, m, std::regex("width=(\\d+)"))) {
        p.largeur = std::stoi(m[1]);
    }
    if (std::regex_search(e.sortie, m, std::regex("height=(\\d+)"))) {
        p.hauteur = std::stoi(m[1]);
    }
    if (std::regex_search(e.sortie, m, std::regex("nb_read_frames=(\\d+)"))) {
        p.images = std::stoi(m[1]);
    }
    return p;
}

// mkvinfo parses it and the writer finished it (duration and index written at the end).
void verifier_matroska_termine(const std::string& chemin) {
    const Execution e = essai::executer({"mkvinfo", "-v", chemin}, "");
    EXPECT_EQ(e.statut, 0) << e.sortie << e.erreurs;
    EXPECT_NE(e.sortie.find("Duration:"), std::string::npos);
    EXPECT_NE(e.sortie.find("Cues"), std::string::npos);
    EXPECT_NE(e.sortie.find("Pixel width: 1280"), std::string::npos);
    EXPECT_NE(e.sortie.find("Pixel height: 720"), std::string::npos);
}

TEST_F(Enregistrement, TroisSecondesDonnentUnFichierH264Decodable) {
    const std::string chemin = dossier_ + "/sortie.mkv";
    const Execution e = essai::executer({vextrel, "xclock", "3", chemin}, affichage(), 30s);
    ASSERT_EQ(e.statut, 0) << e.erreurs;
    EXPECT_EQ(e.erreurs, "");
    const std::regex attendu("fenêtre xclock : hwnd " + std::to_string(*fenetre_) +
                             "\noctets : [1-9][0-9]* · durée 3s · erreur None\nfichier : Some\\(\"" + chemin +
                             "\"\\)\n");
    EXPECT_TRUE(std::regex_match(e.sortie, attendu)) << e.sortie;

    const Probe p = sonder(chemin);
    EXPECT_EQ(p.codec, "h264");
    EXPECT_EQ(p.largeur, 1280);
    EXPECT_EQ(p.hauteur, 720);
    // 30 per second for 3 s; a loaded machine may skip a few ticks, never add any.
    EXPECT_GE(p.images, 75);
    EXPECT_LE(p.images, 92);
    verifier_matroska_termine(chemin);
}

TEST_F(Enregistrement, ZeroSecondeNeLaisseAucunFichier) {
    const std::string chemin = dossier_ + "/vide.mkv";
    const Execution e = essai::executer({vextrel, "XCLOCK", "0", chemin}, affichage(), 30s);
    ASSERT_EQ(e.statut, 0) << e.erreurs;
    EXPECT_EQ(e.sortie, "fenêtre XCLOCK : hwnd " + std::to_string(*fenetre_) +
                            "\noctets : 0 · durée 0s · erreur None\nfichier : None\n");
    EXPECT_FALSE(std::filesystem::exists(chemin));
}

TEST_F(Enregistrement, ClientTueEnCoursDonneUnFichierTermine) {
    const std::string chemin = dossier_ + "/coupe.mkv";
    auto p = essai::Processus::lancer({vextrel, "xclock", "4", chemin}, affichage(), dossier_ + "/sortie",
                                      dossier_ + "/erreurs");
    ASSERT_TRUE(p);
    std::this_thread::sleep_for(1500ms);
    client_->signaler(SIGKILL);
    const auto statut = p->attendre(30s);
    ASSERT_TRUE(statut);
    EXPECT_EQ(*statut, 0);
    const std::string sortie = essai::lire_fichier(dossier_ + "/sortie");
    // The wait still runs its four seconds; the closed window is not an error.
    EXPECT_TRUE(std::regex_match(sortie, std::regex("fenêtre xclock : hwnd [0-9]+\noctets : [1-9][0-9]* · durée 4s · "
                                                    "erreur None\nfichier : Some\\(\".*\"\\)\n")))
        << sortie;
    const Probe probe = sonder(chemin);
    EXPECT_EQ(probe.codec, "h264");
    // About 1.5 s were recorded before the window went away.
    EXPECT_GE(probe.images, 15);
    EXPECT_LE(probe.images, 75);
    verifier_matroska_termine(chemin);
}

// The program's standard output through a FIFO, line by line as it is written, so that the
// test can act the moment a line appears. The reading end is open before the program starts:
// the spawn waits for the child's own opening, which would otherwise wait for a reader.
class SortieEnDirect {
public:
    explicit SortieEnDirect(std::string chemin) : chemin_(std::move(chemin)) {
        mkfifo(chemin_.c_str(), 0600);
        fd_ = open(chemin_.c_str(), O_RDONLY | O_NONBLOCK);
    }
    ~SortieEnDirect() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool ouverte() const { return fd_ >= 0; }
    const std::string& chemin() const { return chemin_; }
    // The next line without its LF; none at the end of the output or after `delai`.
    std::optional<std::string> ligne(std::chrono::milliseconds delai) {
        const auto fin = std::chrono::steady_clock::now() + delai;
        for (;;) {
            if (const auto lf = tampon_.find('\n'); lf != std::string::npos) {
                std::string l = tampon_.substr(0, lf);
                tampon_.erase(0, lf + 1);
                return l;
            }
            const auto reste =
                std::chrono::duration_cast<std::chrono::milliseconds>(fin - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (reste.count() <= 0 || poll(&p, 1, static_cast<int>(reste.count())) <= 0) {
                return std::nullopt;
            }
            char octets[512];
            const ssize_t n = read(fd_, octets, sizeof octets);
            if (n < 0 && errno == EAGAIN) {
                continue;
            }
            if (n <= 0) {
                return std::nullopt;
            }
            tampon_.append(octets, static_cast<std::size_t>(n));
        }
    }

private:
    std::string chemin_;
    int fd_ = -1;
    std::string tampon_;
};

// The Segment's duration in seconds as mkvinfo shows it ("Duration: 00:00:01.234000000").
std::optional<double> duree_matroska(const std::string& chemin) {
    const Execution e = essai::executer({"mkvinfo", "-v", chemin}, "");
    std::smatch m;
    if (!std::regex_search(e.sortie, m, std::regex("Duration: (\\d+):(\\d+):(\\d+\\.\\d+)"))) {
        return std::nullopt;
    }
    return std::stoi(m[1]) * 3600.0 + std::stoi(m[2]) * 60.0 + std::stod(m[3]);
}

TEST_F(Enregistrement, CtrlCTermineLEnregistrementCommeSiLeTempsEtaitEcoule) {
    const std::string chemin = dossier_ + "/interrompu.mkv";
    SortieEnDirect sortie(dossier_ + "/sortie");
    ASSERT_TRUE(sortie.ouverte());
    auto p = essai::Processus::lancer({vextrel, "xclock", "10", chemin}, affichage(), sortie.chemin(),
                                      dossier_ + "/erreurs");
    ASSERT_TRUE(p);
    EXPECT_EQ(sortie.ligne(15s), "fenêtre xclock : hwnd " + std::to_string(*fenetre_));
    std::this_thread::sleep_for(1200ms);
    const auto envoi = std::chrono::steady_clock::now();
    p->signaler(SIGINT);
    const auto resume = sortie.ligne(5s);
    const auto fichier = sortie.ligne(10s);
    const auto statut = p->attendre(10s);
    // At once, not at the end of the ten seconds.
    EXPECT_LT(std::chrono::steady_clock::now() - envoi, 5s);
    ASSERT_TRUE(statut);
    EXPECT_EQ(*statut, 0);
    EXPECT_EQ(essai::lire_fichier(dossier_ + "/erreurs"), "");
    ASSERT_TRUE(resume);
    EXPECT_TRUE(std::regex_match(*resume, std::regex("octets : [1-9][0-9]* · durée 1s · erreur None"))) << *resume;
    EXPECT_EQ(fichier, "fichier : Some(\"" + chemin + "\")");
    EXPECT_EQ(sortie.ligne(1s), std::nullopt);

    const Probe probe = sonder(chemin);
    EXPECT_EQ(probe.codec, "h264");
    EXPECT_GE(probe.images, 15);
    EXPECT_LE(probe.images, 45);
    verifier_matroska_termine(chemin);
    const auto duree = duree_matroska(chemin);
    ASSERT_TRUE(duree);
    EXPECT_GT(*duree, 0.5);
    EXPECT_LT(*duree, 1.6);
}

TEST_F(Enregistrement, SecondCtrlCTermineLeProcessusAussitot) {
    const std::string chemin = dossier_ + "/abandonne.mkv";
    SortieEnDirect sortie(dossier_ + "/sortie");
    ASSERT_TRUE(sortie.ouverte());
    auto p = essai::Processus::lancer({vextrel, "xclock", "10", chemin}, affichage(), sortie.chemin());
    ASSERT_TRUE(p);
    ASSERT_TRUE(sortie.ligne(15s));
    std::this_thread::sleep_for(1s);
    p->signaler(SIGINT);
    // The summary is out: the file is being finished (at least the 120 ms drain pause).
    const auto resume = sortie.ligne(5s);
    ASSERT_TRUE(resume);
    EXPECT_TRUE(resume->starts_with("octets : ")) << *resume;
    p->signaler(SIGINT);
    const auto statut = p->attendre(5s);
    ASSERT_TRUE(statut);
    // Ended by the signal itself, before its last line.
    EXPECT_EQ(*statut, 128 + SIGINT);
    EXPECT_EQ(sortie.ligne(1s), std::nullopt);
}

TEST_F(Enregistrement, ProcessusInconnuSort101SansRienEcrire) {
    const Execution e = essai::executer({vextrel, "xclock.exe", "1", dossier_ + "/x.mkv"}, affichage(), 30s);
    EXPECT_EQ(e.statut, 101);
    EXPECT_EQ(e.sortie, "");
    EXPECT_EQ(e.erreurs, "fenêtre du processus introuvable\n");
    EXPECT_FALSE(std::filesystem::exists(dossier_ + "/x.mkv"));
}

// Colour (R, G, B) at the centre of frame `n`, decoded by ffmpeg.
std::optional<std::array<int, 3>> couleur_au_centre(const std::string& chemin, int n) {
    const Execution e = essai::executer({"ffmpeg", "-v", "error", "-i", chemin, "-vf",
                                         "select=eq(n\\," + std::to_string(n) + "),crop=2:2:639:359", "-frames:v", "1",
                                         "-f", "rawvideo", "-pix_fmt", "rgb24", "-"},
                                        "");
    if (e.sortie.size() < 3) {
        return std::nullopt;
    }
    return std::array<int, 3>{static_cast<unsigned char>(e.sortie[0]), static_cast<unsigned char>(e.sortie[1]),
                              static_cast<unsigned char>(e.sortie[2])};
}

void attendre_couleur(const std::optional<std::array<int, 3>>& c, std::array<int, 3> attendue) {
    ASSERT_TRUE(c);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR((*c)[i], attendue[i], 24) << i;
    }
}

TEST_F(Enregistrement, FenetreRedimensionneeEnCoursResteEnregistree) {
    // A window of this test's own process, resized and repainted halfway through.
    auto connexion = capture::ConnexionX11::ouvrir(affichage().c_str());
    ASSERT_TRUE(connexion);
    xcb_connection_t* c = connexion->get();
    const xcb_window_t f = xcb_generate_id(c);
    const std::uint32_t rouge[] = {0xFF0000};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, f, connexion->racine(), 300, 300, 320, 240, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL, rouge);
    const std::string titre = "essai";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, f, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<std::uint32_t>(titre.size()), titre.data());
    xcb_map_window(c, f);
    xcb_flush(c);
    const std::string nous = vextrel::executable_du_processus(static_cast<std::uint32_t>(getpid()));
    ASSERT_TRUE(essai::attendre_fenetre(affichage(), nous, 10s));

    const std::string chemin = dossier_ + "/redimensionnee.mkv";
    auto p = essai::Processus::lancer({vextrel, nous, "3", chemin}, affichage(), dossier_ + "/sortie",
                                      dossier_ + "/erreurs");
    ASSERT_TRUE(p);
    std::this_thread::sleep_for(1500ms);
    const std::uint32_t taille[] = {640, 200};
    xcb_configure_window(c, f, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, taille);
    const std::uint32_t vert[] = {0x00FF00};
    xcb_change_window_attributes(c, f, XCB_CW_BACK_PIXEL, vert);
    xcb_clear_area(c, 0, f, 0, 0, 0, 0);
    xcb_flush(c);
    const auto statut = p->attendre(30s);
    ASSERT_TRUE(statut);
    EXPECT_EQ(*statut, 0) << essai::lire_fichier(dossier_ + "/erreurs");
    EXPECT_NE(essai::lire_fichier(dossier_ + "/sortie").find("erreur None\n"), std::string::npos);

    const Probe probe = sonder(chemin);
    EXPECT_EQ(probe.largeur, 1280);
    EXPECT_EQ(probe.hauteur, 720);
    EXPECT_GE(probe.images, 75);
    attendre_couleur(couleur_au_centre(chemin, 5), {255, 0, 0});
    attendre_couleur(couleur_au_centre(chemin, probe.images - 1), {0, 255, 0});
}

TEST(Arguments, SansArgumentSort101AvecLUsage) {
    const Execution e = essai::executer({vextrel}, "");
    EXPECT_EQ(e.statut, 101);
    EXPECT_EQ(e.sortie, "");
    EXPECT_EQ(e.erreurs, "usage: vextrel <processus.exe> [secondes] [chemin.mkv]\n");
}

TEST(Arguments, SansAffichageXAucuneFenetreNestTrouvee) {
    const Execution e = essai::executer({vextrel, "xclock", "1"}, ":249");
    EXPECT_EQ(e.statut, 101);
    EXPECT_EQ(e.sortie, "");
    EXPECT_EQ(e.erreurs, "fenêtre du processus introuvable\n");
}

}  // namespace
