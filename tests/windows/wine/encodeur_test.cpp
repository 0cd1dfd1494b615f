// The encoder's transform wrapper against a fake transform whose events, samples and buffers
// are the system's own Media Foundation objects: event types mapped, input samples built over
// the surface with their times, output buffers sized and read back, the stream ended in order.
#include "encodeur_test.hpp"

#include <windows.h>
#include <d3d11.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "commun/com_windows.hpp"
#include "conversion/sortie_windows.hpp"
#include "encodeur/transformee_windows.hpp"

namespace {

using commun::Com;

struct FausseTransformee final : IMFTransform {
    ULONG compte = 1;
    // What the wrapper did.
    Com<IMFSample> entree;
    std::vector<std::pair<MFT_MESSAGE_TYPE, ULONG_PTR>> messages;
    DWORD longueur_max_recue = 0;
    bool echantillon_recu = false;
    // What ProcessOutput answers.
    MFT_OUTPUT_STREAM_INFO info{};
    HRESULT resultat_sortie = S_OK;
    std::vector<std::uint8_t> octets{0, 0, 0, 1, 0x65, 0x88};
    bool avec_temps = true;
    bool cle = true;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** objet) override {
        if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IMFTransform))) {
            *objet = this;
            AddRef();
            return S_OK;
        }
        *objet = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++compte; }
    ULONG STDMETHODCALLTYPE Release() override { return --compte; }
    HRESULT STDMETHODCALLTYPE GetStreamLimits(DWORD*, DWORD*, DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStreamIDs(DWORD, DWORD*, DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputStreamInfo(DWORD, MFT_INPUT_STREAM_INFO*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputStreamInfo(DWORD flux, MFT_OUTPUT_STREAM_INFO* i) override {
        if (flux != 0) {
            return MF_E_INVALIDSTREAMNUMBER;
        }
        *i = info;
        return S_OK;
    }
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
    HRESULT STDMETHODCALLTYPE ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR parametre) override {
        messages.emplace_back(message, parametre);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ProcessInput(DWORD flux, IMFSample* echantillon, DWORD drapeaux) override {
        if (flux != 0 || drapeaux != 0 || echantillon == nullptr) {
            return E_INVALIDARG;
        }
        entree = Com<IMFSample>::partager(echantillon);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ProcessOutput(DWORD drapeaux, DWORD nombre, MFT_OUTPUT_DATA_BUFFER* sorties,
                                            DWORD* statut) override {
        if (drapeaux != 0 || nombre != 1 || sorties == nullptr || statut == nullptr || sorties[0].dwStreamID != 0) {
            return E_INVALIDARG;
        }
        if (FAILED(resultat_sortie)) {
            return resultat_sortie;
        }
        echantillon_recu = sorties[0].pSample != nullptr;
        Com<IMFSample> echantillon;
        if (sorties[0].pSample != nullptr) {
            echantillon = Com<IMFSample>::partager(sorties[0].pSample);
        } else {
            // This transform provides the sample; the caller gets our reference.
            Com<IMFMediaBuffer> tampon;
            MFCreateSample(echantillon.put());
            MFCreateMemoryBuffer(static_cast<DWORD>(octets.size()), tampon.put());
            echantillon->AddBuffer(tampon.get());
            sorties[0].pSample = echantillon.get();
            echantillon->AddRef();
        }
        Com<IMFMediaBuffer> tampon;
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

// The transform's event generator, over the system's event queue.
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
    HRESULT STDMETHODCALLTYPE GetEvent(DWORD drapeaux, IMFMediaEvent** e) override { return file->GetEvent(drapeaux, e); }
    HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* rappel, IUnknown* etat) override {
        return file->BeginGetEvent(rappel, etat);
    }
    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* r, IMFMediaEvent** e) override { return file->EndGetEvent(r, e); }
    HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType type, REFGUID etendu, HRESULT statut,
                                         const PROPVARIANT* valeur) override {
        return file->QueueEventParamVar(type, etendu, statut, valeur);
    }
};

Com<IMFMediaEvent> evenement(MediaEventType type) {
    Com<IMFMediaEvent> e;
    MFCreateMediaEvent(type, GUID_NULL, S_OK, nullptr, e.put());
    return e;
}

}  // namespace

void verifier_transformee(capture::PeripheriqueD3D& d3d, void (*verifier)(bool, const char*)) {
    verifier(SUCCEEDED(MFStartup(MF_VERSION, MFSTARTUP_FULL)), "MFStartup");
    Com<IMFMediaEventQueue> file;
    verifier(SUCCEEDED(MFCreateEventQueue(file.put())) && file, "file d'événements");
    if (!file) {
        return;
    }
    FauxGenerateur generateur;
    generateur.file = file.get();
    FausseTransformee mft;
    {
        auto transformee = encodeur::envelopper_transformee(Com<IMFTransform>::partager(&mft),
                                                            Com<IMFMediaEventGenerator>::partager(&generateur),
                                                            nullptr, nullptr);

        // Events: none waiting, then each kind in turn.
        verifier(transformee->evenement_suivant() == encodeur::TypeEvenement::aucun, "aucun événement");
        for (MediaEventType type : {MediaEventType(METransformNeedInput), MediaEventType(METransformHaveOutput),
                                    MediaEventType(MEError), MediaEventType(MEStreamStarted)}) {
            file->QueueEvent(evenement(type).get());
        }
        verifier(transformee->evenement_suivant() == encodeur::TypeEvenement::besoin_entree, "besoin d'entrée");
        verifier(transformee->evenement_suivant() == encodeur::TypeEvenement::sortie_prete, "sortie prête");
        verifier(transformee->evenement_suivant() == encodeur::TypeEvenement::erreur, "erreur");
        verifier(transformee->evenement_suivant() == encodeur::TypeEvenement::autre, "autre");
        verifier(transformee->evenement_suivant() == encodeur::TypeEvenement::aucun, "file vide");

        // Input: one sample over the surface, with the frame's time and duration.
        conversion::SortieNv12D3D surface;
        D3D11_TEXTURE2D_DESC d{};
        d.Width = 64;
        d.Height = 64;
        d.MipLevels = 1;
        d.ArraySize = 1;
        d.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        d.SampleDesc.Count = 1;
        d.Usage = D3D11_USAGE_DEFAULT;
        d.BindFlags = D3D11_BIND_RENDER_TARGET;
        d3d.peripherique->CreateTexture2D(&d, nullptr, surface.texture.put());
        auto soumis = transformee->soumettre(surface, 1000000, 333333);
        verifier(soumis.has_value(), "soumission acceptée");
        if (mft.entree) {
            LONGLONG temps = 0;
            LONGLONG duree = 0;
            DWORD tampons = 0;
            mft.entree->GetSampleTime(&temps);
            mft.entree->GetSampleDuration(&duree);
            mft.entree->GetBufferCount(&tampons);
            verifier(temps == 1000000 && duree == 333333 && tampons == 1, "temps, durée et un tampon");
            Com<IMFMediaBuffer> tampon;
            mft.entree->GetBufferByIndex(0, tampon.put());
            Com<IMFDXGIBuffer> dxgi;
            verifier(tampon && SUCCEEDED(tampon.interroger(dxgi)), "tampon de surface DXGI");
            if (dxgi) {
                Com<ID3D11Texture2D> texture;
                UINT sous_ressource = 99;
                dxgi->GetResource(__uuidof(ID3D11Texture2D), texture.put_void());
                dxgi->GetSubresourceIndex(&sous_ressource);
                verifier(texture.get() == surface.texture.get() && sous_ressource == 0, "la surface, sous-ressource 0");
            }
            mft.entree.reset();
        }

        // Output: a buffer of at least 1 MiB, or what the transform asks when it is more.
        for (const auto& [requis, attendu] : {std::pair<DWORD, DWORD>{0, 1048576}, {4096, 1048576}, {2097152, 2097152}}) {
            mft.info.cbSize = requis;
            mft.info.dwFlags = 0;
            auto image = transformee->collecter_sortie();
            verifier(image.has_value() && mft.echantillon_recu && mft.longueur_max_recue == attendu,
                     "tampon de sortie dimensionné");
            if (image) {
                verifier(image->donnees == mft.octets && image->horodatage == 333333 && image->duree == 333333 &&
                             image->cle,
                         "octets, temps, durée et image clé");
            }
        }
        // A transform that provides its samples; one without times nor clean point.
        mft.info.dwFlags = MFT_OUTPUT_STREAM_PROVIDES_SAMPLES;
        mft.avec_temps = false;
        mft.cle = false;
        auto fournie = transformee->collecter_sortie();
        verifier(fournie.has_value() && !mft.echantillon_recu, "échantillon fourni par la transformée");
        if (fournie) {
            verifier(fournie->donnees == mft.octets && fournie->horodatage == 0 && fournie->duree == 0 && !fournie->cle,
                     "sans temps ni point propre : 0 et pas clé");
        }
        mft.resultat_sortie = MF_E_TRANSFORM_NEED_MORE_INPUT;
        verifier(!transformee->collecter_sortie().has_value(), "échec de ProcessOutput : pas d'image");

        transformee->terminer_flux();
        verifier(mft.messages.size() == 3 && mft.messages[0] == std::pair{MFT_MESSAGE_NOTIFY_END_OF_STREAM, ULONG_PTR{0}} &&
                     mft.messages[1] == std::pair{MFT_MESSAGE_NOTIFY_END_STREAMING, ULONG_PTR{0}} &&
                     mft.messages[2] == std::pair{MFT_MESSAGE_SET_D3D_MANAGER, ULONG_PTR{0}},
                 "fin de flux, fin de diffusion, gestionnaire détaché, dans cet ordre");
    }
    verifier(mft.compte == 1 && generateur.compte == 1, "transformée et générateur rendus");
    file->Shutdown();
}
