#pragma once
// EBML encoding: element IDs, size fields, minimal unsigned integers, fixed-width payloads.
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace mkv::ebml {

using Octets = std::vector<std::uint8_t>;

// Element identifiers (leading zero bytes are dropped when written).
inline constexpr std::uint32_t id_ebml = 0x1A45DFA3;
inline constexpr std::uint32_t id_ebml_version = 0x4286;
inline constexpr std::uint32_t id_ebml_read_version = 0x42F7;
inline constexpr std::uint32_t id_ebml_max_id_length = 0x42F2;
inline constexpr std::uint32_t id_ebml_max_size_length = 0x42F3;
inline constexpr std::uint32_t id_doc_type = 0x4282;
inline constexpr std::uint32_t id_doc_type_version = 0x4287;
inline constexpr std::uint32_t id_doc_type_read_version = 0x4285;
inline constexpr std::uint32_t id_segment = 0x18538067;
inline constexpr std::uint32_t id_seek_head = 0x114D9B74;
inline constexpr std::uint32_t id_seek = 0x4DBB;
inline constexpr std::uint32_t id_seek_id = 0x53AB;
inline constexpr std::uint32_t id_seek_position = 0x53AC;
inline constexpr std::uint32_t id_void = 0xEC;
inline constexpr std::uint32_t id_info = 0x1549A966;
inline constexpr std::uint32_t id_timestamp_scale = 0x2AD7B1;
inline constexpr std::uint32_t id_muxing_app = 0x4D80;
inline constexpr std::uint32_t id_writing_app = 0x5741;
inline constexpr std::uint32_t id_duration = 0x4489;
inline constexpr std::uint32_t id_tracks = 0x1654AE6B;
inline constexpr std::uint32_t id_track_entry = 0xAE;
inline constexpr std::uint32_t id_track_number = 0xD7;
inline constexpr std::uint32_t id_track_uid = 0x73C5;
inline constexpr std::uint32_t id_track_type = 0x83;
inline constexpr std::uint32_t id_codec_id = 0x86;
inline constexpr std::uint32_t id_codec_private = 0x63A2;
inline constexpr std::uint32_t id_codec_delay = 0x56AA;
inline constexpr std::uint32_t id_seek_pre_roll = 0x56BB;
inline constexpr std::uint32_t id_video = 0xE0;
inline constexpr std::uint32_t id_pixel_width = 0xB0;
inline constexpr std::uint32_t id_pixel_height = 0xBA;
inline constexpr std::uint32_t id_audio = 0xE1;
inline constexpr std::uint32_t id_sampling_frequency = 0xB5;
inline constexpr std::uint32_t id_channels = 0x9F;
inline constexpr std::uint32_t id_cluster = 0x1F43B675;
inline constexpr std::uint32_t id_timestamp = 0xE7;
inline constexpr std::uint32_t id_simple_block = 0xA3;
inline constexpr std::uint32_t id_cues = 0x1C53BB6B;
inline constexpr std::uint32_t id_cue_point = 0xBB;
inline constexpr std::uint32_t id_cue_time = 0xB3;
inline constexpr std::uint32_t id_cue_track_positions = 0xB7;
inline constexpr std::uint32_t id_cue_track = 0xF7;
inline constexpr std::uint32_t id_cue_cluster_position = 0xF1;

void ajouter_id(Octets& o, std::uint32_t id);

// Shortest variable-length size that avoids the reserved all-ones value.
void ajouter_taille(Octets& o, std::uint64_t n);

// The 8-byte size form: 0x01 then the low 7 bytes of n.
void ajouter_taille_8(Octets& o, std::uint64_t n);

// `largeur` bytes of v, big-endian.
void ajouter_be(Octets& o, std::uint64_t v, unsigned largeur);

// Number of bytes of the minimal unsigned form of v (at least 1).
unsigned largeur_minimale(std::uint64_t v);

// Whole elements.
void element_uint_min(Octets& o, std::uint32_t id, std::uint64_t v);
void element_uint_fixe(Octets& o, std::uint32_t id, std::uint64_t v, unsigned largeur);
void element_float64(Octets& o, std::uint32_t id, double v);
void element_octets(Octets& o, std::uint32_t id, std::span<const std::uint8_t> payload);
void element_texte(Octets& o, std::uint32_t id, std::string_view texte);

// A Void element occupying exactly `longueur_totale` bytes (at least 9).
void element_void(Octets& o, std::uint64_t longueur_totale);

// Big-endian IEEE 754 bytes of a double.
std::uint64_t bits_float64(double v);

}  // namespace mkv::ebml
