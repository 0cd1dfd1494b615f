#pragma once
#include <cstdint>
#include <vector>

namespace pipeline {

// One encoded H.264 access unit, Annex B bytes, times in 100-ns units.
struct ImageEncodee {
    std::vector<std::uint8_t> donnees;
    std::int64_t horodatage = 0;
    std::int64_t duree = 0;
    bool cle = false;
};

}  // namespace pipeline
