#include <gtest/gtest.h>

#include <cerrno>
#include <limits>

#include "support/dossier_temp.hpp"
#include "lecture_ebml.hpp"
#include "mkv/ebml.hpp"
#include "mkv/sortie.hpp"

namespace {

using essai::Octets;
using pipeline::ImageEncodee;
namespace id = mkv::ebml;

const Octets aud = {0, 0, 0, 1, 0x09, 0xF0};
const Octets sps = {0, 0, 0, 1, 0x67, 0x64, 0x00, 0x1F, 0xAC};
const Octets pps = {0, 0, 0, 1, 0x68, 0xEB, 0xE3};

Octets concat(std::initializer_list<Octets> parties) {
    Octets r;
    for (const auto& p : parties) {
        r.insert(r.end(), p.begin(), p.end());
    }
    return r;
}

ImageEncodee image(std::int64_t horodatage, bool cle, std::uint8_t marque) {
    const Octets tranche = {0, 0, 1, static_cast<std::uint8_t>(cle ? 0x65 : 0x41), marque};
    return {cle ? concat({aud, sps, pps, tranche}) : concat({aud, tranche}), horodatage, 333333, cle};
}

struct Bloc {
    std::int64_t temps;  // cluster time + relative time
    bool cle;
    Octets trame;
};

std::vector<Bloc> lire_blocs(const Octets& o) {
    std::vector<Bloc> r;
    const auto segment = essai::lire_element(o, 40);
    EXPECT_TRUE(segment.has_value());
    for (const auto& c : essai::filtrer(essai::enfants(o, *segment), id::id_cluster)) {
        std::int64_t base = 0;
        for (const auto& x : essai::enfants(o, c)) {
            if (x.id == id::id_timestamp) {
                base = static_cast<std::int64_t>(essai::valeur_uint(o, x));
            } else if (x.id == id::id_simple_block) {
                const auto* b = o.data() + x.debut_donnees;
                const auto rel = static_cast<std::int16_t>((b[1] << 8) | b[2]);
                r.push_back({base + rel, b[3] == 0x80, Octets(b + 4, b + x.taille)});
            }
        }
    }
    return r;
}

class Sortie : public ::testing::Test {
protected:
    Sortie() : canal_(pipeline::creer_canal<ImageEncodee>(30)) {}
    void envoyer(ImageEncodee i) { ASSERT_FALSE(canal_.first.envoyer(std::move(i)).has_value()); }
    std::expected<void, commun::Erreur> vider() {
        return mkv::ecrire_images_encodees(canal_.second, chemin_, etat_, octets_);
    }
    Octets terminer() {
        EXPECT_TRUE(etat_.ecrivain.has_value());
        if (etat_.ecrivain) {
            EXPECT_TRUE(std::move(*etat_.ecrivain).terminer());
            etat_.ecrivain.reset();
        }
        return essai::lire_octets(chemin_);
    }

    essai::DossierTemp dossier_;
    std::filesystem::path chemin_ = dossier_ / "s.mkv";
    std::pair<pipeline::Emetteur<ImageEncodee>, pipeline::Recepteur<ImageEncodee>> canal_;
    mkv::EtatSortie etat_{1280, 720};
    std::atomic<std::uint64_t> octets_{0};
};

TEST_F(Sortie, ImagesAvantLaPremiereCleIgnoreesEtTempsRebases) {
    const std::int64_t t0 = 50'000'000;
    envoyer(image(t0 - 666666, false, 1));
    envoyer(image(t0 - 333333, false, 2));
    ASSERT_TRUE(vider());
    // No keyframe yet: no file.
    EXPECT_FALSE(etat_.ecrivain.has_value());
    EXPECT_FALSE(std::filesystem::exists(chemin_));
    EXPECT_EQ(octets_.load(), 0u);

    envoyer(image(t0, true, 3));
    envoyer(image(t0 + 333333, false, 4));
    envoyer(image(t0 + 666666, false, 5));
    // Before the first keyframe: truncated toward zero, not rounded down.
    envoyer(image(t0 - 9999, false, 6));
    envoyer(image(t0 - 10001, false, 7));
    ASSERT_TRUE(vider());
    ASSERT_TRUE(etat_.ecrivain.has_value());
    EXPECT_EQ(etat_.premier_horodatage, t0);

    const auto blocs = lire_blocs(terminer());
    ASSERT_EQ(blocs.size(), 5u);
    const std::vector<std::int64_t> temps = {0, 33, 66, 0, -1};
    for (std::size_t i = 0; i < blocs.size(); ++i) {
        EXPECT_EQ(blocs[i].temps, temps[i]) << i;
        EXPECT_EQ(blocs[i].cle, i == 0) << i;
    }
    // Length-prefixed, delimiter gone, parameter sets kept in band.
    EXPECT_EQ(blocs[0].trame,
              (Octets{0, 0, 0, 5, 0x67, 0x64, 0x00, 0x1F, 0xAC, 0, 0, 0, 3, 0x68, 0xEB, 0xE3, 0, 0, 0, 2, 0x65, 3}));
    EXPECT_EQ(blocs[1].trame, (Octets{0, 0, 0, 2, 0x41, 4}));
}

TEST_F(Sortie, OctetsPubliesApresChaqueBloc) {
    envoyer(image(0, true, 1));
    ASSERT_TRUE(vider());
    const std::uint64_t apres_pistes = octets_.load();
    EXPECT_EQ(apres_pistes, std::filesystem::file_size(chemin_));
    EXPECT_GT(apres_pistes, 52u);

    // One second later a keyframe closes the first cluster, which is now on disk.
    envoyer(image(10'000'000, true, 2));
    ASSERT_TRUE(vider());
    EXPECT_GT(octets_.load(), apres_pistes);
    EXPECT_EQ(octets_.load(), std::filesystem::file_size(chemin_));
    EXPECT_EQ(octets_.load(), etat_.ecrivain->position_apres_dernier_cluster());
}

TEST_F(Sortie, CleSansParametresRefusee) {
    envoyer({concat({aud, sps, {0, 0, 1, 0x65, 1}}), 0, 0, true});
    auto r = vider();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().chaine(), "image clé sans SPS/PPS");
    EXPECT_FALSE(etat_.ecrivain.has_value());
    EXPECT_FALSE(std::filesystem::exists(chemin_));
}

TEST_F(Sortie, ErreurDeCreationTransmise) {
    chemin_ = dossier_ / "absent" / "s.mkv";
    envoyer(image(0, true, 1));
    auto r = vider();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().chaine(), "création de " + chemin_.string() + " : " + commun::texte_errno(ENOENT));
    EXPECT_FALSE(etat_.ecrivain.has_value());
}

TEST_F(Sortie, EmetteurParti) {
    envoyer(image(0, true, 1));
    canal_.first.fermer();
    // What was sent before the sender left is still written.
    ASSERT_TRUE(vider());
    ASSERT_TRUE(vider());
    EXPECT_EQ(lire_blocs(terminer()).size(), 1u);
}

TEST(TempsRelatif, TronqueVersZeroSansDebordement) {
    EXPECT_EQ(mkv::temps_relatif_ms(19999, 0), 1);
    EXPECT_EQ(mkv::temps_relatif_ms(-19999, 0), -1);
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    constexpr auto min = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(mkv::temps_relatif_ms(max, min), 1844674407370955);
    EXPECT_EQ(mkv::temps_relatif_ms(min, max), -1844674407370955);
}

}  // namespace
