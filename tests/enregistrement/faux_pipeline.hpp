#pragma once
// Fakes of the platform pieces: a virtual clock, a capture driven by a scenario, a
// conversion engine and an encoder transform producing synthetic H.264 access units.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <pthread.h>
#endif

#include "capture/capture.hpp"
#include "conversion/conversion.hpp"
#include "encodeur/encodeur.hpp"
#include "enregistrement/plateforme.hpp"
#include "support/dossier_temp.hpp"

namespace faux {

using namespace std::chrono_literals;

// The calling thread's name as the system shows it (Linux keeps 15 bytes).
inline std::string nom_du_fil() {
#if defined(__linux__)
    char nom[16] = {};
    pthread_getname_np(pthread_self(), nom, sizeof nom);
    return nom;
#else
    return {};
#endif
}

// Synthetic access units: SPS + PPS + IDR slice for keyframes, one slice otherwise.
inline std::vector<std::uint8_t> unite_acces(bool cle, std::uint64_t numero) {
    std::vector<std::uint8_t> o;
    const auto nal = [&](std::initializer_list<std::uint8_t> octets) {
        o.insert(o.end(), {0, 0, 0, 1});
        o.insert(o.end(), octets);
    };
    if (cle) {
        nal({0x67, 0x64, 0x00, 0x1F, 0xAC, 0xD9, 0x40, 0x50, 0x05, 0xBB, 0x01, 0x10});
        nal({0x68, 0xEB, 0xE3, 0xCB, 0x22, 0xC0});
        nal({0x65, 0x88, 0x84, static_cast<std::uint8_t>(numero), 0x21, 0x7F});
    } else {
        nal({0x41, 0x9A, 0x02, static_cast<std::uint8_t>(numero), 0x11});
    }
    return o;
}

struct FauxPeripherique final : capture::Peripherique {
    FauxPeripherique() {
        nom = "Carte de test";
        id_fournisseur = 0x10DE;
    }
};

struct FausseTexture final : capture::Texture {
    std::uint32_t largeur = 0;
    std::uint32_t hauteur = 0;
    int copies = 0;
};

struct FausseCapture final : capture::CaptureFenetre {
    FausseCapture() : capture::CaptureFenetre(std::make_shared<capture::EtatCapture>()) {}

    // What a frame handler does: the portable arrival rule on a fake frame.
    void livrer(std::uint32_t w, std::uint32_t h) {
        struct Arrivee final : capture::ImageArrivee {
            std::expected<capture::RefTexture, commun::Erreur> creer_image(std::uint32_t l, std::uint32_t ht) override {
                auto t = std::make_shared<FausseTexture>();
                t->largeur = l;
                t->hauteur = ht;
                return t;
            }
            void copier_vers(capture::Texture& d, std::uint32_t, std::uint32_t) override {
                ++static_cast<FausseTexture&>(d).copies;
            }
        } arrivee;
        capture::deposer_image(etat(), w, h, arrivee);
    }
};

struct FausseSortie final : conversion::SortieNv12 {
    std::size_t numero = 0;
};

// Shared record of what the conversion engines did.
struct JournalConversion {
    std::mutex verrou;
    std::vector<conversion::ParametresConversion> creations;
    std::vector<const capture::Texture*> liaisons;
    std::uint64_t conversions = 0;
    std::optional<std::uint64_t> echec_a;  // the conversion (counted from 1) that fails
};

struct FauxMoteur final : conversion::MoteurNv12 {
    FauxMoteur(std::shared_ptr<JournalConversion> j, std::size_t n) : journal(std::move(j)), sorties(n) {
        for (std::size_t i = 0; i < n; ++i) {
            sorties[i].numero = i;
        }
    }
    std::size_t nombre_sorties() const override { return sorties.size(); }
    conversion::SortieNv12& sortie(std::size_t i) override { return sorties.at(i); }
    std::expected<void, commun::Erreur> preparer_entree(const capture::RefTexture& source) override {
        std::lock_guard g(journal->verrou);
        journal->liaisons.push_back(source.get());
        return {};
    }
    std::expected<void, commun::Erreur> convertir(std::size_t) override {
        std::lock_guard g(journal->verrou);
        ++journal->conversions;
        if (journal->echec_a && journal->conversions == *journal->echec_a) {
            return std::unexpected(commun::Erreur("vue d'entrée"));
        }
        return {};
    }
    std::shared_ptr<JournalConversion> journal;
    std::vector<FausseSortie> sorties;
};

// An encoder transform answering like an asynchronous hardware one: each submission is
// followed by one output and, unless told otherwise, a new input request. Its record
// outlives it (shared), so tests read it after the recording ended.
struct Reglages {
    std::uint32_t demandes_initiales = 1;  // input requests queued at start
    bool redemander = true;                // a new request after each submission
    bool produire = true;                  // one output per submission
    std::uint64_t gop = 60;                // keyframe every `gop` outputs
    bool soumission_en_echec = false;
    int sorties_par_soumission = 1;
    std::optional<int> collecte_en_echec;         // the collection (from 1) that fails, as a refused new format
    std::chrono::milliseconds delai_calme{2000};  // longest wait for the event thread to go idle
};

struct SoumissionVue {
    std::size_t surface;
    std::int64_t temps;
    std::int64_t duree;
};

class EtatTransformee {
public:
    explicit EtatTransformee(Reglages r) : reglages_(r) {
        for (std::uint32_t i = 0; i < r.demandes_initiales; ++i) {
            evenements_.push_back(encodeur::TypeEvenement::besoin_entree);
        }
    }

    void ajouter_evenement(encodeur::TypeEvenement e) {
        std::lock_guard g(verrou_);
        evenements_.push_back(e);
    }

    encodeur::TypeEvenement evenement_suivant() {
        std::lock_guard g(verrou_);
        if (evenements_.empty()) {
            ++appels_a_vide_;
            calme_.notify_all();
            return encodeur::TypeEvenement::aucun;
        }
        const auto e = evenements_.front();
        evenements_.pop_front();
        return e;
    }

    std::expected<void, commun::Erreur> soumettre(std::size_t surface, std::int64_t temps, std::int64_t duree) {
        std::lock_guard g(verrou_);
        soumissions_.push_back({surface, temps, duree});
        if (reglages_.soumission_en_echec) {
            return std::unexpected(commun::Erreur("ProcessInput refusé"));
        }
        for (int k = 0; reglages_.produire && k < reglages_.sorties_par_soumission; ++k) {
            attentes_.push_back(temps);
            evenements_.push_back(encodeur::TypeEvenement::sortie_prete);
        }
        if (reglages_.redemander) {
            evenements_.push_back(encodeur::TypeEvenement::besoin_entree);
        }
        return {};
    }

    std::expected<std::optional<pipeline::ImageEncodee>, commun::Erreur> collecter_sortie() {
        std::lock_guard g(verrou_);
        ++collectes;
        if (reglages_.collecte_en_echec == collectes.load()) {
            en_echec_ = true;  // the event thread leaves: nothing more to wait for
            calme_.notify_all();
            return std::unexpected(commun::Erreur("type de sortie refusé"));
        }
        if (attentes_.empty()) {
            return std::nullopt;
        }
        pipeline::ImageEncodee image;
        image.horodatage = attentes_.front();
        attentes_.pop_front();
        image.cle = produites_ % reglages_.gop == 0;
        image.donnees = unite_acces(image.cle, produites_);
        image.duree = 333333;
        ++produites_;
        return image;
    }

    // Waits until the event thread has handled everything queued (it came back asking with
    // nothing left). Nothing to wait for once the transform is gone.
    void attendre_calme() {
        std::unique_lock g(verrou_);
        if (detruite || en_echec_) {
            return;
        }
        const std::uint64_t depart = appels_a_vide_;
        calme_.wait_for(g, reglages_.delai_calme,
                        [&] { return detruite || en_echec_ || (evenements_.empty() && appels_a_vide_ > depart); });
    }

    std::vector<SoumissionVue> soumissions() {
        std::lock_guard g(verrou_);
        return soumissions_;
    }
    void marquer_detruite() {
        std::lock_guard g(verrou_);
        detruite = true;
        calme_.notify_all();
    }

    std::atomic<int> collectes{0};
    std::atomic<int> fins_de_flux{0};
    std::atomic<int> initialisations_fil{0};
    std::string nom_fil_evenements;
    bool detruite = false;

private:
    Reglages reglages_;
    std::mutex verrou_;
    std::condition_variable calme_;
    std::deque<encodeur::TypeEvenement> evenements_;
    std::deque<std::int64_t> attentes_;
    std::vector<SoumissionVue> soumissions_;
    std::uint64_t produites_ = 0;
    std::uint64_t appels_a_vide_ = 0;
    bool en_echec_ = false;
};

class FausseTransformee final : public encodeur::TransformeAsync {
public:
    explicit FausseTransformee(std::shared_ptr<EtatTransformee> etat) : etat_(std::move(etat)) {}
    ~FausseTransformee() override { etat_->marquer_detruite(); }
    void initialiser_fil() override {
        etat_->nom_fil_evenements = nom_du_fil();
        ++etat_->initialisations_fil;
    }
    encodeur::TypeEvenement evenement_suivant() override { return etat_->evenement_suivant(); }
    std::expected<void, commun::Erreur> soumettre(conversion::SortieNv12& surface, std::int64_t temps,
                                                  std::int64_t duree) override {
        return etat_->soumettre(static_cast<FausseSortie&>(surface).numero, temps, duree);
    }
    std::expected<std::optional<pipeline::ImageEncodee>, commun::Erreur> collecter_sortie() override {
        return etat_->collecter_sortie();
    }
    void terminer_flux() override { ++etat_->fins_de_flux; }

private:
    std::shared_ptr<EtatTransformee> etat_;
};

// The platform of a recording under test: virtual time that advances only by sleeping,
// and a scenario called after each sleep (the n-th, from 1) to move the world on.
class FaussePlateforme final : public enregistrement::Plateforme {
public:
    using Scenario = std::function<void(FaussePlateforme&, std::uint64_t)>;

    Reglages reglages;
    Scenario scenario;
    std::optional<commun::Erreur> echec_peripherique;
    std::function<void()> avant_peripherique;  // runs on the recording thread, first thing
    std::shared_ptr<JournalConversion> conversion = std::make_shared<JournalConversion>();

    // Filled as the recording runs; `capture` is valid while the recording holds it.
    FausseCapture* capture = nullptr;
    std::shared_ptr<EtatTransformee> transformee;
    std::atomic<int> debuts_minuterie{0};
    std::atomic<int> fins_minuterie{0};
    std::vector<std::chrono::nanoseconds> sommeils;

    std::chrono::nanoseconds temps() const { return std::chrono::nanoseconds(temps_.load()); }
    void avancer(std::chrono::nanoseconds d) { temps_ += d.count(); }

    void initialiser_fil() override { nom_fil = nom_du_fil(); }
    void debut_resolution_minuterie() override { ++debuts_minuterie; }
    void fin_resolution_minuterie() override {
        std::lock_guard g(verrou_limite_);
        ++fins_minuterie;
        porte_.notify_all();
    }
    std::chrono::nanoseconds maintenant() override { return temps(); }

    // Optional gate on virtual time: a sleep that would pass `limite` waits (in real time,
    // at most 50 ms, so a stop request is never held up) until the gate is raised.
    void fixer_limite(std::chrono::nanoseconds limite) {
        std::lock_guard g(verrou_limite_);
        limite_ = limite;
        bloquee_ = false;
        porte_.notify_all();
    }
    // Raises the gate by `d` and waits until the recording is held by it again (or ended);
    // the gated time has then passed for everyone, as a real second would.
    void laisser_passer(std::chrono::nanoseconds d) {
        std::unique_lock g(verrou_limite_);
        limite_ = limite_.value_or(temps()) + d;
        bloquee_ = false;
        porte_.notify_all();
        porte_.wait_for(g, 5s, [&] { return bloquee_ || fins_minuterie.load() > 0; });
        if (temps() < *limite_) {
            temps_ = limite_->count();
        }
    }

    void dormir(std::chrono::nanoseconds d) override {
        const auto cible = temps() + d;
        {
            std::unique_lock g(verrou_limite_);
            if (limite_ && cible > *limite_) {
                bloquee_ = true;
                porte_.notify_all();
                porte_.wait_for(g, 50ms, [&] { return cible <= *limite_; });
            }
            if (temps() < cible) {
                temps_ = cible.count();
            }
        }
        sommeils.push_back(d);
        if (scenario) {
            scenario(*this, sommeils.size());
        }
        if (transformee) {
            transformee->attendre_calme();
        }
    }

    std::expected<std::unique_ptr<capture::Peripherique>, commun::Erreur> creer_peripherique() override {
        if (avant_peripherique) {
            avant_peripherique();
        }
        if (echec_peripherique) {
            return std::unexpected(*echec_peripherique);
        }
        return std::make_unique<FauxPeripherique>();
    }
    std::expected<std::unique_ptr<capture::CaptureFenetre>, commun::Erreur> demarrer_capture(
        capture::Peripherique&, capture::PoigneeFenetre fenetre, bool curseur) override {
        fenetre_ = fenetre;
        curseur_ = curseur;
        auto c = std::make_unique<FausseCapture>();
        capture = c.get();
        return c;
    }
    std::expected<std::unique_ptr<encodeur::TransformeAsync>, commun::Erreur> creer_transformee(
        capture::Peripherique&, const encodeur::ConfigEncodeur& config) override {
        config_ = config;
        transformee = std::make_shared<EtatTransformee>(reglages);
        return std::make_unique<FausseTransformee>(transformee);
    }
    std::expected<conversion::ConvertisseurNv12, commun::Erreur> creer_convertisseur(
        capture::Peripherique&, const conversion::ParametresConversion& p) override {
        {
            std::lock_guard g(conversion->verrou);
            conversion->creations.push_back(p);
        }
        return conversion::ConvertisseurNv12(std::make_unique<FauxMoteur>(conversion, p.nombre_sorties));
    }

    std::string nom_fil;
    capture::PoigneeFenetre fenetre_ = 0;
    bool curseur_ = true;
    encodeur::ConfigEncodeur config_{};

private:
    std::atomic<std::int64_t> temps_{5'000'000'000};
    std::mutex verrou_limite_;
    std::condition_variable porte_;
    std::optional<std::chrono::nanoseconds> limite_;
    bool bloquee_ = false;
};

}  // namespace faux
