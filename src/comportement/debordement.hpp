#pragma once
// The frames of a file that do not fit in memory, spilled to anonymous temporary files. They are split by
// batch key into partitions; a partition holds whole batches, each with its frames in line order, so it
// can be read back and analysed on its own.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "commun/fichier_temporaire.hpp"
#include "comportement/lecture_morceaux.hpp"

namespace comportement {

class Debordement {
public:
    // `partitions` files in `dossier`, each written through a buffer of `tampon` bytes; `niveau` picks the
    // hash (a partition spread again uses the next level's). Errors: "<dossier> : <description>".
    static std::expected<Debordement, std::string> creer(const std::filesystem::path& dossier, std::size_t partitions,
                                                         std::size_t tampon, std::uint32_t niveau = 0);

    // Frames that follow, in line order, those already written.
    std::expected<void, std::string> ajouter(const MorceauLu& morceau);
    std::expected<void, std::string> ajouter(const ReserveTrames& reserve);
    // Writes what the buffers still hold.
    std::expected<void, std::string> terminer();

    std::size_t partitions() const { return partitions_.size(); }
    std::uint64_t taille(std::size_t p) const {
        const Partition& d = partitions_[p];
        return (d.fichier ? d.fichier->taille() : 0) + d.tampon.size();
    }
    std::size_t octets() const;  // memory held

    // Partition p read back; its file is dropped.
    std::expected<ReserveTrames, std::string> charger(std::size_t p);
    // Partition p spread over `n` new partitions by the next level's hash, and dropped; nothing (partition
    // p kept) when it holds a single batch.
    std::expected<std::optional<Debordement>, std::string> repartir(std::size_t p, std::size_t n, std::size_t tampon);

private:
    struct Partition {
        std::optional<commun::FichierTemporaire> fichier;  // empty once read back
        std::string tampon;
    };
    Debordement(std::filesystem::path dossier, std::size_t capacite, std::uint32_t niveau)
        : dossier_(std::move(dossier)), capacite_(capacite), niveau_(niveau) {}

    std::string erreur(const std::string& description) const;
    std::size_t partition_de(std::string_view matchId, std::string_view playerId) const;
    std::expected<void, std::string> ecrire(std::size_t p, std::string_view octets);
    std::expected<void, std::string> ecrire_bloc(std::string_view matchId, std::string_view playerId,
                                                 std::span<const TrameCompacte> trames, const TableTextes& textes);

    std::filesystem::path dossier_;
    std::size_t capacite_;
    std::uint32_t niveau_;
    std::vector<Partition> partitions_;
    std::string bloc_;                                              // one block being encoded
    std::vector<std::pair<std::uint32_t, std::uint32_t>> marques_;  // text index -> (epoch, index in block)
    std::vector<std::uint32_t> locaux_;                             // texts of the block, in block order
    std::uint32_t epoque_ = 0;
};

}  // namespace comportement
