#include "enregistrement/session.hpp"

#include <system_error>

#include "commun/journal.hpp"
#include "commun/nom_fil.hpp"
#include "enregistrement/rythme.hpp"
#include "mkv/sortie.hpp"

namespace enregistrement {

namespace {

constexpr std::string_view cible_journal = "balisor_anticheat_lib::enregistrement";

using commun::Erreur;

// Everything the recording thread owns while it runs.
struct Pipeline {
    Pipeline(Plateforme& p, const std::filesystem::path& c, EtatPartage& e) : plateforme(p), chemin(c), etat(e) {}
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;
    // Left by an exception: the same releases as an error, so the timer resolution is given
    // back on this way out too.
    ~Pipeline() {
        if (minuterie_demandee) {
            (void)echec(Erreur());
        }
    }

    Plateforme& plateforme;
    const std::filesystem::path& chemin;
    EtatPartage& etat;

    // Declared so that unwinding releases the receiving end before the encoder (whose
    // thread may be waiting to send) and the device last.
    std::unique_ptr<capture::Peripherique> peripherique;
    std::unique_ptr<capture::CaptureFenetre> capture;
    std::optional<encodeur::EncodeurMateriel> encodeur;
    std::optional<pipeline::Recepteur<pipeline::ImageEncodee>> recepteur;
    mkv::EtatSortie sortie{largeur_sortie, hauteur_sortie};
    std::optional<conversion::ConvertisseurNv12> convertisseur;
    std::uint32_t largeur_entree = 0;
    std::uint32_t hauteur_entree = 0;
    bool fichier_existait = false;
    bool minuterie_demandee = false;

    void rendre_minuterie() {
        minuterie_demandee = false;
        plateforme.fin_resolution_minuterie();
    }

    // Set-up failure: what was built goes, newest first.
    std::unexpected<Erreur> echec_preparation(Erreur erreur) {
        encodeur.reset();
        recepteur.reset();
        capture.reset();
        peripherique.reset();
        rendre_minuterie();
        return std::unexpected(std::move(erreur));
    }

    // Failure after set-up: the writer is dropped unfinished (the file keeps what reached
    // it), then converter, encoder, channel, capture, device.
    std::unexpected<Erreur> echec(Erreur erreur) {
        sortie.ecrivain.reset();
        convertisseur.reset();
        // The event thread may be waiting on a full channel: disconnecting the receiving end
        // first lets it see the stop instead of blocking the join forever.
        if (recepteur) {
            recepteur->fermer();
        }
        encodeur.reset();
        recepteur.reset();
        capture.reset();
        peripherique.reset();
        rendre_minuterie();
        return std::unexpected(std::move(erreur));
    }

    std::expected<void, Erreur> vidanger() {
        auto r = mkv::ecrire_images_encodees(*recepteur, chemin, sortie, etat.octets);
        if (sortie.ecrivain) {
            etat.fichier_cree.store(true);
        } else if (!r && !fichier_existait) {
            // The writer failed while being set up: it may have left a file behind.
            std::error_code code;
            if (std::filesystem::exists(chemin, code)) {
                etat.fichier_cree.store(true);
            }
        }
        return r;
    }

    // Under the capture lock: (re)builds the converter for the image's size and takes a
    // reference to the image. Empty when no image has arrived yet.
    std::expected<capture::RefTexture, Erreur> prendre_image() {
        capture::EtatCapture& etat_capture = capture->etat();
        std::lock_guard garde(etat_capture.verrou);
        if (!etat_capture.image || etat_capture.image->largeur == 0) {
            return capture::RefTexture{};
        }
        const capture::ImageSource& image = *etat_capture.image;
        if (!convertisseur || image.largeur != largeur_entree || image.hauteur != hauteur_entree) {
            auto nouveau = plateforme.creer_convertisseur(
                *peripherique, conversion::parametres_conversion(image.largeur, image.hauteur, largeur_sortie,
                                                                 hauteur_sortie, images_par_seconde, nombre_surfaces));
            if (!nouveau) {
                return std::unexpected(nouveau.error());
            }
            convertisseur.emplace(std::move(*nouveau));
            largeur_entree = image.largeur;
            hauteur_entree = image.hauteur;
        }
        return image.texture;
    }

    std::expected<void, Erreur> executer(capture::PoigneeFenetre fenetre) {
        plateforme.initialiser_fil();
        plateforme.debut_resolution_minuterie();
        minuterie_demandee = true;

        auto p = plateforme.creer_peripherique();
        if (!p) {
            return echec_preparation(p.error());
        }
        peripherique = std::move(*p);
        auto c = plateforme.demarrer_capture(*peripherique, fenetre, false);
        if (!c) {
            return echec_preparation(c.error());
        }
        capture = std::move(*c);
        auto [emetteur, reception] = pipeline::creer_canal<pipeline::ImageEncodee>(capacite_canal);
        recepteur.emplace(std::move(reception));
        auto t = plateforme.creer_transformee(*peripherique, config_enregistrement());
        if (!t) {
            return echec_preparation(t.error());
        }
        auto e = encodeur::EncodeurMateriel::creer(std::move(*t), images_par_seconde, std::move(emetteur));
        if (!e) {
            return echec_preparation(e.error());
        }
        encodeur.emplace(std::move(*e));
        std::error_code code;
        fichier_existait = std::filesystem::exists(chemin, code);

        const std::chrono::nanoseconds origine = plateforme.maintenant();
        std::uint64_t indice = 0;
        for (;;) {
            if (etat.arret.load()) {
                break;
            }
            const DecisionRythme decision = decider_rythme(origine, indice, plateforme.maintenant());
            if (decision.action == DecisionRythme::Action::dormir) {
                plateforme.dormir(decision.attente);
            } else if (decision.action == DecisionRythme::Action::resynchroniser) {
                indice = indice_resynchronise(origine, plateforme.maintenant());
            }
            if (capture->etat().fermee.load() || capture->etat().erreur() || encodeur->erreur()) {
                break;
            }
            auto texture = prendre_image();
            if (!texture) {
                return echec(texture.error());
            }
            if (*texture) {
                auto i = convertisseur->convertir_image(*texture);
                if (!i) {
                    texture->reset();
                    return echec(i.error());
                }
                // A refused or failed submission only loses this frame.
                (void)encodeur->soumettre_texture(convertisseur->sortie(*i), indice);
                texture->reset();
            }
            if (auto r = vidanger(); !r) {
                return echec(r.error());
            }
            ++indice;
        }

        plateforme.dormir(delai_vidange);
        if (auto r = vidanger(); !r) {
            return echec(r.error());
        }
        std::move(*encodeur).arreter();
        // A failure of the capture or the encoder stops the recording as a closed window does:
        // the file is finished with what came before it, then the failure is the recording's.
        std::optional<Erreur> erreur = capture->etat().erreur();
        if (!erreur) {
            erreur = encodeur->erreur();
        }
        encodeur.reset();
        if (auto r = vidanger(); !r) {
            return echec(r.error());
        }
        if (sortie.ecrivain) {
            mkv::EcrivainMkv ecrivain = std::move(*sortie.ecrivain);
            sortie.ecrivain.reset();
            if (auto r = std::move(ecrivain).terminer(); !r) {
                return echec(r.error());
            }
        }
        rendre_minuterie();
        convertisseur.reset();
        recepteur.reset();
        capture.reset();
        peripherique.reset();
        if (erreur) {
            return std::unexpected(std::move(*erreur));
        }
        return {};
    }
};

// By value on purpose: the thread's own copies, which std::thread moves in.
// NOLINTBEGIN(performance-unnecessary-value-param)
void corps_fil(std::shared_ptr<Plateforme> plateforme, capture::PoigneeFenetre fenetre, std::filesystem::path chemin,
               std::shared_ptr<EtatPartage> etat) {
    // NOLINTEND(performance-unnecessary-value-param)
    commun::nommer_fil_courant("enregistrement-partie");
    try {
        auto r = boucle_enregistrement(*plateforme, fenetre, chemin, *etat);
        if (!r) {
            std::string texte = r.error().chaine();
            commun::journal::avertir(cible_journal, "enregistrement : " + texte);
            std::lock_guard garde(etat->verrou_erreur);
            etat->erreur = std::move(texte);
        }
    } catch (...) {
        // An abnormal end of the recording thread is not reported: the caller only joins it.
    }
}

}  // namespace

encodeur::ConfigEncodeur config_enregistrement() {
    return encodeur::ConfigEncodeur{largeur_sortie, hauteur_sortie, images_par_seconde, 2500, 2, 0, 1};
}

std::expected<void, commun::Erreur> boucle_enregistrement(Plateforme& plateforme, capture::PoigneeFenetre fenetre,
                                                          const std::filesystem::path& chemin, EtatPartage& etat) {
    Pipeline pipeline{plateforme, chemin, etat};
    return pipeline.executer(fenetre);
}

SessionEnregistrement::SessionEnregistrement(std::shared_ptr<Plateforme> plateforme, std::filesystem::path chemin,
                                             std::shared_ptr<EtatPartage> etat)
    : plateforme_(std::move(plateforme)), chemin_(std::move(chemin)), etat_(std::move(etat)) {}

SessionEnregistrement SessionEnregistrement::demarrer(std::shared_ptr<Plateforme> plateforme,
                                                      capture::PoigneeFenetre fenetre, std::filesystem::path chemin) {
    SessionEnregistrement session(plateforme, chemin, std::make_shared<EtatPartage>());
    try {
        session.fil_ = std::thread(corps_fil, plateforme, fenetre, chemin, session.etat_);
    } catch (const std::system_error&) {
        // No thread, no recording: the handle answers 0 bytes and no error.
    }
    session.debut_ = plateforme->maintenant();
    return session;
}

SessionEnregistrement::~SessionEnregistrement() { arreter_et_joindre(); }

void SessionEnregistrement::arreter_et_joindre() {
    if (etat_) {
        etat_->arret.store(true);
    }
    if (fil_.joinable()) {
        fil_.join();
    }
}

std::uint64_t SessionEnregistrement::octets() const { return etat_ ? etat_->octets.load() : 0; }

std::uint64_t SessionEnregistrement::secondes_ecoulees() const {
    const auto ecoule = plateforme_->maintenant() - debut_;
    if (ecoule.count() <= 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(ecoule).count());
}

std::optional<std::string> SessionEnregistrement::erreur() const {
    std::lock_guard garde(etat_->verrou_erreur);
    return etat_->erreur;
}

std::optional<std::filesystem::path> SessionEnregistrement::finir() && {
    arreter_et_joindre();
    if (etat_->octets.load() > 0) {
        return chemin_;
    }
    if (etat_->fichier_cree.load()) {
        std::error_code code;
        std::filesystem::remove(chemin_, code);
    }
    return std::nullopt;
}

}  // namespace enregistrement
