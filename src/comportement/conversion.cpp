#include "comportement/conversion.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <string_view>
#include <utility>

#include "commun/json_lecture.hpp"
#include "commun/lignes.hpp"
#include "commun/unicode.hpp"
#include "comportement/ecriture_telemetrie.hpp"
#include "comportement/mod.hpp"

namespace comportement {

namespace {

namespace j = commun::json;

constexpr j::Champ champs_vec3[] = {
    j::champ<&Vec3::x>("x"),
    j::champ<&Vec3::y>("y"),
    j::champ<&Vec3::z>("z"),
};
constexpr auto schema_vec3 = j::schema<Vec3>("struct Vec3", champs_vec3, {.cles_requises = true, .minimum_tableau = 3});

using J = JoueurInstantane;
constexpr j::Champ champs_joueur[] = {
    j::champ<&J::entityId>("entityId"),
    j::champ<&J::teamId>("teamId"),
    j::champ<&J::isAlive>("isAlive"),
    j::champ<&J::isVisibleFromLocalPlayer>("isVisibleFromLocalPlayer"),
    j::champ<&J::isInFrustum>("isInFrustum"),
    j::champ<&J::worldPosition>("worldPosition", schema_vec3),
    j::champ<&J::aimPoint>("aimPoint", schema_vec3),
};
constexpr auto schema_joueur = j::schema<J>("struct JoueurInstantane", champs_joueur);

using I = Instantane;
constexpr j::Champ champs_instantane[] = {
    j::champ<&I::matchId>("matchId"),
    j::champ<&I::localPlayerId>("localPlayerId"),
    j::champ<&I::localEntityId>("localEntityId"),
    j::champ<&I::localTeamId>("localTeamId"),
    j::champ<&I::timestampMs>("timestampMs"),
    j::champ<&I::camera>("camera", schema_vec3),
    j::champ<&I::yawDeg>("yawDeg"),
    j::champ<&I::pitchDeg>("pitchDeg"),
    j::champ<&I::mouseDx>("mouseDx"),
    j::champ<&I::mouseDy>("mouseDy"),
    j::champ<&I::shotFired>("shotFired"),
    j::champ<&I::hit>("hit"),
    j::champ<&I::headshot>("headshot"),
    j::champ<&I::weaponId>("weaponId"),
    j::champ<&I::players>("players", schema_joueur),
    j::champ<&I::acquisitionMode>("acquisitionMode"),
    j::champ<&I::acquisitionConfidence>("acquisitionConfidence"),
};
constexpr auto schema_instantane = j::schema<I>("struct Instantane", champs_instantane);

constexpr double degres_par_radian = 57.29577951308232;
constexpr double erreur_sans_cible = 180.0;
constexpr double marge_visibilite = 0.45;
constexpr std::size_t taille_historique_max = 256;

// Reduces an angle difference to [-180, 180]: remainder with the sign of the
// dividend, then one turn off either way.
double reduire(double difference) {
    double m = std::fmod(difference, 360.0);
    if (m > 180.0) m -= 360.0;
    if (m < -180.0) m += 360.0;
    return m;
}

struct Candidat {
    const JoueurInstantane* joueur;
    double erreur;
    double distance;
    double yaw;
    double pitch;
    double vitesse;
};

std::int64_t ajouter_saturant(std::int64_t a, std::int64_t b) {
    std::int64_t somme = 0;
    if (__builtin_add_overflow(a, b, &somme)) {
        return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
    }
    return somme;
}

// Candidates of one snapshot, sorted by angular error (stable).
void chercher_candidats(const Instantane& s, const EtatConversion& etat, std::vector<Candidat>& candidats) {
    const double limite = etat.reglages.angleCibleMaxDeg + etat.reglages.hystereseDeg;
    candidats.clear();
    for (const JoueurInstantane& p : s.players) {
        if (!p.isAlive || p.teamId == s.localTeamId || p.entityId == s.localEntityId) continue;
        const double dx = p.aimPoint.x - s.camera.x;
        const double dy = p.aimPoint.y - s.camera.y;
        const double dz = p.aimPoint.z - s.camera.z;
        const double yaw = std::atan2(dy, dx) * degres_par_radian;
        const double pitch = std::atan2(dz, std::sqrt(dx * dx + dy * dy)) * degres_par_radian;
        const double m = reduire(yaw - s.yawDeg);
        const double dp = pitch - s.pitchDeg;
        const double erreur = std::sqrt(dp * dp + m * m);
        const double distance = std::sqrt(dx * dx + dy * dy + dz * dz);
        double vitesse = 0.0;
        if (auto h = etat.historique.find(p.entityId); h != etat.historique.end()) {
            const double dt = static_cast<double>(ecart_ms(s.timestampMs, h->second.timestampMs)) / 1000.0;
            if (dt > 0.0) {
                const double w = reduire(yaw - h->second.yawDeg);
                const double dpp = pitch - h->second.pitchDeg;
                vitesse = std::sqrt(dpp * dpp + w * w) / dt;
            }
        }
        if (erreur <= limite) {  // a NaN error is never kept
            candidats.push_back(Candidat{&p, erreur, distance, yaw, pitch, vitesse});
        }
    }
    std::stable_sort(candidats.begin(), candidats.end(),
                     [](const Candidat& a, const Candidat& b) { return a.erreur < b.erreur; });
}

// The ids of one snapshot's players, for membership tests: open addressing
// over a table of at least twice their count, whose storage is kept from one
// snapshot to the next (filling it allocates only when it must grow). The
// entries point into the snapshot; `remplir` rewrites them all before a lookup.
class IdsPresents {
public:
    void remplir(const std::vector<JoueurInstantane>& joueurs) {
        std::size_t taille = 16;
        while (taille < 2 * joueurs.size()) taille *= 2;
        cases_.assign(taille, nullptr);
        masque_ = taille - 1;
        for (const JoueurInstantane& j : joueurs) {
            std::size_t i = std::hash<std::string_view>{}(j.entityId) & masque_;
            while (cases_[i] != nullptr && *cases_[i] != j.entityId) i = (i + 1) & masque_;
            cases_[i] = &j.entityId;
        }
    }

    bool contient(std::string_view id) const {
        std::size_t i = std::hash<std::string_view>{}(id)&masque_;
        for (; cases_[i] != nullptr; i = (i + 1) & masque_) {
            if (*cases_[i] == id) return true;
        }
        return false;
    }

private:
    std::vector<const std::string*> cases_;
    std::size_t masque_ = 0;
};

// Past the bound, the history keeps only the players of this snapshot, eligible
// or not. Their ids are gathered first (only then: most snapshots never prune),
// so the pruning is linear in the players and the history, not their product.
void mettre_a_jour_historique(const Instantane& s, const std::vector<Candidat>& candidats, EtatConversion& etat,
                              IdsPresents& presents) {
    for (const Candidat& c : candidats) {
        etat.historique.insert_or_assign(c.joueur->entityId, DirectionVue{s.timestampMs, c.yaw, c.pitch});
    }
    if (etat.historique.size() > taille_historique_max) {
        presents.remplir(s.players);
        std::erase_if(etat.historique, [&](const auto& entree) { return !presents.contient(entree.first); });
    }
}

const Candidat* choisir_cible(const Instantane& s, const std::vector<Candidat>& candidats, EtatConversion& etat) {
    if (candidats.empty()) {
        etat.cibleVerrouillee.reset();
        return nullptr;
    }
    if (etat.cibleVerrouillee && s.timestampMs <= etat.verrouJusquA) {
        for (const Candidat& c : candidats) {
            if (c.joueur->entityId == *etat.cibleVerrouillee) return &c;
        }
    }
    const double max_frais = etat.reglages.angleCibleMaxDeg;
    const Candidat* visible = nullptr;
    const Candidat* meilleur = nullptr;
    for (const Candidat& c : candidats) {
        if (c.erreur > max_frais) continue;
        if (meilleur == nullptr) meilleur = &c;
        if (visible == nullptr && c.joueur->isVisibleFromLocalPlayer) visible = &c;
        if (visible != nullptr) break;
    }
    if (meilleur == nullptr) {
        return nullptr;  // the lock stays as it was
    }
    const Candidat* choix = visible;
    if (visible == nullptr ||
        (!meilleur->joueur->isVisibleFromLocalPlayer && visible->erreur - meilleur->erreur > marge_visibilite)) {
        choix = meilleur;
    }
    etat.cibleVerrouillee = choix->joueur->entityId;
    etat.verrouJusquA = ajouter_saturant(s.timestampMs, etat.reglages.verrouMs);
    return choix;
}

}  // namespace

std::expected<Instantane, std::string> instantane_depuis_json(std::string_view texte) {
    j::Lecteur lecteur;
    Instantane s;
    if (auto r = lecteur.lire(texte, schema_instantane, s); !r) {
        return std::unexpected(std::move(r.error()));
    }
    return s;
}

namespace {

void remplir_trame(const Instantane& s, const Candidat* cible, TrameTelemetrie& t) {
    t.matchId = s.matchId;
    t.playerId = s.localPlayerId;
    t.timestampMs = s.timestampMs;
    t.yawDeg = s.yawDeg;
    t.pitchDeg = s.pitchDeg;
    t.mouseDx = s.mouseDx;
    t.mouseDy = s.mouseDy;
    t.shotFired = s.shotFired;
    t.hit = s.hit;
    t.headshot = s.headshot;
    t.weaponId = s.weaponId;
    t.acquisitionMode = s.acquisitionMode;
    t.acquisitionConfidence = s.acquisitionConfidence;
    if (cible != nullptr) {
        const bool visible = cible->joueur->isVisibleFromLocalPlayer;
        t.targetId = cible->joueur->entityId;
        t.targetVisible = visible;
        t.targetOccluded = !visible;
        t.targetAngularErrorDeg = visible ? cible->erreur : erreur_sans_cible;
        t.occludedTargetAngularErrorDeg = visible ? erreur_sans_cible : cible->erreur;
        t.targetAngularSpeedDegPerSec = cible->vitesse;
    } else {
        t.targetId.reset();
        t.targetVisible = false;
        t.targetOccluded = false;
        t.targetAngularErrorDeg = erreur_sans_cible;
        t.occludedTargetAngularErrorDeg = erreur_sans_cible;
        t.targetAngularSpeedDegPerSec = 0.0;
    }
}

class Convertisseur {
public:
    void convertir(const Instantane& s, EtatConversion& etat, TrameTelemetrie& trame) {
        chercher_candidats(s, etat, candidats_);
        mettre_a_jour_historique(s, candidats_, etat, presents_);
        const Candidat* cible = choisir_cible(s, candidats_, etat);
        remplir_trame(s, cible, trame);
    }

private:
    std::vector<Candidat> candidats_;
    IdsPresents presents_;
};

}  // namespace

TrameTelemetrie convertir_instantane(const Instantane& instantane, EtatConversion& etat) {
    Convertisseur c;
    TrameTelemetrie trame;
    c.convertir(instantane, etat, trame);
    return trame;
}

std::expected<BilanConversion, std::string> convertir_flux(commun::SourceOctets& entree, commun::SortieOctets& sortie) {
    commun::LecteurLignes lignes(entree);
    j::Lecteur lecteur;
    std::map<std::pair<std::string, std::string>, EtatConversion> etats;
    Convertisseur convertisseur;
    TrameTelemetrie trame;
    BilanConversion bilan;
    for (;;) {
        auto ligne = lignes.suivante();
        if (!ligne) return std::unexpected(std::move(ligne.error()));
        if (!*ligne) break;
        const std::string_view texte = **ligne;
        if (commun::est_blanc_unicode(texte)) continue;
        // Fresh for each line: the reader fills only the keys a line gives.
        Instantane s;
        if (auto r = lecteur.lire_ligne(texte, schema_instantane, s); !r) {
            return std::unexpected("ligne " + std::to_string(lignes.numero()) + " : " + r.error());
        }
        ++bilan.instantanes;
        auto cle = std::make_pair(s.matchId, s.localPlayerId);
        auto it = etats.find(cle);
        if (it == etats.end()) {
            it = etats.emplace(std::move(cle), EtatConversion{}).first;
        }
        EtatConversion& etat = it->second;
        if (s.timestampMs <= etat.dernierInstant) continue;
        etat.dernierInstant = s.timestampMs;
        convertisseur.convertir(s, etat, trame);
        if (auto r = ecrire_trame(sortie, trame); !r) {
            return std::unexpected(std::move(r.error()));
        }
        ++bilan.trames;
    }
    return bilan;
}

}  // namespace comportement
