#pragma once
// What the recording thread asks of Windows itself: COM for the thread, the 1 ms timer
// resolution, and precise relative sleeps.
#include <chrono>
#include <cstdint>

namespace enregistrement::windows {

// CoInitializeEx(NULL, COINIT_MULTITHREADED); the result is ignored and never undone.
void initialiser_com();

// timeBeginPeriod(1) / timeEndPeriod(1).
void debut_resolution_minuterie();
void fin_resolution_minuterie();

// Relative sleep on a high-resolution waitable timer (one per thread, created on first use),
// or a whole-millisecond Sleep rounded up where the system has no such timer.
void dormir(std::chrono::nanoseconds duree);

// Due time of a relative wait in 100-ns units (negative: relative), rounded up so the wait
// is never shorter than asked; at least one unit.
constexpr std::int64_t echeance_relative_100ns(std::chrono::nanoseconds duree) {
    const std::int64_t ns = duree.count() > 0 ? duree.count() : 0;
    const std::int64_t unites = ns / 100 + (ns % 100 != 0 ? 1 : 0);
    return -(unites > 0 ? unites : 1);
}

// Milliseconds of the fallback Sleep, rounded up.
constexpr std::uint32_t millisecondes_arrondies(std::chrono::nanoseconds duree) {
    const std::int64_t ns = duree.count() > 0 ? duree.count() : 0;
    const std::int64_t ms = ns / 1'000'000 + (ns % 1'000'000 != 0 ? 1 : 0);
    return ms > 0xffff'fffe ? 0xffff'fffeu : static_cast<std::uint32_t>(ms);
}

}  // namespace enregistrement::windows
