#pragma once
// The batches of many telemetry files, read and analysed on every thread within a memory budget, each
// batch's result handed over in the order that lire_replay over each file in turn gives the batches.
//
// Batches never span files, so a file's batches are known once the file is read. A file is cut into
// chunks of lines parsed in parallel and put back in line order; its frames are held compactly until its
// batches are analysed (in parallel), while the next file is read. When a file's frames would not fit in
// the budget they are spilled to temporary files, split by batch key, and analysed partition by partition.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "commun/fichier.hpp"
#include "comportement/lecture_morceaux.hpp"
#include "comportement/trame_compacte.hpp"

namespace comportement {

struct ReglagesLecture {
    std::size_t fils = 1;  // threads; with 1 everything runs on the calling thread, one step after another
    // Bytes the whole run may hold: frames, chunks in flight, working storage and results. Only a batch
    // larger than this on its own goes past it.
    std::uint64_t budget = std::numeric_limits<std::uint64_t>::max();
    std::size_t taille_morceau = kTailleMorceau;
    std::filesystem::path dossier_temporaire;  // where spills go
    // Bytes of the input files consumed (compressed ones for a compressed file) since the last call; called
    // from any thread.
    std::function<void(std::uint64_t)> progression;
};

// What a command does with each batch.
class Traitement {
public:
    struct Resultat {
        virtual ~Resultat() = default;
        virtual std::size_t octets() const = 0;  // memory it holds
    };
    virtual ~Traitement() = default;
    // On any thread, several at once. `lot` holds at least one frame.
    virtual std::unique_ptr<Resultat> analyser(const LotCompact& lot, Atelier& atelier) const = 0;
    // On the calling thread, in batch order.
    virtual void recevoir(std::unique_ptr<Resultat> resultat) = 0;
    // A partial result among the files (a file that starts with its signature), read from its first byte in
    // its place among the batches, on the calling thread. `fichier`: its index among the paths; `taille`:
    // the file's size, when known. Returns the memory it added to what is kept; the error is the text after
    // "<chemin> : ".
    virtual std::expected<std::uint64_t, std::string> recevoir_partiel(std::size_t fichier,
                                                                       commun::SourceOctets& source,
                                                                       std::optional<std::uint64_t> taille) = 0;
    // False: the files are only checked, their batches neither analysed nor handed over (partials still
    // come to recevoir_partiel).
    virtual bool analyse() const { return true; }
};

// Reads `chemins` in order, every line checked as lire_replay checks it, and hands each batch's result to
// `traitement`, and each partial result among them; without one, the files are only checked (partials of
// either command). Errors: the first file error in argument order, "<chemin> : " + lire_replay's message or
// the partial's fault; a spill that cannot be written or read back, "<dossier> : <description>".
std::expected<void, std::string> traiter_fichiers(std::span<const std::string> chemins, Traitement* traitement,
                                                  const ReglagesLecture& reglages);

}  // namespace comportement
