#pragma once
// Matroska file writer: one Segment, clusters buffered in memory and written whole, and at the
// end the cue index, the Segment size, the duration and the seek head patched in place.
#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <utility>
#include <vector>

#include "commun/erreur.hpp"
#include "mkv/fichier.hpp"

namespace mkv {

class EcrivainMkv {
public:
    // Creates or truncates the file and writes the EBML header, the Segment of unknown size,
    // the reserved 96 bytes, Info (Duration 0.0) and Tracks (video, plus Opus audio if asked).
    static std::expected<EcrivainMkv, commun::Erreur> creer(const std::filesystem::path& chemin,
                                                            std::span<const std::uint8_t> codec_prive,
                                                            std::uint32_t largeur, std::uint32_t hauteur, bool audio);

    EcrivainMkv(EcrivainMkv&&) noexcept = default;
    EcrivainMkv& operator=(EcrivainMkv&&) noexcept = default;
    EcrivainMkv(const EcrivainMkv&) = delete;
    EcrivainMkv& operator=(const EcrivainMkv&) = delete;
    // A writer dropped unfinished flushes and closes the file; its open cluster is lost.
    ~EcrivainMkv() = default;

    // Appends one SimpleBlock (time in ms), first writing the open cluster when a new one starts.
    std::expected<void, commun::Erreur> ecrire_bloc(std::uint8_t piste, std::int64_t horodatage_ms, bool cle,
                                                    std::span<const std::uint8_t> trame);
    // Writes the open cluster, if any, and records its cue.
    std::expected<void, commun::Erreur> vider_cluster();
    // Finishes and closes the file. The writer is consumed whatever the outcome.
    std::expected<void, commun::Erreur> terminer() &&;

    // File offset right after the last cluster written (after Tracks before any cluster).
    std::uint64_t position_apres_dernier_cluster() const { return apres_dernier_cluster_; }
    // How many times the file was sent back to an earlier offset (only the finish does that).
    std::uint64_t retours_arriere() const { return fichier_.retours_arriere(); }

private:
    explicit EcrivainMkv(FichierSortie fichier) : fichier_(std::move(fichier)) {}

    struct Repere {
        std::int64_t temps;
        std::uint64_t position;
    };

    FichierSortie fichier_;
    std::vector<std::uint8_t> cluster_;
    std::vector<std::uint8_t> entete_;
    std::vector<Repere> reperes_;
    std::uint64_t debut_segment_ = 0;
    std::uint64_t position_duree_ = 0;
    std::uint64_t debut_info_ = 0;
    std::uint64_t debut_tracks_ = 0;
    std::int64_t temps_cluster_ = 0;
    std::int64_t temps_max_ = 0;
    std::uint64_t apres_dernier_cluster_ = 0;
};

}  // namespace mkv
