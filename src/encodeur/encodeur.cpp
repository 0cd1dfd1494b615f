#include "encodeur/encodeur.hpp"

#include <chrono>
#include <system_error>

#include "commun/journal.hpp"
#include "commun/nom_fil.hpp"

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
    std::thread fil;
    bool arrete = false;
};

namespace {

void boucle_evenements(TransformeAsync& transformee, CreditEntree& credit, const std::atomic<bool>& arret,
                       commun::Emetteur<commun::ImageEncodee> emetteur) {
    commun::nommer_fil_courant("encodeur-evenements");
    transformee.initialiser_fil();
    while (!arret.load(std::memory_order_acquire)) {
        switch (transformee.evenement_suivant()) {
            case TypeEvenement::aucun:
                std::this_thread::sleep_for(pause_sans_evenement);
                break;
            case TypeEvenement::besoin_entree:
                credit.accorder();
                break;
            case TypeEvenement::sortie_prete:
                if (auto image = transformee.collecter_sortie()) {
                    // Waits while the channel is full; a vanished receiver hands the image
                    // back, and it is dropped.
                    (void)emetteur.envoyer(std::move(*image));
                }
                break;
            case TypeEvenement::erreur:
                commun::journal::erreur(cible_journal, "encodeur : événement d'erreur Media Foundation");
                break;
            case TypeEvenement::autre:
                break;
        }
    }
}

}  // namespace

std::expected<EncodeurMateriel, commun::Erreur> EncodeurMateriel::creer(
    std::unique_ptr<TransformeAsync> transformee, std::uint32_t images_par_seconde,
    commun::Emetteur<commun::ImageEncodee> emetteur) {
    auto etat = std::make_unique<Etat>();
    etat->transformee = std::move(transformee);
    etat->images_par_seconde = images_par_seconde;
    try {
        etat->fil = std::thread(boucle_evenements, std::ref(*etat->transformee), std::ref(etat->credit),
                                std::cref(etat->arret), std::move(emetteur));
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
