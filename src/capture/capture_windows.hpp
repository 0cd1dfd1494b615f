#pragma once
// Where the capture gets its runtime objects: the system (activation factories and the
// device interop function), or a test's fakes.
#include <windows.h>
#include <dxgi.h>
#include <inspectable.h>

#include <expected>
#include <memory>

#include "capture/capture.hpp"
#include "capture/wgc_abi_windows.hpp"
#include "commun/erreur.hpp"
#include "commun/windows/com.hpp"

namespace capture {

class FabriquesCapture {
public:
    virtual ~FabriquesCapture() = default;
    // Activation factory of "Windows.Graphics.Capture.GraphicsCaptureItem", window interop.
    virtual HRESULT interop_item(commun::Com<abi::IGraphicsCaptureItemInterop>& sortie) = 0;
    // Activation factory of "Windows.Graphics.Capture.Direct3D11CaptureFramePool".
    virtual HRESULT statiques_pool(commun::Com<abi::IDirect3D11CaptureFramePoolStatics2>& sortie) = 0;
    // CreateDirect3D11DeviceFromDXGIDevice.
    virtual HRESULT peripherique_winrt(IDXGIDevice* dxgi, commun::Com<IInspectable>& sortie) = 0;
};

// The system's: RoGetActivationFactory (one CoIncrementMTAUsage and retry on a thread outside
// any apartment) and d3d11.dll.
FabriquesCapture& fabriques_systeme();

// `demarrer_capture` with the runtime objects of `fabriques`.
std::expected<std::unique_ptr<CaptureFenetre>, commun::Erreur> demarrer_capture_avec(FabriquesCapture& fabriques,
                                                                                     Peripherique& peripherique,
                                                                                     PoigneeFenetre fenetre,
                                                                                     bool curseur);

}  // namespace capture
