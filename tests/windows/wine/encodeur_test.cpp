// The encoder's transform wrapper against a fake transform whose events, samples and buffers
// are the system's own Media Foundation objects: event types mapped, input samples built over
// the surface with their times, output buffers sized and read back, a new output format taken
// when announced, the stream ended and the transform shut down in order before its release.
#include "encodeur_test.hpp"

#include <windows.h>
#include <d3d11.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "commun/windows/com.hpp"
#include "commun/windows/hresult.hpp"
#include "conversion/conversion_windows.hpp"
#include "encodeur/encodeur.hpp"
#include "encodeur/encodeur_windows.hpp"
#include "pipeline/canal.hpp"

namespace {

using commun::Com;

const char* nom_message(MFT_MESSAGE_TYPE m) {
    switch (m) {
        case MFT_MESSAGE_SET_D3D_MANAGER: return "SET_D3D_MANAGER";
        case MFT_MESSAGE_NOTIFY_END_OF_STREAM: return "END_OF_STREAM";
        case MFT_MESSAGE_NOTIFY_END_STREAMING: return "END_STREAMING";
        default: return "?";
    }
}

// An asynchronous transform: it has IMFShutdown, as the documentation requires of one.
struct FausseTransformee final : IMFTransform, IMFShutdown {
    ULONG compte = 1;  // the test's own
    // What the wrapper did, in order; "libérée" when the wrapper's last reference went.
    std::vector<std::string> journal;
    Com<IMFSample> entree;
    DWORD longueur_max_recue = 0;
    bool echantillon_recu = false;
    Com<IMFMediaType> type_fixe;
    // What ProcessOutput answers: first `changements` new formats, then the output.
    MFT_OUTPUT_STREAM_INFO info{};
    HRESULT resultat_sortie = S_OK;
    int changements = 0;
    HRESULT resultat_type = S_OK;  // of GetOutputAvailableType
    Com<IMFMediaType> type_propose;
    std::vector<std::uint8_t> octets{0, 0, 0, 1, 0x65, 0x88};
    bool avec_temps = true;
    bool cle = true;

    FausseTransformee() {
        MFCreateMediaType(type_propose.put());
        type_propose->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
        type_propose->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
    }

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
    HRESULT STDMETHODCALLTYPE GetShutdownStatus(MFSHUTDOWN_STATUS*) override { return E_NOTIMPL; }
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
    HRESULT STDMETHODCALLTYPE GetOutputAvailableType(DWORD flux, DWORD indice, IMFMediaType** type) override {
        journal.push_back("GetOutputAvailableType " + std::to_string(flux) + " " + std::to_string(indice));
        if (FAILED(resultat_type)) {
            return resultat_type;
        }
        *type = type_propose.get();
        (*type)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetInputType(DWORD, IMFMediaType*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOutputType(DWORD flux, IMFMediaType* type, DWORD drapeaux) override {
        journal.push_back("SetOutputType " + std::to_string(flux) + " " + std::to_string(drapeaux));
        type_fixe = Com<IMFMediaType>::partager(type);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInputCurrentType(DWORD, IMFMediaType**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputCurrentType(DWORD, IMFMediaType**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputStatus(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOutputBounds(LONGLONG, LONGLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessEvent(DWORD, IMFMediaEvent*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessMessage(MFT_MESSAGE_TYPE message, ULONG_PTR parametre) override {
        journal.push_back(std::string(nom_message(message)) + " " + std::to_string(parametre));
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
        journal.emplace_back("ProcessOutput");
        if (changements > 0) {
            --changements;
            return MF_E_TRANSFORM_STREAM_CHANGE;
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
        auto une_image = [&]() -> std::optional<pipeline::ImageEncodee> {
            auto r = transformee->collecter_sortie();
            return r ? *r : std::nullopt;
        };
        for (const auto& [requis, attendu] : {std::pair<DWORD, DWORD>{0, 1048576}, {4096, 1048576}, {2097152, 2097152}}) {
            mft.info.cbSize = requis;
            mft.info.dwFlags = 0;
            auto image = une_image();
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
        auto fournie = une_image();
        verifier(fournie.has_value() && !mft.echantillon_recu, "échantillon fourni par la transformée");
        if (fournie) {
            verifier(fournie->donnees == mft.octets && fournie->horodatage == 0 && fournie->duree == 0 && !fournie->cle,
                     "sans temps ni point propre : 0 et pas clé");
        }
        mft.resultat_sortie = MF_E_TRANSFORM_NEED_MORE_INPUT;
        auto rien = transformee->collecter_sortie();
        verifier(rien.has_value() && !rien->has_value(), "échec de ProcessOutput : pas d'image, pas d'erreur");
        mft.resultat_sortie = S_OK;

        // A new output format announced instead of the first output (some vendors' encoders do
        // so): read, set, and the output asked for again.
        mft.info.dwFlags = 0;
        mft.changements = 1;
        mft.journal.clear();
        auto apres = une_image();
        verifier(apres.has_value() && apres->donnees == mft.octets, "changement de format : l'image suit");
        verifier(mft.journal == std::vector<std::string>{"ProcessOutput", "GetOutputAvailableType 0 0",
                                                         "SetOutputType 0 0", "ProcessOutput"},
                 "changement de format : type lu, fixé, sortie redemandée");
        verifier(mft.type_fixe.get() == mft.type_propose.get(), "le type proposé est celui fixé");
        // The new format cannot be set, or the transform announces one after another: the
        // recording's error.
        mft.changements = 1;
        mft.resultat_type = MF_E_TRANSFORM_TYPE_NOT_SET;
        auto refus = transformee->collecter_sortie();
        verifier(!refus && refus.error().chaine() == commun::texte_hresult(MF_E_TRANSFORM_TYPE_NOT_SET),
                 "renégociation impossible : erreur");
        mft.resultat_type = S_OK;
        mft.changements = 100;
        auto sans_fin = transformee->collecter_sortie();
        verifier(!sans_fin && sans_fin.error().chaine() == commun::texte_hresult(MF_E_TRANSFORM_STREAM_CHANGE) &&
                     mft.changements == 95,
                 "changements sans fin : erreur après quatre renégociations");
        mft.changements = 0;

        mft.journal.clear();
        transformee->terminer_flux();
    }
    // The asynchronous transform is shut down once, after the stream messages, before the
    // wrapper's last release; the same when it is released without the end of stream.
    const std::vector<std::string> fin{"END_OF_STREAM 0", "END_STREAMING 0", "SET_D3D_MANAGER 0", "Shutdown",
                                       "libérée"};
    verifier(mft.journal == fin, "fin de flux, gestionnaire détaché, arrêt puis libération, une seule fois");
    verifier(mft.compte == 1 && generateur.compte == 1, "transformée et générateur rendus");
    {
        FausseTransformee abandonnee;
        encodeur::envelopper_transformee(Com<IMFTransform>::partager(&abandonnee), nullptr, nullptr, nullptr).reset();
        verifier(abandonnee.journal == fin, "relâchée sans fin de flux : la même fin");
    }

    // Through the portable encoder and its event thread: after a new format the image reaches
    // the channel; when the format cannot be set, the encoder reports the error.
    for (const bool refus : {false, true}) {
        FausseTransformee mft2;
        mft2.changements = 1;
        if (refus) {
            mft2.resultat_type = MF_E_INVALIDMEDIATYPE;
        }
        auto [emetteur, recepteur] = pipeline::creer_canal<pipeline::ImageEncodee>(4);
        auto enc = encodeur::EncodeurMateriel::creer(
            encodeur::envelopper_transformee(Com<IMFTransform>::partager(&mft2),
                                             Com<IMFMediaEventGenerator>::partager(&generateur), nullptr, nullptr),
            30, std::move(emetteur));
        verifier(enc.has_value(), "encodeur sur la transformée");
        if (!enc) {
            continue;
        }
        file->QueueEvent(evenement(METransformHaveOutput).get());
        pipeline::ImageEncodee image;
        bool recue = false;
        for (int i = 0; i < 300 && !recue && !enc->erreur(); ++i) {
            recue = recepteur.essayer_recevoir(image) == pipeline::EtatReception::recu;
            if (!recue) {
                Sleep(10);
            }
        }
        if (refus) {
            const auto erreur = enc->erreur();
            verifier(!recue && erreur && erreur->chaine() == commun::texte_hresult(MF_E_INVALIDMEDIATYPE),
                     "format refusé : l'encodeur rend l'erreur");
        } else {
            verifier(recue && image.donnees == mft2.octets && !enc->erreur(), "changement de format : l'image arrive");
        }
        std::move(*enc).arreter();
        verifier(mft2.journal.size() >= 5 &&
                     std::vector<std::string>(mft2.journal.end() - 5, mft2.journal.end()) == fin,
                 "arrêté par l'encodeur : la même fin");
    }
    file->Shutdown();
}
