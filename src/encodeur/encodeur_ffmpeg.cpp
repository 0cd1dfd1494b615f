#include "encodeur/encodeur_ffmpeg.hpp"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/pixfmt.h>
}

#include <pthread.h>

#include <algorithm>
#include <array>
#include <limits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "conversion/conversion_ffmpeg.hpp"
#include "conversion/journal_ffmpeg.hpp"

namespace encodeur {

namespace {

std::string texte_av(int code) {
    std::array<char, AV_ERROR_MAX_STRING_SIZE> tampon{};
    av_strerror(code, tampon.data(), tampon.size());
    return std::string(tampon.data());
}

struct LibererContexte {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct LibererImage {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct LibererPaquet {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

}  // namespace

const char* preset_x264(std::uint32_t qualite_vitesse) {
    // Nearest of 20, 50, 85; the midpoints 35 and 67.5 split them.
    if (qualite_vitesse < 35) {
        return "superfast";
    }
    if (qualite_vitesse < 68) {
        return "veryfast";
    }
    return "medium";
}

ConfigX264 config_x264(const ConfigEncodeur& config, const OptionsDiagnostic& options) {
    ConfigX264 x;
    x.largeur = config.largeur;
    x.hauteur = config.hauteur;
    x.images_par_seconde = config.images_par_seconde;
    x.debit_kbps = config.debit_kbps;
    x.gop_images = taille_gop(config, options);
    x.images_b = config.images_b;
    // An index outside the table keeps the recording's own value.
    x.qualite_vitesse = qualite_preset(config.preset).value_or(50);
    x.niveau = niveau_h264(config);
    x.faible_latence = options.faible_latence;
    return x;
}

struct TransformX264::Etat {
    std::unique_ptr<AVCodecContext, LibererContexte> contexte;
    std::unique_ptr<AVPacket, LibererPaquet> paquet;
    std::vector<std::unique_ptr<AVFrame, LibererImage>> images;  // the pool, owned here

    std::mutex verrou;
    std::condition_variable reveil;          // the worker: an input or the stop
    std::condition_variable evenement_pret;  // the caller of evenement_suivant
    bool arret = false;
    std::size_t demandes = 0;  // inputs asked for and not yet given
    std::deque<TypeEvenement> evenements;
    std::deque<AVFrame*> file_entrees;
    std::vector<AVFrame*> libres;
    std::deque<pipeline::ImageEncodee> sorties;
    std::deque<std::pair<std::int64_t, std::int64_t>> durees;  // (time, duration) of frames in flight
};

TransformX264::TransformX264(Cle) : etat_(std::make_unique<Etat>()) {}

std::expected<std::unique_ptr<TransformX264>, commun::Erreur> TransformX264::creer(const ConfigX264& config) {
    conversion::router_journal_ffmpeg();
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) {
        return std::unexpected(commun::Erreur("encodeur libx264 absent"));
    }
    // Beyond these bounds libavcodec's int fields would wrap (the buffer is half the rate in
    // bits) or x264 refuses: say so plainly instead.
    if (config.largeur == 0 || config.hauteur == 0 || config.images_par_seconde == 0 || config.largeur % 2 != 0 ||
        config.hauteur % 2 != 0 || config.largeur > 16384 || config.hauteur > 16384 ||
        config.images_par_seconde > 1000 || config.debit_kbps == 0 || config.debit_kbps > 4'000'000 ||
        config.images_b > 16) {
        return std::unexpected(commun::Erreur("configuration d'encodeur invalide"));
    }
    auto t = std::make_unique<TransformX264>(Cle{});
    Etat& e = *t->etat_;
    e.contexte.reset(avcodec_alloc_context3(codec));
    e.paquet.reset(av_packet_alloc());
    if (!e.contexte || !e.paquet) {
        return std::unexpected(commun::Erreur(texte_av(AVERROR(ENOMEM))));
    }
    AVCodecContext* c = e.contexte.get();
    c->width = static_cast<int>(config.largeur);
    c->height = static_cast<int>(config.hauteur);
    c->pix_fmt = AV_PIX_FMT_NV12;
    // Times stay in the caller's 100-ns units; the frame rate drives the rate control.
    c->time_base = AVRational{1, 10'000'000};
    c->framerate = AVRational{static_cast<int>(config.images_par_seconde), 1};
    const std::int64_t debit = static_cast<std::int64_t>(config.debit_kbps) * 1000;
    c->bit_rate = debit;
    c->rc_max_rate = debit;
    c->rc_buffer_size = static_cast<int>(debit / 2);
    // A diagnostic GOP above what an int holds means no periodic keyframe anyway.
    c->gop_size = static_cast<int>(std::min<std::uint32_t>(config.gop_images, std::numeric_limits<int>::max()));
    c->max_b_frames = static_cast<int>(config.images_b);
    c->profile = FF_PROFILE_H264_HIGH;
    if (config.niveau != 0) {
        c->level = static_cast<int>(config.niveau);
    }
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    c->colorspace = AVCOL_SPC_BT709;
    c->color_range = AVCOL_RANGE_MPEG;
    c->thread_count = 0;

    av_opt_set(c->priv_data, "preset", preset_x264(config.qualite_vitesse), 0);
    if (config.faible_latence) {
        av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    }
    av_opt_set(c->priv_data, "profile", "high", 0);
    // Parameter sets in band with every keyframe: a file cut anywhere stays decodable.
    av_opt_set(c->priv_data, "x264-params", "repeat-headers=1", 0);

    if (const int r = avcodec_open2(c, codec, nullptr); r < 0) {
        return std::unexpected(commun::Erreur(texte_av(r)).contexte("ouverture de libx264"));
    }

    for (std::size_t i = 0; i < entrees_en_attente + 1; ++i) {
        std::unique_ptr<AVFrame, LibererImage> f(av_frame_alloc());
        if (!f) {
            return std::unexpected(commun::Erreur(texte_av(AVERROR(ENOMEM))));
        }
        e.libres.push_back(f.get());
        e.images.push_back(std::move(f));
    }
    for (std::size_t i = 0; i < entrees_en_attente; ++i) {
        e.evenements.push_back(TypeEvenement::besoin_entree);
        ++e.demandes;
    }

    try {
        t->fil_ = std::thread([p = t.get()] { p->travailler(); });
    } catch (const std::system_error& erreur) {
        return std::unexpected(commun::Erreur(commun::texte_errno(erreur.code().value())));
    }
    return t;
}

TransformX264::~TransformX264() { arreter(); }

void TransformX264::arreter() {
    if (etat_) {
        {
            std::lock_guard garde(etat_->verrou);
            etat_->arret = true;
        }
        etat_->reveil.notify_all();
        etat_->evenement_pret.notify_all();
    }
    if (fil_.joinable()) {
        fil_.join();
    }
}

TypeEvenement TransformX264::evenement_suivant() {
    std::unique_lock garde(etat_->verrou);
    // The caller sleeps a fraction of a millisecond between empty answers, which suits a
    // hardware queue; here the events come from our own worker, so a short wait for the next
    // one spares thousands of wake-ups per second at no cost in latency.
    if (!etat_->evenement_pret.wait_for(garde, attente_evenement,
                                        [this] { return !etat_->evenements.empty() || etat_->arret; }) ||
        etat_->evenements.empty()) {
        return TypeEvenement::aucun;
    }
    const TypeEvenement e = etat_->evenements.front();
    etat_->evenements.pop_front();
    return e;
}

TransformX264::Reglages TransformX264::reglages() const {
    const AVCodecContext* c = etat_->contexte.get();
    Reglages r;
    if (c->gop_size >= 0) {
        r.gop = static_cast<std::uint32_t>(c->gop_size);
    }
    if (c->bit_rate >= 0 && c->bit_rate <= 0xFFFF'FFFF) {
        r.debit = static_cast<std::uint32_t>(c->bit_rate);
    }
    // Constant bit rate: the maximum rate equals the mean rate (mode 0 of the codec API).
    r.mode = c->rc_max_rate == c->bit_rate ? 0U : 1U;
    if (c->max_b_frames >= 0) {
        r.images_b = static_cast<std::uint32_t>(c->max_b_frames);
    }
    return r;
}

std::expected<void, commun::Erreur> TransformX264::soumettre(conversion::SortieNv12& surface, std::int64_t temps,
                                                             std::int64_t duree) {
    Etat& e = *etat_;
    auto* nv12 = dynamic_cast<conversion::SurfaceNv12Cpu*>(&surface);
    if (nv12 == nullptr || static_cast<int>(nv12->largeur()) != e.contexte->width ||
        static_cast<int>(nv12->hauteur()) != e.contexte->height) {
        return std::unexpected(commun::Erreur("surface NV12 incompatible avec l'encodeur"));
    }
    AVFrame* f = nullptr;
    {
        std::lock_guard garde(e.verrou);
        if (e.demandes == 0 || e.libres.empty()) {
            return std::unexpected(commun::Erreur("entrée non demandée par l'encodeur"));
        }
        --e.demandes;
        f = e.libres.back();
        e.libres.pop_back();
    }
    // No copy: the frame holds a reference to the surface's storage until x264 has taken the
    // picture in; the converter gives the surface new storage if it comes back to it sooner.
    f->buf[0] = nv12->referencer();
    if (f->buf[0] == nullptr) {
        std::lock_guard garde(e.verrou);
        e.libres.push_back(f);
        return std::unexpected(commun::Erreur(texte_av(AVERROR(ENOMEM))));
    }
    f->data[0] = nv12->luma();
    f->data[1] = nv12->chroma();
    f->linesize[0] = static_cast<int>(nv12->pas());
    f->linesize[1] = static_cast<int>(nv12->pas());
    f->format = AV_PIX_FMT_NV12;
    f->width = e.contexte->width;
    f->height = e.contexte->height;
    f->color_primaries = AVCOL_PRI_BT709;
    f->color_trc = AVCOL_TRC_BT709;
    f->colorspace = AVCOL_SPC_BT709;
    f->color_range = AVCOL_RANGE_MPEG;
    f->pts = temps;
    {
        std::lock_guard garde(e.verrou);
        e.durees.emplace_back(temps, duree);
        e.file_entrees.push_back(f);
    }
    e.reveil.notify_one();
    return {};
}

std::optional<pipeline::ImageEncodee> TransformX264::sortie() {
    std::lock_guard garde(etat_->verrou);
    if (etat_->sorties.empty()) {
        return std::nullopt;
    }
    pipeline::ImageEncodee image = std::move(etat_->sorties.front());
    etat_->sorties.pop_front();
    return image;
}

void TransformX264::travailler() {
    pthread_setname_np(pthread_self(), "x264-travail");
    Etat& e = *etat_;
    AVCodecContext* c = e.contexte.get();
    AVPacket* paquet = e.paquet.get();
    std::unique_lock garde(e.verrou);
    for (;;) {
        e.reveil.wait(garde, [&] { return e.arret || !e.file_entrees.empty(); });
        if (e.arret) {
            return;
        }
        AVFrame* f = e.file_entrees.front();
        e.file_entrees.pop_front();
        garde.unlock();

        bool echec = avcodec_send_frame(c, f) < 0;
        // x264 has copied the picture by now: the surface's storage is released.
        av_frame_unref(f);
        int r = 0;
        while (!echec && (r = avcodec_receive_packet(c, paquet)) == 0) {
            pipeline::ImageEncodee image;
            image.donnees.assign(paquet->data, paquet->data + paquet->size);
            image.horodatage = paquet->pts;
            image.cle = (paquet->flags & AV_PKT_FLAG_KEY) != 0;
            av_packet_unref(paquet);
            std::lock_guard g(e.verrou);
            // No B pictures: units leave in input order, so the oldest durations belong to them.
            while (!e.durees.empty() && e.durees.front().first < image.horodatage) {
                e.durees.pop_front();
            }
            if (!e.durees.empty() && e.durees.front().first == image.horodatage) {
                image.duree = e.durees.front().second;
                e.durees.pop_front();
            }
            e.sorties.push_back(std::move(image));
            e.evenements.push_back(TypeEvenement::sortie_prete);
            e.evenement_pret.notify_one();
        }
        if (r != 0 && r != AVERROR(EAGAIN)) {
            echec = true;
        }

        garde.lock();
        e.libres.push_back(f);
        if (echec) {
            e.evenements.push_back(TypeEvenement::erreur);
        }
        ++e.demandes;
        e.evenements.push_back(TypeEvenement::besoin_entree);
        e.evenement_pret.notify_one();
    }
}

std::expected<std::unique_ptr<TransformeAsync>, commun::Erreur> creer_transformee(
    capture::Peripherique& /*peripherique*/, const ConfigEncodeur& config, const OptionsDiagnostic& options) {
    const ConfigX264 x = config_x264(config, options);
    auto t = TransformX264::creer(x);
    if (!t) {
        return std::unexpected(t.error());
    }
    if (options.debogage) {
        // The settings the codec kept, read back as a hardware encoder's properties are.
        const TransformX264::Reglages r = (*t)->reglages();
        std::string lignes = ligne_propriete("GOP", r.gop);
        lignes += ligne_propriete("debit", r.debit);
        lignes += ligne_propriete("mode", r.mode);
        lignes += ligne_propriete("B", r.images_b);
        std::fputs(lignes.c_str(), stderr);
    }
    return std::unique_ptr<TransformeAsync>(std::move(*t));
}

}  // namespace encodeur
