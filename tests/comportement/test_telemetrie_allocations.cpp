// Reading a frame must not allocate beyond the frame's own texts: counted
// through the global allocation functions of this test program.
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "comportement/lecture_telemetrie.hpp"

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t n) {
    ++allocations;
    if (void* p = std::malloc(n != 0 ? n : 1)) return p;
    throw std::bad_alloc();
}
// The library's own stable sorts take their buffers with the nothrow form: it must go through the same
// heap as the deletes below.
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    ++allocations;
    return std::malloc(n != 0 ? n : 1);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

TEST(TelemetrieAllocations, UneLigneNAlloueQueLesTextesDeLaTrame) {
    // Short texts fit in the strings themselves; the ignored value exercises
    // the skipping path; the escape exercises the surrogate check.
    const std::string ligne =
        R"({"matchId":"m1","playerId":"p\u00e9","timestampMs":5,"yawDeg":1.5,"targetId":"t","weaponId":"ak",)"
        R"("inconnu":[1,{"a":[[["b"]]]}],"acquisitionMode":"x","acquisitionConfidence":0.25})";
    commun::json::Lecteur lecteur;
    comportement::TrameTelemetrie echauffement;
    ASSERT_TRUE(lecteur.lire_ligne(ligne, comportement::schema_trame(), echauffement));
    const long avant = allocations.load();
    for (int i = 0; i < 100; ++i) {
        comportement::TrameTelemetrie t;
        const bool lu = lecteur.lire_ligne(ligne, comportement::schema_trame(), t).has_value();
        if (!lu || t.acquisitionConfidence != 0.25) {
            FAIL() << "line not read";
        }
    }
    EXPECT_EQ(allocations.load() - avant, 0);
}

}  // namespace
