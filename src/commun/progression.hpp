#pragma once
// A progress line for long reads, drawn only for a person watching a terminal.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "commun/fichier.hpp"

namespace commun {

// The stream is a terminal (a console on Windows), not a file or a pipe.
bool est_terminal(std::FILE* flux);

// "lu 120 Mo sur 450 Mo (26 %), 95 Mo/s, reste 3 s": what the progress line says
// after `secondes` of work; the total is unknown when 0.
std::string texte_progression(std::uint64_t lus, std::uint64_t total, double secondes);

// One self-updating line on the error stream while long work runs: bytes read of
// the total, MB/s, time left. A thread of its own redraws it four times a second,
// from half a second on, so quick runs show nothing; `avancer` only adds to a
// counter. Nothing at all (no thread, no byte) unless `actif`. The line is
// erased with spaces and a carriage return, which every terminal and console
// understands, so the bytes written after it are exactly those of a run without
// it. `terminer` erases it (once) and must come before any other message; the
// destructor calls it.
class Progression {
public:
    Progression(SortieOctets& erreurs, std::uint64_t total_octets, bool actif);
    Progression(const Progression&) = delete;
    Progression& operator=(const Progression&) = delete;
    ~Progression();

    // Thread-safe.
    void avancer(std::uint64_t octets) { lus_.fetch_add(octets, std::memory_order_relaxed); }
    void terminer();

private:
    void boucle();
    void dessiner();

    SortieOctets& erreurs_;
    const std::uint64_t total_;
    const std::chrono::steady_clock::time_point debut_;
    std::atomic<std::uint64_t> lus_{0};
    std::mutex mutex_;
    std::condition_variable reveil_;
    bool arret_ = false;
    std::size_t largeur_ = 0;  // characters of the line on screen
    std::thread fil_;
};

}  // namespace commun
