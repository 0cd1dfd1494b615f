#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "support/dossier_temp.hpp"
#include "lecture_ebml.hpp"
#include "mkv/ebml.hpp"
#include "mkv/ecrivain.hpp"

namespace {

using essai::Element;
using essai::Octets;
namespace id = mkv::ebml;

Octets texte(std::string_view s) { return Octets(s.begin(), s.end()); }

Octets concat(std::initializer_list<Octets> parties) {
    Octets r;
    for (const auto& p : parties) {
        r.insert(r.end(), p.begin(), p.end());
    }
    return r;
}

Octets motif(std::size_t n, std::uint8_t graine = 0) {
    Octets r(n);
    for (std::size_t i = 0; i < n; ++i) {
        r[i] = static_cast<std::uint8_t>((i + graine) % 251 + 1);
    }
    return r;
}

Octets extrait(const Octets& o, std::uint64_t debut, std::uint64_t n) {
    return Octets(o.begin() + static_cast<std::ptrdiff_t>(debut), o.begin() + static_cast<std::ptrdiff_t>(debut + n));
}

const Octets codec_prive = {0x01, 0x64, 0x00, 0x1F, 0xFF, 0xE1, 0x00, 0x01, 0x67, 0x01};

mkv::EcrivainMkv creer(const std::filesystem::path& p, bool audio = false) {
    auto e = mkv::EcrivainMkv::creer(p, codec_prive, 1280, 720, audio);
    if (!e) {
        ADD_FAILURE() << e.error().chaine();
        std::abort();
    }
    return std::move(*e);
}

constexpr std::uint64_t debut_segment = 52;
constexpr std::uint64_t debut_info = 148;
constexpr std::uint64_t debut_tracks = 199;

const Octets entete_attendu = {0x1A, 0x45, 0xDF, 0xA3, 0xA3, 0x42, 0x86, 0x81, 0x01, 0x42, 0xF7, 0x81, 0x01, 0x42,
                               0xF2, 0x81, 0x04, 0x42, 0xF3, 0x81, 0x08, 0x42, 0x82, 0x88, 0x6D, 0x61, 0x74, 0x72,
                               0x6F, 0x73, 0x6B, 0x61, 0x42, 0x87, 0x81, 0x04, 0x42, 0x85, 0x81, 0x02};

TEST(EncodageEbml, ChampsDeTaille) {
    auto taille = [](std::uint64_t n) {
        Octets o;
        id::ajouter_taille(o, n);
        return o;
    };
    EXPECT_EQ(taille(0), (Octets{0x80}));
    EXPECT_EQ(taille(126), (Octets{0xFE}));
    EXPECT_EQ(taille(127), (Octets{0x40, 0x7F}));
    EXPECT_EQ(taille(16382), (Octets{0x7F, 0xFE}));
    EXPECT_EQ(taille(16383), (Octets{0x20, 0x3F, 0xFF}));
    // Nothing fits below 8 bytes: 0x01 and the low 7 bytes.
    EXPECT_EQ(taille((std::uint64_t{1} << 56) - 1), (Octets{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(EncodageEbml, EntiersMinimauxEtVoid) {
    auto uint_min = [](std::uint64_t v) {
        Octets o;
        id::element_uint_min(o, id::id_timestamp, v);
        return o;
    };
    EXPECT_EQ(uint_min(0), (Octets{0xE7, 0x81, 0x00}));
    EXPECT_EQ(uint_min(255), (Octets{0xE7, 0x81, 0xFF}));
    EXPECT_EQ(uint_min(256), (Octets{0xE7, 0x82, 0x01, 0x00}));
    EXPECT_EQ(uint_min(~std::uint64_t{0}).size(), 10u);
    Octets v;
    id::element_void(v, 10);
    EXPECT_EQ(v, (Octets{0xEC, 0x01, 0, 0, 0, 0, 0, 0, 0x01, 0x00}));
}

TEST(EcrivainMkv, EnTeteSegmentVoidInfoEtPistes) {
    essai::DossierTemp dossier;
    const auto p = dossier / "a.mkv";
    auto e = creer(p);
    const Octets o = essai::lire_octets(p);

    const Octets segment = {0x18, 0x53, 0x80, 0x67, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    Octets void96 = {0xEC, 0x01, 0, 0, 0, 0, 0, 0, 0x57};
    void96.resize(96, 0);
    const Octets info =
        concat({{0x15, 0x49, 0xA9, 0x66, 0xAE, 0x2A, 0xD7, 0xB1, 0x83, 0x0F, 0x42, 0x40, 0x4D, 0x80, 0x88},
                texte("Quillory"),
                {0x57, 0x41, 0x8E},
                texte("Quillory 1.2.0"),
                {0x44, 0x89, 0x88, 0, 0, 0, 0, 0, 0, 0, 0}});
    const Octets pistes = concat({{0x16, 0x54, 0xAE, 0x6B, 0xB4, 0xAE, 0xB2, 0xD7, 0x81, 0x01, 0x73, 0xC5, 0x81, 0x01,
                                   0x83, 0x81, 0x01, 0x86, 0x8F},
                                  texte("V_MPEG4/ISO/AVC"),
                                  {0x63, 0xA2, 0x8A},
                                  codec_prive,
                                  // PixelWidth 1280 and PixelHeight 720.
                                  {0xE0, 0x88, 0xB0, 0x82, 0x05, 0x00, 0xBA, 0x82, 0x02, 0xD0}});
    EXPECT_EQ(o, concat({entete_attendu, segment, void96, info, pistes}));
    EXPECT_EQ(e.position_apres_dernier_cluster(), o.size());
}

TEST(EcrivainMkv, PisteAudioOpus) {
    essai::DossierTemp dossier;
    const auto p = dossier / "a.mkv";
    auto e = creer(p, true);
    const Octets o = essai::lire_octets(p);
    const Octets entree = concat({{0xAE, 0xC4, 0xD7, 0x81, 0x02, 0x73, 0xC5, 0x81, 0x02, 0x83, 0x81, 0x02, 0x86, 0x86},
                                  texte("A_OPUS"),
                                  {0x63, 0xA2, 0x93},
                                  texte("OpusHead"),
                                  {0x01, 0x02, 0x38, 0x01, 0x80, 0xBB, 0x00, 0x00, 0x00, 0x00, 0x00},
                                  {0x56, 0xAA, 0x83, 0x63, 0x2E, 0xA0, 0x56, 0xBB, 0x84, 0x04, 0xC4, 0xB4, 0x00},
                                  {0xE1, 0x8D, 0xB5, 0x88, 0x40, 0xE7, 0x70, 0, 0, 0, 0, 0, 0x9F, 0x81, 0x02}});
    ASSERT_GE(o.size(), entree.size());
    EXPECT_EQ(extrait(o, o.size() - entree.size(), entree.size()), entree);
    // Tracks now holds both entries.
    const auto tracks = essai::lire_element(o, debut_tracks);
    ASSERT_TRUE(tracks);
    EXPECT_EQ(tracks->fin(), o.size());
    EXPECT_EQ(essai::filtrer(essai::enfants(o, *tracks), id::id_track_entry).size(), 2u);
}

TEST(EcrivainMkv, BlocsSimplesOctetParOctet) {
    essai::DossierTemp dossier;
    const auto p = dossier / "a.mkv";
    auto e = creer(p);
    const std::uint64_t debut_cluster = e.position_apres_dernier_cluster();
    const Octets image = motif(1000);
    const Octets petite = motif(10, 7);
    ASSERT_TRUE(e.ecrire_bloc(1, 0, true, image));
    ASSERT_TRUE(e.ecrire_bloc(1, 33, false, petite));
    // Blocks stay in memory until the cluster is written.
    EXPECT_EQ(essai::lire_octets(p).size(), debut_cluster);
    ASSERT_TRUE(e.vider_cluster());

    const Octets o = essai::lire_octets(p);
    const Octets attendu = concat({{0x1F, 0x43, 0xB6, 0x75, 0x44, 0x02, 0xE7, 0x81, 0x00},
                                   {0xA3, 0x43, 0xEC, 0x81, 0x00, 0x00, 0x80},
                                   image,
                                   {0xA3, 0x8E, 0x81, 0x00, 0x21, 0x00},
                                   petite});
    ASSERT_EQ(o.size(), debut_cluster + attendu.size());
    EXPECT_EQ(extrait(o, debut_cluster, attendu.size()), attendu);
    EXPECT_EQ(e.position_apres_dernier_cluster(), o.size());
    // Nothing open: a second call writes nothing.
    ASSERT_TRUE(e.vider_cluster());
    EXPECT_EQ(essai::lire_octets(p).size(), o.size());
}

TEST(EcrivainMkv, TailleDeBlocSur126Et127Octets) {
    essai::DossierTemp dossier;
    const auto p = dossier / "a.mkv";
    auto e = creer(p);
    const std::uint64_t debut_cluster = e.position_apres_dernier_cluster();
    ASSERT_TRUE(e.ecrire_bloc(1, 2000, true, motif(122)));
    ASSERT_TRUE(e.ecrire_bloc(1, 2001, false, motif(123)));
    ASSERT_TRUE(e.vider_cluster());
    const Octets o = essai::lire_octets(p);
    // Cluster of time stamp 2000, first block with a 126-byte payload, second with 127.
    EXPECT_EQ(extrait(o, debut_cluster + 6, 4), (Octets{0xE7, 0x82, 0x07, 0xD0}));
    EXPECT_EQ(extrait(o, debut_cluster + 10, 2), (Octets{0xA3, 0xFE}));
    EXPECT_EQ(extrait(o, debut_cluster + 10 + 2 + 126, 3), (Octets{0xA3, 0x40, 0x7F}));
}

TEST(EcrivainMkv, ClusterPlusGrandQueLeTampon) {
    essai::DossierTemp dossier;
    const auto p = dossier / "g.mkv";
    const Octets grande = motif(1536 * 1024, 3);
    const Octets petite = motif(100, 9);
    {
        auto e = creer(p);
        ASSERT_TRUE(e.ecrire_bloc(1, 0, true, petite));
        ASSERT_TRUE(e.ecrire_bloc(1, 33, false, grande));
        ASSERT_TRUE(e.ecrire_bloc(1, 2000, true, petite));
        ASSERT_TRUE(std::move(e).terminer());
    }
    const Octets o = essai::lire_octets(p);
    const auto segment = essai::lire_element(o, 40);
    ASSERT_TRUE(segment);
    EXPECT_EQ(segment->fin(), o.size());
    const auto clusters = essai::filtrer(essai::enfants(o, *segment), id::id_cluster);
    ASSERT_EQ(clusters.size(), 2u);
    std::vector<Octets> trames;
    for (const auto& c : clusters) {
        for (const auto& b : essai::filtrer(essai::enfants(o, c), id::id_simple_block)) {
            trames.emplace_back(o.begin() + static_cast<std::ptrdiff_t>(b.debut_donnees + 4),
                                o.begin() + static_cast<std::ptrdiff_t>(b.fin()));
        }
    }
    EXPECT_EQ(trames, (std::vector<Octets>{petite, grande, petite}));
}

struct Bloc {
    std::int64_t relatif;
    bool cle;
    std::uint8_t piste;
    bool operator==(const Bloc&) const = default;
};
struct Cluster {
    std::uint64_t temps;
    std::vector<Bloc> blocs;
    bool operator==(const Cluster&) const = default;
};

std::vector<Cluster> lire_clusters(const Octets& o) {
    const auto segment = essai::lire_element(o, 40);
    EXPECT_TRUE(segment && segment->id == id::id_segment);
    std::vector<Cluster> r;
    for (const Element& c : essai::filtrer(essai::enfants(o, *segment), id::id_cluster)) {
        Cluster cl{};
        for (const Element& x : essai::enfants(o, c)) {
            if (x.id == id::id_timestamp) {
                cl.temps = essai::valeur_uint(o, x);
            } else if (x.id == id::id_simple_block) {
                const auto* b = o.data() + x.debut_donnees;
                const auto rel = static_cast<std::int16_t>((b[1] << 8) | b[2]);
                cl.blocs.push_back({rel, b[3] == 0x80, static_cast<std::uint8_t>(b[0] & 0x7F)});
            }
        }
        r.push_back(cl);
    }
    return r;
}

TEST(EcrivainMkv, ChangementDeCluster) {
    essai::DossierTemp dossier;
    struct Cas {
        const char* nom;
        std::vector<std::tuple<std::uint8_t, std::int64_t, bool>> blocs;
        std::vector<Cluster> attendu;
    };
    const std::vector<Cas> cas = {
        {"clé à 999 puis 1000 ms",
         {{1, 0, true}, {1, 999, true}, {1, 1000, true}},
         {{0, {{0, true, 1}, {999, true, 1}}}, {1000, {{0, true, 1}}}}},
        {"non clé à 4999 puis 5000 ms",
         {{1, 0, true}, {1, 4999, false}, {1, 5000, false}},
         {{0, {{0, true, 1}, {4999, false, 1}}}, {5000, {{0, false, 1}}}}},
        {"clé audio à 1000 ms reste",
         {{1, 0, true}, {2, 1000, true}, {2, 4999, true}, {2, 5000, true}},
         {{0, {{0, true, 1}, {1000, true, 2}, {4999, true, 2}}}, {5000, {{0, true, 2}}}}},
        {"31 s en arrière",
         {{1, 40000, true}, {1, 10000, false}, {1, 9000, false}},
         {{40000, {{0, true, 1}, {-30000, false, 1}}}, {9000, {{0, false, 1}}}}},
    };
    for (const auto& c : cas) {
        SCOPED_TRACE(c.nom);
        const auto p = dossier / "c.mkv";
        {
            auto e = creer(p);
            for (const auto& [piste, t, cle] : c.blocs) {
                ASSERT_TRUE(e.ecrire_bloc(piste, t, cle, motif(20)));
            }
            ASSERT_TRUE(std::move(e).terminer());
        }
        EXPECT_EQ(lire_clusters(essai::lire_octets(p)), c.attendu);
    }
}

TEST(EcrivainMkv, TempsDeClusterNegatifEcritZero) {
    essai::DossierTemp dossier;
    const auto p = dossier / "n.mkv";
    {
        auto e = creer(p);
        ASSERT_TRUE(e.ecrire_bloc(1, -500, true, motif(30)));
        ASSERT_TRUE(e.ecrire_bloc(1, -400, false, motif(30)));
        ASSERT_TRUE(std::move(e).terminer());
    }
    const Octets o = essai::lire_octets(p);
    EXPECT_EQ(lire_clusters(o), (std::vector<Cluster>{{0, {{0, true, 1}, {100, false, 1}}}}));
    const auto segment = essai::lire_element(o, 40);
    const auto cues = essai::filtrer(essai::enfants(o, *segment), id::id_cues);
    ASSERT_EQ(cues.size(), 1u);
    const auto point = essai::enfants(o, cues[0]);
    ASSERT_EQ(point.size(), 1u);
    const auto temps = essai::filtrer(essai::enfants(o, point[0]), id::id_cue_time);
    ASSERT_EQ(temps.size(), 1u);
    EXPECT_EQ(extrait(o, temps[0].debut, 3), (Octets{0xB3, 0x81, 0x00}));
}

TEST(EcrivainMkv, DureeEstLePlusGrandHorodatage) {
    essai::DossierTemp dossier;
    const auto p = dossier / "d.mkv";
    {
        auto e = creer(p);
        ASSERT_TRUE(e.ecrire_bloc(1, 0, true, motif(10)));
        ASSERT_TRUE(e.ecrire_bloc(1, 9967, false, motif(10)));
        ASSERT_TRUE(e.ecrire_bloc(1, 9000, false, motif(10)));
        ASSERT_TRUE(std::move(e).terminer());
    }
    const Octets o = essai::lire_octets(p);
    EXPECT_EQ(extrait(o, debut_info + 40, 11), (Octets{0x44, 0x89, 0x88, 0x40, 0xC3, 0x77, 0x80, 0, 0, 0, 0}));
}

struct Structure {
    Element segment;
    std::vector<Element> enfants;
    std::vector<std::pair<std::uint32_t, std::uint64_t>> seeks;
};

Structure structure(const Octets& o) {
    Structure s{};
    const auto segment = essai::lire_element(o, 40);
    EXPECT_TRUE(segment.has_value());
    s.segment = *segment;
    s.enfants = essai::enfants(o, s.segment);
    if (!s.enfants.empty() && s.enfants[0].id == id::id_seek_head) {
        for (const Element& seek : essai::enfants(o, s.enfants[0])) {
            EXPECT_EQ(seek.id, id::id_seek);
            const auto x = essai::enfants(o, seek);
            EXPECT_EQ(x.size(), 2u);
            if (x.size() == 2) {
                EXPECT_EQ(x[0].id, id::id_seek_id);
                EXPECT_EQ(x[0].taille, 4u);
                EXPECT_EQ(x[1].id, id::id_seek_position);
                s.seeks.emplace_back(static_cast<std::uint32_t>(essai::valeur_uint(o, x[0])),
                                     essai::valeur_uint(o, x[1]));
            }
        }
    }
    return s;
}

std::vector<std::uint32_t> ids(const std::vector<Element>& v) {
    std::vector<std::uint32_t> r;
    for (const auto& e : v) {
        r.push_back(e.id);
    }
    return r;
}

TEST(EcrivainMkv, FichierTermineAvecUnCluster) {
    essai::DossierTemp dossier;
    const auto p = dossier / "t.mkv";
    {
        auto e = creer(p);
        ASSERT_TRUE(e.ecrire_bloc(1, 0, true, motif(500)));
        ASSERT_TRUE(e.ecrire_bloc(1, 33, false, motif(100)));
        EXPECT_EQ(e.retours_arriere(), 0u);
        ASSERT_TRUE(std::move(e).terminer());
    }
    const Octets o = essai::lire_octets(p);
    const Structure s = structure(o);
    EXPECT_FALSE(s.segment.inconnue);
    EXPECT_EQ(s.segment.taille, o.size() - debut_segment);
    ASSERT_EQ(ids(s.enfants), (std::vector<std::uint32_t>{id::id_seek_head, id::id_void, id::id_info, id::id_tracks,
                                                          id::id_cluster, id::id_cues}));
    // SeekHead and Void fill the reserved 96 bytes exactly.
    EXPECT_EQ(s.enfants[1].fin(), debut_info);
    EXPECT_GE(s.enfants[1].fin() - s.enfants[1].debut, 10u);
    EXPECT_EQ(s.seeks, (std::vector<std::pair<std::uint32_t, std::uint64_t>>{
                           {id::id_info, debut_info - debut_segment},
                           {id::id_tracks, debut_tracks - debut_segment},
                           {id::id_cues, s.enfants[5].debut - debut_segment}}));
    const auto points = essai::enfants(o, s.enfants[5]);
    ASSERT_EQ(ids(points), (std::vector<std::uint32_t>{id::id_cue_point}));
    const auto cp = essai::enfants(o, points[0]);
    ASSERT_EQ(ids(cp), (std::vector<std::uint32_t>{id::id_cue_time, id::id_cue_track_positions}));
    EXPECT_EQ(essai::valeur_uint(o, cp[0]), 0u);
    const auto pos = essai::enfants(o, cp[1]);
    ASSERT_EQ(ids(pos), (std::vector<std::uint32_t>{id::id_cue_track, id::id_cue_cluster_position}));
    EXPECT_EQ(essai::valeur_uint(o, pos[0]), 1u);
    EXPECT_EQ(essai::valeur_uint(o, pos[1]), s.enfants[4].debut - debut_segment);
    // Duration 33.0.
    EXPECT_EQ(extrait(o, debut_info + 43, 8), (Octets{0x40, 0x40, 0x80, 0, 0, 0, 0, 0}));
}

TEST(EcrivainMkv, FichierTermineSansBloc) {
    essai::DossierTemp dossier;
    const auto p = dossier / "v.mkv";
    ASSERT_TRUE(creer(p).terminer());
    const Octets o = essai::lire_octets(p);
    const Structure s = structure(o);
    EXPECT_EQ(s.segment.taille, o.size() - debut_segment);
    EXPECT_EQ(ids(s.enfants), (std::vector<std::uint32_t>{id::id_seek_head, id::id_void, id::id_info, id::id_tracks}));
    EXPECT_EQ(s.seeks.size(), 2u);
    EXPECT_EQ(extrait(o, debut_info + 43, 8), Octets(8, 0));
}

TEST(EcrivainMkv, AbandonSansTerminerGardeLesClustersFermes) {
    essai::DossierTemp dossier;
    const auto p = dossier / "x.mkv";
    std::uint64_t apres = 0;
    {
        auto e = creer(p);
        ASSERT_TRUE(e.ecrire_bloc(1, 0, true, motif(40)));
        ASSERT_TRUE(e.ecrire_bloc(1, 1000, true, motif(40)));
        ASSERT_TRUE(e.ecrire_bloc(1, 1033, false, motif(40)));
        apres = e.position_apres_dernier_cluster();
    }
    const Octets o = essai::lire_octets(p);
    EXPECT_EQ(o.size(), apres);
    const Structure s = structure(o);
    EXPECT_TRUE(s.segment.inconnue);
    EXPECT_EQ(ids(s.enfants), (std::vector<std::uint32_t>{id::id_void, id::id_info, id::id_tracks, id::id_cluster}));
    EXPECT_EQ(s.enfants.back().fin(), o.size());
    EXPECT_EQ(lire_clusters(o), (std::vector<Cluster>{{0, {{0, true, 1}}}}));
}

TEST(EcrivainMkv, CheminImpossible) {
    essai::DossierTemp dossier;
    const auto p = dossier / "absent" / "x.mkv";
    auto e = mkv::EcrivainMkv::creer(p, codec_prive, 1280, 720, false);
    ASSERT_FALSE(e);
    EXPECT_EQ(e.error().chaine(), "création de " + p.string() + " : " + commun::texte_errno(ENOENT));
    EXPECT_FALSE(std::filesystem::exists(p));
}

TEST(EcrivainMkv, DisquePleinALaCreation) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "/dev/full absent";
    }
    auto e = mkv::EcrivainMkv::creer("/dev/full", codec_prive, 1280, 720, false);
    ASSERT_FALSE(e);
    EXPECT_EQ(e.error().chaine(), commun::texte_errno(ENOSPC));
}

// In a child process whose file size limit stops the writer part-way through: the error must
// come back from the writer, and every cluster completed before it must be whole in the file.
TEST(EcrivainMkv, ErreurEnCoursDeRoute) {
    essai::DossierTemp dossier;
    const auto p = dossier / "l.mkv";
    constexpr std::uint64_t limite = 20000;
    const pid_t enfant = ::fork();
    ASSERT_GE(enfant, 0);
    if (enfant == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{};
        ::getrlimit(RLIMIT_FSIZE, &lim);
        lim.rlim_cur = limite;
        ::setrlimit(RLIMIT_FSIZE, &lim);
        auto e = mkv::EcrivainMkv::creer(p, codec_prive, 1280, 720, false);
        if (!e) {
            ::_exit(10);
        }
        for (int i = 0; i < 100; ++i) {
            // One keyframe per second: each block closes the previous cluster.
            auto r = e->ecrire_bloc(1, i * 1000, true, motif(3000, static_cast<std::uint8_t>(i)));
            if (!r) {
                if (r.error().chaine() != commun::texte_errno(EFBIG)) {
                    ::_exit(11);
                }
                // The failure sticks even once room is back: nothing more reaches the file,
                // where it would land after a partial cluster.
                lim.rlim_cur = lim.rlim_max;
                ::setrlimit(RLIMIT_FSIZE, &lim);
                if (e->ecrire_bloc(1, (i + 1) * 1000, true, motif(10)) || std::move(*e).terminer()) {
                    ::_exit(12);
                }
                ::_exit(0);
            }
        }
        ::_exit(13);
    }
    int statut = 0;
    ASSERT_EQ(::waitpid(enfant, &statut, 0), enfant);
    ASSERT_TRUE(WIFEXITED(statut));
    ASSERT_EQ(WEXITSTATUS(statut), 0);

    const Octets o = essai::lire_octets(p);
    EXPECT_EQ(o.size(), limite);
    const auto clusters = lire_clusters(o);
    // Clusters start at offset 256 and take 3016 then 3017 bytes: six end below the limit.
    ASSERT_EQ(clusters.size(), 6u);
    for (std::size_t i = 0; i < clusters.size(); ++i) {
        EXPECT_EQ(clusters[i], (Cluster{i * 1000, {{0, true, 1}}}));
    }
}

}  // namespace
