#pragma once
// Frames as they are held between reading and analysis: without their key (matchId and playerId belong to
// the batch) and with their texts as indices into a table that holds each text once, so a frame owns no
// heap memory. A batch is expanded back into full records only for its analysis, one at a time per thread.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "comportement/telemetrie.hpp"
#include "comportement/validation.hpp"

namespace comportement {

// A 64-bit hash of a text, the same in every run.
std::uint64_t empreinte(std::string_view texte);

// Each text once; index 0 is the empty text.
class TableTextes {
public:
    TableTextes();
    std::uint32_t indice(std::string_view texte);  // adds the text when it is new
    std::string_view texte(std::uint32_t i) const {
        const Entree& e = entrees_[i];
        return {octets_.data() + e.debut, e.longueur};
    }
    std::size_t taille() const { return entrees_.size(); }
    std::size_t octets() const;  // memory held

private:
    struct Entree {
        std::uint64_t debut;
        std::uint64_t longueur;
    };
    std::uint32_t& case_de(std::string_view texte, std::uint64_t empreinte);
    void agrandir();

    std::string octets_;
    std::vector<Entree> entrees_;
    std::vector<std::uint32_t> cases_;  // open addressing: index + 1, 0 when free
};

// The members the checks and the engine read keep their TrameTelemetrie names.
struct TrameCompacte {
    std::int64_t timestampMs;
    double yawDeg;
    double pitchDeg;
    double targetAngularErrorDeg;
    double occludedTargetAngularErrorDeg;
    double targetAngularSpeedDegPerSec;
    double acquisitionConfidence;
    std::int32_t mouseDx;
    std::int32_t mouseDy;
    std::uint32_t targetId;  // in the table; meaningful when aCible
    std::uint32_t weaponId;
    std::uint32_t acquisitionMode;  // meaningful when aMode
    bool targetVisible : 1;
    bool targetOccluded : 1;
    bool shotFired : 1;
    bool hit : 1;
    bool headshot : 1;
    bool aCible : 1;  // targetId present
    bool aMode : 1;   // acquisitionMode present
};

// Texts go into `textes`.
TrameCompacte compacter(const TrameTelemetrie& t, TableTextes& textes);

// The frames of one batch in line order, in blocks that are never moved: growing one array would hold two
// copies of it at each reallocation.
class GroupeCompact {
public:
    // Appends `trames`, their text indices translated through `traduction` (index in their table ->
    // index in this group's).
    void ajouter(std::span<const TrameCompacte> trames, std::span<const std::uint32_t> traduction);
    void ajouter(const TrameCompacte& t);
    std::size_t taille() const { return taille_; }
    std::size_t octets() const;  // memory held

    // f(std::span<const TrameCompacte>) for each block, in line order.
    template <class F>
    void pour_chaque_bloc(F&& f) const {
        for (const Bloc& b : blocs_) f(std::span<const TrameCompacte>(b.trames.get(), b.taille));
    }

private:
    struct Bloc {
        std::unique_ptr<TrameCompacte[]> trames;
        std::uint32_t capacite = 0;
        std::uint32_t taille = 0;
    };
    TrameCompacte* place();

    std::vector<Bloc> blocs_;
    std::size_t taille_ = 0;
    std::size_t capacite_ = 0;
};

// One batch as the analysis sees it: its key, its frames in time order (stable) and their texts.
struct LotCompact {
    std::string_view matchId;
    std::string_view playerId;
    std::span<const TrameCompacte* const> trames;
    const TableTextes* textes = nullptr;
};

// Working storage of one analysing thread, kept from batch to batch so that steady work does not allocate:
// the time order of a batch and its expanded records (the strings keep their capacity).
struct Atelier {
    std::vector<const TrameCompacte*> ordre;
    std::vector<TrameTelemetrie> trames;

    // Gives back the memory of an unusually large batch.
    void alleger();
};

// Memory an analysis needs per frame of its batch, beyond the compact frames: the expanded records, the
// time order and the engine's steps and views.
inline constexpr std::size_t kOctetsAnalyseParTrame = 512;

// The batch of `groupe`, its frames put in time order (stable) in `atelier.ordre`.
LotCompact preparer_lot(std::string_view matchId, std::string_view playerId, const GroupeCompact& groupe,
                        const TableTextes& textes, Atelier& atelier);

// valider_lot's checks on a compact batch; ids cannot differ from the batch's.
ValidationLot valider_lot(const LotCompact& lot);
// Only whether it is valid, stopping at the first error.
bool lot_valide(const LotCompact& lot);
// Its errors joined with `separateur`.
std::string erreurs_jointes(const LotCompact& lot, std::string_view separateur);

// The batch as full records, in time order, into `sortie` (as many as the batch has frames).
void developper(const LotCompact& lot, std::span<TrameTelemetrie> sortie);
// The same into `atelier.trames` (its first lot.trames.size() entries).
std::span<const TrameTelemetrie> developper(const LotCompact& lot, Atelier& atelier);

}  // namespace comportement
