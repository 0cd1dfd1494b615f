// convertir: world snapshots to telemetry frames, all inputs into one output.
#include <filesystem>
#include <string>
#include <system_error>

#include "bin/calibrage/commandes.hpp"
#include "bin/calibrage/reglages.hpp"
#include "commun/entree.hpp"
#include "commun/fichier.hpp"
#include "commun/progression.hpp"
#include "comportement/conversion.hpp"

namespace calibrage {

namespace {

std::filesystem::path chemin_fs(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The same file under another name is caught too: identity, not path text.
bool meme_fichier(const std::string& a, const std::string& b) {
    std::error_code ec;
    const bool egaux = std::filesystem::equivalent(chemin_fs(a), chemin_fs(b), ec);
    return !ec && egaux;
}

std::expected<void, std::string> aucune_entree_identique(const Arguments& arguments, const std::string& sortie) {
    for (const std::string& entree : arguments.fichiers) {
        if (meme_fichier(entree, sortie)) {
            return std::unexpected(entree + " : fichier d'entrée identique à la sortie");
        }
    }
    return {};
}

// Remembers whether the output refused bytes, so that a full disk is named
// against the output file and not against the input being converted.
class SortieSuivie final : public commun::SortieOctets {
public:
    explicit SortieSuivie(commun::SortieOctets& sortie) : sortie_(sortie) {}
    std::expected<void, std::string> ecrire(std::string_view octets) override {
        auto r = sortie_.ecrire(octets);
        if (!r) echec_ = true;
        return r;
    }
    bool echec() const { return echec_; }

private:
    commun::SortieOctets& sortie_;
    bool echec_ = false;
};

}  // namespace

std::expected<void, std::string> convertir(const Arguments& arguments, Console console) {
    if (!arguments.sortie) {
        return std::unexpected("--sortie est obligatoire pour convertir\n" + std::string(texte_usage));
    }
    const std::string& chemin_sortie = *arguments.sortie;
    // Truncating the output first would destroy an input that is the output.
    if (auto r = aucune_entree_identique(arguments, chemin_sortie); !r) return r;

    auto sortie = commun::SortieFichier::creer(chemin_sortie);
    if (!sortie) {
        return std::unexpected(chemin_sortie + " : " + sortie.error());
    }
    // An input that did not exist before is now the file just created: it
    // would read back the frames written into it.
    if (auto r = aucune_entree_identique(arguments, chemin_sortie); !r) return r;
    SortieSuivie suivie(*sortie);
    // Erased when it goes out of scope, before any error is printed.
    commun::Progression progression(console.erreurs, total_des_entrees(arguments), commun::est_terminal(stderr));
    comportement::BilanConversion total;
    for (const std::string& entree : arguments.fichiers) {
        // gzip'ed and zstd'ed snapshots are read as their text.
        auto fichier = commun::Entree::ouvrir(entree);
        if (!fichier) {
            return std::unexpected(entree + " : " + fichier.error());
        }
        // The file's bytes consumed go to the progress line, one read at a time.
        commun::SourceSuivie source(**fichier, **fichier, [&](std::uint64_t n) { progression.avancer(n); });
        auto bilan = comportement::convertir_flux(source, suivie);
        if (!bilan) {
            return std::unexpected((suivie.echec() ? chemin_sortie : entree) + " : " + bilan.error());
        }
        total.instantanes += bilan->instantanes;
        total.trames += bilan->trames;
    }
    // The last buffer may fail to reach the disk: that is an error, not a success.
    if (auto r = sortie->vider(); !r) {
        return std::unexpected(chemin_sortie + " : " + r.error());
    }
    progression.terminer();
    const std::string resume = std::to_string(total.instantanes) + " instantané(s) lus, " +
                               std::to_string(total.trames) + " trame(s) écrites : " + chemin_sortie + "\n";
    if (auto r = console.erreurs.ecrire(resume); !r) {
        return std::unexpected(r.error());
    }
    return {};
}

}  // namespace calibrage
