#include "commun/temps_utc.hpp"

#include <cstdint>
#include <cstdio>

namespace commun {

namespace {

// Days since 1970-01-01 to (year, month, day), proleptic Gregorian (H. Hinnant's algorithm).
void civil_depuis_jours(std::int64_t z, std::int64_t& a, unsigned& m, unsigned& j) {
    z += 719468;
    const std::int64_t ere = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - ere * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + ere * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    j = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    a = y + (m <= 2 ? 1 : 0);
}

}  // namespace

std::string texte_utc(std::chrono::system_clock::time_point instant) {
    using namespace std::chrono;
    std::int64_t secondes = duration_cast<seconds>(instant.time_since_epoch()).count();
    if (instant.time_since_epoch().count() < 0) {
        secondes = 0;
    }
    const std::int64_t jours = secondes / 86400;
    const std::int64_t reste = secondes % 86400;
    std::int64_t annee = 0;
    unsigned mois = 0;
    unsigned jour = 0;
    civil_depuis_jours(jours, annee, mois, jour);
    char tampon[64];
    std::snprintf(tampon, sizeof tampon, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", static_cast<long long>(annee), mois,
                  jour, static_cast<long long>(reste / 3600), static_cast<long long>(reste / 60 % 60),
                  static_cast<long long>(reste % 60));
    return tampon;
}

std::string maintenant_utc() { return texte_utc(std::chrono::system_clock::now()); }

}  // namespace commun
