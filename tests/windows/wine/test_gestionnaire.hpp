#pragma once
#include "capture/peripherique_windows.hpp"

// Drives the capture handlers on `d3d` (a real device) with fake pool and frames.
void verifier_gestionnaires(capture::PeripheriqueD3D& d3d, void (*verifier)(bool, const char*));
