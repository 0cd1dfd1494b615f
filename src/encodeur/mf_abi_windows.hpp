#pragma once
// Media Foundation and property-system items the cross compiler's headers lack.
#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <mftransform.h>
#include <oaidl.h>

// mfplat.dll: enumeration of transforms, the newer form that takes an attribute store.
extern "C" HRESULT __stdcall MFTEnum2(GUID guidCategory, UINT32 Flags, const MFT_REGISTER_TYPE_INFO* pInputType,
                                      const MFT_REGISTER_TYPE_INFO* pOutputType, IMFAttributes* pAttributes,
                                      IMFActivate*** pppMFTActivate, UINT32* pnumMFTActivate);

// propsys.dll: a VARIANT read as an unsigned 32-bit number (the reference is a pointer at the ABI).
extern "C" HRESULT __stdcall VariantToUInt32(const VARIANT& varIn, ULONG* pulRet);

namespace encodeur::abi {

// ICodecAPI, declared by strmif.h without an IID attached to the type.
inline constexpr IID iid_codec_api{0x901db4c7, 0x31ce, 0x41a2, {0x85, 0xdc, 0x8f, 0xa0, 0xbf, 0x41, 0xb8, 0xda}};

}  // namespace encodeur::abi
