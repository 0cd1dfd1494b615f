#pragma once
// The Media Foundation transform as the portable encoder drives it. `creer_transformee`
// chooses, configures and starts it; this wraps an already started one (tests hand it fakes).
#include <windows.h>
#include <mfidl.h>
#include <mftransform.h>
#include <strmif.h>

#include <memory>

#include "commun/com_windows.hpp"
#include "encodeur/encodeur.hpp"

namespace encodeur {

// Events come from `evenements` (the transform's event generator); surfaces are the D3D11
// converter's NV12 textures. Released in the order transform, codec interface, device manager.
std::unique_ptr<TransformeAsync> envelopper_transformee(commun::Com<IMFTransform> transformee,
                                                        commun::Com<IMFMediaEventGenerator> evenements,
                                                        commun::Com<IMFDXGIDeviceManager> gestionnaire,
                                                        commun::Com<ICodecAPI> codec);

}  // namespace encodeur
