#pragma once
// Base of the event handlers we give the capture runtime: a COM object the event source holds
// by reference. Heap-allocated, thread-safe count, freed by its last Release; answers
// IUnknown, IAgileObject (it is called from any thread) and its own delegate interface.
#include <windows.h>
#include <objidl.h>
#include <unknwn.h>

#include <atomic>
#include <memory>
#include <utility>

#include "commun/windows/com.hpp"

namespace capture {

template <typename Interface, typename Derivee>
class Delegue : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** objet) override {
        if (objet == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, __uuidof(IUnknown)) || IsEqualIID(riid, __uuidof(IAgileObject)) ||
            IsEqualIID(riid, Interface::iid)) {
            *objet = static_cast<Interface*>(this);
            this->AddRef();
            return S_OK;
        }
        *objet = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return compte_.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG reste = compte_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (reste == 0) {
            std::unique_ptr<Derivee> fin(static_cast<Derivee*>(this));
        }
        return reste;
    }

    // Creates the object; the returned pointer owns its one reference.
    template <typename... A>
    static commun::Com<Interface> creer(A&&... arguments) {
        return commun::Com<Interface>::adopter(std::make_unique<Derivee>(std::forward<A>(arguments)...).release());
    }

protected:
    Delegue() = default;
    ~Delegue() = default;

private:
    std::atomic<ULONG> compte_{1};
};

}  // namespace capture
