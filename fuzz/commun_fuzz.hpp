#pragma once
// What the fuzz targets share: an oracle's failure, the physical lines of a text, a source that hands a
// text over in short pieces, frame comparison and the check of a "ligne N : " error against the lone line.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "commun/fichier.hpp"
#include "comportement/telemetrie.hpp"

namespace fuzz {

// Prints the oracle and what it saw, then traps: libFuzzer keeps the input as a crash.
[[noreturn]] void echec(std::string_view oracle, std::string_view detail = {});

// Draws derived from the input itself, so that a saved input replays the same run.
class Alea {
public:
    explicit Alea(std::string_view graine);
    std::uint64_t suivant();
    std::size_t jusqua(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(suivant() % n); }

private:
    std::uint64_t etat_;
};

// The lines as the readers see them: cut at LF, a CR just before the LF removed; the last line needs no
// LF and keeps a CR that no LF follows.
std::vector<std::string_view> lignes_de(std::string_view texte);

// Hands the text over in pieces of 1 to a few thousand bytes, to cross every buffer's edges; after
// `erreur_apres` bytes (if given) every read fails with "lecture interrompue".
class SourceMorcelee final : public commun::SourceOctets {
public:
    SourceMorcelee(std::string_view texte, Alea& alea, std::size_t erreur_apres = SIZE_MAX);
    std::expected<std::size_t, std::string> lire(std::span<char> tampon) override;
    std::size_t livres() const { return position_; }

private:
    std::string_view texte_;
    Alea& alea_;
    std::size_t limite_;
    std::size_t position_ = 0;
};

// A folder of this process for the files a target writes (under $FUZZ_DOSSIER, else /dev/shm or /tmp),
// removed at exit; a file written there, its path returned.
const std::string& dossier();
std::string ecrire_fichier(std::string_view nom, std::string_view octets);

// Every member equal, floats bit for bit.
bool memes(const comportement::TrameTelemetrie& a, const comportement::TrameTelemetrie& b);
bool memes_lots(std::span<const comportement::LotTrames> a, std::span<const comportement::LotTrames> b);
bool finie(const comportement::TrameTelemetrie& t);  // no infinite or NaN float

// Frames as lire_lots gives them back: grouped by (matchId, playerId) in bytewise order, each batch sorted
// by timestampMs (stable).
std::vector<comportement::LotTrames> grouper(std::vector<comportement::TrameTelemetrie> trames);

// A reader's error on `texte`, "<prefixe_utf8>UTF-8 invalide à la ligne N" or "ligne N : message": the
// lines before N are valid UTF-8 and blank or accepted alone by `seule`, and line N is invalid UTF-8, or
// refused alone with the same message.
void verifier_erreur(std::string_view texte, std::string_view erreur, std::string_view prefixe_utf8,
                     const std::function<std::expected<void, std::string>(std::string_view)>& seule);

}  // namespace fuzz
