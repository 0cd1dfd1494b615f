// The compressed-input layer (commun::Entree: gzip through ISA-L, zstd), two ways per input.
// - The input as a file: read in random pieces and in large ones, the same outcome and the same bytes (on
//   an error, what came before it may stop sooner or later, and the library may give another reason);
//   a file without a compression's magic is its own text; a gzip or zstd file is accepted exactly when
//   the other decoder (zlib member after member; zstd's one-shot decoder, which goes over skippable
//   frames) accepts it, with the same text.
// - The input as a text, compressed in one to four gzip members or zstd frames (levels, checksums and
//   skippable frames drawn from the input), sometimes behind about 256 KiB of padding so that a member
//   boundary falls at the edge of the reader's buffer: read back, it is the text again, and all of the
//   file was consumed.
#include <zlib.h>
// ZSTD_decompressBound, exported by the shared library too.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "commun/entree.hpp"
#include "commun_fuzz.hpp"

namespace {

// Decompression bombs are cut there: a few KB of input can stand for gigabytes.
constexpr std::size_t kPlafond = std::size_t{1} << 20;

struct Lecture {
    std::string octets;
    std::optional<std::string> erreur;
    std::uint64_t consommes = 0;
};

Lecture lire(const std::string& chemin, fuzz::Alea* alea) {
    Lecture l;
    auto e = commun::Entree::ouvrir(chemin);
    if (!e) fuzz::echec("cannot open the input file", e.error());
    std::vector<char> tampon(70000);
    while (l.octets.size() < kPlafond) {
        std::size_t n = tampon.size();
        if (alea != nullptr) n = alea->jusqua(4) == 0 ? 1 + alea->jusqua(16) : 1 + alea->jusqua(tampon.size());
        auto lus = (*e)->lire(std::span(tampon.data(), n));
        if (!lus) {
            l.erreur = lus.error();
            break;
        }
        if (*lus == 0) break;
        if (*lus > n) fuzz::echec("more bytes than asked for");
        l.octets.append(tampon.data(), *lus);
    }
    l.consommes = (*e)->octets_lus();
    return l;
}

// zlib, member after member; only what follows a complete member may start another.
std::optional<std::string> gzip_zlib(std::string_view o) {
    std::string sortie;
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) fuzz::echec("inflateInit2");
    std::size_t position = 0;
    bool ok = true;
    std::vector<unsigned char> tampon(65536);
    while (ok && sortie.size() < kPlafond) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(o.data() + position));
        z.avail_in = static_cast<uInt>(o.size() - position);
        z.next_out = tampon.data();
        z.avail_out = static_cast<uInt>(tampon.size());
        const int r = inflate(&z, Z_NO_FLUSH);
        sortie.append(reinterpret_cast<char*>(tampon.data()), tampon.size() - z.avail_out);
        position = o.size() - z.avail_in;
        if (r == Z_STREAM_END) {
            if (position == o.size()) break;
            if (o.size() - position < 2 || static_cast<unsigned char>(o[position]) != 0x1F ||
                static_cast<unsigned char>(o[position + 1]) != 0x8B) {
                ok = false;
            }
            inflateReset(&z);
        } else if (r != Z_OK) {
            ok = false;  // an error, or Z_BUF_ERROR: truncated
        }
    }
    inflateEnd(&z);
    if (!ok) return std::nullopt;
    return sortie;
}

// zstd in one call; nothing when the text would pass the ceiling.
std::optional<std::optional<std::string>> zstd_direct(std::string_view o) {
    const unsigned long long borne = ZSTD_decompressBound(o.data(), o.size());
    if (borne == ZSTD_CONTENTSIZE_ERROR) return std::optional<std::string>{};
    if (borne > kPlafond) return std::nullopt;
    std::string sortie(static_cast<std::size_t>(borne), '\0');
    const std::size_t n = ZSTD_decompress(sortie.data(), sortie.size(), o.data(), o.size());
    if (ZSTD_isError(n)) return std::optional<std::string>{};
    sortie.resize(n);
    return std::optional<std::string>{std::move(sortie)};
}

void en_fichier(std::string_view octets, fuzz::Alea& alea) {
    const std::string chemin = fuzz::ecrire_fichier("brut", octets);
    const Lecture morcelee = lire(chemin, &alea);
    const Lecture entiere = lire(chemin, nullptr);
    // Before an error, how much was handed over depends on the reads' sizes (one is then the start of the
    // other), and so may the library's reason: the decoder meets the damage at another point.
    const std::string& a = morcelee.octets;
    const std::string& b = entiere.octets;
    if (morcelee.erreur.has_value() != entiere.erreur.has_value() ||
        (entiere.erreur ? !a.starts_with(b) && !b.starts_with(a) : a != b)) {
        fuzz::echec("reads in pieces give another result",
                    morcelee.erreur.value_or("") + " / " + entiere.erreur.value_or(""));
    }
    const auto compression = commun::compression_de(std::span(octets.data(), octets.size()));
    if (compression == commun::Compression::aucune) {
        if (entiere.erreur || entiere.octets != octets) fuzz::echec("an uncompressed file is not its own text");
        if (entiere.consommes != octets.size()) fuzz::echec("bytes consumed");
        return;
    }
    if (entiere.octets.size() >= kPlafond) return;
    std::optional<std::string> attendu;
    if (compression == commun::Compression::gzip) {
        attendu = gzip_zlib(octets);
    } else {
        auto z = zstd_direct(octets);
        if (!z) return;
        attendu = std::move(*z);
    }
    if (attendu.has_value() != !entiere.erreur) {
        fuzz::echec(attendu ? "a stream the other decoder reads is refused"
                            : "a stream the other decoder refuses is accepted",
                    entiere.erreur.value_or(""));
    }
    if (attendu && *attendu != entiere.octets) fuzz::echec("another text than the other decoder's");
    if (attendu && entiere.consommes != octets.size()) fuzz::echec("bytes consumed");
    const std::string prefixe = compression == commun::Compression::gzip ? "gzip : " : "zstd : ";
    for (const Lecture* l : {&morcelee, &entiere}) {
        if (l->erreur && !l->erreur->starts_with(prefixe)) fuzz::echec("error without the format's name", *l->erreur);
    }
}

std::string membre_gzip(std::string_view texte, int niveau) {
    z_stream z{};
    if (deflateInit2(&z, niveau, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        fuzz::echec("deflateInit2");
    std::string sortie(deflateBound(&z, static_cast<uLong>(texte.size())) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(texte.data()));
    z.avail_in = static_cast<uInt>(texte.size());
    z.next_out = reinterpret_cast<Bytef*>(sortie.data());
    z.avail_out = static_cast<uInt>(sortie.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) fuzz::echec("deflate");
    sortie.resize(sortie.size() - z.avail_out);
    deflateEnd(&z);
    return sortie;
}

std::string trame_zstd(std::string_view texte, int niveau, bool somme, bool taille) {
    ZSTD_CCtx* c = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, niveau);
    ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, somme ? 1 : 0);
    ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, taille ? 1 : 0);
    std::string sortie(ZSTD_compressBound(texte.size()), '\0');
    const std::size_t n = ZSTD_compress2(c, sortie.data(), sortie.size(), texte.data(), texte.size());
    ZSTD_freeCCtx(c);
    if (ZSTD_isError(n)) fuzz::echec("ZSTD_compress2", ZSTD_getErrorName(n));
    sortie.resize(n);
    return sortie;
}

std::string trame_sautable(std::size_t contenu, std::uint8_t variante) {
    std::string s(8 + contenu, '\x5A');
    const std::uint32_t magique = 0x184D2A50u | (variante & 0xFu);
    for (std::size_t i = 0; i < 4; ++i) s[i] = static_cast<char>(magique >> (8 * i));
    for (std::size_t i = 0; i < 4; ++i) s[4 + i] = static_cast<char>(contenu >> (8 * i));
    return s;
}

void aller_retour(std::string_view texte, fuzz::Alea& alea) {
    const bool gzip = alea.jusqua(2) == 0;
    std::string fichier;
    std::string attendu;
    if (alea.jusqua(4) == 0) {
        // Padding up to about the reader's 256 KiB buffer: stored bytes for gzip (read as text too), a
        // skippable frame for zstd.
        const std::size_t cible = (std::size_t{256} << 10) - 64 + alea.jusqua(80);
        if (gzip) {
            std::string bourrage(cible, 'a');
            std::string m = membre_gzip(bourrage, 0);
            bourrage.resize(bourrage.size() - (m.size() - cible));  // stored blocks: one byte in, one out
            m = membre_gzip(bourrage, 0);
            fichier += m;
            attendu += bourrage;
        } else {
            fichier += trame_sautable(cible - 8, static_cast<std::uint8_t>(alea.suivant()));
        }
    }
    const std::size_t morceaux = 1 + alea.jusqua(4);
    std::size_t debut = 0;
    for (std::size_t i = 0; i < morceaux; ++i) {
        const std::size_t fin = i + 1 == morceaux ? texte.size() : debut + alea.jusqua(texte.size() - debut + 1);
        const std::string_view morceau = texte.substr(debut, fin - debut);
        if (gzip) {
            fichier += membre_gzip(morceau, static_cast<int>(alea.jusqua(10)));
        } else {
            if (alea.jusqua(3) == 0)
                fichier += trame_sautable(alea.jusqua(40), static_cast<std::uint8_t>(alea.suivant()));
            fichier +=
                trame_zstd(morceau, 1 + static_cast<int>(alea.jusqua(5)), alea.jusqua(2) == 0, alea.jusqua(2) == 0);
        }
        debut = fin;
    }
    attendu += texte;
    const std::string chemin = fuzz::ecrire_fichier(gzip ? "texte.gz" : "texte.zst", fichier);
    const Lecture l = lire(chemin, &alea);
    if (l.erreur) fuzz::echec("a compressed text is refused", *l.erreur);
    if (l.octets != attendu) fuzz::echec("a compressed text reads back differently", gzip ? "gzip" : "zstd");
    if (l.consommes != fichier.size())
        fuzz::echec("bytes consumed", std::to_string(l.consommes) + " of " + std::to_string(fichier.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* donnees, std::size_t taille) {
    const std::string_view octets(reinterpret_cast<const char*>(donnees), taille);
    fuzz::Alea alea(octets);
    en_fichier(octets, alea);
    aller_retour(octets, alea);
    return 0;
}
