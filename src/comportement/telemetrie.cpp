#include "comportement/telemetrie.hpp"

namespace comportement {

namespace {

namespace j = commun::json;
using T = TrameTelemetrie;

constexpr j::Champ champs_trame[] = {
    j::champ<&T::matchId>("matchId"),
    j::champ<&T::playerId>("playerId"),
    j::champ<&T::timestampMs>("timestampMs"),
    j::champ<&T::yawDeg>("yawDeg"),
    j::champ<&T::pitchDeg>("pitchDeg"),
    j::champ<&T::mouseDx>("mouseDx"),
    j::champ<&T::mouseDy>("mouseDy"),
    j::champ<&T::targetId>("targetId"),
    j::champ<&T::targetVisible>("targetVisible"),
    j::champ<&T::targetOccluded>("targetOccluded"),
    j::champ<&T::targetAngularErrorDeg>("targetAngularErrorDeg"),
    j::champ<&T::occludedTargetAngularErrorDeg>("occludedTargetAngularErrorDeg"),
    j::champ<&T::targetAngularSpeedDegPerSec>("targetAngularSpeedDegPerSec"),
    j::champ<&T::shotFired>("shotFired"),
    j::champ<&T::hit>("hit"),
    j::champ<&T::headshot>("headshot"),
    j::champ<&T::weaponId>("weaponId"),
    j::champ<&T::acquisitionMode>("acquisitionMode"),
    j::champ<&T::acquisitionConfidence>("acquisitionConfidence"),
};
constexpr auto schema = j::schema<T>("struct TrameTelemetrie", champs_trame, {.forme_majuscule = true});

}  // namespace
const commun::json::Schema& schema_trame() { return schema; }

}  // namespace comportement
