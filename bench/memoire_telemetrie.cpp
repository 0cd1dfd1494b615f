// Peak resident memory of one lire_replay, per frame read.
//   memoire_telemetrie [fichier.jsonl]
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/resource.h>

#include "comportement/lecture_telemetrie.hpp"

namespace {

long pic_ko() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;  // KiB on Linux
}

}  // namespace

int main(int argc, char** argv) {
    const std::string chemin = argc > 1 ? argv[1] : BALISOR_BENCH_DONNEES "/telemetrie.jsonl";
    const long avant = pic_ko();
    auto lots = comportement::lire_replay(chemin);
    if (!lots) {
        std::fprintf(stderr, "%s : %s\n", chemin.c_str(), lots.error().c_str());
        return 1;
    }
    std::size_t trames = 0;
    for (const auto& l : *lots) trames += l.trames.size();
    const long apres = pic_ko();
    std::printf("%zu lots, %zu trames, pic %ld Kio (%ld Kio avant la lecture)\n", lots->size(), trames, apres, avant);
    std::printf("pic par trame : %.1f octets (hors mémoire d'avant la lecture : %.1f)\n",
                static_cast<double>(apres) * 1024.0 / static_cast<double>(trames),
                static_cast<double>(apres - avant) * 1024.0 / static_cast<double>(trames));
    return 0;
}
