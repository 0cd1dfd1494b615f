#pragma once
// Error of the recording side: a short text that may wrap the error that caused it.
// Rendered outermost first, joined by ": ".
#include <memory>
#include <string>
#include <utility>

namespace commun {

class Erreur {
public:
    Erreur() = default;
    explicit Erreur(std::string message) : message_(std::move(message)) {}
    Erreur(std::string message, Erreur cause)
        : message_(std::move(message)), cause_(std::make_shared<Erreur>(std::move(cause))) {}

    const std::string& message() const { return message_; }
    const Erreur* cause() const { return cause_.get(); }

    // "outer: inner: innermost"
    std::string chaine() const {
        std::string texte = message_;
        for (const Erreur* c = cause_.get(); c != nullptr; c = c->cause_.get()) {
            texte += ": ";
            texte += c->message_;
        }
        return texte;
    }

    // Wraps this error under a new outer message.
    Erreur contexte(std::string message) const& { return Erreur(std::move(message), *this); }

private:
    std::string message_;
    std::shared_ptr<const Erreur> cause_;
};

// The system's description of an errno value, on one line.
std::string texte_errno(int numero);

}  // namespace commun
