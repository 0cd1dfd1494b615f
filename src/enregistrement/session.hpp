#pragma once
// One recording of one window, from start to finished file, on the thread
// "enregistrement-partie". The caller polls the byte count and the error and ends it with
// `finir`.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "capture/capture.hpp"
#include "commun/erreur.hpp"
#include "enregistrement/plateforme.hpp"

namespace enregistrement {

// The recording's output, decided here only and passed down to the converter, the encoder and
// the file.
inline constexpr std::uint32_t largeur_sortie = 1280;
inline constexpr std::uint32_t hauteur_sortie = 720;
inline constexpr std::uint32_t images_par_seconde = 30;
inline constexpr std::size_t capacite_canal = 30;
inline constexpr std::uint32_t nombre_surfaces = 4;
inline constexpr std::chrono::milliseconds delai_vidange{120};

// The encoder settings of the recording.
encodeur::ConfigEncodeur config_enregistrement();

// State shared between the handle and the recording thread.
struct EtatPartage {
    std::atomic<std::uint64_t> octets{0};
    std::atomic<bool> arret{false};
    // Set once the sink has created the output file: only then may `finir` delete it.
    std::atomic<bool> fichier_cree{false};
    std::mutex verrou_erreur;
    std::optional<std::string> erreur;
};

// The recording itself (the thread's body without the error report): set-up, ticks, stop
// sequence. Returns when stopped, when the window closed, or on the first error. A failure
// of the capture or of the encoder's output ends it through the stop sequence (the file is
// finished) and is then returned.
std::expected<void, commun::Erreur> boucle_enregistrement(Plateforme& plateforme, capture::PoigneeFenetre fenetre,
                                                          const std::filesystem::path& chemin, EtatPartage& etat);

class SessionEnregistrement {
public:
    // Spawns the recording thread. Never fails: without a thread nothing is recorded.
    static SessionEnregistrement demarrer(std::shared_ptr<Plateforme> plateforme, capture::PoigneeFenetre fenetre,
                                          std::filesystem::path chemin);

    SessionEnregistrement(SessionEnregistrement&&) noexcept = default;
    SessionEnregistrement& operator=(SessionEnregistrement&&) noexcept = delete;
    SessionEnregistrement(const SessionEnregistrement&) = delete;
    SessionEnregistrement& operator=(const SessionEnregistrement&) = delete;
    // Without `finir`: stops and joins the thread, deletes nothing.
    ~SessionEnregistrement();

    std::uint64_t octets() const;
    // Whole seconds since the thread was spawned, truncated.
    std::uint64_t secondes_ecoulees() const;
    std::optional<std::string> erreur() const;

    // Stops and joins the thread. Returns the path when bytes were written; otherwise
    // deletes the file if this session created it (failures ignored) and returns nothing.
    std::optional<std::filesystem::path> finir() &&;

private:
    SessionEnregistrement(std::shared_ptr<Plateforme> plateforme, std::filesystem::path chemin,
                          std::shared_ptr<EtatPartage> etat);
    void arreter_et_joindre();

    std::shared_ptr<Plateforme> plateforme_;
    std::filesystem::path chemin_;
    std::shared_ptr<EtatPartage> etat_;
    std::chrono::nanoseconds debut_{0};
    std::thread fil_;
};

}  // namespace enregistrement
