#pragma once
// H.264 access units: Annex B splitting, length-prefixed rewriting, AVC configuration record.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace mkv {

using Octets = std::vector<std::uint8_t>;
using VueOctets = std::span<const std::uint8_t>;

// NAL unit types we look at (low 5 bits of the unit's first byte).
inline constexpr std::uint8_t nal_sps = 7;
inline constexpr std::uint8_t nal_pps = 8;
inline constexpr std::uint8_t nal_delimiteur = 9;

inline std::uint8_t type_nal(VueOctets unite) { return unite.empty() ? 0 : unite[0] & 0x1F; }

// The NAL units of an Annex B access unit, in stream order, as views into `unite_acces`.
std::vector<VueOctets> decouper_nal(VueOctets unite_acces);

// The access unit with each NAL unit behind a 4-byte big-endian length; delimiters dropped.
Octets annexb_vers_longueurs(VueOctets unite_acces);

// Same, into a caller-owned buffer (cleared first) so the hot path reuses its allocation.
void annexb_vers_longueurs(VueOctets unite_acces, Octets& sortie);

// The AVC decoder configuration record built from the first SPS and first PPS, or nothing.
std::optional<Octets> config_avc(VueOctets unite_acces);

}  // namespace mkv
