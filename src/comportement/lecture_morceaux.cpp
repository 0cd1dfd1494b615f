#include "comportement/lecture_morceaux.hpp"

#include <cstring>

#include "commun/unicode.hpp"
#include "comportement/lecture_telemetrie.hpp"

namespace comportement {

namespace {

// Back to the defaults of a new record, keeping the capacity of the texts that are always there.
void remettre_a_zero(TrameTelemetrie& t) {
    std::string m = std::move(t.matchId);
    std::string p = std::move(t.playerId);
    std::string w = std::move(t.weaponId);
    t = TrameTelemetrie{};
    m.clear();
    p.clear();
    w.clear();
    t.matchId = std::move(m);
    t.playerId = std::move(p);
    t.weaponId = std::move(w);
}

// What a map node and the key texts cost beyond the strings themselves.
constexpr std::size_t kNoeud = 128;

std::size_t memoire_texte(const std::string& s) { return s.capacity() > 15 ? s.capacity() + 1 : 0; }

}  // namespace

std::string texte_erreur(const ErreurLecture& e, std::uint64_t lignes_avant) {
    const std::string numero = std::to_string(lignes_avant + e.ligne);
    if (e.utf8) {
        return "replay illisible : UTF-8 invalide à la ligne " + numero;
    }
    return "ligne " + numero + " : " + e.message;
}

std::size_t MorceauLu::octets() const {
    std::size_t n = sizeof(*this) + textes.octets() + groupes.capacity() * sizeof(Groupe);
    for (const Groupe& g : groupes) {
        n += g.trames.capacity() * sizeof(TrameCompacte) + memoire_texte(g.matchId) + memoire_texte(g.playerId);
    }
    return n;
}

std::uint32_t LecteurMorceaux::groupe(MorceauLu& m) {
    // A server logs the frames of one tick for every player in turn: the groups met last are tried first.
    for (std::size_t k = 0; k < nombre_recents_; ++k) {
        const MorceauLu::Groupe& g = m.groupes[recents_[k]];
        if (g.matchId == trame_.matchId && g.playerId == trame_.playerId) return recents_[k];
    }
    cle_.clear();
    const std::uint64_t longueur = trame_.matchId.size();
    cle_.append(reinterpret_cast<const char*>(&longueur), sizeof longueur);
    cle_ += trame_.matchId;
    cle_ += trame_.playerId;
    auto [it, nouveau] = index_.try_emplace(cle_, static_cast<std::uint32_t>(m.groupes.size()));
    if (nouveau) {
        m.groupes.push_back({trame_.matchId, trame_.playerId, {}});
    }
    recents_[prochain_recent_] = it->second;
    prochain_recent_ = (prochain_recent_ + 1) % std::size(recents_);
    nombre_recents_ = std::max(nombre_recents_, prochain_recent_ == 0 ? std::size(recents_) : prochain_recent_);
    return it->second;
}

MorceauLu LecteurMorceaux::lire(std::string_view octets) {
    MorceauLu m;
    index_.clear();
    nombre_recents_ = prochain_recent_ = 0;
    std::size_t position = 0;
    while (position < octets.size()) {
        const char* debut = octets.data() + position;
        const std::size_t reste = octets.size() - position;
        const auto* lf = static_cast<const char*>(std::memchr(debut, '\n', reste));
        std::string_view ligne;
        if (lf != nullptr) {
            ligne = {debut, static_cast<std::size_t>(lf - debut)};
            position += ligne.size() + 1;
            if (ligne.ends_with('\r')) ligne.remove_suffix(1);
        } else {
            // The last line of the stream keeps a CR that no LF follows.
            ligne = {debut, reste};
            position = octets.size();
        }
        ++m.lignes;
        if (!commun::est_utf8_valide(ligne)) {
            m.erreur = ErreurLecture{m.lignes, true, {}};
            break;
        }
        if (commun::est_blanc_unicode(ligne)) continue;
        remettre_a_zero(trame_);
        if (auto r = json_.lire_ligne(ligne, schema_trame(), trame_); !r) {
            m.erreur = ErreurLecture{m.lignes, false, std::move(r.error())};
            break;
        }
        m.groupes[groupe(m)].trames.push_back(compacter(trame_, m.textes));
    }
    return m;
}

void ReserveTrames::ajouter(std::string_view matchId, std::string_view playerId, std::span<const TrameCompacte> trames,
                            std::span<const std::uint32_t> traduction) {
    auto it = groupes_.find(CleVue{matchId, playerId});
    if (it == groupes_.end()) {
        it = groupes_.emplace(Cle{std::string(matchId), std::string(playerId)}, GroupeCompact{}).first;
        octets_ += kNoeud + memoire_texte(it->first.matchId) + memoire_texte(it->first.playerId);
    }
    GroupeCompact& g = it->second;
    const std::size_t avant = g.octets();
    g.ajouter(trames, traduction);
    octets_ += g.octets() - avant;
    trames_ += trames.size();
}

void ReserveTrames::ajouter(const MorceauLu& morceau) {
    traduction_.resize(morceau.textes.taille());
    for (std::uint32_t i = 0; i < traduction_.size(); ++i) {
        traduction_[i] = textes_.indice(morceau.textes.texte(i));
    }
    for (const MorceauLu::Groupe& g : morceau.groupes) {
        ajouter(g.matchId, g.playerId, g.trames, traduction_);
    }
}

std::vector<ReserveTrames::Lot> ReserveTrames::extraire() {
    std::vector<Lot> lots;
    lots.reserve(groupes_.size());
    for (auto noeud = groupes_.begin(); noeud != groupes_.end(); noeud = groupes_.erase(noeud)) {
        lots.push_back({noeud->first.matchId, noeud->first.playerId, std::move(noeud->second)});
    }
    octets_ = 0;
    trames_ = 0;
    return lots;
}

}  // namespace comportement
