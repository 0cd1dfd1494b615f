// A replay stored gzip'ed or zstd'ed reads as the same batches as its text, with
// the line numbers of the text in its messages; a cut stream is refused with the
// reader's prefix and the format's name (every kind of damage: test_entree.cpp).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../commun/compresser.hpp"
#include "comportement/ecriture_telemetrie.hpp"
#include "comportement/lecture_telemetrie.hpp"
#include "support/dossier_temp.hpp"

namespace {

using namespace comportement;

std::string trame(const char* match, const char* joueur, int instant) {
    return std::string(R"({"matchId":")") + match + R"(","playerId":")" + joueur + R"(","timestampMs":)" +
           std::to_string(instant) + R"(,"yawDeg":)" + std::to_string(instant % 360) + ".5}";
}

// Batches as text: every field of every frame, in order.
std::string texte_des_lots(const std::expected<std::vector<LotTrames>, std::string>& lots) {
    if (!lots) return "erreur : " + lots.error();
    commun::SortieChaine sortie;
    for (const LotTrames& lot : *lots) {
        sortie.texte += "lot " + lot.matchId + " / " + lot.playerId + "\n";
        for (const TrameTelemetrie& t : lot.trames) (void)ecrire_trame(sortie, t);
    }
    return sortie.texte;
}

// Two matches, three players interleaved, times out of order, CR LF and blank lines.
std::string replay() {
    std::string texte;
    for (int i = 0; i < 300; ++i) {
        const int instant = 1000 + (i * 37) % 300;
        texte += trame("m1", i % 2 ? "p1" : "p2", instant) + (i % 7 ? "\n" : "\r\n");
        texte += trame("m2", "p1", instant) + "\n";
        if (i % 50 == 0) texte += " \t\n";
    }
    return texte;
}

TEST(LectureCompressee, MemesLotsSousChaqueForme) {
    const std::string texte = replay();
    const std::string attendu = texte_des_lots(lire_replay(essai::DossierTemp().ecrire("r.jsonl", texte)));
    ASSERT_EQ(attendu.find("erreur"), std::string::npos) << attendu;
    // Pieces cut anywhere, mid-line included: `cat a.gz b.gz c.gz` of such pieces is one replay.
    const std::string a = texte.substr(0, 10000), b = texte.substr(10000, 15001), c = texte.substr(25001);
    // Every form gives back the same bytes (tests/commun/test_entree.cpp): two of them suffice here.
    essai::DossierTemp fichiers;
    for (const std::string& forme : {essai::gzip(a) + essai::gzip(b, "b") + essai::gzip(c),
                                     essai::zstd_sautable("meta") + essai::zstd(a) + essai::zstd(b + c)}) {
        EXPECT_EQ(texte_des_lots(lire_replay(fichiers.ecrire("r.jsonl.x", forme))), attendu);
    }
    // A valid member of zero bytes is an empty replay.
    auto vide = lire_replay(fichiers.ecrire("vide.jsonl.gz", essai::gzip("")));
    ASSERT_TRUE(vide.has_value()) << vide.error();
    EXPECT_TRUE(vide->empty());
}

TEST(LectureCompressee, MessagesAvecLesLignesDuTexte) {
    // Line 9 of the text, in the third member.
    const std::string debut = trame("m", "p", 1) + "\n\n" + trame("m", "p", 2) + "\r\n";
    const std::string milieu = "\n" + trame("m", "p", 3) + "\n\n";
    const std::string fin =
        trame("m", "p", 4) + "\n\n" + R"({"matchId":"m","hit":1})" + "\n" + trame("m", "p", 5) + "\n";
    const std::string ligne_9 = "ligne 9 : invalid type: integer `1`, expected a boolean at line 1 column 22";
    const std::string fautif = essai::gzip(debut + milieu + fin);
    const std::string texte = replay();
    const std::string gz = essai::gzip(texte);
    const std::string zs = essai::zstd(texte);
    const struct {
        const char* nom;
        std::string contenu;
        std::string erreur;
    } cas[] = {
        {"gzip", essai::gzip(debut) + essai::gzip(milieu) + essai::gzip(fin), ligne_9},
        {"zstd", essai::zstd(debut) + essai::zstd(milieu) + essai::zstd(fin), ligne_9},
        // The first error in line order: the bad line comes before the cut.
        {"gzip coupé après la ligne fautive", fautif.substr(0, fautif.size() - 1), ligne_9},
        {"gzip coupé", gz.substr(0, gz.size() - 1), "replay illisible : gzip : flux tronqué"},
        {"zstd coupé", zs.substr(0, 20), "replay illisible : zstd : flux tronqué"},
    };
    essai::DossierTemp fichiers;
    for (const auto& c : cas) {
        auto lots = lire_replay(fichiers.ecrire("r", c.contenu));
        ASSERT_FALSE(lots.has_value()) << c.nom;
        EXPECT_EQ(lots.error(), c.erreur) << c.nom;
    }
}

}  // namespace
