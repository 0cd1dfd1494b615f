// Encoder creation over a fake enumeration: the vendor's encoder chosen by friendly name, the
// transform unlocked and bound to the device, output type, codec properties and input type in
// order with their values, the stream started, the diagnostics written to standard error; at
// the end, or on a failure half-way, the transform shut down before its last release.
#include "test_creation_encodeur.hpp"

#include <windows.h>
#include <codecapi.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>
#include <oleauto.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "commun/windows/com.hpp"
#include "commun/windows/hresult.hpp"
#include "encodeur/encodeur_windows.hpp"
#include "encodeur/mf_abi_windows.hpp"
#include "enregistrement/session.hpp"
#include "support/windows/faux_mf.hpp"

namespace {

using commun::Com;

std::vector<std::string> journal;
void noter(const std::string& ligne) { journal.push_back(ligne); }

const std::map<std::string, GUID>& proprietes() {
    static const std::map<std::string, GUID> p{
        {"mode", GUID{STATIC_CODECAPI_AVEncCommonRateControlMode}},
        {"moyen", GUID{STATIC_CODECAPI_AVEncCommonMeanBitRate}},
        {"max", GUID{STATIC_CODECAPI_AVEncCommonMaxBitRate}},
        {"tampon", GUID{STATIC_CODECAPI_AVEncCommonBufferSize}},
        {"gop", GUID{STATIC_CODECAPI_AVEncMPVGOPSize}},
        {"b", GUID{STATIC_CODECAPI_AVEncMPVDefaultBPictureCount}},
        {"qualite", GUID{STATIC_CODECAPI_AVEncCommonQualityVsSpeed}},
        {"latence", GUID{STATIC_CODECAPI_AVLowLatencyMode}},
        {"cabac", GUID{STATIC_CODECAPI_AVEncH264CABACEnable}},
    };
    return p;
}
std::string nom_propriete(const GUID* g) {
    for (const auto& [nom, guid] : proprietes()) {
        if (IsEqualGUID(*g, guid)) {
            return nom;
        }
    }
    return "?";
}

struct FauxCodec final : essai::CodecNonImplemente {
    std::vector<std::string> refuses;
    // Wine has no VariantToUInt32, so reading back answers nothing here and it is never called.
    HRESULT WINAPI GetValue(const GUID* api, VARIANT*) override {
        noter("GetValue " + nom_propriete(api));
        return E_NOTIMPL;
    }
    HRESULT WINAPI SetValue(const GUID* api, VARIANT* v) override {
        const std::string nom = nom_propriete(api);
        std::string valeur = "?";
        if (v->vt == VT_UI4) {
            valeur = "ui4 " + std::to_string(v->ulVal);
        } else if (v->vt == VT_BOOL) {
            valeur = std::string("bool ") + (v->boolVal == VARIANT_TRUE ? "vrai" : "?");
        }
        noter("SetValue " + nom + " " + valeur);
        for (const auto& r : refuses) {
            if (r == nom) {
                return E_INVALIDARG;
            }
        }
        return S_OK;
    }
};

// The vendor's encoder: the shared fake transform writing to this file's journal, with codec properties and
// an event generator that has no event.
struct FausseTransformee final : essai::FausseTransformee {
    FauxCodec faux_codec;
    essai::FauxGenerateur faux_generateur;
    FausseTransformee() : essai::FausseTransformee(::journal) {
        codec = &faux_codec;
        generateur = &faux_generateur;
    }
};

// An activation object: a real attribute store (its friendly name) behind our activation.
struct FausseActivation final : IMFActivate {
    ULONG compte = 1;
    Com<IMFAttributes> a;
    FausseTransformee* transformee = nullptr;
    std::string nom;
    FausseActivation(const wchar_t* nom_large, std::string n, FausseTransformee* t)
        : transformee(t), nom(std::move(n)) {
        MFCreateAttributes(a.put(), 1);
        a->SetString(MFT_FRIENDLY_NAME_Attribute, nom_large);
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** o) override {
        *o = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++compte; }
    ULONG STDMETHODCALLTYPE Release() override { return --compte; }
    HRESULT STDMETHODCALLTYPE GetItem(REFGUID k, PROPVARIANT* v) override { return a->GetItem(k, v); }
    HRESULT STDMETHODCALLTYPE GetItemType(REFGUID k, MF_ATTRIBUTE_TYPE* t) override { return a->GetItemType(k, t); }
    HRESULT STDMETHODCALLTYPE CompareItem(REFGUID k, REFPROPVARIANT v, WINBOOL* r) override {
        return a->CompareItem(k, v, r);
    }
    HRESULT STDMETHODCALLTYPE Compare(IMFAttributes* o, MF_ATTRIBUTES_MATCH_TYPE m, WINBOOL* r) override {
        return a->Compare(o, m, r);
    }
    HRESULT STDMETHODCALLTYPE GetUINT32(REFGUID k, UINT32* v) override { return a->GetUINT32(k, v); }
    HRESULT STDMETHODCALLTYPE GetUINT64(REFGUID k, UINT64* v) override { return a->GetUINT64(k, v); }
    HRESULT STDMETHODCALLTYPE GetDouble(REFGUID k, double* v) override { return a->GetDouble(k, v); }
    HRESULT STDMETHODCALLTYPE GetGUID(REFGUID k, GUID* v) override { return a->GetGUID(k, v); }
    HRESULT STDMETHODCALLTYPE GetStringLength(REFGUID k, UINT32* n) override { return a->GetStringLength(k, n); }
    HRESULT STDMETHODCALLTYPE GetString(REFGUID k, LPWSTR v, UINT32 t, UINT32* n) override {
        return a->GetString(k, v, t, n);
    }
    HRESULT STDMETHODCALLTYPE GetAllocatedString(REFGUID k, LPWSTR* v, UINT32* n) override {
        return a->GetAllocatedString(k, v, n);
    }
    HRESULT STDMETHODCALLTYPE GetBlobSize(REFGUID k, UINT32* n) override { return a->GetBlobSize(k, n); }
    HRESULT STDMETHODCALLTYPE GetBlob(REFGUID k, UINT8* b, UINT32 t, UINT32* n) override {
        return a->GetBlob(k, b, t, n);
    }
    HRESULT STDMETHODCALLTYPE GetAllocatedBlob(REFGUID k, UINT8** b, UINT32* n) override {
        return a->GetAllocatedBlob(k, b, n);
    }
    HRESULT STDMETHODCALLTYPE GetUnknown(REFGUID k, REFIID i, LPVOID* v) override { return a->GetUnknown(k, i, v); }
    HRESULT STDMETHODCALLTYPE SetItem(REFGUID k, REFPROPVARIANT v) override { return a->SetItem(k, v); }
    HRESULT STDMETHODCALLTYPE DeleteItem(REFGUID k) override { return a->DeleteItem(k); }
    HRESULT STDMETHODCALLTYPE DeleteAllItems() override { return a->DeleteAllItems(); }
    HRESULT STDMETHODCALLTYPE SetUINT32(REFGUID k, UINT32 v) override { return a->SetUINT32(k, v); }
    HRESULT STDMETHODCALLTYPE SetUINT64(REFGUID k, UINT64 v) override { return a->SetUINT64(k, v); }
    HRESULT STDMETHODCALLTYPE SetDouble(REFGUID k, double v) override { return a->SetDouble(k, v); }
    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID k, REFGUID v) override { return a->SetGUID(k, v); }
    HRESULT STDMETHODCALLTYPE SetString(REFGUID k, LPCWSTR v) override { return a->SetString(k, v); }
    HRESULT STDMETHODCALLTYPE SetBlob(REFGUID k, const UINT8* b, UINT32 n) override { return a->SetBlob(k, b, n); }
    HRESULT STDMETHODCALLTYPE SetUnknown(REFGUID k, IUnknown* u) override { return a->SetUnknown(k, u); }
    HRESULT STDMETHODCALLTYPE LockStore() override { return a->LockStore(); }
    HRESULT STDMETHODCALLTYPE UnlockStore() override { return a->UnlockStore(); }
    HRESULT STDMETHODCALLTYPE GetCount(UINT32* n) override { return a->GetCount(n); }
    HRESULT STDMETHODCALLTYPE GetItemByIndex(UINT32 i, GUID* k, PROPVARIANT* v) override {
        return a->GetItemByIndex(i, k, v);
    }
    HRESULT STDMETHODCALLTYPE CopyAllItems(IMFAttributes* d) override { return a->CopyAllItems(d); }
    HRESULT STDMETHODCALLTYPE ActivateObject(REFIID riid, void** o) override {
        noter("ActivateObject " + nom);
        return transformee->QueryInterface(riid, o);
    }
    HRESULT STDMETHODCALLTYPE ShutdownObject() override {
        noter("ShutdownObject " + nom);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DetachObject() override { return S_OK; }
};

// What the fake enumeration hands out, as MFTEnum2 does: a task-memory array of references.
std::vector<IMFActivate*> liste;

HRESULT __stdcall fausse_enumeration(GUID categorie, UINT32 drapeaux, const MFT_REGISTER_TYPE_INFO* entree,
                                     const MFT_REGISTER_TYPE_INFO* sortie, IMFAttributes* attributs,
                                     IMFActivate*** tableau, UINT32* nombre) {
    const bool sortie_h264 = sortie != nullptr && IsEqualGUID(sortie->guidMajorType, MFMediaType_Video) &&
                             IsEqualGUID(sortie->guidSubtype, MFVideoFormat_H264);
    noter(std::string("MFTEnum2 ") + (IsEqualGUID(categorie, MFT_CATEGORY_VIDEO_ENCODER) ? "encodeur" : "?") + " " +
          std::to_string(drapeaux) + " " + (entree == nullptr ? "-" : "?") + " " + (sortie_h264 ? "h264" : "?") + " " +
          (attributs == nullptr ? "-" : "?"));
    *tableau = static_cast<IMFActivate**>(CoTaskMemAlloc(sizeof(IMFActivate*) * liste.size()));
    for (std::size_t i = 0; i < liste.size(); ++i) {
        (*tableau)[i] = liste[i];
        if (liste[i] != nullptr) {
            liste[i]->AddRef();
        }
    }
    *nombre = static_cast<UINT32>(liste.size());
    return S_OK;
}

UINT32 u32(IMFAttributes* a, const GUID& k) {
    UINT32 v = 0xdeadbeef;
    a->GetUINT32(k, &v);
    return v;
}
UINT64 u64(IMFAttributes* a, const GUID& k) {
    UINT64 v = 0;
    a->GetUINT64(k, &v);
    return v;
}
bool guid_egal(IMFAttributes* a, const GUID& k, const GUID& attendu) {
    GUID v{};
    return SUCCEEDED(a->GetGUID(k, &v)) && IsEqualGUID(v, attendu);
}
UINT32 nombre_attributs(IMFAttributes* a) {
    UINT32 n = 0;
    a->GetCount(&n);
    return n;
}

void afficher_journal() {
    for (const auto& ligne : journal) {
        std::printf("    | %s\n", ligne.c_str());
    }
}

// Runs the creation with standard error sent into a pipe; returns what was written there.
std::string creer_en_capturant(capture::PeripheriqueD3D& d3d, const encodeur::OptionsDiagnostic& options, bool& cree) {
    HANDLE lecture = nullptr;
    HANDLE ecriture = nullptr;
    CreatePipe(&lecture, &ecriture, nullptr, 1 << 16);
    HANDLE ancien = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_ERROR_HANDLE, ecriture);
    auto resultat =
        encodeur::creer_transformee_avec(fausse_enumeration, d3d, enregistrement::config_enregistrement(), options);
    SetStdHandle(STD_ERROR_HANDLE, ancien);
    CloseHandle(ecriture);
    cree = resultat.has_value();
    if (resultat) {
        (*resultat)->terminer_flux();
    } else {
        std::printf("    | erreur : %s\n", resultat.error().chaine().c_str());
    }
    std::string texte;
    char tampon[4096];
    DWORD lus = 0;
    while (ReadFile(lecture, tampon, sizeof(tampon), &lus, nullptr) && lus > 0) {
        texte.append(tampon, lus);
    }
    CloseHandle(lecture);
    return texte;
}

}  // namespace

void verifier_creation_encodeur(capture::PeripheriqueD3D& d3d, void (*verifier)(bool, const char*)) {
    FausseTransformee mft;
    FausseActivation amd(L"AMD H.264 Encoder MFT", "AMD", &mft);
    FausseActivation nvidia(L"NVIDIA H.264 Encoder MFT", "NVIDIA", &mft);
    FausseActivation minuscules(L"nvidia h.264 encoder", "nvidia", &mft);
    const std::uint32_t fournisseur = d3d.id_fournisseur;
    d3d.id_fournisseur = 0x10DE;
    {
        // Empty entries are skipped; case matters; the first NVIDIA one is taken.
        liste = {nullptr, &minuscules, &amd, &nvidia};
        journal.clear();
        encodeur::OptionsDiagnostic options;
        bool cree = false;
        const std::string diagnostics = creer_en_capturant(d3d, options, cree);
        verifier(cree, "encodeur créé");
        const std::vector<std::string> attendu{
            "MFTEnum2 encodeur 68 - h264 -",
            "ActivateObject NVIDIA",
            "GetAttributes",
            "ProcessMessage SET_D3D_MANAGER gestionnaire",
            "SetOutputType 0 0",
            "SetValue mode ui4 0",
            "SetValue moyen ui4 2500000",
            "SetValue max ui4 2500000",
            "SetValue tampon ui4 1250000",
            "SetValue gop ui4 60",
            "SetValue b ui4 0",
            "SetValue qualite ui4 50",
            "SetValue latence bool vrai",
            "SetValue cabac bool vrai",
            "SetInputType 0 0",
            "ProcessMessage BEGIN_STREAMING 0",
            "ProcessMessage START_OF_STREAM 0",
            "ProcessMessage END_OF_STREAM 0",
            "ProcessMessage END_STREAMING 0",
            "ProcessMessage SET_D3D_MANAGER 0",
            "Shutdown",
            "ShutdownObject NVIDIA",
            "libérée",
        };
        verifier(journal == attendu, "création : appels, valeurs et ordre");
        if (journal != attendu) {
            afficher_journal();
        }
        verifier(diagnostics.empty(), "rien sur la sortie d'erreur sans diagnostic");
        verifier(u32(mft.attributs.get(), MF_TRANSFORM_ASYNC_UNLOCK) == 1 &&
                     u32(mft.attributs.get(), MF_LOW_LATENCY) == 1,
                 "déverrouillage asynchrone et faible latence");
        IMFMediaType* s = mft.type_sortie.get();
        verifier(s != nullptr && nombre_attributs(s) == 14 && guid_egal(s, MF_MT_MAJOR_TYPE, MFMediaType_Video) &&
                     guid_egal(s, MF_MT_SUBTYPE, MFVideoFormat_H264) && u32(s, MF_MT_AVG_BITRATE) == 2500000 &&
                     u64(s, MF_MT_FRAME_SIZE) == ((UINT64{1280} << 32) | 720) &&
                     u64(s, MF_MT_FRAME_RATE) == ((UINT64{30} << 32) | 1) &&
                     u64(s, MF_MT_PIXEL_ASPECT_RATIO) == ((UINT64{1} << 32) | 1) && u32(s, MF_MT_INTERLACE_MODE) == 2 &&
                     u32(s, MF_MT_MAX_KEYFRAME_SPACING) == 60 && u32(s, MF_MT_MPEG2_PROFILE) == 100 &&
                     u32(s, MF_MT_MPEG2_LEVEL) == 40 && u32(s, MF_MT_VIDEO_PRIMARIES) == 2 &&
                     u32(s, MF_MT_TRANSFER_FUNCTION) == 5 && u32(s, MF_MT_YUV_MATRIX) == 1 &&
                     u32(s, MF_MT_VIDEO_NOMINAL_RANGE) == 2,
                 "type de sortie");
        IMFMediaType* e = mft.type_entree.get();
        verifier(e != nullptr && nombre_attributs(e) == 10 && guid_egal(e, MF_MT_MAJOR_TYPE, MFMediaType_Video) &&
                     guid_egal(e, MF_MT_SUBTYPE, MFVideoFormat_NV12) &&
                     u64(e, MF_MT_FRAME_SIZE) == ((UINT64{1280} << 32) | 720) &&
                     u64(e, MF_MT_FRAME_RATE) == ((UINT64{30} << 32) | 1) &&
                     u64(e, MF_MT_PIXEL_ASPECT_RATIO) == ((UINT64{1} << 32) | 1) && u32(e, MF_MT_INTERLACE_MODE) == 2 &&
                     u32(e, MF_MT_VIDEO_PRIMARIES) == 2 && u32(e, MF_MT_TRANSFER_FUNCTION) == 5 &&
                     u32(e, MF_MT_YUV_MATRIX) == 1 && u32(e, MF_MT_VIDEO_NOMINAL_RANGE) == 2,
                 "type d'entrée");
        verifier(amd.compte == 1 && nvidia.compte == 1 && minuscules.compte == 1, "activations rendues");
        verifier(mft.compte == 1 && mft.faux_codec.compte == 1 && mft.faux_generateur.compte == 1,
                 "transformée rendue");
    }
    {
        // No low latency, no codec interface, the GOP of the test variable.
        FausseTransformee sans_codec;
        sans_codec.codec = nullptr;
        FausseActivation seule(L"NVIDIA H.264 Encoder MFT", "NVIDIA", &sans_codec);
        liste = {&seule};
        journal.clear();
        encodeur::OptionsDiagnostic options;
        options.faible_latence = false;
        bool cree = false;
        creer_en_capturant(d3d, options, cree);
        bool sans_setvalue = true;
        for (const auto& l : journal) {
            sans_setvalue = sans_setvalue && !l.starts_with("SetValue");
        }
        UINT32 latence = 0;
        verifier(cree && sans_setvalue && FAILED(sans_codec.attributs->GetUINT32(MF_LOW_LATENCY, &latence)),
                 "sans interface de propriétés ni faible latence : créé quand même");
    }
    {
        // Diagnostics: a refused number is reported, refused booleans are not; the read-back.
        FausseTransformee mft2;
        mft2.faux_codec.refuses = {"gop", "cabac"};
        FausseActivation act(L"NVIDIA H.264 Encoder MFT", "NVIDIA", &mft2);
        liste = {&act};
        journal.clear();
        encodeur::OptionsDiagnostic options;
        options.debogage = true;
        options.gop_test = 90;
        bool cree = false;
        const std::string diagnostics = creer_en_capturant(d3d, options, cree);
        const std::string attendu = "codecapi SetValue(95F31B26-95A4-41AA-9303-246A7FC6EEF1, 90) refusé : " +
                                    commun::texte_hresult(E_INVALIDARG) +
                                    "\n\tcodecapi GOP illisible : " + commun::texte_hresult(E_NOTIMPL) +
                                    "\n\tcodecapi debit illisible : " + commun::texte_hresult(E_NOTIMPL) +
                                    "\n\tcodecapi mode illisible : " + commun::texte_hresult(E_NOTIMPL) +
                                    "\n\tcodecapi B illisible : " + commun::texte_hresult(E_NOTIMPL) + "\n";
        verifier(cree && diagnostics == attendu, "lignes de diagnostic");
        if (diagnostics != attendu) {
            std::printf("    | obtenu : %s", diagnostics.c_str());
        }
        verifier(u32(mft2.type_sortie.get(), MF_MT_MAX_KEYFRAME_SPACING) == 60,
                 "l'espacement des images clés garde 60 avec le GOP de test");
    }
    {
        // A failure after activation: what was started is undone (streaming ended, manager
        // detached), then the transform is shut down before its last release.
        const std::vector<std::pair<std::string, std::vector<std::string>>> cas{
            {"SetInputType",
             {"SetInputType 0 0", "ProcessMessage SET_D3D_MANAGER 0", "Shutdown", "ShutdownObject NVIDIA", "libérée"}},
            {"START_OF_STREAM",
             {"ProcessMessage START_OF_STREAM 0", "ProcessMessage END_OF_STREAM 0", "ProcessMessage END_STREAMING 0",
              "ProcessMessage SET_D3D_MANAGER 0", "Shutdown", "ShutdownObject NVIDIA", "libérée"}},
        };
        for (const auto& [refus, fin] : cas) {
            FausseTransformee mft4;
            mft4.refus = refus;
            FausseActivation act(L"NVIDIA H.264 Encoder MFT", "NVIDIA", &mft4);
            liste = {&act};
            journal.clear();
            auto r = encodeur::creer_transformee_avec(fausse_enumeration, d3d, enregistrement::config_enregistrement(),
                                                      encodeur::OptionsDiagnostic{});
            const bool ordre =
                journal.size() >= fin.size() &&
                std::vector<std::string>(journal.end() - static_cast<std::ptrdiff_t>(fin.size()), journal.end()) == fin;
            verifier(!r && ordre && mft4.compte == 1 && act.compte == 1,
                     "échec après l'activation : arrêt de la transformée avant sa libération");
            if (!ordre) {
                afficher_journal();
            }
        }
    }
    {
        // A vendor outside the table: no encoder, whatever is listed.
        FausseTransformee mft3;
        FausseActivation act(L"NVIDIA H.264 Encoder MFT", "NVIDIA", &mft3);
        liste = {&act};
        d3d.id_fournisseur = 0x5143;
        auto r = encodeur::creer_transformee_avec(fausse_enumeration, d3d, enregistrement::config_enregistrement(),
                                                  encodeur::OptionsDiagnostic{});
        verifier(!r && r.error().chaine() == encodeur::message_aucun_encodeur(d3d.nom) && act.compte == 1,
                 "fournisseur inconnu : aucun encodeur");
    }
    d3d.id_fournisseur = fournisseur;
    liste.clear();
}
