#include "enregistrement/rythme.hpp"

namespace enregistrement {

std::chrono::nanoseconds echeance(std::chrono::nanoseconds origine, std::uint64_t indice) {
    return origine + std::chrono::nanoseconds(static_cast<std::int64_t>(indice) * periode_image.count());
}

DecisionRythme decider_rythme(std::chrono::nanoseconds origine, std::uint64_t indice,
                              std::chrono::nanoseconds maintenant) {
    const auto limite = echeance(origine, indice);
    if (limite > maintenant) {
        return {DecisionRythme::Action::dormir, limite - maintenant};
    }
    if (maintenant - limite >= seuil_resynchronisation) {
        return {DecisionRythme::Action::resynchroniser, std::chrono::nanoseconds{0}};
    }
    return {DecisionRythme::Action::continuer, std::chrono::nanoseconds{0}};
}

std::uint64_t indice_resynchronise(std::chrono::nanoseconds origine, std::chrono::nanoseconds maintenant) {
    if (maintenant <= origine) {
        return 0;
    }
    return static_cast<std::uint64_t>((maintenant - origine).count() / periode_image.count());
}

}  // namespace enregistrement
