// Input files read as their decompressed bytes: every form a cohort is stored in
// gives back the same text whatever the size of the reads, and a damaged stream
// stops with the format's name after handing over only bytes of the original.
// Built twice: against the Linux gzip library and against the Windows one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commun/entree.hpp"
#include "compresser.hpp"
#include "support/dossier_temp.hpp"

namespace {

using commun::Compression;
using commun::Entree;

// About 600 KB of digits that compress only to half: the compressed file
// outgrows the reader's input buffer, so it is refilled mid-member.
std::string texte_essai(std::size_t lignes) {
    std::string texte;
    std::uint64_t x = 0x2545F4914F6CDD1DULL;
    for (std::size_t i = 0; i < lignes; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        texte += "{\"ligne\":" + std::to_string(i) + ",\"valeur\":" + std::to_string(x) + "}\n";
    }
    return texte;
}

struct Lecture {
    std::string octets;
    std::string erreur;  // empty when the end was reached
};

Lecture tout_lire(Entree& entree, std::size_t taille_lecture) {
    Lecture l;
    std::vector<char> tampon(taille_lecture);
    for (;;) {
        auto n = entree.lire(tampon);
        if (!n) {
            l.erreur = n.error();
            // A failed stream stays failed.
            auto encore = entree.lire(tampon);
            EXPECT_FALSE(encore.has_value());
            return l;
        }
        if (*n == 0) return l;
        l.octets.append(tampon.data(), *n);
    }
}

TEST(Entree, SignaturesEtDebutsTropCourts) {
    const struct {
        std::string debut;
        Compression attendu;
    } cas[] = {
        {"", Compression::aucune},
        {"\x1f", Compression::aucune},
        {"\x1f\x8b", Compression::gzip},
        {std::string("\x1f\x8b\x08\x00", 4), Compression::gzip},
        {"\x8b\x1f", Compression::aucune},
        {"\x28\xb5\x2f", Compression::aucune},
        {"\x28\xb5\x2f\xfd", Compression::zstd},
        {"\x28\xb5\x2f\xfe", Compression::aucune},
        {"\x50\x2a\x4d\x18", Compression::zstd},
        {"\x5f\x2a\x4d\x18", Compression::zstd},
        {"\x4f\x2a\x4d\x18", Compression::aucune},
        {"\x60\x2a\x4d\x18", Compression::aucune},
        {"{\"matchId\"", Compression::aucune},
    };
    for (const auto& c : cas) {
        EXPECT_EQ(commun::compression_de(c.debut), c.attendu) << testing::PrintToString(c.debut);
    }
}

TEST(Entree, ChaqueFormeRendLeMemeTexte) {
    const std::string texte = texte_essai(16000);
    const std::string a = texte.substr(0, 200000);
    const std::string b = texte.substr(200000);
    const struct {
        const char* nom;
        std::string contenu;
        Compression compression;
    } formes[] = {
        {"brut", texte, Compression::aucune},
        {"gzip nommé", essai::gzip(texte, "cohorte.jsonl"), Compression::gzip},
        // cat a.gz vide.gz b.gz
        {"gzip en trois membres", essai::gzip(a) + essai::gzip("") + essai::gzip(b, "b"), Compression::gzip},
        {"zstd", essai::zstd(texte), Compression::zstd},
        {"zstd en deux trames", essai::zstd(a) + essai::zstd(b), Compression::zstd},
        {"zstd avec trames sautables",
         essai::zstd_sautable("index", 0xA) + essai::zstd(a) + essai::zstd_sautable("") + essai::zstd(b),
         Compression::zstd},
    };
    essai::DossierTemp fichiers;
    for (const auto& forme : formes) {
        SCOPED_TRACE(forme.nom);
        const std::string chemin = fichiers.ecrire("entree", forme.contenu);
        // Byte by byte-ish like nobody does, the line reader's 8 KiB, the parallel readers' blocks.
        for (std::size_t taille_lecture : {13u, 8192u, 3u << 20}) {
            auto entree = Entree::ouvrir(chemin);
            ASSERT_TRUE(entree.has_value()) << entree.error();
            EXPECT_EQ((*entree)->compression(), forme.compression);
            EXPECT_EQ((*entree)->taille(), forme.contenu.size());
            const Lecture l = tout_lire(**entree, taille_lecture);
            EXPECT_EQ(l.erreur, "");
            EXPECT_TRUE(l.octets == texte)
                << taille_lecture << " : " << l.octets.size() << " octets sur " << texte.size();
            EXPECT_EQ((*entree)->octets_lus(), forme.contenu.size());
        }
    }
}

TEST(Entree, FluxAbimesRefusesEnNommantLeFormat) {
    const std::string texte = texte_essai(4000);
    const std::string gz = essai::gzip(texte);
    const std::string zs = essai::zstd(texte);
    const auto abime = [](std::string s, std::size_t position) {
        s[position] = static_cast<char>(s[position] ^ 0x55);
        return s;
    };
    const struct {
        const char* nom;
        std::string contenu;
        std::string erreur;  // exact text, or the prefix when it ends with "…"
    } cas[] = {
        {"gzip : dans l'en-tête", gz.substr(0, 7), "gzip : flux tronqué"},
        {"gzip : au milieu", gz.substr(0, gz.size() / 2), "gzip : flux tronqué"},
        {"gzip : dans le pied", gz.substr(0, gz.size() - 3), "gzip : flux tronqué"},
        {"gzip : second membre coupé", gz + gz.substr(0, 40), "gzip : flux tronqué"},
        {"gzip : données abîmées", abime(gz, gz.size() / 2), "gzip : …"},
        {"gzip : somme de contrôle", abime(gz, gz.size() - 6), "gzip : …"},
        {"gzip : longueur", abime(gz, gz.size() - 2), "gzip : …"},
        {"gzip : octet en trop", gz + "\n", "gzip : données parasites après la fin du flux"},
        {"gzip : drapeau réservé", gz.substr(0, 3) + '\x20' + gz.substr(4), "gzip : …"},
        {"zstd : dans l'en-tête", zs.substr(0, 5), "zstd : flux tronqué"},
        {"zstd : au milieu", zs.substr(0, zs.size() / 2), "zstd : flux tronqué"},
        {"zstd : sautable coupée", essai::zstd_sautable("abcdef").substr(0, 10), "zstd : flux tronqué"},
        {"zstd : données abîmées", abime(zs, zs.size() / 2), "zstd : …"},
        {"zstd : somme de contrôle", abime(zs, zs.size() - 1), "zstd : …"},
        {"zstd : octets en trop", zs + "garbage!", "zstd : …"},
        // A frame cut after one empty block, whose bytes after the magic read as a skippable frame.
        {"zstd : trame coupée", std::string("\x28\xb5\x2f\xfd\x50\x2a\x4d\x18\x00\x00\x00\x00", 12),
         "zstd : flux tronqué"},
    };
    essai::DossierTemp fichiers;
    for (const auto& c : cas) {
        SCOPED_TRACE(c.nom);
        const std::string chemin = fichiers.ecrire("entree", c.contenu);
        auto entree = Entree::ouvrir(chemin);
        ASSERT_TRUE(entree.has_value()) << entree.error();
        const Lecture l = tout_lire(**entree, 8192);
        const std::string prefixe = c.erreur.substr(0, c.erreur.find("…"));
        if (prefixe.size() == c.erreur.size()) {
            EXPECT_EQ(l.erreur, c.erreur);
        } else {
            EXPECT_TRUE(l.erreur.starts_with(prefixe) && l.erreur.size() > prefixe.size()) << l.erreur;
            EXPECT_EQ(l.erreur.find("tronqué"), std::string::npos) << l.erreur;
        }
        // Before a cut or trailing bytes, what came is the original text. (Damaged data
        // may decode to other bytes before the checksum at the end of the member says so.)
        if (std::string(c.nom).find("abîmées") == std::string::npos) {
            EXPECT_TRUE(texte.starts_with(l.octets)) << l.octets.size();
        }
    }
}

TEST(Entree, FichiersSansCompression) {
    essai::DossierTemp fichiers;
    // Shorter than any signature, and the start of a gzip signature alone: plain bytes.
    for (const std::string contenu : {"", "{", "\x1f", "{}\n"}) {
        auto entree = Entree::ouvrir(fichiers.ecrire("court", contenu));
        ASSERT_TRUE(entree.has_value());
        EXPECT_EQ((*entree)->compression(), Compression::aucune);
        EXPECT_EQ(tout_lire(**entree, 1).octets, contenu);
    }
    auto absent = Entree::ouvrir(fichiers.ecrire("x", "") + ".absent");
    ASSERT_FALSE(absent.has_value());
    EXPECT_EQ(absent.error(), "No such file or directory");
}

}  // namespace
