#pragma once
// What the machine offers this process: processors it may run on, physical memory.
#include <cstddef>
#include <cstdint>

namespace commun {

// Hardware threads this process may run on (its affinity on Linux); at least 1.
std::size_t fils_disponibles();

// Physical memory in bytes; 0 when the system does not say.
std::uint64_t memoire_physique();

}  // namespace commun
