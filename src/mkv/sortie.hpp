#pragma once
// The sink of the recording: drains encoded images into the Matroska file.
#include <atomic>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <vector>

#include "commun/erreur.hpp"
#include "mkv/ecrivain.hpp"
#include "pipeline/canal.hpp"
#include "pipeline/image_encodee.hpp"

namespace mkv {

// Owned by the recording session across drains.
struct EtatSortie {
    // The size of the encoded images, written in the file's track header.
    EtatSortie(std::uint32_t largeur_images, std::uint32_t hauteur_images)
        : largeur(largeur_images), hauteur(hauteur_images) {}

    std::uint32_t largeur;
    std::uint32_t hauteur;
    // Created at the first keyframe.
    std::optional<EcrivainMkv> ecrivain;
    // `horodatage` of the first keyframe, 100-ns units.
    std::optional<std::int64_t> premier_horodatage;
    // Reused for the length-prefixed form of each image.
    std::vector<std::uint8_t> tampon;
};

// Takes every image waiting in the channel, without blocking, and appends one block per image.
// Images before the first keyframe are dropped. After each block the writer's position after
// its last cluster is stored into `octets`.
std::expected<void, commun::Erreur> ecrire_images_encodees(pipeline::Recepteur<pipeline::ImageEncodee>& recepteur,
                                                           const std::filesystem::path& chemin, EtatSortie& etat,
                                                           std::atomic<std::uint64_t>& octets);

// Milliseconds from `premier` to `horodatage` (100-ns units), truncated toward zero.
std::int64_t temps_relatif_ms(std::int64_t horodatage, std::int64_t premier);

}  // namespace mkv
