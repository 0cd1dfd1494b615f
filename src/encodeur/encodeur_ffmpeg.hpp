#pragma once
// libavcodec's libx264 encoder behind the interface of an asynchronous encoder transform: a
// worker thread of its own raises "need input" when it can take one more frame and "have
// output" when an access unit is ready, so the caller drives it exactly as a hardware one.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "commun/erreur.hpp"
#include "encodeur/config.hpp"
#include "encodeur/encodeur.hpp"
#include "pipeline/image_encodee.hpp"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace encodeur {

struct ConfigX264 {
    // From ConfigEncodeur (config_x264).
    std::uint32_t largeur = 0;
    std::uint32_t hauteur = 0;
    std::uint32_t images_par_seconde = 30;
    std::uint32_t debit_kbps = 2500;
    std::uint32_t gop_images = 60;
    std::uint32_t images_b = 0;
    std::uint32_t qualite_vitesse = 50;  // 20, 50 or 85, see preset_x264
    std::uint32_t niveau = 40;           // level_idc, 0 lets x264 choose
    bool faible_latence = true;
};

// Quality/speed value to x264 preset: nearest of 20 → superfast, 50 → veryfast, 85 → medium.
const char* preset_x264(std::uint32_t qualite_vitesse);

// The x264 settings of a recording configuration and its diagnostic options.
ConfigX264 config_x264(const ConfigEncodeur& config, const OptionsDiagnostic& options);

class TransformX264 : public TransformeAsync {
public:
    // Frames the transform asks for ahead of what it is encoding: enough to ride out a short
    // stall of the encoder (a busy machine) without losing ticks.
    static constexpr std::size_t entrees_en_attente = 3;

    static std::expected<std::unique_ptr<TransformX264>, commun::Erreur> creer(const ConfigX264& config);

    TransformX264(const TransformX264&) = delete;
    TransformX264& operator=(const TransformX264&) = delete;
    // Stops the worker; frames not yet encoded are dropped, as when a stream ends without drain.
    ~TransformX264() override;

    // Longest wait of `evenement_suivant` for an event to come.
    static constexpr std::chrono::milliseconds attente_evenement{10};

    // Next event: `aucun` when none came within `attente_evenement` (or the transform stopped).
    TypeEvenement evenement_suivant() override;
    // The surface must be a CPU NV12 surface of the configured size. Its storage is referenced,
    // not copied: write it again only after `rendre_inscriptible`. Refused when no input was
    // asked for. Times in 100-ns units.
    std::expected<void, commun::Erreur> soumettre(conversion::SortieNv12& surface, std::int64_t temps,
                                                  std::int64_t duree) override;
    std::expected<std::optional<pipeline::ImageEncodee>, commun::Erreur> collecter_sortie() override {
        return sortie();
    }
    // Stops the worker without draining it.
    void terminer_flux() override { arreter(); }

    // The rate-control settings in force, for the diagnostic dump.
    struct Reglages {
        std::optional<std::uint32_t> gop, debit, mode, images_b;
    };
    Reglages reglages() const;

    // One encoded access unit, after a "have output" event.
    std::optional<pipeline::ImageEncodee> sortie();

    struct Etat;

    class Cle {
        friend class TransformX264;
        Cle() = default;
    };
    explicit TransformX264(Cle);

private:
    void travailler();
    void arreter();

    std::unique_ptr<Etat> etat_;
    std::thread fil_;
};

}  // namespace encodeur
