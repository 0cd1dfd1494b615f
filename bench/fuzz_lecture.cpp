// Deterministic mutation fuzzer for the telemetry, snapshot and calibration
// report readers. A manual tool, not a test: build it against the sanitizer
// build's libraries and run it for a bounded time.
//
//   cmake --preset linux-asan && cmake --build --preset linux-asan -j2 --target comportement
//   c++ -std=c++23 -g -O1 -fsanitize=address,undefined -fno-sanitize-recover=undefined -DFMT_SHARED -Isrc
//       bench/fuzz_lecture.cpp build/linux-asan/src/comportement/libcomportement.a
//       build/linux-asan/src/commun/libcommun.a -lfmt -o /tmp/fuzz_lecture
//   /tmp/fuzz_lecture SECONDS TARGET [SEED]     TARGET: 0 frames, 1 snapshots, 2 report
//
// Seeds come from the project's own writers; every mutant is checked against
// oracles (round trip through ecrire_trame, "ligne N" naming the physical line
// that fails alone with the same message, short reads, injected keys that must
// be refused). A failure leaves the input in fuzz_crash.bin and aborts.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "commun/fichier.hpp"
#include "commun/unicode.hpp"
#include "comportement/calibration.hpp"
#include "comportement/conversion.hpp"
#include "comportement/ecriture_telemetrie.hpp"
#include "comportement/lecture_telemetrie.hpp"

using namespace comportement;
static std::mt19937_64 rng;
static std::size_t alea(std::size_t n) { return n == 0 ? 0 : rng() % n; }
static unsigned long long execs = 0, acceptes = 0;

[[noreturn]] static void echec(const char* quoi, const std::string& entree, const std::string& detail) {
    std::FILE* f = std::fopen("fuzz_crash.bin", "wb");
    std::fwrite(entree.data(), 1, entree.size(), f);
    std::fclose(f);
    std::fprintf(stderr, "ORACLE %s: %s\n(input %zu bytes in fuzz_crash.bin)\n", quoi, detail.c_str(), entree.size());
    std::abort();
}

static const char* jetons[] = {
    "{", "}", "[", "]", ",", ":", "\"", "\\", "null", "true", "false", "0", "-0", "1.5", "1e2", "100.0",
    "1e400", "-1e400", "1e-400", "-1e-400", "9223372036854775807", "9223372036854775808", "-9223372036854775808",
    "-9223372036854775809", "2147483647", "2147483648", "-2147483649", "1E+2", "01", "-", ".5", "1.", "1e",
    "\"\\ud800\"", "\"\\udc00\"", "\"\\ud83d\\ude00\"", "\"\\u0000\"", "\\u00", "\xC3\xA9", "\xC2\xA0", "\xEF\xBB\xBF",
    "\xED\xA0\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xF4\x90\x80\x80", "\xFF", "\x80", "\r", "\n", "\r\n", std::string_view("\0", 1).data(),
    "\"matchId\":", "\"MatchId\":", "\"timestampMs\":", "\"TimestampMs\":", "\"targetId\":", "\"yawDeg\":", "\"players\":",
    "\"mouseDx\":", "\"acquisitionMode\":", "\"camera\":", "\"aimPoint\":", "\"x\":", "\"recommandations\":",
    "\"reactionSuspecteMs\":", "\"matchs\":", "\"echantillons\":", "\"distributions\":", "\"inconnu\":", "\"Players\":",
    "1.7976931348623157e308", "1.8e308", "4.9e-324", "2e-324", "123456789012345678901234567890", "0.000000000000000000000000000001e330",
    "\t", " ", "\xE2\x80\xA8", "\xE2\x80\x8B", "\xC2\x85",
};

static std::string nombre_bizarre() {
    static const char* n[] = {"1e400", "-1e-400", "1.5", "-0", "1e2", "9223372036854775808", "-2147483649", "1e309",
                              "0e999999999999", "1e-99999999999999", "100000000000000000000000000000000000000000000000000"
                              "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
                              "00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
                              "00000000000000000000000000000000000000000000000000000000000000000000000000000000000.0",
                              "0.0000000000000000000000000000000000000000000000000000000000000000000000000000000000001e-300",
                              "18446744073709551616", "18446744073709551615", "-1",
                              "9223372036854775807", "-9223372036854775808", "9223372036854775557", "1e308", "-1e308", "5e-324"};
    return n[alea(std::size(n))];
}

static std::string muter(std::string s) {
    const int nb = 1 + static_cast<int>(alea(4));
    for (int k = 0; k < nb; ++k) {
        const std::size_t p = alea(s.size() + 1);
        switch (alea(12)) {
        case 0: if (!s.empty()) s[alea(s.size())] ^= static_cast<char>(1u << alea(8)); break;
        case 1: { std::string j = jetons[alea(std::size(jetons))]; if (j.empty()) j = std::string(1, '\0'); s.insert(p, j); break; }
        case 2: if (!s.empty()) s.erase(p == s.size() ? p - 1 : p, 1 + alea(8)); break;
        case 3: s.resize(alea(s.size() + 1)); break;
        case 4: { // replace a number token
            std::size_t d = s.find_first_of("-0123456789", p);
            if (d == std::string::npos) break;
            std::size_t f = s.find_first_not_of("-+.eE0123456789", d);
            if (f == std::string::npos) f = s.size();
            s.replace(d, f - d, nombre_bizarre());
            break; }
        case 5: { // deep nesting at p
            const std::size_t n = 1 + alea(alea(2) ? 100 : 100000);
            const bool tab = alea(2);
            std::string o = tab ? std::string(n, '[') : std::string();
            if (!tab) for (std::size_t i = 0; i < n; ++i) o += "{\"a\":";
            s.insert(p, o + (alea(2) ? (tab ? std::string(n, ']') : std::string("1") + std::string(n, '}')) : ""));
            break; }
        case 6: { // duplicate a key:value inside the first object
            std::size_t q = s.find('"', p);
            if (q == std::string::npos) break;
            std::size_t c = s.find(':', q);
            if (c == std::string::npos) break;
            std::size_t e = s.find_first_of(",}", c);
            if (e == std::string::npos) break;
            std::string kv = s.substr(q, e - q);
            if (alea(2) && kv.size() > 1 && kv[1] >= 'a' && kv[1] <= 'z') kv[1] = static_cast<char>(kv[1] - 32);
            s.insert(e, "," + kv);
            break; }
        case 7: s.insert(p, alea(2) ? "\r\n" : (alea(2) ? "\n" : "\r")); break;
        case 8: s.insert(p, 1, '\0'); break;
        case 9: { // splice a chunk of itself
            if (s.empty()) break;
            std::size_t a = alea(s.size()), l = alea(s.size() - a + 1);
            s.insert(p, s.substr(a, l));
            break; }
        case 10: s.insert(p, "\"\\u" + std::string(alea(2) ? "d8" : "dc") + "0" + std::to_string(alea(10)) + "\""); break;
        case 11: s.insert(p, std::string(1, static_cast<char>(alea(256)))); break;
        }
    }
    if (s.size() > 2'000'000) s.resize(2'000'000);
    return s;
}

static bool memes(const TrameTelemetrie& a, const TrameTelemetrie& b) {
    auto d = [](double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    return a.matchId == b.matchId && a.playerId == b.playerId && a.timestampMs == b.timestampMs && d(a.yawDeg, b.yawDeg) &&
        d(a.pitchDeg, b.pitchDeg) && a.mouseDx == b.mouseDx && a.mouseDy == b.mouseDy && a.targetId == b.targetId &&
        a.targetVisible == b.targetVisible && a.targetOccluded == b.targetOccluded &&
        d(a.targetAngularErrorDeg, b.targetAngularErrorDeg) && d(a.occludedTargetAngularErrorDeg, b.occludedTargetAngularErrorDeg) &&
        d(a.targetAngularSpeedDegPerSec, b.targetAngularSpeedDegPerSec) && a.shotFired == b.shotFired && a.hit == b.hit &&
        a.headshot == b.headshot && a.weaponId == b.weaponId && a.acquisitionMode == b.acquisitionMode &&
        d(a.acquisitionConfidence, b.acquisitionConfidence);
}

// Physical lines as the reader sees them: split at LF, CR before LF removed.
static std::vector<std::string> lignes_de(const std::string& s) {
    std::vector<std::string> r;
    std::size_t d = 0;
    while (d < s.size()) {
        std::size_t f = s.find('\n', d);
        if (f == std::string::npos) { r.push_back(s.substr(d)); break; }
        std::string l = s.substr(d, f - d);
        if (!l.empty() && l.back() == '\r') l.pop_back();
        r.push_back(l);
        d = f + 1;
    }
    return r;
}

// Checks "ligne N : msg": lines before N are blank or parse, line N fails with msg.
template <class F> static void verifier_erreur(const std::string& doc, const std::string& err, F analyser_seule, const char* prefixe_lecture) {
    if (err.starts_with(prefixe_lecture)) {
        // A read error: some line must be invalid UTF-8.
        for (auto& l : lignes_de(doc)) if (!commun::est_utf8_valide(l)) return;
        echec("read error without invalid UTF-8", doc, err);
    }
    if (!err.starts_with("ligne ")) echec("error prefix", doc, err);
    std::size_t n = std::stoul(err.substr(6));
    const std::string attendu = "ligne " + std::to_string(n) + " : ";
    if (!err.starts_with(attendu)) echec("error format", doc, err);
    auto ls = lignes_de(doc);
    if (n == 0 || n > ls.size()) echec("line number out of range", doc, err);
    for (std::size_t i = 0; i + 1 < n; ++i) {
        if (!commun::est_utf8_valide(ls[i])) echec("line error after invalid UTF-8", doc, err);
        if (commun::est_blanc_unicode(ls[i])) continue;
        auto r = analyser_seule(ls[i]);
        if (!r) echec("earlier line fails alone", doc, err + " / line " + std::to_string(i + 1) + ": " + r.error());
    }
    auto r = analyser_seule(ls[n - 1]);
    if (r) echec("reported line parses alone", doc, err);
    if (r.error() != err.substr(attendu.size())) echec("message differs from lone parse", doc, err + " vs " + r.error());
}

// Hands the text over in small random pieces, to cross the line buffer's edges.
class SourceMorcelee final : public commun::SourceOctets {
public:
    explicit SourceMorcelee(std::string t) : t_(std::move(t)) {}
    std::expected<std::size_t, std::string> lire(std::span<char> b) override {
        std::size_t n = std::min({b.size(), t_.size() - p_, 1 + alea(alea(2) ? 3 : 9000)});
        std::memcpy(b.data(), t_.data() + p_, n);
        p_ += n;
        return n;
    }
private:
    std::string t_;
    std::size_t p_ = 0;
};

static void cible_telemetrie(const std::string& doc) {
    ++execs;
    commun::SourceChaine src(doc);
    auto lots = lire_lots(src);
    {
        SourceMorcelee sm(doc);
        auto l2 = lire_lots(sm);
        if (l2.has_value() != lots.has_value() || (!l2 && l2.error() != lots.error()))
            echec("chunked read differs", doc, (l2 ? std::string("ok") : l2.error()) + " vs " + (lots ? std::string("ok") : lots.error()));
        if (l2) {
            if (l2->size() != lots->size()) echec("chunked batch count", doc, "");
            for (std::size_t i = 0; i < l2->size(); ++i) {
                if ((*l2)[i].trames.size() != (*lots)[i].trames.size()) echec("chunked frame count", doc, "");
                for (std::size_t k = 0; k < (*l2)[i].trames.size(); ++k)
                    if (!memes((*l2)[i].trames[k], (*lots)[i].trames[k])) echec("chunked frame differs", doc, "");
            }
        }
    }
    if (!lots) {
        verifier_erreur(doc, lots.error(), [](const std::string& l) { return trame_depuis_json(l); }, "replay illisible : ");
        return;
    }
    ++acceptes;
    if (doc.find('\0') != std::string::npos) echec("NUL accepted", doc, "");
    // Every non-blank line must parse alone (validated, non-in-situ path).
    std::size_t total = 0;
    for (auto& l : lignes_de(doc)) {
        if (commun::est_blanc_unicode(l)) continue;
        auto t = trame_depuis_json(l);
        if (!t) echec("accepted stream, line fails alone", doc, t.error());
        ++total;
        if (trame_depuis_json(l + "\xC2\xA0")) echec("no-break space accepted after a frame", l, "");
        if (trame_depuis_json("\xEF\xBB\xBF" + l)) echec("BOM accepted before a frame", l, "");
        // Decision checks: a violating key injected first must be refused.
        std::size_t o = l.find_first_not_of(" \t\r\n");
        if (o != std::string::npos && l[o] == '{') {
            static const char* mauvais[] = {"\"timestampMs\":1.5,", "\"mouseDx\":1e2,", "\"yawDeg\":null,", "\"hit\":0,",
                                            "\"weaponId\":\"\\ud800\",", "\"timestampMs\":100.0,", "\"mouseDy\":2147483648,",
                                            "\"yawDeg\":1e400,"};
            std::string m = l;
            m.insert(o + 1, mauvais[alea(std::size(mauvais))]);
            // In an empty object the comma makes a syntax error: refused as well.
            auto t2 = trame_depuis_json(m);
            if (t2) echec("violating key accepted", m, "");
        }
    }
    std::size_t n = 0;
    commun::SortieChaine sortie;
    for (auto& lot : *lots) {
        for (std::size_t i = 0; i < lot.trames.size(); ++i) {
            const auto& t = lot.trames[i];
            if (t.matchId != lot.matchId || t.playerId != lot.playerId) echec("frame in wrong batch", doc, "");
            if (i > 0 && lot.trames[i - 1].timestampMs > t.timestampMs) echec("unsorted batch", doc, "");
            if (!ecrire_trame(sortie, t)) echec("write", doc, "");
            ++n;
        }
    }
    if (n != total) echec("frame count", doc, std::to_string(n) + " vs " + std::to_string(total));
    commun::SourceChaine src2(sortie.texte);
    auto relus = lire_lots(src2);
    bool non_fini = false;
    for (auto& lot : *lots) for (auto& t : lot.trames)
        for (double v : {t.yawDeg, t.pitchDeg, t.targetAngularErrorDeg, t.occludedTargetAngularErrorDeg, t.targetAngularSpeedDegPerSec, t.acquisitionConfidence})
            if (!std::isfinite(v)) non_fini = true;
    if (non_fini) return;
    if (!relus) echec("re-read fails", sortie.texte, relus.error());
    if (relus->size() != lots->size()) echec("re-read batch count", doc, "");
    for (std::size_t i = 0; i < lots->size(); ++i) {
        auto& a = (*lots)[i]; auto& b = (*relus)[i];
        if (a.trames.size() != b.trames.size()) echec("re-read frame count", doc, "");
        for (std::size_t k = 0; k < a.trames.size(); ++k)
            if (!memes(a.trames[k], b.trames[k])) echec("round trip differs", doc, std::to_string(i) + "/" + std::to_string(k));
    }
}

static void cible_conversion(const std::string& doc) {
    ++execs;
    commun::SourceChaine src(doc);
    commun::SortieChaine sortie;
    auto r = convertir_flux(src, sortie);
    if (!r) {
        if (r.error().starts_with("UTF-8 invalide")) {
            for (auto& l : lignes_de(doc)) if (!commun::est_utf8_valide(l)) return;
            echec("conv read error without invalid UTF-8", doc, r.error());
        }
        verifier_erreur(doc, r.error(), [](const std::string& l) { return instantane_depuis_json(l); }, "\x01\x02never");
        return;
    }
    ++acceptes;
    for (auto& l : lignes_de(doc)) {
        if (commun::est_blanc_unicode(l)) continue;
        std::size_t o = l.find_first_not_of(" \t\r\n");
        if (o != std::string::npos && l[o] == '{') {
            static const char* mauvais[] = {"\"timestampMs\":1.5,", "\"localTeamId\":1e2,", "\"camera\":null,",
                                            "\"players\":[{\"aimPoint\":{\"x\":1,\"y\":2}}],", "\"players\":[{\"teamId\":1,\"teamId\":2}],",
                                            "\"acquisitionConfidence\":null,", "\"camera\":[1,2],", "\"camera\":[1,2,3,4],"};
            std::string m = l;
            m.insert(o + 1, mauvais[alea(std::size(mauvais))]);
            if (instantane_depuis_json(m)) echec("violating snapshot accepted", m, "");
        }
    }
    // Output frames read back.
    commun::SourceChaine src2(sortie.texte);
    auto lots = lire_lots(src2);
    if (!lots) {
        if (sortie.texte.find("null,") != std::string::npos || sortie.texte.find("null}") != std::string::npos) {
            // a null float or absent optional; only a non-finite float should fail
            if (lots.error().find("f64") != std::string::npos) return;
        }
        echec("converted output unreadable", sortie.texte, lots.error());
    }
    std::size_t n = 0;
    for (auto& lot : *lots) n += lot.trames.size();
    if (n != r->trames) echec("conversion frame count", doc, "");
}

static void cible_rapport(const std::string& doc) {
    ++execs;
    auto r = rapport_calibration_depuis_json(doc);
    if (!r) return;
    ++acceptes;
    if (!commun::est_utf8_valide(doc)) echec("report with invalid UTF-8 accepted", doc, "");
    if (doc.find('\0') != std::string::npos) echec("NUL accepted in report", doc, "");
    if (rapport_calibration_depuis_json(doc + "\xE2\x80\x8B")) echec("U+200B accepted after report", doc, "");
    const std::string texte = rapport_calibration_json(*r);
    auto r2 = rapport_calibration_depuis_json(texte);
    bool non_fini = false;
    for (auto& d : r->distributions) for (double v : {d.p001, d.p01, d.p05, d.p50, d.p95, d.p99, d.p999}) if (!std::isfinite(v)) non_fini = true;
    if (non_fini) return;
    if (!r2) echec("report round trip fails", texte, r2.error());
    if (rapport_calibration_json(*r2) != texte) echec("report round trip differs", doc, "");
    std::size_t o = doc.find_first_not_of(" \t\r\n");
    if (o != std::string::npos && doc[o] == '{') {
        static const char* mauvais[] = {"\"matchs\":1.5,", "\"trames\":-1,", "\"cohorte\":null,", "\"genereLe\":\"\\udfff\",", "\"matchs\":1e2,"};
        std::string m = doc;
        m.insert(o + 1, mauvais[alea(std::size(mauvais))]);
        if (rapport_calibration_depuis_json(m)) echec("violating report accepted", m, "");
    }
}

int main(int argc, char** argv) {
    const int secondes = argc > 1 ? std::atoi(argv[1]) : 60;
    const int quelle = argc > 2 ? std::atoi(argv[2]) : 0;  // 0 telemetry, 1 conversion, 2 report
    rng.seed(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1);

    std::vector<std::string> graines;
    if (quelle == 0) {
        commun::SortieChaine s;
        TrameTelemetrie t;
        t.matchId = "m1"; t.playerId = "p\xC3\xA9"; t.timestampMs = -5; t.yawDeg = -0.0; t.pitchDeg = 1e-7;
        t.mouseDx = -2147483647 - 1; t.mouseDy = 7; t.targetId = "t\"\\\n"; t.targetVisible = true; t.weaponId = "ak";
        t.acquisitionConfidence = 0.25;
        (void)ecrire_trame(s, t);
        TrameTelemetrie u; u.matchId = "m1"; u.playerId = "p2"; u.timestampMs = 9223372036854775807LL; u.acquisitionMode = "vision";
        (void)ecrire_trame(s, u);
        graines.push_back(s.texte);
        graines.push_back(s.texte + "\r\n   \r\n{}\n[\"m\",\"p\",3,1.5,2,1,2,null,true,false,1,2,3]\n");
        std::string u2; ajouter_trame_json(u2, u);
        graines.push_back(u2);
    } else if (quelle == 1) {
        const std::string a = R"({"matchId":"m","localPlayerId":"p","localEntityId":"e0","localTeamId":1,"timestampMs":100,"camera":{"x":0,"y":0,"z":0},"yawDeg":0,"pitchDeg":0,"mouseDx":1,"mouseDy":-1,"shotFired":true,"hit":false,"headshot":false,"weaponId":"w","players":[{"entityId":"e1","teamId":2,"isAlive":true,"isVisibleFromLocalPlayer":true,"isInFrustum":true,"worldPosition":{"x":10,"y":0,"z":0},"aimPoint":{"x":10,"y":0.5,"z":1}},{"entityId":"e0","teamId":1,"isAlive":true}],"acquisitionMode":null,"acquisitionConfidence":0.5})";
        const std::string b = R"(["m","p","e0",1,200,[0,0,0],1.5,0,0,0,false,false,false,"w",[["e1",2,true,false,true,[1,2,3],[10,1,1]]],"x",1])";
        graines.push_back(a + "\n" + b + "\n");
        graines.push_back(a + "\r\n\r\n" + a);
    } else {
        RapportCalibration r;
        r.genereLe = "2026-12-06T11:48:44Z"; r.matchs = 3; r.trames = 1000; r.cohorte = "c\xC3\xA9";
        for (const char* m : {"visibleAngularVelocityDegPerSec", "absAngularAccelerationDegPerSec2", "visibilityToActionReactionMs", "movingVisibleTargetErrorDeg"}) {
            Distribution d; d.metrique = m; d.echantillons = 12; d.p001 = 0.5; d.p50 = 12.25; d.p999 = 1e300; r.distributions.push_back(d);
        }
        r.recommandations.reactionTresRapideMs = -9223372036854775807LL - 1;
        r.avertissement = "Candidates only.";
        graines.push_back(rapport_calibration_json(r));
        graines.push_back(R"(["t",0,0,"",[],[1,1,1,1,1],""])");
    }
    for (auto& g : graines) {
        if (quelle == 0) cible_telemetrie(g); else if (quelle == 1) cible_conversion(g); else cible_rapport(g);
    }
    if (acceptes != graines.size()) { std::fprintf(stderr, "a seed is refused\n"); return 1; }
    std::vector<std::string> corpus = graines;
    const auto fin = std::chrono::steady_clock::now() + std::chrono::seconds(secondes);
    while (std::chrono::steady_clock::now() < fin) {
        for (int i = 0; i < 64; ++i) {
            std::string m = muter(corpus[alea(corpus.size())]);
            const auto avant = acceptes;
            const auto t0 = std::chrono::steady_clock::now();
            if (quelle == 0) cible_telemetrie(m); else if (quelle == 1) cible_conversion(m); else cible_rapport(m);
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
            if (ms > 2000) echec("slow input", m, std::to_string(ms) + " ms");
            if (acceptes != avant && m.size() < 100000) {
                if (corpus.size() < 4000) corpus.push_back(std::move(m)); else corpus[graines.size() + alea(4000 - graines.size())] = std::move(m);
            }
        }
    }
    std::printf("target %d: %llu executions, %llu accepted, corpus %zu\n", quelle, execs, acceptes, corpus.size());
}
