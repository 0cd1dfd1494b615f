#pragma once
// GUIDs as plain data, usable on every platform: the Windows back end converts them to the
// system's GUID, and the unit tests check the IIDs it hard-codes on any machine.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace commun {

struct Guid {
    std::uint32_t donnees1 = 0;
    std::uint16_t donnees2 = 0;
    std::uint16_t donnees3 = 0;
    std::array<std::uint8_t, 8> donnees4{};

    friend constexpr bool operator==(const Guid&, const Guid&) = default;
};

using Empreinte = std::array<std::uint8_t, 20>;

// SHA-1 (FIPS 180-4) of a byte string.
Empreinte sha1(std::span<const std::uint8_t> octets);

// Name-based GUID (version 5): SHA-1 over the namespace's 16 bytes in network order followed
// by the name, the first 16 bytes kept, version 5 and the RFC 4122 variant set.
Guid guid_v5(const Guid& espace, std::string_view nom);

// Namespace of the Windows Runtime's parameterized-interface IIDs.
inline constexpr Guid espace_iid_parametre{
    0x11f47ad5, 0x7b73, 0x42c0, {0xab, 0xae, 0x87, 0x8b, 0x1e, 0x16, 0xad, 0xee}};

// IID of a parameterized interface instance from its type signature.
inline Guid iid_parametre(std::string_view signature) { return guid_v5(espace_iid_parametre, signature); }

// "{9de1c534-6ae1-11e0-84e1-18a905bcc53f}": braces and lower case, as type signatures write it.
std::string texte_guid_signature(const Guid& g);

// "9DE1C534-6AE1-11E0-84E1-18A905BCC53F": upper case without braces, as the diagnostics print it.
std::string texte_guid(const Guid& g);

// Signature of TypedEventHandler<classe, Object> where the sender is the runtime class
// `nom_classe` whose default interface is `iid_defaut`.
std::string signature_typed_event_handler(std::string_view nom_classe, const Guid& iid_defaut);

// The generic TypedEventHandler`2 interface.
inline constexpr Guid iid_typed_event_handler{
    0x9de1c534, 0x6ae1, 0x11e0, {0x84, 0xe1, 0x18, 0xa9, 0x05, 0xbc, 0xc5, 0x3f}};

}  // namespace commun
