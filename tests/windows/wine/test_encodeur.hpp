#pragma once
#include "capture/peripherique_windows.hpp"

// Drives the encoder's transform wrapper with a fake transform over the system's Media
// Foundation objects (events, samples, buffers) and a texture of `d3d`.
void verifier_transformee(capture::PeripheriqueD3D& d3d, void (*verifier)(bool, const char*));
