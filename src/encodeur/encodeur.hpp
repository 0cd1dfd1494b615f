#pragma once
// The hardware encoder as the recording uses it: an asynchronous transform driven by its
// events, with input credit, an event thread that moves encoded images into the channel,
// and an ordered stop.
//
// The back end (Media Foundation, libavcodec) supplies a `TransformeAsync`; everything
// above it is `EncodeurMateriel`, shared by all platforms.
#include <atomic>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <thread>

#include "capture/capture.hpp"
#include "commun/erreur.hpp"
#include "conversion/conversion.hpp"
#include "encodeur/config.hpp"
#include "pipeline/canal.hpp"
#include "pipeline/image_encodee.hpp"

namespace encodeur {

enum class TypeEvenement {
    aucun,          // no event waiting, or asking for one failed
    besoin_entree,  // the transform wants one more input (METransformNeedInput)
    sortie_prete,   // one output can be collected (METransformHaveOutput)
    erreur,         // the transform reports an error (MEError)
    autre,          // anything else, ignored (also when the type could not be read)
};

// A configured, streaming encoder transform. Two threads use it at once: the event thread
// (`evenement_suivant`, `collecter_sortie`) and the recording thread (`soumettre`,
// `terminer_flux`), so an implementation must be safe for that pairing.
class TransformeAsync {
public:
    virtual ~TransformeAsync() = default;
    // Called once on the event thread before its first event (COM initialisation).
    virtual void initialiser_fil() {}
    // Next event, without waiting.
    virtual TypeEvenement evenement_suivant() = 0;
    // Hands one NV12 surface to the transform with its time and duration (100-ns units).
    virtual std::expected<void, commun::Erreur> soumettre(conversion::SortieNv12& surface, std::int64_t temps,
                                                          std::int64_t duree) = 0;
    // Collects one output after `sortie_prete`; none when the transform gave nothing usable.
    // Time and duration 0 when absent; `cle` from the clean-point attribute. An error means
    // the transform can give no more output (its new output format could not be set, for
    // instance): the recording ends with it.
    virtual std::expected<std::optional<pipeline::ImageEncodee>, commun::Erreur> collecter_sortie() = 0;
    // End of stream, end of streaming, detach the device; failures ignored. Called once,
    // after the event thread has ended.
    virtual void terminer_flux() = 0;
};

// Implemented by the back end: chooses, configures and starts the transform on the
// device (everything of encoder creation except the event thread).
std::expected<std::unique_ptr<TransformeAsync>, commun::Erreur> creer_transformee(capture::Peripherique& peripherique,
                                                                                  const ConfigEncodeur& config,
                                                                                  const OptionsDiagnostic& options);

enum class Soumission { soumise, non_soumise };

// Input credit: raised by the event thread only, spent by the recording thread only, so
// reading then decrementing needs no lock.
class CreditEntree {
public:
    void accorder() { valeur_.fetch_add(1, std::memory_order_acq_rel); }
    // Spends one credit when there is one.
    bool prendre() {
        if (valeur_.load(std::memory_order_acquire) == 0) {
            return false;
        }
        valeur_.fetch_sub(1, std::memory_order_acq_rel);
        return true;
    }
    std::uint32_t valeur() const { return valeur_.load(std::memory_order_acquire); }

private:
    std::atomic<std::uint32_t> valeur_{0};
};

class EncodeurMateriel {
public:
    // Starts the thread "encodeur-evenements" on `transformee`. Fails only when the thread
    // cannot be started (the system's error).
    static std::expected<EncodeurMateriel, commun::Erreur> creer(std::unique_ptr<TransformeAsync> transformee,
                                                                 std::uint32_t images_par_seconde,
                                                                 pipeline::Emetteur<pipeline::ImageEncodee> emetteur);

    EncodeurMateriel(EncodeurMateriel&&) noexcept;
    EncodeurMateriel& operator=(EncodeurMateriel&&) noexcept;
    EncodeurMateriel(const EncodeurMateriel&) = delete;
    EncodeurMateriel& operator=(const EncodeurMateriel&) = delete;
    // An encoder dropped without `arreter` still stops and joins its thread (and ends the
    // stream). The thread may be blocked on a full channel: drop the receiving end first.
    ~EncodeurMateriel();

    // Submits `surface` as frame `indice` when the transform has asked for input; without
    // credit nothing happens. The credit is spent even when the submission then fails.
    std::expected<Soumission, commun::Erreur> soumettre_texture(conversion::SortieNv12& surface, std::uint64_t indice);

    // Stops the event thread, then ends the stream and releases the transform. The channel
    // must have been drained (the thread may be waiting to send).
    void arreter() &&;

    std::uint32_t credit() const;

    // The error that ended the event thread, if one did (see `collecter_sortie`); images are
    // no longer produced after it.
    std::optional<commun::Erreur> erreur() const;

private:
    struct Etat;
    explicit EncodeurMateriel(std::unique_ptr<Etat> etat);
    // Body of the thread "encodeur-evenements".
    static void boucle_evenements(Etat& etat, pipeline::Emetteur<pipeline::ImageEncodee> emetteur);
    void arreter_interne();
    std::unique_ptr<Etat> etat_;
};

}  // namespace encodeur
