#pragma once
// The two handlers the capture registers, as COM objects of ours (see delegue_windows.hpp).
#include <windows.h>
#include <d3d11.h>

#include <memory>

#include "capture/capture.hpp"
#include "capture/wgc_abi_windows.hpp"
#include "commun/windows/com.hpp"

namespace capture {

// Frames of the pool: pool buffers are created with 3 buffers in B8G8R8A8; `taille_initiale`
// is the capture item's size when the pool was created.
inline constexpr INT32 nombre_tampons = 3;

commun::Com<abi::IGestionnaireFrameArrived> creer_gestionnaire_frame_arrived(
    commun::Com<ID3D11Device> peripherique, commun::Com<ID3D11DeviceContext> contexte,
    std::shared_ptr<EtatCapture> etat, commun::Com<abi::IDirect3DDevice> peripherique_winrt,
    abi::SizeInt32 taille_initiale);

commun::Com<abi::IGestionnaireClosed> creer_gestionnaire_closed(std::shared_ptr<EtatCapture> etat);

}  // namespace capture
