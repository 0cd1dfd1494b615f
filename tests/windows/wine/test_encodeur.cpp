// The encoder's transform wrapper against a fake transform whose events, samples and buffers
// are the system's own Media Foundation objects: event types mapped, input samples built over
// the surface with their times, output buffers sized and read back, a new output format taken
// when announced, the stream ended and the transform shut down in order before its release.
#include "test_encodeur.hpp"

#include <windows.h>
#include <d3d11.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>

#include <cstdint>
#include <string>
#include <vector>

#include "commun/windows/com.hpp"
#include "commun/windows/hresult.hpp"
#include "conversion/conversion_windows.hpp"
#include "encodeur/encodeur.hpp"
#include "encodeur/encodeur_windows.hpp"
#include "pipeline/canal.hpp"
#include "support/windows/faux_mf.hpp"

namespace {

using commun::Com;

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
    essai::FauxGenerateur generateur;
    generateur.file = file.get();
    std::vector<std::string> journal;
    essai::FausseTransformee mft(journal);
    {
        auto transformee = encodeur::envelopper_transformee(
            Com<IMFTransform>::partager(&mft), Com<IMFMediaEventGenerator>::partager(&generateur), nullptr, nullptr);

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
        for (const auto& [requis, attendu] :
             {std::pair<DWORD, DWORD>{0, 1048576}, {4096, 1048576}, {2097152, 2097152}}) {
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
        verifier(mft.type_sortie.get() == mft.type_propose.get(), "le type proposé est celui fixé");
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
    const std::vector<std::string> fin{"ProcessMessage END_OF_STREAM 0", "ProcessMessage END_STREAMING 0",
                                       "ProcessMessage SET_D3D_MANAGER 0", "Shutdown", "libérée"};
    verifier(mft.journal == fin, "fin de flux, gestionnaire détaché, arrêt puis libération, une seule fois");
    verifier(mft.compte == 1 && generateur.compte == 1, "transformée et générateur rendus");
    {
        std::vector<std::string> journal_abandonnee;
        essai::FausseTransformee abandonnee(journal_abandonnee);
        encodeur::envelopper_transformee(Com<IMFTransform>::partager(&abandonnee), nullptr, nullptr, nullptr).reset();
        verifier(abandonnee.journal == fin, "relâchée sans fin de flux : la même fin");
    }

    // Through the portable encoder and its event thread: after a new format the image reaches
    // the channel; when the format cannot be set, the encoder reports the error.
    for (const bool refus : {false, true}) {
        std::vector<std::string> journal2;
        essai::FausseTransformee mft2(journal2);
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
