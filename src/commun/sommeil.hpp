#pragma once
// A relative wait that really waits, short ones included. On Windows the C++ sleep goes to a
// millisecond sleep that returns at once below 1 ms; this one uses the high-resolution
// waitable timer where the system has one (Windows 10 1803 on), else whole milliseconds
// rounded up. A zero or negative duration returns at once.
#include <chrono>

namespace commun {

void dormir(std::chrono::nanoseconds duree);

}  // namespace commun
