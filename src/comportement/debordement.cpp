#include "comportement/debordement.hpp"

#include <algorithm>
#include <cstring>

#include "commun/morceaux.hpp"

namespace comportement {

// A block: the batch key, the texts its frames use, then the frames with their text indices local to
// the block (0 stays the empty text):
//   u64 n, matchId | u64 n, playerId | u64 k, k x (u64 n, text) | u64 f, f x TrameCompacte
// in this machine's byte order: the file is only ever read back by the process that wrote it.

namespace {

void ajouter_u64(std::string& s, std::uint64_t v) { s.append(reinterpret_cast<const char*>(&v), sizeof v); }

void ajouter_texte(std::string& s, std::string_view t) {
    ajouter_u64(s, t.size());
    s.append(t);
}

std::string chemin_utf8(const std::filesystem::path& p) {
    const std::u8string u = p.u8string();
    return std::string(u.begin(), u.end());
}

// Reads a partition back block by block.
class LecteurBlocs {
public:
    struct Bloc {
        std::string_view matchId;
        std::string_view playerId;
        std::vector<std::string_view> textes;  // local index i + 1
        std::string_view trames;               // f x TrameCompacte, unaligned
        std::string_view octets;               // the whole block
    };

    explicit LecteurBlocs(commun::FichierTemporaire& f) : fichier_(f) {}

    // False at the end; the views hold until the next call.
    std::expected<bool, std::string> suivant(Bloc& b) {
        // Only here are the bytes moved: the offsets below stay valid while the block is read.
        const std::size_t reste = tampon_.size() - position_;
        if (reste > 0 && position_ > 0) std::memmove(tampon_.data(), tampon_.data() + position_, reste);
        tampon_.redimensionner(reste);
        position_ = 0;

        std::size_t o = 0;
        std::uint64_t n = 0;
        auto entier = [&](std::uint64_t& v) -> std::expected<bool, std::string> {
            auto a = assurer(o + 8);
            if (!a || !*a) return a;
            std::memcpy(&v, tampon_.data() + o, 8);
            o += 8;
            return true;
        };
        auto sauter = [&](std::uint64_t longueur) -> std::expected<bool, std::string> {
            auto a = assurer(o + longueur);
            if (!a || !*a) return a;
            o += longueur;
            return true;
        };
        auto a = entier(n);
        if (!a) return std::unexpected(a.error());
        if (!*a) {
            if (tampon_.size() != 0) return std::unexpected(std::string("fichier temporaire tronqué"));
            return false;
        }
        std::size_t debuts[2];
        std::uint64_t longueurs[2];
        for (int k = 0; k < 2; ++k) {
            if (k == 1 && !lu(entier(n))) return tronque();
            debuts[k] = o;
            longueurs[k] = n;
            if (!lu(sauter(n))) return tronque();
        }
        std::uint64_t nombre_textes = 0;
        if (!lu(entier(nombre_textes))) return tronque();
        positions_.clear();
        for (std::uint64_t i = 0; i < nombre_textes; ++i) {
            if (!lu(entier(n))) return tronque();
            positions_.emplace_back(o, n);
            if (!lu(sauter(n))) return tronque();
        }
        std::uint64_t nombre_trames = 0;
        if (!lu(entier(nombre_trames))) return tronque();
        const std::size_t debut_trames = o;
        if (!lu(sauter(nombre_trames * sizeof(TrameCompacte)))) return tronque();
        if (erreur_) return std::unexpected(*erreur_);

        const char* d = tampon_.data();
        b.matchId = {d + debuts[0], longueurs[0]};
        b.playerId = {d + debuts[1], longueurs[1]};
        b.textes.clear();
        for (const auto& [debut, longueur] : positions_) b.textes.emplace_back(d + debut, longueur);
        b.trames = {d + debut_trames, o - debut_trames};
        b.octets = {d, o};
        position_ = o;
        return true;
    }

private:
    bool lu(const std::expected<bool, std::string>& r) {
        if (!r) erreur_ = r.error();
        return r && *r;
    }
    std::expected<bool, std::string> tronque() {
        if (erreur_) return std::unexpected(*erreur_);
        return std::unexpected(std::string("fichier temporaire tronqué"));
    }
    // At least n bytes in the buffer; false at the end of the file before that.
    std::expected<bool, std::string> assurer(std::size_t n) {
        while (tampon_.size() < n) {
            const std::size_t avant = tampon_.size();
            tampon_.reserver(std::max({n, tampon_.capacite() * 2, std::size_t{1} << 20}));
            tampon_.redimensionner(tampon_.capacite());
            auto lus = fichier_.lire(std::span<char>(tampon_.data() + avant, tampon_.size() - avant));
            tampon_.redimensionner(avant + (lus ? *lus : 0));
            if (!lus) return std::unexpected(lus.error());
            if (*lus == 0) return false;
        }
        return true;
    }

    commun::FichierTemporaire& fichier_;
    commun::Tampon tampon_;
    std::size_t position_ = 0;
    std::vector<std::pair<std::size_t, std::size_t>> positions_;
    std::optional<std::string> erreur_;
};

}  // namespace

std::expected<Debordement, std::string> Debordement::creer(const std::filesystem::path& dossier, std::size_t partitions,
                                                           std::size_t tampon, std::uint32_t niveau) {
    Debordement d(dossier, std::max<std::size_t>(tampon, 4096), niveau);
    d.partitions_.reserve(partitions);
    for (std::size_t p = 0; p < partitions; ++p) {
        auto f = commun::FichierTemporaire::creer(dossier);
        if (!f) return std::unexpected(d.erreur(f.error()));
        d.partitions_.push_back({std::move(*f), {}});
    }
    return d;
}

std::string Debordement::erreur(const std::string& description) const {
    return chemin_utf8(dossier_) + " : " + description;
}

std::size_t Debordement::partition_de(std::string_view matchId, std::string_view playerId) const {
    std::uint64_t h =
        empreinte(matchId) ^ (empreinte(playerId) * 0x9e3779b97f4a7c15ULL) ^ ((niveau_ + 1) * 0xc2b2ae3d27d4eb4fULL);
    h = (h ^ (h >> 31)) * 0xbf58476d1ce4e5b9ULL;
    h ^= h >> 29;
    return static_cast<std::size_t>(h % partitions_.size());
}

std::expected<void, std::string> Debordement::ecrire(std::size_t p, std::string_view octets) {
    Partition& partition = partitions_[p];
    if (partition.tampon.size() + octets.size() > capacite_ && !partition.tampon.empty()) {
        if (auto r = partition.fichier->ecrire(partition.tampon); !r) return std::unexpected(erreur(r.error()));
        partition.tampon.clear();
    }
    if (octets.size() >= capacite_) {
        if (auto r = partition.fichier->ecrire(octets); !r) return std::unexpected(erreur(r.error()));
        return {};
    }
    if (partition.tampon.capacity() < capacite_) partition.tampon.reserve(capacite_);
    partition.tampon.append(octets);
    return {};
}

std::expected<void, std::string> Debordement::ecrire_bloc(std::string_view matchId, std::string_view playerId,
                                                          std::span<const TrameCompacte> trames,
                                                          const TableTextes& textes) {
    if (++epoque_ == 0) {
        std::fill(marques_.begin(), marques_.end(), std::pair<std::uint32_t, std::uint32_t>{0, 0});
        epoque_ = 1;
    }
    if (marques_.size() < textes.taille()) marques_.resize(textes.taille());
    locaux_.clear();
    const auto local = [&](std::uint32_t i) -> std::uint32_t {
        if (i == 0) return 0;
        auto& m = marques_[i];
        if (m.first != epoque_) {
            locaux_.push_back(i);
            m = {epoque_, static_cast<std::uint32_t>(locaux_.size())};
        }
        return m.second;
    };
    for (const TrameCompacte& t : trames) {
        local(t.targetId);
        local(t.weaponId);
        local(t.acquisitionMode);
    }
    bloc_.clear();
    ajouter_texte(bloc_, matchId);
    ajouter_texte(bloc_, playerId);
    ajouter_u64(bloc_, locaux_.size());
    for (std::uint32_t i : locaux_) ajouter_texte(bloc_, textes.texte(i));
    ajouter_u64(bloc_, trames.size());
    for (TrameCompacte t : trames) {
        t.targetId = local(t.targetId);
        t.weaponId = local(t.weaponId);
        t.acquisitionMode = local(t.acquisitionMode);
        bloc_.append(reinterpret_cast<const char*>(&t), sizeof t);
    }
    return ecrire(partition_de(matchId, playerId), bloc_);
}

std::expected<void, std::string> Debordement::ajouter(const MorceauLu& morceau) {
    for (const MorceauLu::Groupe& g : morceau.groupes) {
        if (auto r = ecrire_bloc(g.matchId, g.playerId, g.trames, morceau.textes); !r) return r;
    }
    return {};
}

std::expected<void, std::string> Debordement::ajouter(const ReserveTrames& reserve) {
    std::expected<void, std::string> r;
    reserve.pour_chaque_lot([&](std::string_view m, std::string_view p, const GroupeCompact& g) {
        g.pour_chaque_bloc([&](std::span<const TrameCompacte> bloc) {
            if (r) r = ecrire_bloc(m, p, bloc, reserve.textes());
        });
    });
    return r;
}

std::expected<void, std::string> Debordement::terminer() {
    for (Partition& p : partitions_) {
        if (p.tampon.empty()) continue;
        if (auto r = p.fichier->ecrire(p.tampon); !r) return std::unexpected(erreur(r.error()));
        std::string().swap(p.tampon);
    }
    return {};
}

std::size_t Debordement::octets() const {
    std::size_t n = sizeof(*this) + bloc_.capacity() + marques_.capacity() * sizeof(marques_[0]) +
                    locaux_.capacity() * sizeof(std::uint32_t);
    for (const Partition& p : partitions_) n += sizeof(Partition) + p.tampon.capacity();
    return n;
}

std::expected<ReserveTrames, std::string> Debordement::charger(std::size_t p) {
    commun::FichierTemporaire& f = *partitions_[p].fichier;
    if (auto r = f.rembobiner(); !r) return std::unexpected(erreur(r.error()));
    ReserveTrames reserve;
    LecteurBlocs lecteur(f);
    LecteurBlocs::Bloc bloc;
    std::vector<std::uint32_t> traduction;
    std::vector<TrameCompacte> trames;
    for (;;) {
        auto suite = lecteur.suivant(bloc);
        if (!suite) return std::unexpected(erreur(suite.error()));
        if (!*suite) break;
        traduction.assign(1, 0);
        for (std::string_view t : bloc.textes) traduction.push_back(reserve.texte(t));
        trames.resize(bloc.trames.size() / sizeof(TrameCompacte));
        std::memcpy(trames.data(), bloc.trames.data(), bloc.trames.size());
        reserve.ajouter(bloc.matchId, bloc.playerId, trames, traduction);
    }
    partitions_[p] = Partition{};
    return reserve;
}

std::expected<std::optional<Debordement>, std::string> Debordement::repartir(std::size_t p, std::size_t n,
                                                                             std::size_t tampon) {
    commun::FichierTemporaire& f = *partitions_[p].fichier;
    if (auto r = f.rembobiner(); !r) return std::unexpected(erreur(r.error()));
    auto sous = creer(dossier_, n, tampon, niveau_ + 1);
    if (!sous) return std::unexpected(sous.error());
    LecteurBlocs lecteur(f);
    LecteurBlocs::Bloc bloc;
    std::string premier_match;
    std::string premier_joueur;
    bool premier = true;
    bool une_seule_cle = true;
    for (;;) {
        auto suite = lecteur.suivant(bloc);
        if (!suite) return std::unexpected(erreur(suite.error()));
        if (!*suite) break;
        if (premier) {
            premier_match = bloc.matchId;
            premier_joueur = bloc.playerId;
            premier = false;
        } else if (bloc.matchId != premier_match || bloc.playerId != premier_joueur) {
            une_seule_cle = false;
        }
        if (auto r = sous->ecrire(sous->partition_de(bloc.matchId, bloc.playerId), bloc.octets); !r) {
            return std::unexpected(r.error());
        }
    }
    if (une_seule_cle) return std::optional<Debordement>();
    if (auto r = sous->terminer(); !r) return std::unexpected(r.error());
    partitions_[p] = Partition{};
    return std::optional<Debordement>(std::move(*sous));
}

}  // namespace comportement
