#pragma once
#include <map>

#include "bin/vextrel/fenetres.hpp"

namespace faux {

struct FenetreDecrite {
    vextrel::PoigneeFenetre poignee;
    std::string executable;
    bool visible = true;
    bool possedee = false;
    bool outil = false;
    std::optional<bool> masquee = false;
    std::size_t titre = 5;
};

// A window manager answering from a list, topmost first; counts process lookups.
class FaussesFenetres final : public vextrel::Fenetres {
public:
    std::vector<FenetreDecrite> liste;
    int recherches_processus = 0;

    std::vector<vextrel::PoigneeFenetre> enumerer() override {
        std::vector<vextrel::PoigneeFenetre> p;
        for (const auto& f : liste) {
            p.push_back(f.poignee);
        }
        return p;
    }
    bool visible(vextrel::PoigneeFenetre f) override { return trouver(f).visible; }
    bool possedee(vextrel::PoigneeFenetre f) override { return trouver(f).possedee; }
    bool fenetre_outil(vextrel::PoigneeFenetre f) override { return trouver(f).outil; }
    std::optional<bool> masquee(vextrel::PoigneeFenetre f) override { return trouver(f).masquee; }
    std::size_t longueur_titre(vextrel::PoigneeFenetre f) override { return trouver(f).titre; }
    std::string nom_executable(vextrel::PoigneeFenetre f) override {
        ++recherches_processus;
        return trouver(f).executable;
    }

private:
    const FenetreDecrite& trouver(vextrel::PoigneeFenetre p) const {
        for (const auto& f : liste) {
            if (f.poignee == p) {
                return f;
            }
        }
        throw std::out_of_range("fenêtre inconnue");
    }
};

}  // namespace faux
