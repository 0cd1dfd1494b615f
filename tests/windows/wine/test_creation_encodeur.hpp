#pragma once
#include "capture/peripherique_windows.hpp"

// Creates the encoder on `d3d` over a fake list of encoders whose transform records what it
// is told: vendor choice, attributes, media types, codec properties, messages, diagnostics.
void verifier_creation_encodeur(capture::PeripheriqueD3D& d3d, void (*verifier)(bool, const char*));
