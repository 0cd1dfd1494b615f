#pragma once
// The Media Foundation transform as the portable encoder drives it. `creer_transformee`
// chooses, configures and starts it; this wraps an already started one (tests hand it fakes).
#include <windows.h>
#include <mfidl.h>
#include <mftransform.h>
#include <strmif.h>

#include <memory>

#include <expected>

#include "capture/capture.hpp"
#include "commun/erreur.hpp"
#include "commun/windows/com.hpp"
#include "encodeur/config.hpp"
#include "encodeur/encodeur.hpp"

namespace encodeur {

// Events come from `evenements` (the transform's event generator); surfaces are the D3D11
// converter's NV12 textures. At the end (`terminer_flux`, or the wrapper's release) the stream
// is ended, the manager detached and the transform shut down (IMFShutdown), then released in
// the order transform, codec interface, device manager.
std::unique_ptr<TransformeAsync> envelopper_transformee(commun::Com<IMFTransform> transformee,
                                                        commun::Com<IMFMediaEventGenerator> evenements,
                                                        commun::Com<IMFDXGIDeviceManager> gestionnaire,
                                                        commun::Com<ICodecAPI> codec);

// MFTEnum2's signature: the system's enumeration, or a test's.
using EnumerationTransformees = HRESULT(__stdcall*)(GUID, UINT32, const MFT_REGISTER_TYPE_INFO*,
                                                    const MFT_REGISTER_TYPE_INFO*, IMFAttributes*, IMFActivate***,
                                                    UINT32*);

// `creer_transformee` over the encoders `enumerer` lists.
std::expected<std::unique_ptr<TransformeAsync>, commun::Erreur> creer_transformee_avec(
    EnumerationTransformees enumerer, capture::Peripherique& peripherique, const ConfigEncodeur& config,
    const OptionsDiagnostic& options);

}  // namespace encodeur
