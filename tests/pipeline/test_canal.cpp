#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "pipeline/canal.hpp"

namespace {

using pipeline::EtatReception;
using namespace std::chrono_literals;

// Waits up to a second for a condition another thread makes true.
template <typename F>
bool attendre(F&& condition) {
    for (int i = 0; i < 1000; ++i) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(1ms);
    }
    return condition();
}

TEST(Canal, PremierEntrePremierSorti) {
    auto [tx, rx] = pipeline::creer_canal<int>(4);
    int v = -1;
    EXPECT_EQ(rx.essayer_recevoir(v), EtatReception::vide);
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(tx.envoyer(i).has_value());
    }
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(rx.essayer_recevoir(v), EtatReception::recu);
        EXPECT_EQ(v, i);
    }
    EXPECT_EQ(rx.essayer_recevoir(v), EtatReception::vide);
}

TEST(Canal, EnvoiBloqueQuandPleinLibereParUneReception) {
    auto [tx, rx] = pipeline::creer_canal<int>(2);
    EXPECT_FALSE(tx.envoyer(1).has_value());
    EXPECT_FALSE(tx.envoyer(2).has_value());
    std::atomic<bool> fini{false};
    std::thread t([&, &tx = tx] {
        EXPECT_FALSE(tx.envoyer(3).has_value());
        fini = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(fini.load()) << "the third send should wait for room";
    int v = 0;
    ASSERT_EQ(rx.essayer_recevoir(v), EtatReception::recu);
    EXPECT_EQ(v, 1);
    EXPECT_TRUE(attendre([&] { return fini.load(); }));
    t.join();
    ASSERT_EQ(rx.essayer_recevoir(v), EtatReception::recu);
    EXPECT_EQ(v, 2);
    ASSERT_EQ(rx.essayer_recevoir(v), EtatReception::recu);
    EXPECT_EQ(v, 3);
}

TEST(Canal, CapaciteNulleDevientUn) {
    auto [tx, rx] = pipeline::creer_canal<int>(0);
    EXPECT_FALSE(tx.envoyer(7).has_value());
    int v = 0;
    ASSERT_EQ(rx.essayer_recevoir(v), EtatReception::recu);
    EXPECT_EQ(v, 7);
}

TEST(Canal, RecepteurPartiRendLaValeur) {
    auto [tx, rx] = pipeline::creer_canal<std::unique_ptr<int>>(1);
    EXPECT_FALSE(tx.envoyer(std::make_unique<int>(1)).has_value());
    // A sender blocked on a full channel is released when the receiver goes.
    std::optional<std::unique_ptr<int>> rendu;
    std::atomic<bool> fini{false};
    std::thread t([&, &tx = tx] {
        rendu = tx.envoyer(std::make_unique<int>(2));
        fini = true;
    });
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(fini.load());
    rx.fermer();
    EXPECT_TRUE(attendre([&] { return fini.load(); }));
    t.join();
    ASSERT_TRUE(rendu.has_value());
    ASSERT_TRUE(*rendu);
    EXPECT_EQ(**rendu, 2);
    // And every later send hands its value back at once.
    auto encore = tx.envoyer(std::make_unique<int>(3));
    ASSERT_TRUE(encore.has_value());
    EXPECT_EQ(**encore, 3);
}

TEST(Canal, EmetteurPartiApresLesValeursRestantes) {
    auto [tx, rx] = pipeline::creer_canal<int>(3);
    EXPECT_FALSE(tx.envoyer(1).has_value());
    EXPECT_FALSE(tx.envoyer(2).has_value());
    { auto parti = std::move(tx); }
    int v = 0;
    ASSERT_EQ(rx.essayer_recevoir(v), EtatReception::recu);
    EXPECT_EQ(v, 1);
    ASSERT_EQ(rx.essayer_recevoir(v), EtatReception::recu);
    EXPECT_EQ(v, 2);
    EXPECT_EQ(rx.essayer_recevoir(v), EtatReception::deconnecte);
    EXPECT_EQ(rx.essayer_recevoir(v), EtatReception::deconnecte);
}

}  // namespace
