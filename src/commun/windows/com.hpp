#pragma once
// Owning COM interface pointer: one reference held, released on destruction.
#include <windows.h>
#include <unknwn.h>

#include <cstddef>
#include <utility>

namespace commun {

// IID of an interface type: its own `iid` member for the interfaces we declare by hand,
// otherwise the one the system headers attach to it.
template <typename T>
constexpr const IID& iid_de() {
    if constexpr (requires { T::iid; }) {
        return T::iid;
    } else {
        return __uuidof(T);
    }
}

template <typename T>
class Com {
public:
    Com() noexcept = default;
    Com(std::nullptr_t) noexcept {}
    Com(const Com& autre) noexcept : p_(autre.p_) { ajouter_reference(); }
    Com(Com&& autre) noexcept : p_(std::exchange(autre.p_, nullptr)) {}
    Com& operator=(const Com& autre) noexcept {
        if (this != &autre) {
            Com copie(autre);
            std::swap(p_, copie.p_);
        }
        return *this;
    }
    Com& operator=(Com&& autre) noexcept {
        if (this != &autre) {
            liberer();
            p_ = std::exchange(autre.p_, nullptr);
        }
        return *this;
    }
    ~Com() { liberer(); }

    // Takes over a reference the caller already owns (an out parameter of a COM call).
    static Com adopter(T* p) noexcept {
        Com c;
        c.p_ = p;
        return c;
    }
    // Shares a pointer someone else owns: adds a reference.
    static Com partager(T* p) noexcept {
        Com c;
        c.p_ = p;
        c.ajouter_reference();
        return c;
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // For out parameters: drops the current reference first.
    T** put() noexcept {
        liberer();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    void reset() noexcept { liberer(); }

    // Hands the reference to the caller.
    T* detacher() noexcept { return std::exchange(p_, nullptr); }

    // QueryInterface for U; `sortie` is empty on failure.
    template <typename U>
    HRESULT interroger(Com<U>& sortie) const noexcept {
        if (p_ == nullptr) {
            sortie.reset();
            return E_POINTER;
        }
        return p_->QueryInterface(iid_de<U>(), sortie.put_void());
    }

private:
    void ajouter_reference() noexcept {
        if (p_ != nullptr) {
            p_->AddRef();
        }
    }
    void liberer() noexcept {
        if (T* p = std::exchange(p_, nullptr)) {
            p->Release();
        }
    }

    T* p_ = nullptr;
};

}  // namespace commun
