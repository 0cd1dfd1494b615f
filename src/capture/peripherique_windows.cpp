// Device creation: the first hardware adapter, a Direct3D 11 device with video support.
#include <windows.h>
#include <d3d10.h>
#include <d3d11.h>
#include <dxgi.h>

#include <array>
#include <memory>
#include <string>
#include <string_view>

#include "capture/peripherique_windows.hpp"
#include "commun/windows/hresult.hpp"
#include "commun/utf16.hpp"

namespace capture {

using commun::Com;
using commun::Erreur;

namespace {

static_assert((D3D11_CREATE_DEVICE_BGRA_SUPPORT | D3D11_CREATE_DEVICE_VIDEO_SUPPORT) == 0x820);
static_assert(D3D11_SDK_VERSION == 7);
static_assert(DXGI_ADAPTER_FLAG_SOFTWARE == 2);

// The 128-unit description up to its first NUL, invalid units replaced. Drivers may leave
// bytes after the terminator: they are not part of the name.
std::string nom_adaptateur(const DXGI_ADAPTER_DESC1& description) {
    std::size_t longueur = 0;
    while (longueur < std::size(description.Description) && description.Description[longueur] != L'\0') {
        ++longueur;
    }
    return commun::utf8_depuis_utf16(commun::utf16(std::wstring_view(description.Description, longueur)));
}

}  // namespace

std::expected<std::unique_ptr<Peripherique>, Erreur> creer_peripherique() {
    Com<IDXGIFactory1> fabrique;
    if (HRESULT hr = CreateDXGIFactory1(__uuidof(IDXGIFactory1), fabrique.put_void()); FAILED(hr)) {
        return std::unexpected(commun::erreur_hresult(hr));
    }

    // An EnumAdapters1 failure (DXGI_ERROR_NOT_FOUND) ends the list.
    Com<IDXGIAdapter1> retenu;
    DXGI_ADAPTER_DESC1 description_retenue{};
    for (UINT i = 0;; ++i) {
        Com<IDXGIAdapter1> adaptateur;
        if (FAILED(fabrique->EnumAdapters1(i, adaptateur.put()))) {
            break;
        }
        DXGI_ADAPTER_DESC1 description{};
        if (HRESULT hr = adaptateur->GetDesc1(&description); FAILED(hr)) {
            return std::unexpected(commun::erreur_hresult(hr));
        }
        if ((description.Flags & DXGI_ADAPTER_FLAG_SOFTWARE) != 0) {
            continue;
        }
        if (!retenu) {
            retenu = std::move(adaptateur);
            description_retenue = description;
        }
        // Later adapters are still described: a failing description ends the operation.
    }
    if (!retenu) {
        return std::unexpected(Erreur("aucune carte graphique matérielle"));
    }

    static constexpr std::array<D3D_FEATURE_LEVEL, 2> niveaux{D3D_FEATURE_LEVEL_11_1, D3D_FEATURE_LEVEL_11_0};
    auto resultat = std::make_unique<PeripheriqueD3D>();
    const UINT drapeaux = D3D11_CREATE_DEVICE_BGRA_SUPPORT | D3D11_CREATE_DEVICE_VIDEO_SUPPORT;  // 0x820
    if (HRESULT hr = D3D11CreateDevice(retenu.get(), D3D_DRIVER_TYPE_UNKNOWN, nullptr, drapeaux, niveaux.data(),
                                       static_cast<UINT>(niveaux.size()), D3D11_SDK_VERSION,
                                       resultat->peripherique.put(), nullptr, resultat->contexte.put());
        FAILED(hr)) {
        return std::unexpected(commun::erreur_hresult(hr));
    }
    if (!resultat->peripherique) {
        return std::unexpected(Erreur("périphérique D3D11 non créé"));
    }
    if (!resultat->contexte) {
        return std::unexpected(Erreur("contexte D3D11 non créé"));
    }

    Com<ID3D10Multithread> multifil;
    if (HRESULT hr = resultat->contexte.interroger(multifil); FAILED(hr)) {
        return std::unexpected(commun::erreur_hresult(hr));
    }
    multifil->SetMultithreadProtected(TRUE);

    resultat->nom = nom_adaptateur(description_retenue);
    resultat->id_fournisseur = description_retenue.VendorId;
    return resultat;
}

}  // namespace capture
