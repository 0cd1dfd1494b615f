#pragma once
// Bounded first-in first-out channel between one sending and one receiving end.
// The sender blocks while the channel is full; the receiver never waits.
// Dropping either end disconnects the channel: a blocked or later send hands its value
// back, and a receive on an empty channel whose sender is gone says so.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace pipeline {

namespace detail {
template <typename T>
struct EtatCanal {
    explicit EtatCanal(std::size_t c) : capacite(c == 0 ? 1 : c) {}
    std::mutex verrou;
    std::condition_variable place_libre;
    std::deque<T> file;
    std::size_t capacite;
    bool emetteur_present = true;
    bool recepteur_present = true;
};
}  // namespace detail

enum class EtatReception { recu, vide, deconnecte };

template <typename T>
class Emetteur {
public:
    Emetteur() = default;
    explicit Emetteur(std::shared_ptr<detail::EtatCanal<T>> etat) : etat_(std::move(etat)) {}
    Emetteur(Emetteur&&) noexcept = default;
    Emetteur& operator=(Emetteur&& autre) noexcept {
        if (this != &autre) {
            fermer();
            etat_ = std::move(autre.etat_);
        }
        return *this;
    }
    Emetteur(const Emetteur&) = delete;
    Emetteur& operator=(const Emetteur&) = delete;
    ~Emetteur() { fermer(); }

    // Waits while the channel is full. Returns the value back when the receiver is gone.
    std::optional<T> envoyer(T valeur) {
        if (!etat_) {
            return std::optional<T>(std::move(valeur));
        }
        std::unique_lock garde(etat_->verrou);
        etat_->place_libre.wait(garde,
                                [&] { return !etat_->recepteur_present || etat_->file.size() < etat_->capacite; });
        if (!etat_->recepteur_present) {
            return std::optional<T>(std::move(valeur));
        }
        etat_->file.push_back(std::move(valeur));
        return std::nullopt;
    }

    void fermer() {
        if (etat_) {
            std::lock_guard garde(etat_->verrou);
            etat_->emetteur_present = false;
        }
        etat_.reset();
    }

private:
    std::shared_ptr<detail::EtatCanal<T>> etat_;
};

template <typename T>
class Recepteur {
public:
    Recepteur() = default;
    explicit Recepteur(std::shared_ptr<detail::EtatCanal<T>> etat) : etat_(std::move(etat)) {}
    Recepteur(Recepteur&&) noexcept = default;
    Recepteur& operator=(Recepteur&& autre) noexcept {
        if (this != &autre) {
            fermer();
            etat_ = std::move(autre.etat_);
        }
        return *this;
    }
    Recepteur(const Recepteur&) = delete;
    Recepteur& operator=(const Recepteur&) = delete;
    ~Recepteur() { fermer(); }

    // Never waits. On `recu`, `sortie` holds the oldest value.
    EtatReception essayer_recevoir(T& sortie) {
        if (!etat_) {
            return EtatReception::deconnecte;
        }
        std::unique_lock garde(etat_->verrou);
        if (etat_->file.empty()) {
            return etat_->emetteur_present ? EtatReception::vide : EtatReception::deconnecte;
        }
        sortie = std::move(etat_->file.front());
        etat_->file.pop_front();
        garde.unlock();
        etat_->place_libre.notify_one();
        return EtatReception::recu;
    }

    void fermer() {
        if (etat_) {
            {
                std::lock_guard garde(etat_->verrou);
                etat_->recepteur_present = false;
                etat_->file.clear();
            }
            etat_->place_libre.notify_all();
        }
        etat_.reset();
    }

private:
    std::shared_ptr<detail::EtatCanal<T>> etat_;
};

template <typename T>
std::pair<Emetteur<T>, Recepteur<T>> creer_canal(std::size_t capacite) {
    auto etat = std::make_shared<detail::EtatCanal<T>>(capacite);
    return {Emetteur<T>(etat), Recepteur<T>(etat)};
}

}  // namespace pipeline
