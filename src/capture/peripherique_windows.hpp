#pragma once
// The Direct3D 11 side of the capture's types, shared by the Windows converter and encoder
// (they static_cast the portable types to these).
#include <windows.h>
#include <d3d11.h>

#include "capture/capture.hpp"
#include "commun/windows/com.hpp"

namespace capture {

class PeripheriqueD3D final : public Peripherique {
public:
    commun::Com<ID3D11Device> peripherique;
    // Immediate context; the device's multithread protection serialises its use by the
    // capture handler and the recording thread.
    commun::Com<ID3D11DeviceContext> contexte;
};

// A BGRA image texture (the latest captured image).
class TextureD3D final : public Texture {
public:
    explicit TextureD3D(commun::Com<ID3D11Texture2D> t) : texture(std::move(t)) {}
    commun::Com<ID3D11Texture2D> texture;
};

}  // namespace capture
