// The calibration report reader (rapport_calibration_depuis_json), and the report's thresholds put to use
// by the engine as controler does. Oracles:
// - an accepted report is valid UTF-8 without NUL, and is refused with a zero-width space after it or a
//   key of the wrong type or value put first;
// - it re-serialises (rapport_calibration_json) and reads back identically, bit for bit (unless a float
//   is not finite: written as null);
// - its thresholds run the engine over a few fixed matches without a sanitizer report.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "commun/unicode.hpp"
#include "commun_fuzz.hpp"
#include "comportement/calibration.hpp"
#include "comportement/controle.hpp"

using namespace comportement;

namespace {

constexpr const char* kMauvaisesCles[] = {
    "\"matchs\":1.5,",
    "\"trames\":-1,",
    "\"cohorte\":null,",
    "\"genereLe\":\"\\udfff\",",
    "\"matchs\":1e2,",
    "\"distributions\":{},",
    "\"recommandations\":[1,2,3,4],",
    "\"avertissement\":false,",
};

bool meme_double(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool memes(const RapportCalibration& a, const RapportCalibration& b) {
    if (a.genereLe != b.genereLe || a.matchs != b.matchs || a.trames != b.trames || a.cohorte != b.cohorte ||
        a.avertissement != b.avertissement || a.distributions.size() != b.distributions.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.distributions.size(); ++i) {
        const Distribution& x = a.distributions[i];
        const Distribution& y = b.distributions[i];
        if (x.metrique != y.metrique || x.echantillons != y.echantillons || !meme_double(x.p001, y.p001) ||
            !meme_double(x.p01, y.p01) || !meme_double(x.p05, y.p05) || !meme_double(x.p50, y.p50) ||
            !meme_double(x.p95, y.p95) || !meme_double(x.p99, y.p99) || !meme_double(x.p999, y.p999)) {
            return false;
        }
    }
    const Recommandations& r = a.recommandations;
    const Recommandations& s = b.recommandations;
    return meme_double(r.snapVitesseDegS, s.snapVitesseDegS) && meme_double(r.snapAccelMinDegS2, s.snapAccelMinDegS2) &&
           r.reactionTresRapideMs == s.reactionTresRapideMs && r.reactionSuspecteMs == s.reactionSuspecteMs &&
           meme_double(r.suiviExcellentErreurDeg, s.suiviExcellentErreurDeg);
}

bool finis(const RapportCalibration& r) {
    for (const Distribution& d : r.distributions) {
        for (double v : {d.p001, d.p01, d.p05, d.p50, d.p95, d.p99, d.p999}) {
            if (!std::isfinite(v)) return false;
        }
    }
    const Recommandations& s = r.recommandations;
    return std::isfinite(s.snapVitesseDegS) && std::isfinite(s.snapAccelMinDegS2) &&
           std::isfinite(s.suiviExcellentErreurDeg);
}

// A flick onto a target just revealed, a shot, then steady tracking: every detector has something to
// look at. Timestamps near both ends of the range too.
std::vector<LotTrames> matchs_fixes() {
    std::vector<LotTrames> lots;
    for (const std::int64_t debut : {std::int64_t{1765000000000}, INT64_MIN + 10, INT64_MAX - 400}) {
        LotTrames lot{"m", "p", {}};
        for (int i = 0; i < 24; ++i) {
            TrameTelemetrie t;
            t.matchId = "m";
            t.playerId = "p";
            t.timestampMs = debut + i * 16;
            t.yawDeg = i < 6 ? 0.0 : (i < 8 ? 40.0 * (i - 5) : 80.0 + 0.3 * i);
            t.pitchDeg = 0.1 * (i % 3);
            t.mouseDx = i % 2 == 0 ? 3 : -2;
            t.targetId = "t";
            t.targetVisible = i >= 5;
            t.targetOccluded = i < 5;
            t.targetAngularErrorDeg = i < 8 ? 80.0 - 10.0 * i : 0.2 + 0.05 * (i % 4);
            t.occludedTargetAngularErrorDeg = i < 5 ? 0.5 : 180.0;
            t.targetAngularSpeedDegPerSec = 25.0;
            t.shotFired = i == 9 || i == 15;
            t.hit = t.shotFired;
            t.weaponId = "w";
            lot.trames.push_back(t);
        }
        lots.push_back(std::move(lot));
    }
    return lots;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* donnees, std::size_t taille) {
    const std::string texte(reinterpret_cast<const char*>(donnees), taille);
    const auto rapport = rapport_calibration_depuis_json(texte);
    if (!rapport) return 0;

    if (!commun::est_utf8_valide(texte)) fuzz::echec("report with invalid UTF-8 accepted");
    if (texte.find('\0') != std::string::npos) fuzz::echec("NUL accepted in a report");
    if (rapport_calibration_depuis_json(texte + "\xE2\x80\x8B"))
        fuzz::echec("zero-width space accepted after a report");
    const std::size_t o = texte.find_first_not_of(" \t\r\n");
    if (o != std::string::npos && texte[o] == '{') {
        for (const char* cle : kMauvaisesCles) {
            std::string m = texte;
            m.insert(o + 1, cle);
            if (rapport_calibration_depuis_json(m)) fuzz::echec("a key of the wrong type or value accepted", m);
        }
    }

    const std::string ecrit = rapport_calibration_json(*rapport);
    (void)avertissements_calibration(*rapport);
    static const std::vector<LotTrames> lots = matchs_fixes();
    const EngineThresholds seuils = seuils_depuis_rapport(*rapport);
    for (const LotTrames& lot : lots) (void)controler_lot(lot, seuils);

    if (!finis(*rapport)) return 0;
    const auto relu = rapport_calibration_depuis_json(ecrit);
    if (!relu) fuzz::echec("the re-serialised report is refused", relu.error());
    if (!memes(*rapport, *relu)) fuzz::echec("the re-serialised report reads back differently", ecrit);
    if (rapport_calibration_json(*relu) != ecrit) fuzz::echec("the report is written differently the second time");
    return 0;
}
