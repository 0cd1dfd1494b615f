#pragma once
// The latest captured image on Linux: a BGRA buffer in CPU memory. Nothing orders the
// capture thread's copy and the converter's read for us, so both take `verrou`.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "capture/capture.hpp"

namespace capture {

class TextureCpu : public Texture {
public:
    TextureCpu(std::uint32_t l, std::uint32_t h)
        : largeur(l), hauteur(h), pas(static_cast<std::size_t>(l) * 4), pixels(pas * h) {}

    std::mutex verrou;
    const std::uint32_t largeur;
    const std::uint32_t hauteur;
    const std::size_t pas;
    std::vector<std::uint8_t> pixels;
    // Advanced by every copy into `pixels`: tells the converter whether it saw this content.
    std::uint64_t generation = 0;
};

}  // namespace capture
