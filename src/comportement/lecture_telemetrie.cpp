#include "comportement/lecture_telemetrie.hpp"

#include <algorithm>
#include <array>
#include <map>
#include <utility>

#include "commun/entree.hpp"
#include "commun/lignes.hpp"
#include "commun/unicode.hpp"

namespace comportement {

namespace {

namespace j = commun::json;
using T = TrameTelemetrie;

constexpr j::Champ champs_trame[] = {
    j::champ<&T::matchId>("matchId"),
    j::champ<&T::playerId>("playerId"),
    j::champ<&T::timestampMs>("timestampMs"),
    j::champ<&T::yawDeg>("yawDeg"),
    j::champ<&T::pitchDeg>("pitchDeg"),
    j::champ<&T::mouseDx>("mouseDx"),
    j::champ<&T::mouseDy>("mouseDy"),
    j::champ<&T::targetId>("targetId"),
    j::champ<&T::targetVisible>("targetVisible"),
    j::champ<&T::targetOccluded>("targetOccluded"),
    j::champ<&T::targetAngularErrorDeg>("targetAngularErrorDeg"),
    j::champ<&T::occludedTargetAngularErrorDeg>("occludedTargetAngularErrorDeg"),
    j::champ<&T::targetAngularSpeedDegPerSec>("targetAngularSpeedDegPerSec"),
    j::champ<&T::shotFired>("shotFired"),
    j::champ<&T::hit>("hit"),
    j::champ<&T::headshot>("headshot"),
    j::champ<&T::weaponId>("weaponId"),
    j::champ<&T::acquisitionMode>("acquisitionMode"),
    j::champ<&T::acquisitionConfidence>("acquisitionConfidence"),
};
constexpr auto schema = j::schema<T>("struct TrameTelemetrie", champs_trame, {.forme_majuscule = true});

// Groups are compared as byte strings, matchId first, without building a key
// for each frame.
struct Cle {
    std::string matchId;
    std::string playerId;
};
struct CleVue {
    std::string_view matchId;
    std::string_view playerId;
};
struct Ordre {
    using is_transparent = void;
    template <class A, class B> bool operator()(const A& a, const B& b) const {
        const int c = std::string_view(a.matchId).compare(b.matchId);
        return c < 0 || (c == 0 && std::string_view(a.playerId).compare(b.playerId) < 0);
    }
};

// Frames of one group while reading, in chunks that are never moved: growing
// one vector would hold two copies of it at each reallocation. Chunks grow
// from 16 to 4096 frames so small groups stay small.
struct Groupe {
    std::vector<std::vector<TrameTelemetrie>> morceaux;
    std::size_t total = 0;

    void ajouter(TrameTelemetrie&& t) {
        if (morceaux.empty() || morceaux.back().size() == morceaux.back().capacity()) {
            const std::size_t capacite =
                morceaux.empty() ? 16 : std::min<std::size_t>(morceaux.back().capacity() * 2, 4096);
            morceaux.emplace_back().reserve(capacite);
        }
        morceaux.back().push_back(std::move(t));
        ++total;
    }
};

using Groupes = std::map<Cle, Groupe, Ordre>;

// A server logs the frames of one tick for every player in turn: the groups
// met last are looked up first, before the ordered map.
class Recents {
public:
    Groupe& groupe(Groupes& groupes, const TrameTelemetrie& t) {
        for (std::size_t k = 0; k < utilises_; ++k) {
            const Cle& c = noeuds_[k]->first;
            if (c.matchId == t.matchId && c.playerId == t.playerId) return noeuds_[k]->second;
        }
        auto noeud = groupes.find(CleVue{t.matchId, t.playerId});
        if (noeud == groupes.end()) {
            noeud = groupes.emplace(Cle{t.matchId, t.playerId}, Groupe{}).first;
        }
        noeuds_[suivant_] = noeud;
        suivant_ = (suivant_ + 1) % noeuds_.size();
        utilises_ = std::max(utilises_, suivant_ == 0 ? noeuds_.size() : suivant_);
        return noeud->second;
    }

private:
    std::array<Groupes::iterator, 16> noeuds_{};
    std::size_t suivant_ = 0;
    std::size_t utilises_ = 0;
};

// Stable sort by timestampMs without a second copy of the frames: sort
// (time, position) pairs, then move the frames along the permutation cycles.
void trier_par_instant(std::vector<TrameTelemetrie>& trames) {
    const auto avant = [](const TrameTelemetrie& a, const TrameTelemetrie& b) {
        return a.timestampMs < b.timestampMs;
    };
    if (std::is_sorted(trames.begin(), trames.end(), avant)) {
        return;
    }
    std::vector<std::pair<std::int64_t, std::size_t>> ordre(trames.size());
    for (std::size_t i = 0; i < trames.size(); ++i) {
        ordre[i] = {trames[i].timestampMs, i};
    }
    std::sort(ordre.begin(), ordre.end());  // positions are distinct: stable
    for (std::size_t i = 0; i < trames.size(); ++i) {
        if (ordre[i].second == i) continue;
        TrameTelemetrie tenue = std::move(trames[i]);
        std::size_t j = i;
        for (;;) {
            const std::size_t source = ordre[j].second;
            ordre[j].second = j;
            if (source == i) {
                trames[j] = std::move(tenue);
                break;
            }
            trames[j] = std::move(trames[source]);
            j = source;
        }
    }
}

}  // namespace

const commun::json::Schema& schema_trame() { return schema; }

std::expected<TrameTelemetrie, std::string> trame_depuis_json(std::string_view texte) {
    j::Lecteur lecteur;
    TrameTelemetrie t;
    if (auto r = lecteur.lire(texte, schema, t); !r) {
        return std::unexpected(std::move(r.error()));
    }
    return t;
}

std::expected<std::vector<LotTrames>, std::string> lire_lots(commun::SourceOctets& source) {
    commun::LecteurLignes lignes(source);
    j::Lecteur lecteur;
    Groupes groupes;
    Recents recents;
    for (;;) {
        auto ligne = lignes.suivante();
        if (!ligne) {
            return std::unexpected("replay illisible : " + ligne.error());
        }
        if (!*ligne) break;
        const std::string_view texte = **ligne;
        if (commun::est_blanc_unicode(texte)) continue;
        TrameTelemetrie t;
        if (auto r = lecteur.lire_ligne(texte, schema, t); !r) {
            return std::unexpected("ligne " + std::to_string(lignes.numero()) + " : " + r.error());
        }
        recents.groupe(groupes, t).ajouter(std::move(t));
    }

    std::vector<LotTrames> lots;
    lots.reserve(groupes.size());
    for (auto noeud = groupes.begin(); noeud != groupes.end(); noeud = groupes.erase(noeud)) {
        LotTrames& lot = lots.emplace_back();
        lot.matchId = noeud->first.matchId;
        lot.playerId = noeud->first.playerId;
        Groupe& g = noeud->second;
        lot.trames.reserve(g.total);
        for (auto& morceau : g.morceaux) {
            std::move(morceau.begin(), morceau.end(), std::back_inserter(lot.trames));
            // Release each chunk as soon as it is emptied.
            std::vector<TrameTelemetrie>().swap(morceau);
        }
        trier_par_instant(lot.trames);
    }
    return lots;
}

std::expected<std::vector<LotTrames>, std::string> lire_replay(const std::string& chemin) {
    // gzip'ed and zstd'ed files are read as their text.
    auto entree = commun::Entree::ouvrir(chemin);
    if (!entree) {
        return std::unexpected("replay illisible : " + entree.error());
    }
    return lire_lots(**entree);
}

}  // namespace comportement
