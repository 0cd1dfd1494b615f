#pragma once
#include "capture/peripherique_windows.hpp"

// Starts and stops the capture of `d3d` against a fake capture runtime that records each call.
void verifier_demarrage(capture::PeripheriqueD3D& d3d, void (*verifier)(bool, const char*));
