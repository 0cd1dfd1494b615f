#include "mkv/ecrivain.hpp"

#include "mkv/ebml.hpp"

namespace mkv {

namespace {

using namespace ebml;

constexpr std::uint64_t longueur_reservee = 96;
// A SeekHead is written only if the Void after it keeps at least 10 bytes.
constexpr std::uint64_t seek_head_max = 86;

void element_maitre(Octets& o, std::uint32_t id, const Octets& payload) { element_octets(o, id, payload); }

Octets entete_ebml() {
    Octets p;
    element_uint_fixe(p, id_ebml_version, 1, 1);
    element_uint_fixe(p, id_ebml_read_version, 1, 1);
    element_uint_fixe(p, id_ebml_max_id_length, 4, 1);
    element_uint_fixe(p, id_ebml_max_size_length, 8, 1);
    element_texte(p, id_doc_type, "matroska");
    element_uint_fixe(p, id_doc_type_version, 4, 1);
    element_uint_fixe(p, id_doc_type_read_version, 2, 1);
    Octets o;
    element_maitre(o, id_ebml, p);
    return o;
}

Octets piste_video(std::span<const std::uint8_t> codec_prive, std::uint32_t largeur, std::uint32_t hauteur) {
    Octets video;
    element_uint_min(video, id_pixel_width, largeur);
    element_uint_min(video, id_pixel_height, hauteur);
    Octets p;
    element_uint_fixe(p, id_track_number, 1, 1);
    element_uint_fixe(p, id_track_uid, 1, 1);
    element_uint_fixe(p, id_track_type, 1, 1);
    element_texte(p, id_codec_id, "V_MPEG4/ISO/AVC");
    element_octets(p, id_codec_private, codec_prive);
    element_maitre(p, id_video, video);
    Octets o;
    element_maitre(o, id_track_entry, p);
    return o;
}

Octets piste_audio() {
    // Opus identification header: version 1, 2 channels, pre-skip 312, 48 kHz, gain 0, family 0.
    const Octets opus_head = {'O',  'p',  'u',  's',  'H',  'e',  'a',  'd',  1,   2,
                              0x38, 0x01, 0x80, 0xBB, 0x00, 0x00, 0x00, 0x00, 0x00};
    Octets audio;
    element_float64(audio, id_sampling_frequency, 48000.0);
    element_uint_fixe(audio, id_channels, 2, 1);
    Octets p;
    element_uint_fixe(p, id_track_number, 2, 1);
    element_uint_fixe(p, id_track_uid, 2, 1);
    element_uint_fixe(p, id_track_type, 2, 1);
    element_texte(p, id_codec_id, "A_OPUS");
    element_octets(p, id_codec_private, opus_head);
    element_uint_fixe(p, id_codec_delay, 6500000, 3);
    element_uint_fixe(p, id_seek_pre_roll, 80000000, 4);
    element_maitre(p, id_audio, audio);
    Octets o;
    element_maitre(o, id_track_entry, p);
    return o;
}

std::uint64_t non_negatif(std::int64_t t) { return t < 0 ? 0 : static_cast<std::uint64_t>(t); }

void seek(Octets& o, std::uint32_t cible, std::uint64_t position) {
    Octets id;
    ajouter_be(id, cible, 4);
    Octets p;
    element_octets(p, id_seek_id, id);
    element_uint_min(p, id_seek_position, position);
    element_maitre(o, id_seek, p);
}

}  // namespace

std::expected<EcrivainMkv, commun::Erreur> EcrivainMkv::creer(const std::filesystem::path& chemin,
                                                              std::span<const std::uint8_t> codec_prive,
                                                              std::uint32_t largeur, std::uint32_t hauteur,
                                                              bool audio) {
    auto fichier = FichierSortie::creer(chemin);
    if (!fichier) {
        return std::unexpected(
            commun::Erreur("création de " + texte_chemin(chemin) + " : " + commun::texte_errno(fichier.error())));
    }
    EcrivainMkv e(std::move(*fichier));
    auto& f = e.fichier_;
    // Writes one piece and returns the offset right after it.
    auto ecrire = [&f](const Octets& o) -> std::expected<std::uint64_t, commun::Erreur> {
        if (auto r = f.ecrire(o); !r) {
            return std::unexpected(r.error());
        }
        return f.position();
    };

    Octets o = entete_ebml();
    ajouter_id(o, id_segment);
    // Unknown size until the finish patches it.
    ajouter_taille_8(o, 0xFFFFFFFFFFFFFF);
    auto p = ecrire(o);
    if (!p) {
        return std::unexpected(p.error());
    }
    e.debut_segment_ = *p;

    o.clear();
    element_void(o, longueur_reservee);
    p = ecrire(o);
    if (!p) {
        return std::unexpected(p.error());
    }
    e.debut_info_ = *p;

    Octets info;
    element_uint_fixe(info, id_timestamp_scale, 1000000, 3);
    element_texte(info, id_muxing_app, "Quillory");
    element_texte(info, id_writing_app, "Quillory 1.2.0");
    element_float64(info, id_duration, 0.0);
    o.clear();
    element_maitre(o, id_info, info);
    // The Duration value is the last 8 bytes of Info.
    e.position_duree_ = e.debut_info_ + o.size() - 8;
    p = ecrire(o);
    if (!p) {
        return std::unexpected(p.error());
    }
    e.debut_tracks_ = *p;

    Octets pistes = piste_video(codec_prive, largeur, hauteur);
    if (audio) {
        const Octets a = piste_audio();
        pistes.insert(pistes.end(), a.begin(), a.end());
    }
    o.clear();
    element_maitre(o, id_tracks, pistes);
    p = ecrire(o);
    if (!p) {
        return std::unexpected(p.error());
    }
    e.apres_dernier_cluster_ = *p;
    return e;
}

std::expected<void, commun::Erreur> EcrivainMkv::ecrire_bloc(std::uint8_t piste, std::int64_t horodatage_ms, bool cle,
                                                             std::span<const std::uint8_t> trame) {
    // A difference too large for 64 bits is far outside any cluster's range.
    std::int64_t rel = 0;
    const bool deborde = __builtin_sub_overflow(horodatage_ms, temps_cluster_, &rel);
    const std::int64_t limite = (cle && piste == 1) ? 999 : 4999;
    if (cluster_.empty() || deborde || rel < -30000 || rel > limite) {
        if (auto r = vider_cluster(); !r) {
            return r;
        }
        temps_cluster_ = horodatage_ms;
        rel = 0;
    }
    const auto rel16 = static_cast<std::int16_t>(rel < -32768 ? -32768 : (rel > 32767 ? 32767 : rel));

    // Track number as an EBML integer: one byte up to 126.
    const std::size_t octets_piste = piste < 127 ? 1 : 2;
    ajouter_id(cluster_, id_simple_block);
    ajouter_taille(cluster_, octets_piste + 3 + trame.size());
    if (octets_piste == 1) {
        cluster_.push_back(static_cast<std::uint8_t>(0x80 | piste));
    } else {
        cluster_.push_back(0x40);
        cluster_.push_back(piste);
    }
    const auto brut = static_cast<std::uint16_t>(rel16);
    cluster_.push_back(static_cast<std::uint8_t>(brut >> 8));
    cluster_.push_back(static_cast<std::uint8_t>(brut));
    cluster_.push_back(cle ? 0x80 : 0x00);
    cluster_.insert(cluster_.end(), trame.begin(), trame.end());

    if (horodatage_ms > temps_max_) {
        temps_max_ = horodatage_ms;
    }
    return {};
}

std::expected<void, commun::Erreur> EcrivainMkv::vider_cluster() {
    if (cluster_.empty()) {
        return {};
    }
    Octets temps;
    element_uint_min(temps, id_timestamp, non_negatif(temps_cluster_));
    entete_.clear();
    ajouter_id(entete_, id_cluster);
    ajouter_taille(entete_, temps.size() + cluster_.size());
    entete_.insert(entete_.end(), temps.begin(), temps.end());

    const auto debut = fichier_.position();
    if (!debut) {
        return std::unexpected(debut.error());
    }
    if (auto r = fichier_.ecrire(entete_); !r) {
        return r;
    }
    if (auto r = fichier_.ecrire(cluster_); !r) {
        return r;
    }
    if (auto r = fichier_.vider(); !r) {
        return r;
    }
    reperes_.push_back({temps_cluster_, *debut - debut_segment_});
    cluster_.clear();
    const auto apres = fichier_.position();
    if (!apres) {
        return std::unexpected(apres.error());
    }
    apres_dernier_cluster_ = *apres;
    return {};
}

std::expected<void, commun::Erreur> EcrivainMkv::terminer() && {
    // Consumed: whatever happens, the file is closed when `e` goes.
    EcrivainMkv e = std::move(*this);
    auto& f = e.fichier_;
    if (auto r = e.vider_cluster(); !r) {
        return r;
    }

    const auto debut_cues = f.position();
    if (!debut_cues) {
        return std::unexpected(debut_cues.error());
    }
    if (!e.reperes_.empty()) {
        Octets points;
        for (const Repere& r : e.reperes_) {
            Octets positions;
            element_uint_fixe(positions, id_cue_track, 1, 1);
            element_uint_min(positions, id_cue_cluster_position, r.position);
            Octets point;
            element_uint_min(point, id_cue_time, non_negatif(r.temps));
            element_maitre(point, id_cue_track_positions, positions);
            element_maitre(points, id_cue_point, point);
        }
        Octets cues;
        element_maitre(cues, id_cues, points);
        if (auto r = f.ecrire(cues); !r) {
            return r;
        }
    }
    const auto fin = f.position();
    if (!fin) {
        return std::unexpected(fin.error());
    }

    Octets o;
    ajouter_taille_8(o, *fin - e.debut_segment_);
    if (auto r = f.aller_a(e.debut_segment_ - 8); !r) {
        return r;
    }
    if (auto r = f.ecrire(o); !r) {
        return r;
    }

    o.clear();
    ajouter_be(o, bits_float64(static_cast<double>(e.temps_max_)), 8);
    if (auto r = f.aller_a(e.position_duree_); !r) {
        return r;
    }
    if (auto r = f.ecrire(o); !r) {
        return r;
    }

    Octets entrees;
    seek(entrees, id_info, e.debut_info_ - e.debut_segment_);
    seek(entrees, id_tracks, e.debut_tracks_ - e.debut_segment_);
    if (!e.reperes_.empty()) {
        seek(entrees, id_cues, *debut_cues - e.debut_segment_);
    }
    Octets tete;
    element_maitre(tete, id_seek_head, entrees);
    if (tete.size() <= seek_head_max) {
        element_void(tete, longueur_reservee - tete.size());
        if (auto r = f.aller_a(e.debut_segment_); !r) {
            return r;
        }
        if (auto r = f.ecrire(tete); !r) {
            return r;
        }
    }
    return f.fermer();
}

}  // namespace mkv
