#include "capture/sondage_x11.hpp"

#include <pthread.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <utility>

namespace capture {

namespace {

// xcb replies and events are malloc'ed by the library.
struct LibererC {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reponse = std::unique_ptr<T, LibererC>;

// Bits per pixel the server uses for images of this depth; 0 when it has no such format.
std::uint8_t bits_par_pixel(xcb_connection_t* c, std::uint8_t profondeur) {
    const xcb_setup_t* installation = xcb_get_setup(c);
    for (auto it = xcb_setup_pixmap_formats_iterator(installation); it.rem > 0; xcb_format_next(&it)) {
        if (it.data->depth == profondeur) {
            return it.data->bits_per_pixel;
        }
    }
    return 0;
}

}  // namespace

// A System V segment attached both here and in the server. Removed at once after the server
// attached it, so it cannot outlive the two processes.
struct SondageX11::SegmentShm {
    xcb_connection_t* connexion = nullptr;
    xcb_shm_seg_t seg = 0;
    void* adresse = nullptr;
    std::size_t taille = 0;
    bool attache_serveur = false;

    ~SegmentShm() {
        if (attache_serveur && xcb_connection_has_error(connexion) == 0) {
            xcb_shm_detach(connexion, seg);
            xcb_flush(connexion);
        }
        if (adresse != nullptr) {
            shmdt(adresse);
        }
    }

    static std::unique_ptr<SegmentShm> creer(xcb_connection_t* c, std::size_t taille) {
        auto s = std::make_unique<SegmentShm>();
        s->connexion = c;
        s->taille = taille;
        const int id = shmget(IPC_PRIVATE, taille, IPC_CREAT | 0600);
        if (id < 0) {
            return nullptr;
        }
        void* adresse = shmat(id, nullptr, 0);
        if (adresse == reinterpret_cast<void*>(-1)) {  // NOLINT(performance-no-int-to-ptr): shmat's error value
            shmctl(id, IPC_RMID, nullptr);
            return nullptr;
        }
        s->adresse = adresse;
        s->seg = xcb_generate_id(c);
        const auto cookie = xcb_shm_attach_checked(c, s->seg, static_cast<std::uint32_t>(id), 0);
        Reponse<xcb_generic_error_t> erreur(xcb_request_check(c, cookie));
        // Marked for removal now: it disappears once both sides have detached.
        shmctl(id, IPC_RMID, nullptr);
        if (erreur) {
            return nullptr;
        }
        s->attache_serveur = true;
        return s;
    }
};

SondageX11::SondageX11(Cle, ConnexionX11 connexion, std::uint32_t fenetre, DepotImage depot, SignalFermeture fermeture,
                       std::chrono::nanoseconds periode)
    : connexion_(std::move(connexion)),
      fenetre_(fenetre),
      depot_(std::move(depot)),
      fermeture_(std::move(fermeture)),
      periode_(periode.count() > 0 ? periode : periode_defaut) {}

std::expected<std::unique_ptr<SondageX11>, commun::Erreur> SondageX11::demarrer(std::uint32_t fenetre, DepotImage depot,
                                                                                SignalFermeture fermeture,
                                                                                std::chrono::nanoseconds periode,
                                                                                const char* affichage) {
    auto connexion = ConnexionX11::ouvrir(affichage);
    if (!connexion) {
        return std::unexpected(connexion.error());
    }
    xcb_connection_t* c = connexion->get();

    // Watch for the window's destruction and resizing before reading its geometry, so that no
    // change between the two is missed.
    const std::uint32_t masque = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    const auto cookie_masque = xcb_change_window_attributes_checked(c, fenetre, XCB_CW_EVENT_MASK, &masque);
    Reponse<xcb_generic_error_t> erreur_masque(xcb_request_check(c, cookie_masque));
    Reponse<xcb_get_geometry_reply_t> geometrie(xcb_get_geometry_reply(c, xcb_get_geometry(c, fenetre), nullptr));
    if (erreur_masque || !geometrie) {
        return std::unexpected(commun::Erreur("fenêtre X introuvable"));
    }
    if (bits_par_pixel(c, geometrie->depth) != 32 || xcb_get_setup(c)->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) {
        return std::unexpected(commun::Erreur("format de pixels X non pris en charge"));
    }

    auto capture = std::make_unique<SondageX11>(Cle{}, std::move(*connexion), fenetre, std::move(depot),
                                                std::move(fermeture), periode);
    capture->largeur_ = geometrie->width;
    capture->hauteur_ = geometrie->height;

    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_shm_id);
    if (ext != nullptr && ext->present != 0) {
        Reponse<xcb_shm_query_version_reply_t> version(
            xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
        capture->shm_possible_ = version != nullptr;
    }

    try {
        capture->fil_ = std::thread([p = capture.get()] { p->boucle(); });
    } catch (const std::system_error& e) {
        return std::unexpected(commun::Erreur(commun::texte_errno(e.code().value())));
    }
    return capture;
}

SondageX11::~SondageX11() {
    {
        std::lock_guard garde(verrou_);
        arret_ = true;
    }
    reveil_.notify_all();
    if (fil_.joinable()) {
        fil_.join();
    }
    shm_.reset();
}

void SondageX11::boucle() {
    pthread_setname_np(pthread_self(), "capture-x11");
    // Absolute deadlines: a slow poll is caught up by a shorter wait, not accumulated.
    auto echeance = std::chrono::steady_clock::now();
    for (;;) {
        if (!saisir()) {
            if (fermeture_) {
                fermeture_();
            }
            return;
        }
        echeance += periode_;
        const auto maintenant = std::chrono::steady_clock::now();
        if (echeance < maintenant) {
            echeance = maintenant;
        }
        std::unique_lock garde(verrou_);
        if (reveil_.wait_until(garde, echeance, [this] { return arret_; })) {
            return;
        }
    }
}

bool SondageX11::lire_evenements() {
    xcb_connection_t* c = connexion_.get();
    for (;;) {
        Reponse<xcb_generic_event_t> evenement(xcb_poll_for_event(c));
        if (!evenement) {
            break;
        }
        switch (evenement->response_type & 0x7F) {
        case XCB_DESTROY_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_destroy_notify_event_t*>(evenement.get());
            if (e->window == fenetre_) {
                return false;
            }
            break;
        }
        case XCB_CONFIGURE_NOTIFY: {
            const auto* e = reinterpret_cast<const xcb_configure_notify_event_t*>(evenement.get());
            if (e->window == fenetre_) {
                largeur_ = e->width;
                hauteur_ = e->height;
            }
            break;
        }
        default:
            // Errors of unchecked requests and other events: nothing to do.
            break;
        }
    }
    return xcb_connection_has_error(c) == 0;
}

bool SondageX11::mettre_a_jour_taille() {
    xcb_connection_t* c = connexion_.get();
    xcb_generic_error_t* brut = nullptr;
    Reponse<xcb_get_geometry_reply_t> geometrie(xcb_get_geometry_reply(c, xcb_get_geometry(c, fenetre_), &brut));
    Reponse<xcb_generic_error_t> erreur(brut);
    if (!geometrie) {
        return false;
    }
    largeur_ = geometrie->width;
    hauteur_ = geometrie->height;
    return true;
}

bool SondageX11::saisir() {
    if (!lire_evenements()) {
        return false;
    }
    if (shm_possible_) {
        preparer_shm();
    }
    if (largeur_ == 0 || hauteur_ == 0) {
        return mettre_a_jour_taille();
    }
    const Zone entiere{0, 0, static_cast<std::uint16_t>(largeur_), static_cast<std::uint16_t>(hauteur_)};
    if (const std::uint8_t* pixels = lire(entiere)) {
        deposer(pixels);
        return lire_evenements();
    }
    // An unmapped or iconified window refuses GetImage, and so does one that reaches beyond
    // the screen; only a failing GetGeometry says it is gone.
    if (!mettre_a_jour_taille()) {
        return false;
    }
    if (shm_possible_) {
        preparer_shm();
    }
    const std::optional<Zone> visible = partie_visible();
    if (visible && (visible->largeur != largeur_ || visible->hauteur != hauteur_)) {
        if (const std::uint8_t* pixels = lire(*visible)) {
            // What lies off the screen has no pixels: it is recorded black, the window keeps its size.
            const std::size_t pas = static_cast<std::size_t>(largeur_) * 4;
            composition_.assign(pas * hauteur_, 0);
            const std::size_t ligne = static_cast<std::size_t>(visible->largeur) * 4;
            for (std::size_t y = 0; y < visible->hauteur; ++y) {
                std::memcpy(composition_.data() + (visible->y + y) * pas + static_cast<std::size_t>(visible->x) * 4,
                            pixels + y * ligne, ligne);
            }
            deposer(composition_.data());
        }
    }
    return lire_evenements();
}

void SondageX11::deposer(const std::uint8_t* pixels) {
    depot_(pixels, largeur_, hauteur_, static_cast<std::size_t>(largeur_) * 4);
    images_.fetch_add(1, std::memory_order_relaxed);
}

std::optional<SondageX11::Zone> SondageX11::partie_visible() {
    xcb_connection_t* c = connexion_.get();
    const xcb_window_t racine = connexion_.racine();
    Reponse<xcb_translate_coordinates_reply_t> position(
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, fenetre_, racine, 0, 0), nullptr));
    if (!position) {
        return std::nullopt;
    }
    const std::int64_t gauche = position->dst_x;
    const std::int64_t haut = position->dst_y;
    const std::int64_t x0 = std::max<std::int64_t>(0, -gauche);
    const std::int64_t y0 = std::max<std::int64_t>(0, -haut);
    const std::int64_t x1 = std::min<std::int64_t>(largeur_, connexion_.ecran()->width_in_pixels - gauche);
    const std::int64_t y1 = std::min<std::int64_t>(hauteur_, connexion_.ecran()->height_in_pixels - haut);
    if (x1 <= x0 || y1 <= y0) {
        return std::nullopt;
    }
    return Zone{static_cast<std::uint16_t>(x0), static_cast<std::uint16_t>(y0), static_cast<std::uint16_t>(x1 - x0),
                static_cast<std::uint16_t>(y1 - y0)};
}

void SondageX11::preparer_shm() {
    const std::size_t besoin = static_cast<std::size_t>(largeur_) * hauteur_ * 4;
    if (shm_ && shm_->taille >= besoin) {
        return;
    }
    shm_.reset();
    // Some slack so that a window growing a little does not need a new segment each time.
    shm_ = SegmentShm::creer(connexion_.get(), besoin + besoin / 4 + 4096);
    if (!shm_) {
        // The server cannot reach our memory (remote display, no SysV IPC): plain GetImage from now on.
        shm_possible_ = false;
    }
    shm_actif_.store(shm_ != nullptr, std::memory_order_relaxed);
}

const std::uint8_t* SondageX11::lire(Zone z) {
    xcb_connection_t* c = connexion_.get();
    const std::size_t octets = static_cast<std::size_t>(z.largeur) * z.hauteur * 4;
    xcb_generic_error_t* brut = nullptr;
    if (shm_) {
        const auto cookie =
            xcb_shm_get_image(c, fenetre_, static_cast<std::int16_t>(z.x), static_cast<std::int16_t>(z.y), z.largeur,
                              z.hauteur, ~0U, XCB_IMAGE_FORMAT_Z_PIXMAP, shm_->seg, 0);
        Reponse<xcb_shm_get_image_reply_t> reponse(xcb_shm_get_image_reply(c, cookie, &brut));
        Reponse<xcb_generic_error_t> erreur(brut);
        if (!reponse || reponse->size < octets || shm_->taille < octets) {
            return nullptr;
        }
        return static_cast<const std::uint8_t*>(shm_->adresse);
    }
    const auto cookie = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, fenetre_, static_cast<std::int16_t>(z.x),
                                      static_cast<std::int16_t>(z.y), z.largeur, z.hauteur, ~0U);
    Reponse<xcb_get_image_reply_t> reponse(xcb_get_image_reply(c, cookie, &brut));
    Reponse<xcb_generic_error_t> erreur(brut);
    if (!reponse) {
        return nullptr;
    }
    const int longueur = xcb_get_image_data_length(reponse.get());
    if (longueur < 0 || static_cast<std::size_t>(longueur) < octets) {
        return nullptr;
    }
    const std::uint8_t* pixels = xcb_get_image_data(reponse.get());
    reponse_ = std::unique_ptr<void, void (*)(void*)>(reponse.release(), std::free);
    return pixels;
}

}  // namespace capture
