#pragma once
// Fakes of Media Foundation objects for the checks run under wine. They live on the test's stack: their
// references are counted but COM never frees them, so a test sees every reference come back. The bases
// answer E_NOTIMPL to every method a fake does not override.
#include <windows.h>
#include <codecapi.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>
#include <strmif.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "commun/windows/com.hpp"
#include "encodeur/mf_abi_windows.hpp"

namespace essai {

// An asynchronous transform (it has IMFShutdown, as one must) that implements nothing.
struct TransformeeNonImplementee : IMFTransform, IMFShutdown {
    ULONG compte = 1;  // the test's own

    virtual ~TransformeeNonImplementee() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** objet) override {
        if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IMFTransform))) {
            *objet = static_cast<IMFTransform*>(this);
        } else if (IsEqualIID(iid, __uuidof(IMFShutdown))) {
            *objet = static_cast<IMFShutdown*>(this);
        } else {
            *objet = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++compte; }
    ULONG STDMETHODCALLTYPE Release() override { return --compte; }
    HRESULT STDMETHODCALLTYPE Shutdown() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetShutdownStatus(MFSHUTDOWN_STATUS*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStreamLimits(DWORD*, DWORD*, DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStreamIDs(DWORD, DWORD*, DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputStreamInfo(DWORD, MFT_INPUT_STREAM_INFO*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputStreamInfo(DWORD, MFT_OUTPUT_STREAM_INFO*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAttributes(IMFAttributes**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputStreamAttributes(DWORD, IMFAttributes**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputStreamAttributes(DWORD, IMFAttributes**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteInputStream(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddInputStreams(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputAvailableType(DWORD, DWORD, IMFMediaType**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputAvailableType(DWORD, DWORD, IMFMediaType**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetInputType(DWORD, IMFMediaType*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOutputType(DWORD, IMFMediaType*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputCurrentType(DWORD, IMFMediaType**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputCurrentType(DWORD, IMFMediaType**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputStatus(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOutputBounds(LONGLONG, LONGLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessEvent(DWORD, IMFMediaEvent*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessMessage(MFT_MESSAGE_TYPE, ULONG_PTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessInput(DWORD, IMFSample*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessOutput(DWORD, DWORD, MFT_OUTPUT_DATA_BUFFER*, DWORD*) override {
        return E_NOTIMPL;
    }
};

// Codec properties that implement nothing and answer no other interface.
struct CodecNonImplemente : ICodecAPI {
    ULONG compte = 1;

    virtual ~CodecNonImplemente() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** objet) override {
        *objet = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++compte; }
    ULONG STDMETHODCALLTYPE Release() override { return --compte; }
    HRESULT WINAPI IsSupported(const GUID*) override { return E_NOTIMPL; }
    HRESULT WINAPI IsModifiable(const GUID*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetParameterRange(const GUID*, VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetParameterValues(const GUID*, VARIANT**, ULONG*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetDefaultValue(const GUID*, VARIANT*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetValue(const GUID*, VARIANT*) override { return E_NOTIMPL; }
    HRESULT WINAPI SetValue(const GUID*, VARIANT*) override { return E_NOTIMPL; }
    HRESULT WINAPI RegisterForEvent(const GUID*, LONG_PTR) override { return E_NOTIMPL; }
    HRESULT WINAPI UnregisterForEvent(const GUID*) override { return E_NOTIMPL; }
    HRESULT WINAPI SetAllDefaults() override { return E_NOTIMPL; }
    HRESULT WINAPI SetValueWithNotify(const GUID*, VARIANT*, GUID**, ULONG*) override { return E_NOTIMPL; }
    HRESULT WINAPI SetAllDefaultsWithNotify(GUID**, ULONG*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetAllSettings(IStream*) override { return E_NOTIMPL; }
    HRESULT WINAPI SetAllSettings(IStream*) override { return E_NOTIMPL; }
    HRESULT WINAPI SetAllSettingsWithNotify(IStream*, GUID**, ULONG*) override { return E_NOTIMPL; }
};

// A transform's event generator: over the system's event queue when it has one, else never an event.
struct FauxGenerateur final : IMFMediaEventGenerator {
    ULONG compte = 1;
    IMFMediaEventQueue* file = nullptr;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** objet) override {
        if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IMFMediaEventGenerator))) {
            *objet = this;
            AddRef();
            return S_OK;
        }
        *objet = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++compte; }
    ULONG STDMETHODCALLTYPE Release() override { return --compte; }
    HRESULT STDMETHODCALLTYPE GetEvent(DWORD drapeaux, IMFMediaEvent** e) override {
        return file != nullptr ? file->GetEvent(drapeaux, e) : MF_E_NO_EVENTS_AVAILABLE;
    }
    HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* rappel, IUnknown* etat) override {
        return file != nullptr ? file->BeginGetEvent(rappel, etat) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* r, IMFMediaEvent** e) override {
        return file != nullptr ? file->EndGetEvent(r, e) : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType type, REFGUID etendu, HRESULT statut,
                                         const PROPVARIANT* valeur) override {
        return file != nullptr ? file->QueueEventParamVar(type, etendu, statut, valeur) : E_NOTIMPL;
    }
};

inline const char* nom_message(MFT_MESSAGE_TYPE m) {
    switch (m) {
    case MFT_MESSAGE_SET_D3D_MANAGER: return "SET_D3D_MANAGER";
    case MFT_MESSAGE_NOTIFY_BEGIN_STREAMING: return "BEGIN_STREAMING";
    case MFT_MESSAGE_NOTIFY_START_OF_STREAM: return "START_OF_STREAM";
    case MFT_MESSAGE_NOTIFY_END_OF_STREAM: return "END_OF_STREAM";
    case MFT_MESSAGE_NOTIFY_END_STREAMING: return "END_STREAMING";
    default: return "?";
    }
}

// The hardware encoder as the recording sees it: it writes what it is told, in order, to `journal`
// ("libérée" when the last reference but the test's goes), takes the types and attributes it is given,
// and answers ProcessOutput with `octets` as one access unit.
struct FausseTransformee : TransformeeNonImplementee {
    std::vector<std::string>& journal;
    std::string refus;           // the call that fails: "SetInputType" or a message's name ("START_OF_STREAM")
    ICodecAPI* codec = nullptr;  // answered to the codec properties' IID when set
    IMFMediaEventGenerator* generateur = nullptr;  // answered to IMFMediaEventGenerator when set
    commun::Com<IMFAttributes> attributs;
    commun::Com<IMFMediaType> type_entree;
    commun::Com<IMFMediaType> type_sortie;
    commun::Com<IMFSample> entree;  // the last sample submitted
    // What GetOutputAvailableType answers, and ProcessOutput: first `changements` new formats, then the
    // output (or `resultat_sortie` when it is a failure).
    HRESULT resultat_type = S_OK;
    commun::Com<IMFMediaType> type_propose;
    MFT_OUTPUT_STREAM_INFO info{};
    int changements = 0;
    HRESULT resultat_sortie = S_OK;
    std::vector<std::uint8_t> octets{0, 0, 0, 1, 0x65, 0x88};
    bool avec_temps = true;
    bool cle = true;
    // What the last ProcessOutput was given.
    DWORD longueur_max_recue = 0;
    bool echantillon_recu = false;

    explicit FausseTransformee(std::vector<std::string>& j) : journal(j) {
        MFCreateAttributes(attributs.put(), 4);
        MFCreateMediaType(type_propose.put());
        type_propose->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
        type_propose->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** objet) override {
        IUnknown* autre = nullptr;
        if (codec != nullptr && IsEqualIID(iid, encodeur::abi::iid_codec_api)) {
            autre = codec;
        } else if (generateur != nullptr && IsEqualIID(iid, __uuidof(IMFMediaEventGenerator))) {
            autre = generateur;
        } else {
            return TransformeeNonImplementee::QueryInterface(iid, objet);
        }
        autre->AddRef();
        *objet = autre;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        if (--compte == 1) {
            journal.emplace_back("libérée");
        }
        return compte;
    }
    HRESULT STDMETHODCALLTYPE Shutdown() override {
        journal.emplace_back("Shutdown");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAttributes(IMFAttributes** a) override {
        journal.emplace_back("GetAttributes");
        *a = attributs.get();
        attributs->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetOutputStreamInfo(DWORD flux, MFT_OUTPUT_STREAM_INFO* i) override {
        if (flux != 0) {
            return MF_E_INVALIDSTREAMNUMBER;
        }
        *i = info;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetOutputAvailableType(DWORD flux, DWORD indice, IMFMediaType** type) override {
        journal.push_back("GetOutputAvailableType " + std::to_string(flux) + " " + std::to_string(indice));
        if (FAILED(resultat_type)) {
            return resultat_type;
        }
        *type = type_propose.get();
        (*type)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetInputType(DWORD flux, IMFMediaType* type, DWORD drapeaux) override {
        journal.push_back("SetInputType " + std::to_string(flux) + " " + std::to_string(drapeaux));
        if (refus == "SetInputType") {
            return MF_E_INVALIDMEDIATYPE;
        }
        type_entree = commun::Com<IMFMediaType>::partager(type);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetOutputType(DWORD flux, IMFMediaType* type, DWORD drapeaux) override {
        journal.push_back("SetOutputType " + std::to_string(flux) + " " + std::to_string(drapeaux));
        type_sortie = commun::Com<IMFMediaType>::partager(type);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ProcessMessage(MFT_MESSAGE_TYPE m, ULONG_PTR p) override {
        std::string parametre = std::to_string(p);
        if (m == MFT_MESSAGE_SET_D3D_MANAGER && p != 0) {
            commun::Com<IMFDXGIDeviceManager> gestionnaire;
            parametre = SUCCEEDED(reinterpret_cast<IUnknown*>(p)->QueryInterface(__uuidof(IMFDXGIDeviceManager),
                                                                                 gestionnaire.put_void()))
                            ? "gestionnaire"
                            : "?";
        }
        journal.push_back(std::string("ProcessMessage ") + nom_message(m) + " " + parametre);
        return refus == nom_message(m) ? E_FAIL : S_OK;
    }
    HRESULT STDMETHODCALLTYPE ProcessInput(DWORD flux, IMFSample* echantillon, DWORD drapeaux) override {
        if (flux != 0 || drapeaux != 0 || echantillon == nullptr) {
            return E_INVALIDARG;
        }
        entree = commun::Com<IMFSample>::partager(echantillon);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ProcessOutput(DWORD drapeaux, DWORD nombre, MFT_OUTPUT_DATA_BUFFER* sorties,
                                            DWORD* statut) override {
        if (drapeaux != 0 || nombre != 1 || sorties == nullptr || statut == nullptr || sorties[0].dwStreamID != 0) {
            return E_INVALIDARG;
        }
        journal.emplace_back("ProcessOutput");
        if (changements > 0) {
            --changements;
            return MF_E_TRANSFORM_STREAM_CHANGE;
        }
        if (FAILED(resultat_sortie)) {
            return resultat_sortie;
        }
        echantillon_recu = sorties[0].pSample != nullptr;
        commun::Com<IMFSample> echantillon;
        if (sorties[0].pSample != nullptr) {
            echantillon = commun::Com<IMFSample>::partager(sorties[0].pSample);
        } else {
            // This transform provides the sample; the caller gets our reference.
            commun::Com<IMFMediaBuffer> tampon;
            MFCreateSample(echantillon.put());
            MFCreateMemoryBuffer(static_cast<DWORD>(octets.size()), tampon.put());
            echantillon->AddBuffer(tampon.get());
            sorties[0].pSample = echantillon.get();
            echantillon->AddRef();
        }
        commun::Com<IMFMediaBuffer> tampon;
        if (FAILED(echantillon->GetBufferByIndex(0, tampon.put()))) {
            return E_FAIL;
        }
        tampon->GetMaxLength(&longueur_max_recue);
        BYTE* donnees = nullptr;
        tampon->Lock(&donnees, nullptr, nullptr);
        std::memcpy(donnees, octets.data(), octets.size());
        tampon->Unlock();
        tampon->SetCurrentLength(static_cast<DWORD>(octets.size()));
        if (avec_temps) {
            echantillon->SetSampleTime(333333);
            echantillon->SetSampleDuration(333333);
        }
        if (cle) {
            echantillon->SetUINT32(MFSampleExtension_CleanPoint, 1);
        }
        *statut = 0;
        return S_OK;
    }
};

}  // namespace essai
