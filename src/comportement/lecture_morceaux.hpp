#pragma once
// Telemetry read chunk by chunk: each chunk of whole lines (commun::Decoupeur) is parsed on its own into
// compact frames grouped per batch key, then the chunks are added, in order, to the reserve of their file.
// lire_lots is this on one thread; the parallel reading parses the chunks of a file on several.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "commun/json_lecture.hpp"
#include "comportement/telemetrie.hpp"
#include "comportement/trame_compacte.hpp"

namespace comportement {

// Chunks of this size keep every thread busy without holding much; the line limit bounds the frames of
// one chunk whatever its lines look like (a chunk of "{}" lines).
inline constexpr std::size_t kTailleMorceau = std::size_t{4} << 20;
inline constexpr std::size_t lignes_par_morceau(std::size_t taille) { return std::max<std::size_t>(taille / 128, 16); }

// Where the reading of a chunk stopped.
struct ErreurLecture {
    std::size_t ligne = 0;  // 1-based, in the chunk
    bool utf8 = false;      // invalid UTF-8; otherwise a line that is not a frame
    std::string message;    // the JSON reader's
};

// The error as lire_lots gives it, knowing how many lines came before the chunk.
std::string texte_erreur(const ErreurLecture& erreur, std::uint64_t lignes_avant);

// The frames of one chunk, per batch key in order of first appearance, with the chunk's own texts.
struct MorceauLu {
    struct Groupe {
        std::string matchId;
        std::string playerId;
        std::vector<TrameCompacte> trames;  // in line order
    };
    std::vector<Groupe> groupes;
    TableTextes textes;
    std::size_t lignes = 0;  // lines read: all of the chunk's, or up to the one in error
    std::optional<ErreurLecture> erreur;

    std::size_t octets() const;  // memory held
};

// Parses chunks, keeping its working storage from one chunk to the next. One per thread.
class LecteurMorceaux {
public:
    // `octets`: whole lines, each ending with LF except possibly the last of the stream. Every line is
    // checked in order as lire_lots checks it; the first bad one ends the chunk.
    MorceauLu lire(std::string_view octets);

private:
    std::uint32_t groupe(MorceauLu& m);

    commun::json::Lecteur json_;
    TrameTelemetrie trame_;
    std::unordered_map<std::string, std::uint32_t> index_;
    std::uint32_t recents_[16] = {};
    std::size_t nombre_recents_ = 0;
    std::size_t prochain_recent_ = 0;
    std::string cle_;
};

// The frames of one file read so far, per batch key.
class ReserveTrames {
public:
    struct Lot {
        std::string matchId;
        std::string playerId;
        GroupeCompact trames;  // in line order
    };

    // The next frames of one batch, in line order; `traduction` takes their text indices to texte()'s.
    void ajouter(std::string_view matchId, std::string_view playerId, std::span<const TrameCompacte> trames,
                 std::span<const std::uint32_t> traduction);
    void ajouter(const MorceauLu& morceau);
    std::uint32_t texte(std::string_view t) { return textes_.indice(t); }

    const TableTextes& textes() const { return textes_; }
    std::size_t octets() const { return octets_ + textes_.octets(); }  // memory held
    std::uint64_t trames() const { return trames_; }
    bool vide() const { return groupes_.empty(); }

    // f(matchId, playerId, const GroupeCompact&) per batch, in key order.
    template <class F>
    void pour_chaque_lot(F&& f) const {
        for (const auto& [cle, g] : groupes_) f(cle.matchId, cle.playerId, g);
    }

    // The batches in key order (bytewise, matchId then playerId), taken out; their texts stay here.
    std::vector<Lot> extraire();

private:
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
        template <class A, class B>
        bool operator()(const A& a, const B& b) const {
            const int c = std::string_view(a.matchId).compare(b.matchId);
            return c < 0 || (c == 0 && std::string_view(a.playerId).compare(b.playerId) < 0);
        }
    };

    TableTextes textes_;
    std::map<Cle, GroupeCompact, Ordre> groupes_;
    std::size_t octets_ = 0;
    std::uint64_t trames_ = 0;
    std::vector<std::uint32_t> traduction_;
};

// Bytewise (matchId, playerId) order of batches.
inline bool cle_avant(std::string_view m1, std::string_view p1, std::string_view m2, std::string_view p2) {
    const int c = m1.compare(m2);
    return c < 0 || (c == 0 && p1.compare(p2) < 0);
}

}  // namespace comportement
