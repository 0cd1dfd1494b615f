#include "encodeur/encodeur.hpp"

#include <chrono>
#include <mutex>
#include <system_error>

#include "commun/journal.hpp"
#include "commun/nom_fil.hpp"
#include "commun/sommeil.hpp"

namespace encodeur {

namespace {
constexpr std::string_view cible_journal = "balisor_anticheat_lib::encodeur";
constexpr std::chrono::microseconds pause_sans_evenement{400};
}  // namespace

struct EncodeurMateriel::Etat {
    std::unique_ptr<TransformeAsync> transformee;
    std::uint32_t images_par_seconde = 0;
    CreditEntree credit;
    std::atomic<bool> arret{false};
    mutable std::mutex verrou_erreur;
    std::optional<commun::Erreur> erreur;  // written once by the event thread, as it ends
    std::thread fil;
    bool arrete = false;
};

void EncodeurMateriel::boucle_evenements(Etat& etat, pipeline::Emetteur<pipeline::ImageEncodee> emetteur) {
    commun::nommer_fil_courant("encodeur-evenements");
    TransformeAsync& transformee = *etat.transformee;
    transformee.initialiser_fil();
    while (!etat.arret.load(std::memory_order_acquire)) {
        switch (transformee.evenement_suivant()) {
        case TypeEvenement::aucun:
            // A real pause on every system: the machine is also running the game.
            commun::dormir(pause_sans_evenement);
            break;
        case TypeEvenement::besoin_entree: etat.credit.accorder(); break;
        case TypeEvenement::sortie_prete: {
            auto image = transformee.collecter_sortie();
            if (!image) {
                std::lock_guard garde(etat.verrou_erreur);
                etat.erreur = std::move(image.error());
                return;
            }
            if (*image) {
                // Waits while the channel is full; a vanished receiver hands the image
                // back, and it is dropped.
                (void)emetteur.envoyer(std::move(**image));
            }
            break;
        }
        case TypeEvenement::erreur:
            commun::journal::erreur(cible_journal, "encodeur : événement d'erreur Media Foundation");
            break;
        case TypeEvenement::autre: break;
        }
    }
}

std::expected<EncodeurMateriel, commun::Erreur> EncodeurMateriel::creer(
    std::unique_ptr<TransformeAsync> transformee, std::uint32_t images_par_seconde,
    pipeline::Emetteur<pipeline::ImageEncodee> emetteur) {
    auto etat = std::make_unique<Etat>();
    etat->transformee = std::move(transformee);
    etat->images_par_seconde = images_par_seconde;
    try {
        etat->fil = std::thread(&EncodeurMateriel::boucle_evenements, std::ref(*etat), std::move(emetteur));
    } catch (const std::system_error& e) {
        // Nothing was started: the stream still has to be ended before the transform goes.
        etat->transformee->terminer_flux();
        return std::unexpected(commun::Erreur(e.code().message()));
    }
    return EncodeurMateriel(std::move(etat));
}

EncodeurMateriel::EncodeurMateriel(std::unique_ptr<Etat> etat) : etat_(std::move(etat)) {}
EncodeurMateriel::EncodeurMateriel(EncodeurMateriel&&) noexcept = default;

EncodeurMateriel& EncodeurMateriel::operator=(EncodeurMateriel&& autre) noexcept {
    if (this != &autre) {
        arreter_interne();
        etat_ = std::move(autre.etat_);
    }
    return *this;
}

EncodeurMateriel::~EncodeurMateriel() { arreter_interne(); }

std::expected<Soumission, commun::Erreur> EncodeurMateriel::soumettre_texture(conversion::SortieNv12& surface,
                                                                              std::uint64_t indice) {
    if (!etat_ || etat_->arrete || !etat_->credit.prendre()) {
        return Soumission::non_soumise;
    }
    const std::uint32_t f = etat_->images_par_seconde;
    if (auto r = etat_->transformee->soumettre(surface, horodatage_image(indice, f), duree_image(f)); !r) {
        return std::unexpected(r.error());
    }
    return Soumission::soumise;
}

void EncodeurMateriel::arreter() && { arreter_interne(); }

std::uint32_t EncodeurMateriel::credit() const { return etat_ ? etat_->credit.valeur() : 0; }

std::optional<commun::Erreur> EncodeurMateriel::erreur() const {
    if (!etat_) {
        return std::nullopt;
    }
    std::lock_guard garde(etat_->verrou_erreur);
    return etat_->erreur;
}

void EncodeurMateriel::arreter_interne() {
    if (!etat_ || etat_->arrete) {
        return;
    }
    etat_->arret.store(true, std::memory_order_release);
    if (etat_->fil.joinable()) {
        etat_->fil.join();
    }
    // The thread is gone: what is still inside the transform is not delivered.
    etat_->transformee->terminer_flux();
    etat_->transformee.reset();
    etat_->arrete = true;
}

}  // namespace encodeur
