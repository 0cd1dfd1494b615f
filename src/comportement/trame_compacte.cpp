#include "comportement/trame_compacte.hpp"

#include <algorithm>
#include <cstring>

#include "comportement/validation_regles.hpp"

namespace comportement {

std::uint64_t empreinte(std::string_view t) {
    std::uint64_t h = 0x9e3779b97f4a7c15ULL ^ t.size();
    std::size_t i = 0;
    for (; i + 8 <= t.size(); i += 8) {
        std::uint64_t mot = 0;
        std::memcpy(&mot, t.data() + i, 8);
        h = (h ^ mot) * 0xff51afd7ed558ccdULL;
        h ^= h >> 29;
    }
    std::uint64_t reste = 0;
    if (i < t.size()) std::memcpy(&reste, t.data() + i, t.size() - i);
    h = (h ^ reste) * 0xc4ceb9fe1a85ec53ULL;
    return h ^ (h >> 32);
}

TableTextes::TableTextes() {
    entrees_.push_back({0, 0});
    cases_.assign(16, 0);
    case_de({}, empreinte({})) = 1;
}

std::uint32_t& TableTextes::case_de(std::string_view texte, std::uint64_t h) {
    const std::size_t masque = cases_.size() - 1;
    for (std::size_t k = h & masque;; k = (k + 1) & masque) {
        std::uint32_t& c = cases_[k];
        if (c == 0 || this->texte(c - 1) == texte) return c;
    }
}

void TableTextes::agrandir() {
    std::vector<std::uint32_t> anciennes(cases_.size() * 2, 0);
    anciennes.swap(cases_);
    for (std::uint32_t c : anciennes) {
        if (c != 0) case_de(texte(c - 1), empreinte(texte(c - 1))) = c;
    }
}

std::uint32_t TableTextes::indice(std::string_view t) {
    std::uint32_t& c = case_de(t, empreinte(t));
    if (c != 0) return c - 1;
    const auto i = static_cast<std::uint32_t>(entrees_.size());
    entrees_.push_back({octets_.size(), t.size()});
    octets_.append(t);
    c = i + 1;
    if (entrees_.size() * 2 > cases_.size()) agrandir();
    return i;
}

std::size_t TableTextes::octets() const {
    return sizeof(*this) + octets_.capacity() + entrees_.capacity() * sizeof(Entree) +
           cases_.capacity() * sizeof(std::uint32_t);
}

TrameCompacte compacter(const TrameTelemetrie& t, TableTextes& textes) {
    TrameCompacte c;
    c.timestampMs = t.timestampMs;
    c.yawDeg = t.yawDeg;
    c.pitchDeg = t.pitchDeg;
    c.targetAngularErrorDeg = t.targetAngularErrorDeg;
    c.occludedTargetAngularErrorDeg = t.occludedTargetAngularErrorDeg;
    c.targetAngularSpeedDegPerSec = t.targetAngularSpeedDegPerSec;
    c.acquisitionConfidence = t.acquisitionConfidence;
    c.mouseDx = t.mouseDx;
    c.mouseDy = t.mouseDy;
    c.targetId = t.targetId ? textes.indice(*t.targetId) : 0;
    c.weaponId = t.weaponId.empty() ? 0 : textes.indice(t.weaponId);
    c.acquisitionMode = t.acquisitionMode ? textes.indice(*t.acquisitionMode) : 0;
    c.targetVisible = t.targetVisible;
    c.targetOccluded = t.targetOccluded;
    c.shotFired = t.shotFired;
    c.hit = t.hit;
    c.headshot = t.headshot;
    c.aCible = t.targetId.has_value();
    c.aMode = t.acquisitionMode.has_value();
    return c;
}

TrameCompacte* GroupeCompact::place() {
    if (blocs_.empty() || blocs_.back().taille == blocs_.back().capacite) {
        // 4, 16, 64, 256 then 1024 frames: small batches stay small, large ones waste at most one block.
        const std::uint32_t capacite = blocs_.empty() ? 4 : std::min<std::uint32_t>(blocs_.back().capacite * 4, 1024);
        blocs_.push_back({std::make_unique_for_overwrite<TrameCompacte[]>(capacite), capacite, 0});
        capacite_ += capacite;
    }
    Bloc& b = blocs_.back();
    ++taille_;
    return &b.trames[b.taille++];
}

void GroupeCompact::ajouter(const TrameCompacte& t) { *place() = t; }

void GroupeCompact::ajouter(std::span<const TrameCompacte> trames, std::span<const std::uint32_t> traduction) {
    for (const TrameCompacte& t : trames) {
        TrameCompacte* c = place();
        *c = t;
        c->targetId = traduction[t.targetId];
        c->weaponId = traduction[t.weaponId];
        c->acquisitionMode = traduction[t.acquisitionMode];
    }
}

std::size_t GroupeCompact::octets() const {
    return capacite_ * sizeof(TrameCompacte) + blocs_.capacity() * sizeof(Bloc);
}

void Atelier::alleger() {
    constexpr std::size_t kGrand = 1 << 18;
    if (ordre.capacity() > kGrand) std::vector<const TrameCompacte*>().swap(ordre);
    if (trames.capacity() > kGrand) std::vector<TrameTelemetrie>().swap(trames);
}

LotCompact preparer_lot(std::string_view matchId, std::string_view playerId, const GroupeCompact& groupe,
                        const TableTextes& textes, Atelier& atelier) {
    std::vector<const TrameCompacte*>& ordre = atelier.ordre;
    ordre.clear();
    ordre.reserve(groupe.taille());
    groupe.pour_chaque_bloc([&](std::span<const TrameCompacte> bloc) {
        for (const TrameCompacte& t : bloc) ordre.push_back(&t);
    });
    const auto avant = [](const TrameCompacte* a, const TrameCompacte* b) { return a->timestampMs < b->timestampMs; };
    if (!std::is_sorted(ordre.begin(), ordre.end(), avant)) {
        std::stable_sort(ordre.begin(), ordre.end(), avant);
    }
    return {matchId, playerId, ordre, &textes};
}

namespace {

// A compact batch for the shared checks: its frames carry no ids of their own.
struct VueLotCompact {
    const LotCompact& lot;
    std::string_view matchId() const { return lot.matchId; }
    std::string_view playerId() const { return lot.playerId; }
    std::size_t taille() const { return lot.trames.size(); }
    const TrameCompacte& trame(std::size_t i) const { return *lot.trames[i]; }
    static bool autre_match(const TrameCompacte&) { return false; }
    static bool autre_joueur(const TrameCompacte&) { return false; }
    bool sans_cible(const TrameCompacte& t) const {
        return !t.aCible || commun::est_blanc_unicode(lot.textes->texte(t.targetId));
    }
};

}  // namespace

ValidationLot valider_lot(const LotCompact& lot) {
    regles::SortieValidation<true> sortie;
    regles::verifier(VueLotCompact{lot}, sortie);
    sortie.v.valide = sortie.v.erreurs.empty();
    return std::move(sortie.v);
}

bool lot_valide(const LotCompact& lot) {
    regles::SortieValide sortie;
    regles::verifier(VueLotCompact{lot}, sortie);
    return sortie.valide;
}

std::string erreurs_jointes(const LotCompact& lot, std::string_view separateur) {
    regles::SortieJointe sortie{separateur, {}};
    regles::verifier(VueLotCompact{lot}, sortie);
    return std::move(sortie.texte);
}

namespace {

void optionnel(std::optional<std::string>& o, bool present, std::string_view texte) {
    if (!present) {
        o.reset();
    } else if (o) {
        o->assign(texte);
    } else {
        o.emplace(texte);
    }
}

}  // namespace

std::span<const TrameTelemetrie> developper(const LotCompact& lot, Atelier& atelier) {
    const std::size_t n = lot.trames.size();
    // Only ever grown: the records past n keep their strings' capacity for the next batch.
    if (atelier.trames.size() < n) atelier.trames.resize(n);
    developper(lot, std::span(atelier.trames.data(), n));
    return {atelier.trames.data(), n};
}

void developper(const LotCompact& lot, std::span<TrameTelemetrie> sortie) {
    const std::size_t n = lot.trames.size();
    const TableTextes& textes = *lot.textes;
    for (std::size_t i = 0; i < n; ++i) {
        const TrameCompacte& c = *lot.trames[i];
        TrameTelemetrie& t = sortie[i];
        t.matchId.assign(lot.matchId);
        t.playerId.assign(lot.playerId);
        t.timestampMs = c.timestampMs;
        t.yawDeg = c.yawDeg;
        t.pitchDeg = c.pitchDeg;
        t.mouseDx = c.mouseDx;
        t.mouseDy = c.mouseDy;
        optionnel(t.targetId, c.aCible, textes.texte(c.targetId));
        t.targetVisible = c.targetVisible;
        t.targetOccluded = c.targetOccluded;
        t.targetAngularErrorDeg = c.targetAngularErrorDeg;
        t.occludedTargetAngularErrorDeg = c.occludedTargetAngularErrorDeg;
        t.targetAngularSpeedDegPerSec = c.targetAngularSpeedDegPerSec;
        t.shotFired = c.shotFired;
        t.hit = c.hit;
        t.headshot = c.headshot;
        t.weaponId.assign(textes.texte(c.weaponId));
        optionnel(t.acquisitionMode, c.aMode, textes.texte(c.acquisitionMode));
        t.acquisitionConfidence = c.acquisitionConfidence;
    }
}

}  // namespace comportement
