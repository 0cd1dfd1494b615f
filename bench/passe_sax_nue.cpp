// The floor for reading telemetry: one bare RapidJSON SAX pass over JSON Lines files, with the flags
// the project's reader uses, building nothing. The whole-command benchmarks compare against it.
//   passe_sax_nue <fichier.jsonl>...
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <rapidjson/filereadstream.h>
#include <rapidjson/reader.h>

namespace {

struct Compteur : rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Compteur> {
    unsigned long long objets = 0;
    bool StartObject() {
        ++objets;
        return true;
    }
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return true; }
};

}  // namespace

int main(int argc, char** argv) {
    constexpr unsigned drapeaux = rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag |
                                  rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseStopWhenDoneFlag;
    static char tampon[1 << 16];
    Compteur compteur;
    for (int i = 1; i < argc; ++i) {
        std::FILE* f = std::fopen(argv[i], "rb");
        if (f == nullptr) {
            std::fprintf(stderr, "%s : %s\n", argv[i], std::strerror(errno));
            return 1;
        }
        rapidjson::FileReadStream flux(f, tampon, sizeof tampon);
        rapidjson::Reader lecteur;
        for (;;) {
            rapidjson::SkipWhitespace(flux);
            if (flux.Peek() == '\0') break;
            if (lecteur.Parse<drapeaux>(flux, compteur).IsError()) {
                std::fprintf(stderr, "%s : JSON invalide à l'octet %zu\n", argv[i], flux.Tell());
                std::fclose(f);
                return 1;
            }
        }
        std::fclose(f);
    }
    std::printf("%llu objets\n", compteur.objets);
    return 0;
}
