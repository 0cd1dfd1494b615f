#pragma once
// The base of the capture runtime's fakes for the checks run under wine: a stack object whose references
// are counted (never freed by COM), answering for IUnknown, IInspectable and `I`, and E_NOTIMPL to the
// inspectable methods. A fake overrides the methods of `I` its test needs.
#include <windows.h>

#include "capture/wgc_abi_windows.hpp"

namespace essai {

template <typename I>
struct InspectableNonImplemente : I {
    ULONG compte = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** objet) override {
        if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, capture::abi::iid_inspectable) ||
            IsEqualIID(riid, I::iid)) {
            *objet = static_cast<I*>(this);
            AddRef();
            return S_OK;
        }
        *objet = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++compte; }
    ULONG STDMETHODCALLTYPE Release() override { return --compte; }
    HRESULT STDMETHODCALLTYPE GetIids(ULONG*, IID**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRuntimeClassName(HSTRING*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTrustLevel(TrustLevel*) override { return E_NOTIMPL; }
};

}  // namespace essai
