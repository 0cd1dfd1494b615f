#pragma once
// A byte stream cut into chunks of whole lines, to be parsed apart (in parallel) and put back in order.
// Lines end at LF, as LecteurLignes reads them; only the last line of the stream may lack its LF.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "commun/fichier.hpp"

namespace commun {

// A growable byte buffer that does not clear what it gains, reused from chunk to chunk.
class Tampon {
public:
    char* data() { return octets_.get(); }
    const char* data() const { return octets_.get(); }
    std::size_t size() const { return taille_; }
    std::size_t capacite() const { return capacite_; }
    std::string_view vue() const { return {octets_.get(), taille_}; }
    void vider() { taille_ = 0; }
    // Keeps the content; the new bytes are unspecified.
    void redimensionner(std::size_t taille);
    void reserver(std::size_t capacite);
    void ajouter(std::string_view octets);
    // Gives the memory back.
    void liberer();

private:
    std::unique_ptr<char[]> octets_;
    std::size_t taille_ = 0;
    std::size_t capacite_ = 0;
};

class Decoupeur {
public:
    // Chunks of about `taille` bytes and at most `lignes_max` lines; a line longer than `taille` is a
    // chunk of its own.
    Decoupeur(SourceOctets& source, std::size_t taille, std::size_t lignes_max);

    // Puts the next chunk in `morceau`: whole lines, each with its LF except the stream's last. False at
    // the end. A read error comes once every complete line read before it has been handed out; the
    // incomplete line it interrupted is dropped.
    std::expected<bool, std::string> suivant(Tampon& morceau);

    // Bytes taken from the source so far.
    std::uint64_t octets_lus() const { return lus_; }

private:
    SourceOctets& source_;
    std::size_t taille_;
    std::size_t lignes_max_;
    Tampon reste_;  // read past the last cut
    bool fin_ = false;
    std::optional<std::string> erreur_;
    std::uint64_t lus_ = 0;
};

}  // namespace commun
