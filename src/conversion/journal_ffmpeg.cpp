#include "conversion/journal_ffmpeg.hpp"

extern "C" {
#include <libavutil/log.h>
}

#include <array>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string_view>

#include "commun/journal.hpp"

namespace conversion {

namespace {

void rappel_journal(void* /*objet*/, int niveau, const char* format, va_list arguments) {
    if (niveau > AV_LOG_WARNING) {
        return;
    }
    std::array<char, 512> ligne{};
    std::vsnprintf(ligne.data(), ligne.size(), format, arguments);
    std::string_view texte(ligne.data());
    while (!texte.empty() && (texte.back() == '\n' || texte.back() == '\r')) {
        texte.remove_suffix(1);
    }
    commun::journal::ecrire(niveau <= AV_LOG_ERROR ? commun::journal::Niveau::erreur
                                                   : commun::journal::Niveau::avertissement,
                            "balisor_anticheat_lib::ffmpeg", texte);
}

}  // namespace

void router_journal_ffmpeg() {
    static std::once_flag fait;
    std::call_once(fait, [] { av_log_set_callback(rappel_journal); });
}

}  // namespace conversion
