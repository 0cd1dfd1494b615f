// lire_replay against a bare RapidJSON SAX pass (same flags, counting objects)
// over the same JSON Lines file. The file comes from $BALISOR_TELEMETRIE or
// bench/donnees/telemetrie.jsonl (see generer_telemetrie).
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>
#include <rapidjson/filereadstream.h>
#include <rapidjson/reader.h>

#include "comportement/lecture_telemetrie.hpp"

namespace {

std::string fichier_donnees() {
    const char* env = std::getenv("BALISOR_TELEMETRIE");
    return env != nullptr ? env : BALISOR_BENCH_DONNEES "/telemetrie.jsonl";
}

struct Compteur : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Compteur> {
    std::size_t objets = 0;
    bool StartObject() {
        ++objets;
        return true;
    }
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return true; }
};

// Same flags as the reader's documents; the second variant leaves out UTF-8
// validation, which lire_replay does once per line in its line reader.
template <unsigned Validation>
void passe_nue(benchmark::State& etat) {
    const std::string chemin = fichier_donnees();
    std::size_t objets = 0;
    for (auto _ : etat) {
        std::FILE* f = std::fopen(chemin.c_str(), "rb");
        if (f == nullptr) {
            etat.SkipWithError("fichier de données absent");
            return;
        }
        char tampon[8192];
        rapidjson::FileReadStream flux(f, tampon, sizeof tampon);
        rapidjson::Reader lecteur;
        Compteur compteur;
        constexpr unsigned drapeaux = rapidjson::kParseIterativeFlag | Validation |
                                      rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseStopWhenDoneFlag;
        for (;;) {
            rapidjson::SkipWhitespace(flux);
            if (flux.Peek() == '\0') break;
            if (lecteur.Parse<drapeaux>(flux, compteur).IsError()) {
                etat.SkipWithError("JSON invalide");
                break;
            }
        }
        std::fclose(f);
        objets = compteur.objets;
        benchmark::DoNotOptimize(objets);
    }
    etat.SetBytesProcessed(static_cast<std::int64_t>(etat.iterations()) *
                           static_cast<std::int64_t>(std::filesystem::file_size(chemin)));
    etat.counters["trames"] = static_cast<double>(objets);
}

void lecture_replay(benchmark::State& etat) {
    const std::string chemin = fichier_donnees();
    std::size_t trames = 0;
    for (auto _ : etat) {
        auto lots = comportement::lire_replay(chemin);
        if (!lots) {
            etat.SkipWithError(lots.error().c_str());
            return;
        }
        trames = 0;
        for (const auto& l : *lots) trames += l.trames.size();
        benchmark::DoNotOptimize(trames);
    }
    etat.SetBytesProcessed(static_cast<std::int64_t>(etat.iterations()) *
                           static_cast<std::int64_t>(std::filesystem::file_size(chemin)));
    etat.counters["trames"] = static_cast<double>(trames);
}

}  // namespace

BENCHMARK(passe_nue<rapidjson::kParseValidateEncodingFlag>)
    ->Name("passe_nue")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(passe_nue<0>)->Name("passe_nue_sans_validation")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(lecture_replay)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
