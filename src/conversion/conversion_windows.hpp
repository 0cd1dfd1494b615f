#pragma once
// One NV12 output surface of the D3D11 converter; the encoder takes its texture.
#include <windows.h>
#include <d3d11.h>

#include "commun/windows/com.hpp"
#include "conversion/conversion.hpp"

namespace conversion {

class SortieNv12D3D final : public SortieNv12 {
public:
    commun::Com<ID3D11Texture2D> texture;
    commun::Com<ID3D11VideoProcessorOutputView> vue;
};

}  // namespace conversion
