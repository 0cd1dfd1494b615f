// The X11 back end against a private Xvfb: window lookup properties and order, capture of
// a window's pixels, its resizing and its destruction.
#include <gtest/gtest.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "bin/vextrel/fenetres.hpp"
#include "bin/vextrel/fenetres_x11.hpp"
#include "capture/affichage_x11.hpp"
#include "capture/capture_x11.hpp"
#include "capture/sondage_x11.hpp"
#include "capture/texture_x11.hpp"
#include "processus.hpp"

namespace {

using namespace std::chrono_literals;

class X11 : public ::testing::Test {
protected:
    void SetUp() override {
        serveur_ = essai::ServeurXPrive::demarrer();
        ASSERT_TRUE(serveur_) << "no private Xvfb could be started";
        auto c = capture::ConnexionX11::ouvrir(serveur_->affichage().c_str());
        ASSERT_TRUE(c);
        connexion_.emplace(std::move(*c));
    }
    void TearDown() override {
        connexion_.reset();
        serveur_.reset();
    }
    xcb_connection_t* c() const { return connexion_->get(); }
    xcb_window_t racine() const { return connexion_->racine(); }

    xcb_window_t creer(std::uint16_t l, std::uint16_t h, std::uint32_t fond = 0xFFFFFF, bool afficher = true,
                       std::int16_t x = 0, std::int16_t y = 0) {
        const xcb_window_t f = xcb_generate_id(c());
        const std::uint32_t valeurs[] = {fond};
        xcb_create_window(c(), XCB_COPY_FROM_PARENT, f, racine(), x, y, l, h, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL, valeurs);
        if (afficher) {
            xcb_map_window(c(), f);
        }
        synchroniser();
        return f;
    }
    void texte(xcb_window_t f, xcb_atom_t propriete, xcb_atom_t type, const std::string& valeur) {
        xcb_change_property(c(), XCB_PROP_MODE_REPLACE, f, propriete, type, 8,
                            static_cast<std::uint32_t>(valeur.size()), valeur.data());
        synchroniser();
    }
    void atomes(xcb_window_t f, const char* propriete, xcb_atom_t type, const std::vector<std::uint32_t>& valeurs) {
        xcb_change_property(c(), XCB_PROP_MODE_REPLACE, f, capture::atome(c(), propriete), type, 32,
                            static_cast<std::uint32_t>(valeurs.size()), valeurs.data());
        synchroniser();
    }
    // A round trip: every request sent before it has been handled by the server.
    void synchroniser() { std::free(xcb_get_input_focus_reply(c(), xcb_get_input_focus(c()), nullptr)); }

    const vextrel::FenetreX11* chercher(const std::vector<vextrel::FenetreX11>& liste, xcb_window_t f) {
        for (const auto& x : liste) {
            if (x.id == f) {
                return &x;
            }
        }
        return nullptr;
    }

    std::optional<essai::ServeurXPrive> serveur_;
    std::optional<capture::ConnexionX11> connexion_;
};

std::string notre_executable() { return vextrel::executable_du_processus(static_cast<std::uint32_t>(getpid())); }

TEST_F(X11, EnumerationLitLesProprietesDesFiltres) {
    const xcb_window_t normale = creer(100, 100);
    texte(normale, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, "essai");
    const xcb_window_t cachee = creer(100, 100, 0, false);
    const xcb_window_t transitoire = creer(50, 50);
    atomes(transitoire, "WM_TRANSIENT_FOR", XCB_ATOM_WINDOW, {normale});
    const xcb_window_t outil = creer(50, 50);
    atomes(outil, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, {capture::atome(c(), "_NET_WM_WINDOW_TYPE_UTILITY")});
    const xcb_window_t ordinaire = creer(50, 50);
    atomes(ordinaire, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, {capture::atome(c(), "_NET_WM_WINDOW_TYPE_NORMAL")});
    const xcb_window_t masquee = creer(50, 50);
    atomes(masquee, "_NET_WM_STATE", XCB_ATOM_ATOM,
           {capture::atome(c(), "_NET_WM_STATE_ABOVE"), capture::atome(c(), "_NET_WM_STATE_HIDDEN")});

    const auto liste = vextrel::enumerer_fenetres_x11(c(), racine());
    const auto* n = chercher(liste, normale);
    ASSERT_NE(n, nullptr);
    EXPECT_TRUE(n->visible);
    EXPECT_FALSE(n->possedee);
    EXPECT_FALSE(n->outil);
    EXPECT_FALSE(n->masquee);
    EXPECT_EQ(n->titre, "essai");
    // Our own connection created it: X-Resource names this process.
    EXPECT_EQ(n->pid, static_cast<std::uint32_t>(getpid()));
    EXPECT_FALSE(notre_executable().empty());

    ASSERT_NE(chercher(liste, cachee), nullptr);
    EXPECT_FALSE(chercher(liste, cachee)->visible);
    EXPECT_TRUE(chercher(liste, transitoire)->possedee);
    EXPECT_TRUE(chercher(liste, outil)->outil);
    EXPECT_FALSE(chercher(liste, ordinaire)->outil);
    EXPECT_TRUE(chercher(liste, masquee)->masquee);
    EXPECT_EQ(chercher(liste, outil)->titre, "");
}

TEST_F(X11, TitreUtf8PrefereEtLatin1Converti) {
    const xcb_window_t a = creer(10, 10);
    texte(a, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, "ancien");
    texte(a, capture::atome(c(), "_NET_WM_NAME"), capture::atome(c(), "UTF8_STRING"), "é net");
    const xcb_window_t b = creer(10, 10);
    texte(b, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, "caf\xe9");
    const auto liste = vextrel::enumerer_fenetres_x11(c(), racine());
    EXPECT_EQ(chercher(liste, a)->titre, "é net");
    EXPECT_EQ(chercher(liste, b)->titre, "café");
}

TEST_F(X11, OrdreDuPlusHautAuPlusBas) {
    const xcb_window_t dessous = creer(10, 10);
    const xcb_window_t dessus = creer(10, 10);
    auto liste = vextrel::enumerer_fenetres_x11(c(), racine());
    ASSERT_GE(liste.size(), 2U);
    EXPECT_EQ(liste[0].id, dessus);
    EXPECT_EQ(liste[1].id, dessous);

    // A window manager's stacking list (bottom first) wins over the root's children.
    atomes(racine(), "_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW, {dessus, dessous});
    liste = vextrel::enumerer_fenetres_x11(c(), racine());
    ASSERT_EQ(liste.size(), 2U);
    EXPECT_EQ(liste[0].id, dessous);
    EXPECT_EQ(liste[1].id, dessus);
}

TEST_F(X11, RechercheParExecutableGardeLaPremiereFenetreQuiPasseLesFiltres) {
    const xcb_window_t sans_titre = creer(10, 10);
    const xcb_window_t basse = creer(10, 10);
    texte(basse, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, "basse");
    const xcb_window_t haute = creer(10, 10);
    texte(haute, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, "haute");
    const xcb_window_t outil = creer(10, 10);
    texte(outil, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, "outil");
    atomes(outil, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, {capture::atome(c(), "_NET_WM_WINDOW_TYPE_DOCK")});
    (void)sans_titre;

    auto autre = capture::ConnexionX11::ouvrir(serveur_->affichage().c_str());
    ASSERT_TRUE(autre);
    vextrel::FenetresX11 fenetres(std::move(*autre));
    std::string nom = notre_executable();
    for (char& ch : nom) {
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
    EXPECT_EQ(vextrel::chercher_fenetre(fenetres, nom), static_cast<vextrel::PoigneeFenetre>(haute));
    EXPECT_EQ(vextrel::chercher_fenetre(fenetres, "xclock"), std::nullopt);

    vextrel::FenetresX11 sans_affichage(std::nullopt);
    EXPECT_EQ(vextrel::chercher_fenetre(sans_affichage, notre_executable()), std::nullopt);
}

struct Reception {
    std::mutex verrou;
    std::vector<std::uint8_t> pixels;
    std::uint32_t largeur = 0;
    std::uint32_t hauteur = 0;
    std::size_t pas = 0;
    int images = 0;
    std::atomic<bool> fermee{false};

    capture::DepotImage depot() {
        return [this](const std::uint8_t* p, std::uint32_t l, std::uint32_t h, std::size_t s) {
            std::lock_guard g(verrou);
            pixels.assign(p, p + s * h);
            largeur = l;
            hauteur = h;
            pas = s;
            ++images;
        };
    }
    // Waits for an image of that size; returns its first pixel (B, G, R).
    std::optional<std::array<std::uint8_t, 3>> attendre(std::uint32_t l, std::uint32_t h) {
        const auto fin = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < fin) {
            {
                std::lock_guard g(verrou);
                if (largeur == l && hauteur == h && !pixels.empty()) {
                    const std::size_t milieu = (h / 2) * pas + (l / 2) * 4;
                    return std::array<std::uint8_t, 3>{pixels[milieu], pixels[milieu + 1], pixels[milieu + 2]};
                }
            }
            std::this_thread::sleep_for(10ms);
        }
        return std::nullopt;
    }
};

TEST_F(X11, CaptureSuitContenuTailleEtDestruction) {
    const xcb_window_t f = creer(320, 200, 0xFF0000);
    Reception r;
    auto capture = capture::SondageX11::demarrer(
        f, r.depot(), [&r] { r.fermee = true; }, 10ms, serveur_->affichage().c_str());
    ASSERT_TRUE(capture) << capture.error().chaine();
    auto pixel = r.attendre(320, 200);
    ASSERT_TRUE(pixel);
    // A local server shares memory with us.
    EXPECT_TRUE((*capture)->memoire_partagee());
    EXPECT_EQ(*pixel, (std::array<std::uint8_t, 3>{0, 0, 255}));

    const std::uint32_t taille[] = {200, 100};
    xcb_configure_window(c(), f, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, taille);
    const std::uint32_t vert[] = {0x00FF00};
    xcb_change_window_attributes(c(), f, XCB_CW_BACK_PIXEL, vert);
    xcb_clear_area(c(), 0, f, 0, 0, 0, 0);
    synchroniser();
    const auto fin = std::chrono::steady_clock::now() + 10s;
    while ((pixel = r.attendre(200, 100)) && (*pixel)[1] != 255 && std::chrono::steady_clock::now() < fin) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(pixel);
    EXPECT_EQ(*pixel, (std::array<std::uint8_t, 3>{0, 255, 0}));
    EXPECT_FALSE(r.fermee);

    xcb_destroy_window(c(), f);
    synchroniser();
    const auto limite = std::chrono::steady_clock::now() + 5s;
    while (!r.fermee && std::chrono::steady_clock::now() < limite) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(r.fermee);
}

TEST_F(X11, FenetreNonAfficheeNeDonneAucuneImageSansEtreFermee) {
    const xcb_window_t f = creer(64, 64, 0x0000FF, false);
    Reception r;
    auto capture = capture::SondageX11::demarrer(
        f, r.depot(), [&r] { r.fermee = true; }, 10ms, serveur_->affichage().c_str());
    ASSERT_TRUE(capture);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ((*capture)->images(), 0U);
    EXPECT_FALSE(r.fermee);
    xcb_map_window(c(), f);
    synchroniser();
    const auto pixel = r.attendre(64, 64);
    ASSERT_TRUE(pixel);
    EXPECT_EQ(*pixel, (std::array<std::uint8_t, 3>{255, 0, 0}));
}

TEST_F(X11, FenetreDebordantDeLEcranCaptureeEnPartie) {
    // 1280 × 1024 screen: the window's right half and bottom quarter are off it.
    const xcb_window_t f = creer(200, 100, 0x0000FF, true, 1180, 949);
    Reception r;
    auto capture = capture::SondageX11::demarrer(
        f, r.depot(), [&r] { r.fermee = true; }, 10ms, serveur_->affichage().c_str());
    ASSERT_TRUE(capture);
    ASSERT_TRUE(r.attendre(200, 100));
    std::lock_guard g(r.verrou);
    auto pixel = [&](std::size_t x, std::size_t y) {
        const std::uint8_t* p = r.pixels.data() + y * r.pas + x * 4;
        return std::array<std::uint8_t, 3>{p[0], p[1], p[2]};
    };
    EXPECT_EQ(pixel(0, 0), (std::array<std::uint8_t, 3>{255, 0, 0}));
    EXPECT_EQ(pixel(99, 74), (std::array<std::uint8_t, 3>{255, 0, 0}));
    EXPECT_EQ(pixel(100, 0), (std::array<std::uint8_t, 3>{0, 0, 0}));
    EXPECT_EQ(pixel(0, 75), (std::array<std::uint8_t, 3>{0, 0, 0}));
    EXPECT_EQ(pixel(199, 99), (std::array<std::uint8_t, 3>{0, 0, 0}));
    EXPECT_FALSE(r.fermee);
}

TEST_F(X11, CaptureInexistanteEstUneErreur) {
    auto capture = capture::SondageX11::demarrer(0x3FFFFFF, {}, {}, 10ms, serveur_->affichage().c_str());
    ASSERT_FALSE(capture);
    EXPECT_EQ(capture.error().chaine(), "fenêtre X introuvable");
}

TEST_F(X11, InterfaceDeCaptureRemplitEtatEtFermeture) {
    setenv("DISPLAY", serveur_->affichage().c_str(), 1);
    auto peripherique = capture::creer_peripherique();
    ASSERT_TRUE(peripherique);
    EXPECT_EQ((*peripherique)->id_fournisseur, 0U);
    const xcb_window_t f = creer(90, 60, 0x808080);
    auto cf = capture::demarrer_capture(**peripherique, f, false);
    ASSERT_TRUE(cf) << cf.error().chaine();
    capture::EtatCapture& etat = (*cf)->etat();
    const auto fin = std::chrono::steady_clock::now() + 10s;
    std::optional<capture::ImageSource> image;
    while (!image && std::chrono::steady_clock::now() < fin) {
        {
            std::lock_guard g(etat.verrou);
            image = etat.image;
        }
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_TRUE(image);
    EXPECT_EQ(image->largeur, 90U);
    EXPECT_EQ(image->hauteur, 60U);
    auto* cpu = dynamic_cast<capture::TextureCpu*>(image->texture.get());
    ASSERT_NE(cpu, nullptr);
    {
        std::lock_guard g(cpu->verrou);
        EXPECT_EQ(cpu->pixels[0], 0x80);
        EXPECT_EQ(cpu->pixels[(59 * 90 + 89) * 4 + 2], 0x80);
    }
    xcb_destroy_window(c(), f);
    synchroniser();
    const auto limite = std::chrono::steady_clock::now() + 5s;
    while (!etat.fermee && std::chrono::steady_clock::now() < limite) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(etat.fermee);
    EXPECT_FALSE(capture::demarrer_capture(**peripherique, 0, false));
}

TEST(ExecutableDuProcessus, NomDeBaseMemeSiLeFichierAEteRemplace) {
    const essai::DossierTemp dossier;
    const std::string copie = (dossier / "dormeur").string();
    std::filesystem::copy_file("/bin/sleep", copie);
    std::filesystem::permissions(copie, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
    auto p = essai::Processus::lancer({copie, "30"}, "");
    ASSERT_TRUE(p);
    const auto pid = static_cast<std::uint32_t>(p->pid());
    // posix_spawn returns once the child exists; the exec may still be under way.
    const auto fin = std::chrono::steady_clock::now() + 5s;
    while (vextrel::executable_du_processus(pid) != "dormeur" && std::chrono::steady_clock::now() < fin) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(vextrel::executable_du_processus(pid), "dormeur");
    std::filesystem::remove(copie);
    EXPECT_EQ(vextrel::executable_du_processus(pid), "dormeur");
    p.reset();
    EXPECT_EQ(vextrel::executable_du_processus(0), "");
    EXPECT_EQ(vextrel::executable_du_processus(0x7FFFFFF0), "");
}

TEST(AffichageX11, SansServeurLErreurLeDit) {
    auto c = capture::ConnexionX11::ouvrir(":249");
    ASSERT_FALSE(c);
    EXPECT_EQ(c.error().chaine(), "affichage X indisponible");
}

}  // namespace
