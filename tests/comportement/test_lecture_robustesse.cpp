// The readers must give the same result however the input arrives: sources
// may return short reads, so CR, LF and UTF-8 sequences can fall on either
// side of a read, and lines can be longer than the 8 KiB line buffer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "commun/fichier.hpp"
#include "comportement/conversion.hpp"
#include "comportement/lecture_telemetrie.hpp"

namespace {

using namespace comportement;

// Hands the text over in pieces of the given sizes, in turn.
class SourceMorcelee final : public commun::SourceOctets {
public:
    SourceMorcelee(std::string texte, std::vector<std::size_t> tailles)
        : texte_(std::move(texte)), tailles_(std::move(tailles)) {}
    std::expected<std::size_t, std::string> lire(std::span<char> tampon) override {
        const std::size_t voulu = tailles_[appel_++ % tailles_.size()];
        const std::size_t n = std::min({tampon.size(), texte_.size() - position_, voulu});
        std::memcpy(tampon.data(), texte_.data() + position_, n);
        position_ += n;
        return n;
    }

private:
    std::string texte_;
    std::vector<std::size_t> tailles_;
    std::size_t position_ = 0;
    std::size_t appel_ = 0;
};

std::string resume(const std::expected<std::vector<LotTrames>, std::string>& r) {
    if (!r) return "erreur " + r.error();
    std::string s;
    for (const auto& lot : *r) {
        s += lot.matchId + "|" + lot.playerId + ":";
        for (const auto& t : lot.trames) s += std::to_string(t.timestampMs) + "," + t.weaponId + ";";
        s += "\n";
    }
    return s;
}

std::string en_une_fois(const std::string& texte) {
    commun::SourceChaine source(texte);
    return resume(lire_lots(source));
}

const std::vector<std::vector<std::size_t>> decoupages = {{1}, {2}, {3}, {1, 8191}, {8191, 2}, {5000, 7}};

TEST(LectureRobustesse, LesLecturesCourtesDonnentLeMemeResultat) {
    // A long line (past 8 KiB), CR LF pairs, a multi-byte character and a
    // last line ending with a CR but no LF.
    const std::string longue = R"({"matchId":"m","weaponId":")" + std::string(9000, 'w') + R"(","timestampMs":3})";
    const std::string texte = R"({"matchId":"m","weaponId":"é€😀","timestampMs":5})"
                              "\r\n\r\n" +
                              longue +
                              "\r\n \u00a0\r\n"
                              R"({"matchId":"m","timestampMs":1})"
                              "\r";
    const std::string attendu = en_une_fois(texte);
    ASSERT_FALSE(attendu.starts_with("erreur")) << attendu;
    EXPECT_EQ(attendu, "m|:1,;3," + std::string(9000, 'w') + ";5,é€😀;\n");
    for (const auto& d : decoupages) {
        SourceMorcelee source(texte, d);
        EXPECT_EQ(resume(lire_lots(source)), attendu) << "pieces of " << d.front();
    }
}

TEST(LectureRobustesse, LesErreursGardentLeNumeroDeLigneQuelQueSoitLeDecoupage) {
    const std::string longue = R"({"autre":")" + std::string(9000, 'x') + R"("})";
    const std::vector<std::pair<std::string, std::string>> cas = {
        {"{}\r\n" + longue + "\r\n\r\n{\"hit\":1}\r\n", "erreur ligne 4 : invalid type: integer `1`"},
        {longue + "\n\xC3\n", "erreur replay illisible : "},
        // A CR left before the LF is JSON white space; a no-break space is not.
        {"{}\n{\"yawDeg\":1.5}\r\r\n{}\xC2\xA0\r\n", "erreur ligne 3 : trailing characters"},
    };
    for (const auto& [texte, debut] : cas) {
        const std::string attendu = en_une_fois(texte);
        EXPECT_TRUE(attendu.starts_with(debut)) << attendu;
        for (const auto& d : decoupages) {
            SourceMorcelee source(texte, d);
            EXPECT_EQ(resume(lire_lots(source)), attendu) << "pieces of " << d.front();
        }
    }
}

TEST(LectureRobustesse, ConversionParMorceaux) {
    const std::string instantane =
        R"({"matchId":"m","localPlayerId":"p","timestampMs":%T,"weaponId":")" + std::string(8200, 'a') + R"("})";
    std::string texte;
    for (int t : {1, 2, 3}) {
        std::string ligne = instantane;
        ligne.replace(ligne.find("%T"), 2, std::to_string(t));
        texte += ligne + "\r\n";
    }
    commun::SortieChaine entiere;
    commun::SourceChaine source(texte);
    const auto attendu = convertir_flux(source, entiere);
    ASSERT_TRUE(attendu) << attendu.error();
    EXPECT_EQ(attendu->trames, 3u);
    for (const auto& d : decoupages) {
        SourceMorcelee morceaux(texte, d);
        commun::SortieChaine sortie;
        const auto r = convertir_flux(morceaux, sortie);
        ASSERT_TRUE(r) << r.error();
        EXPECT_EQ(r->instantanes, 3u);
        EXPECT_EQ(sortie.texte, entiere.texte);
    }
}

}  // namespace
