// The vendor's hardware H.264 encoder as an asynchronous Media Foundation transform bound to
// the recording's D3D11 device. The portable encoder drives it through TransformeAsync.
#include <windows.h>
#include <codecapi.h>
#include <d3d11.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mftransform.h>
#include <objbase.h>
#include <oleauto.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/peripherique_windows.hpp"
#include "commun/windows/com.hpp"
#include "commun/windows/console.hpp"
#include "commun/windows/hresult.hpp"
#include "commun/utf16.hpp"
#include "conversion/conversion_windows.hpp"
#include "encodeur/config.hpp"
#include "encodeur/encodeur.hpp"
#include "encodeur/encodeur_windows.hpp"
#include "encodeur/mf_abi_windows.hpp"

namespace encodeur {

using commun::Com;
using commun::Erreur;

namespace {

// Codec properties (codecapi.h).
constexpr GUID prop_mode_debit{STATIC_CODECAPI_AVEncCommonRateControlMode};
constexpr GUID prop_debit_moyen{STATIC_CODECAPI_AVEncCommonMeanBitRate};
constexpr GUID prop_debit_max{STATIC_CODECAPI_AVEncCommonMaxBitRate};
constexpr GUID prop_tampon{STATIC_CODECAPI_AVEncCommonBufferSize};
constexpr GUID prop_gop{STATIC_CODECAPI_AVEncMPVGOPSize};
constexpr GUID prop_images_b{STATIC_CODECAPI_AVEncMPVDefaultBPictureCount};
constexpr GUID prop_qualite{STATIC_CODECAPI_AVEncCommonQualityVsSpeed};
constexpr GUID prop_faible_latence{STATIC_CODECAPI_AVLowLatencyMode};
constexpr GUID prop_cabac{STATIC_CODECAPI_AVEncH264CABACEnable};

constexpr UINT32 h264_high = 100;  // eAVEncH264VProfile_High
static_assert(h264_high == eAVEncH264VProfile_High);
static_assert(MF_VERSION == 0x20070 && MFSTARTUP_FULL == 0);
static_assert((MFT_ENUM_FLAG_HARDWARE | MFT_ENUM_FLAG_SORTANDFILTER) == 0x44);
static_assert(MFVideoInterlace_Progressive == 2 && MFVideoPrimaries_BT709 == 2 && MFVideoTransFunc_709 == 5);
static_assert(MFVideoTransferMatrix_BT709 == 1 && MFNominalRange_16_235 == 2);
static_assert(eAVEncCommonRateControlMode_CBR == 0);
static_assert(METransformNeedInput == 601 && METransformHaveOutput == 602 && MEError == 1);
static_assert(MFT_OUTPUT_STREAM_PROVIDES_SAMPLES == fournit_echantillons);

std::unexpected<Erreur> echec(HRESULT hr) { return std::unexpected(commun::erreur_hresult(hr)); }

Guid guid_portable(const GUID& g) {
    Guid r;
    r.data1 = g.Data1;
    r.data2 = g.Data2;
    r.data3 = g.Data3;
    for (std::size_t i = 0; i < 8; ++i) {
        r.data4[i] = g.Data4[i];
    }
    return r;
}

// Diagnostics are asked for by an environment variable and go straight to standard error.
void diagnostic(const std::string& ligne) { commun::ecrire_erreur_standard(ligne); }

UINT64 paire(std::uint32_t haut, std::uint32_t bas) { return (UINT64{haut} << 32) | UINT64{bas}; }

// The array MFTEnum2 hands out: each element released, then the array itself.
class Activations {
public:
    Activations() = default;
    Activations(const Activations&) = delete;
    Activations& operator=(const Activations&) = delete;
    ~Activations() {
        if (tableau_ != nullptr) {
            for (UINT32 i = 0; i < nombre_; ++i) {
                if (tableau_[i] != nullptr) {
                    tableau_[i]->Release();
                }
            }
            CoTaskMemFree(tableau_);
        }
    }
    IMFActivate*** adresse_tableau() { return &tableau_; }
    UINT32* adresse_nombre() { return &nombre_; }
    UINT32 nombre() const { return tableau_ == nullptr ? 0 : nombre_; }
    IMFActivate* operator[](UINT32 i) const { return tableau_[i]; }

private:
    IMFActivate** tableau_ = nullptr;
    UINT32 nombre_ = 0;
};

// How many new output formats in a row one output may announce before the transform is
// taken for broken (a sound one announces one, then delivers).
constexpr int changements_de_format_max = 4;

class TransformeMF final : public TransformeAsync {
public:
    // Whichever way creation or the recording ended, the transform is shut down before its
    // last reference goes.
    ~TransformeMF() override {
        fermer();
        evenements_.reset();
        transformee_.reset();
        codec_.reset();
        gestionnaire_.reset();
        activation_.reset();
    }

    void initialiser_fil() override { (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

    TypeEvenement evenement_suivant() override {
        Com<IMFMediaEvent> evenement;
        if (FAILED(evenements_->GetEvent(MF_EVENT_FLAG_NO_WAIT, evenement.put())) || !evenement) {
            return TypeEvenement::aucun;
        }
        MediaEventType type = MEUnknown;
        if (FAILED(evenement->GetType(&type))) {
            return TypeEvenement::autre;
        }
        switch (type) {
        case METransformNeedInput: return TypeEvenement::besoin_entree;
        case METransformHaveOutput: return TypeEvenement::sortie_prete;
        case MEError: return TypeEvenement::erreur;
        default: return TypeEvenement::autre;
        }
    }

    std::expected<void, Erreur> soumettre(conversion::SortieNv12& surface, std::int64_t temps,
                                          std::int64_t duree) override {
        auto& nv12 = static_cast<conversion::SortieNv12D3D&>(surface);
        Com<IMFMediaBuffer> tampon;
        if (HRESULT hr =
                MFCreateDXGISurfaceBuffer(__uuidof(ID3D11Texture2D), nv12.texture.get(), 0, FALSE, tampon.put());
            FAILED(hr)) {
            return echec(hr);
        }
        if (!tampon) {
            return std::unexpected(Erreur("tampon de surface"));
        }
        Com<IMFSample> echantillon;
        if (HRESULT hr = MFCreateSample(echantillon.put()); FAILED(hr)) {
            return echec(hr);
        }
        if (!echantillon) {
            return std::unexpected(Erreur("échantillon"));
        }
        if (HRESULT hr = echantillon->AddBuffer(tampon.get()); FAILED(hr)) {
            return echec(hr);
        }
        if (HRESULT hr = echantillon->SetSampleTime(temps); FAILED(hr)) {
            return echec(hr);
        }
        if (HRESULT hr = echantillon->SetSampleDuration(duree); FAILED(hr)) {
            return echec(hr);
        }
        if (HRESULT hr = transformee_->ProcessInput(0, echantillon.get(), 0); FAILED(hr)) {
            return echec(hr);
        }
        return {};
    }

    std::expected<std::optional<pipeline::ImageEncodee>, Erreur> collecter_sortie() override {
        for (int changements = 0;; ++changements) {
            MFT_OUTPUT_STREAM_INFO info{};
            if (FAILED(transformee_->GetOutputStreamInfo(0, &info))) {
                return std::nullopt;
            }
            Com<IMFSample> fourni;
            if (const auto taille = taille_tampon_sortie(info.cbSize, info.dwFlags)) {
                Com<IMFMediaBuffer> tampon;
                if (FAILED(MFCreateSample(fourni.put())) || !fourni ||
                    FAILED(MFCreateMemoryBuffer(*taille, tampon.put())) || !tampon ||
                    FAILED(fourni->AddBuffer(tampon.get()))) {
                    return std::nullopt;
                }
            }

            MFT_OUTPUT_DATA_BUFFER donnees{};
            donnees.dwStreamID = 0;
            donnees.pSample = fourni.get();
            DWORD statut = 0;
            const HRESULT hr = transformee_->ProcessOutput(0, 1, &donnees, &statut);
            if (donnees.pEvents != nullptr) {
                donnees.pEvents->Release();
            }
            // Our own sample stays ours; a sample the transform allocated comes with a reference.
            Com<IMFSample> resultat = fourni ? fourni : Com<IMFSample>::adopter(donnees.pSample);
            if (hr == MF_E_TRANSFORM_STREAM_CHANGE) {
                // Instead of an output, a new output format (some encoders do so on their first
                // outputs): it is read and set, then the output asked for again. Without it no
                // image would ever come out.
                if (changements == changements_de_format_max) {
                    return echec(hr);
                }
                if (auto r = renegocier_sortie(); !r) {
                    return std::unexpected(r.error());
                }
                continue;
            }
            if (FAILED(hr) || !resultat) {
                return std::nullopt;
            }
            return lire_image(resultat.get());
        }
    }

    void terminer_flux() override { fermer(); }

    // End of stream (once streaming began), device manager detached (once it was given),
    // then the shutdown an asynchronous transform needs from its creator before its last
    // release: IMFShutdown on the transform, and ShutdownObject on the activation object
    // that made it. Failures ignored; done once.
    void fermer() {
        if (ferme_ || !transformee_) {
            return;
        }
        ferme_ = true;
        if (diffusion_) {
            (void)transformee_->ProcessMessage(MFT_MESSAGE_NOTIFY_END_OF_STREAM, 0);
            (void)transformee_->ProcessMessage(MFT_MESSAGE_NOTIFY_END_STREAMING, 0);
        }
        if (gestionnaire_donne_) {
            (void)transformee_->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER, 0);
        }
        Com<IMFShutdown> arret;
        if (SUCCEEDED(transformee_.interroger(arret)) && arret) {
            (void)arret->Shutdown();
        }
        if (activation_) {
            (void)activation_->ShutdownObject();
        }
    }

    std::string nom_;
    Com<IMFActivate> activation_;  // empty for a transform not made by an activation object
    Com<IMFTransform> transformee_;
    Com<IMFDXGIDeviceManager> gestionnaire_;
    Com<ICodecAPI> codec_;
    Com<IMFMediaEventGenerator> evenements_;
    bool gestionnaire_donne_ = false;
    bool diffusion_ = false;

private:
    std::expected<void, Erreur> renegocier_sortie() {
        Com<IMFMediaType> type;
        if (HRESULT hr = transformee_->GetOutputAvailableType(0, 0, type.put()); FAILED(hr)) {
            return echec(hr);
        }
        if (!type) {
            return echec(E_POINTER);
        }
        return commun::verifier(transformee_->SetOutputType(0, type.get(), 0));
    }

    static std::optional<pipeline::ImageEncodee> lire_image(IMFSample* echantillon) {
        pipeline::ImageEncodee image;
        LONGLONG temps = 0;
        if (SUCCEEDED(echantillon->GetSampleTime(&temps))) {
            image.horodatage = temps;
        }
        LONGLONG duree = 0;
        if (SUCCEEDED(echantillon->GetSampleDuration(&duree))) {
            image.duree = duree;
        }
        UINT32 propre = 0;
        image.cle = SUCCEEDED(echantillon->GetUINT32(MFSampleExtension_CleanPoint, &propre)) && propre != 0;

        Com<IMFMediaBuffer> contigu;
        if (FAILED(echantillon->ConvertToContiguousBuffer(contigu.put())) || !contigu) {
            return std::nullopt;
        }
        BYTE* octets = nullptr;
        DWORD maximum = 0;
        DWORD longueur = 0;
        if (FAILED(contigu->Lock(&octets, &maximum, &longueur))) {
            return std::nullopt;
        }
        if (octets != nullptr) {
            image.donnees.assign(octets, octets + longueur);
        }
        contigu->Unlock();
        return image;
    }

    bool ferme_ = false;
};

std::expected<void, Erreur> fixer(IMFAttributes* a, const GUID& cle, const GUID& valeur) {
    return commun::verifier(a->SetGUID(cle, valeur));
}
std::expected<void, Erreur> fixer32(IMFAttributes* a, const GUID& cle, UINT32 valeur) {
    return commun::verifier(a->SetUINT32(cle, valeur));
}
std::expected<void, Erreur> fixer64(IMFAttributes* a, const GUID& cle, UINT64 valeur) {
    return commun::verifier(a->SetUINT64(cle, valeur));
}

// Attributes the output and input types share, after major type and subtype.
std::expected<void, Erreur> fixer_image(IMFAttributes* t, const ConfigEncodeur& c) {
    if (auto r = fixer64(t, MF_MT_FRAME_SIZE, paire(c.largeur, c.hauteur)); !r) return r;
    if (auto r = fixer64(t, MF_MT_FRAME_RATE, paire(c.images_par_seconde, 1)); !r) return r;
    if (auto r = fixer64(t, MF_MT_PIXEL_ASPECT_RATIO, paire(1, 1)); !r) return r;
    return fixer32(t, MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
}

std::expected<void, Erreur> fixer_couleurs(IMFAttributes* t) {
    if (auto r = fixer32(t, MF_MT_VIDEO_PRIMARIES, MFVideoPrimaries_BT709); !r) return r;
    if (auto r = fixer32(t, MF_MT_TRANSFER_FUNCTION, MFVideoTransFunc_709); !r) return r;
    if (auto r = fixer32(t, MF_MT_YUV_MATRIX, MFVideoTransferMatrix_BT709); !r) return r;
    return fixer32(t, MF_MT_VIDEO_NOMINAL_RANGE, MFNominalRange_16_235);
}

std::expected<Com<IMFMediaType>, Erreur> type_sortie(const ConfigEncodeur& c) {
    Com<IMFMediaType> t;
    if (HRESULT hr = MFCreateMediaType(t.put()); FAILED(hr)) return echec(hr);
    if (!t) return echec(E_POINTER);
    if (auto r = fixer(t.get(), MF_MT_MAJOR_TYPE, MFMediaType_Video); !r) return std::unexpected(r.error());
    if (auto r = fixer(t.get(), MF_MT_SUBTYPE, MFVideoFormat_H264); !r) return std::unexpected(r.error());
    if (auto r = fixer32(t.get(), MF_MT_AVG_BITRATE, c.debit_kbps * 1000); !r) return std::unexpected(r.error());
    if (auto r = fixer_image(t.get(), c); !r) return std::unexpected(r.error());
    if (auto r = fixer32(t.get(), MF_MT_MAX_KEYFRAME_SPACING, intervalle_images_cles(c)); !r) {
        return std::unexpected(r.error());
    }
    if (auto r = fixer32(t.get(), MF_MT_MPEG2_PROFILE, h264_high); !r) return std::unexpected(r.error());
    if (auto r = fixer32(t.get(), MF_MT_MPEG2_LEVEL, niveau_h264(c)); !r) return std::unexpected(r.error());
    if (auto r = fixer_couleurs(t.get()); !r) return std::unexpected(r.error());
    return t;
}

std::expected<Com<IMFMediaType>, Erreur> type_entree(const ConfigEncodeur& c) {
    Com<IMFMediaType> t;
    if (HRESULT hr = MFCreateMediaType(t.put()); FAILED(hr)) return echec(hr);
    if (!t) return echec(E_POINTER);
    if (auto r = fixer(t.get(), MF_MT_MAJOR_TYPE, MFMediaType_Video); !r) return std::unexpected(r.error());
    if (auto r = fixer(t.get(), MF_MT_SUBTYPE, MFVideoFormat_NV12); !r) return std::unexpected(r.error());
    if (auto r = fixer_image(t.get(), c); !r) return std::unexpected(r.error());
    if (auto r = fixer_couleurs(t.get()); !r) return std::unexpected(r.error());
    return t;
}

// A VT_UI4 property; a refusal is reported only under the diagnostic option.
void propriete_u32(ICodecAPI* codec, const GUID& propriete, std::uint32_t valeur, bool debogage) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UI4;
    v.ulVal = valeur;
    const HRESULT hr = codec->SetValue(&propriete, &v);
    if (FAILED(hr) && debogage) {
        diagnostic(ligne_refus_propriete(guid_portable(propriete), valeur, commun::texte_hresult(hr)));
    }
}

// A VT_BOOL property set to true; a refusal is dropped.
void propriete_vrai(ICodecAPI* codec, const GUID& propriete) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_TRUE;
    (void)codec->SetValue(&propriete, &v);
}

void afficher_propriete(ICodecAPI* codec, const char* nom, const GUID& propriete) {
    VARIANT v;
    VariantInit(&v);
    const HRESULT hr = codec->GetValue(&propriete, &v);
    if (FAILED(hr)) {
        diagnostic(ligne_propriete_illisible(nom, commun::texte_hresult(hr)));
        return;
    }
    ULONG valeur = 0;
    std::optional<std::uint32_t> lu;
    if (SUCCEEDED(VariantToUInt32(v, &valeur))) {
        lu = valeur;
    }
    diagnostic(ligne_propriete(nom, lu));
    VariantClear(&v);
}

// The steps of creer_transformee_avec, in their order.

// COM for this thread (already done by the recording thread; result ignored) and Media
// Foundation, never shut down.
std::expected<void, Erreur> demarrer_media_foundation() {
    (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (HRESULT hr = MFStartup(MF_VERSION, MFSTARTUP_FULL); FAILED(hr)) {
        return echec(hr);
    }
    return {};
}

// Hardware H.264 encoders in the platform's order, each with its friendly name (none for an
// empty entry, "" when the name cannot be read): the vendor's encoder is chosen by name.
std::expected<std::vector<std::optional<std::string>>, Erreur> lister_encodeurs(EnumerationTransformees enumerer,
                                                                                Activations& activations) {
    const MFT_REGISTER_TYPE_INFO sortie{MFMediaType_Video, MFVideoFormat_H264};
    if (HRESULT hr = enumerer(MFT_CATEGORY_VIDEO_ENCODER, MFT_ENUM_FLAG_HARDWARE | MFT_ENUM_FLAG_SORTANDFILTER, nullptr,
                              &sortie, nullptr, activations.adresse_tableau(), activations.adresse_nombre());
        FAILED(hr)) {
        return echec(hr);
    }
    std::vector<std::optional<std::string>> noms;
    noms.reserve(activations.nombre());
    for (UINT32 i = 0; i < activations.nombre(); ++i) {
        if (activations[i] == nullptr) {
            noms.emplace_back(std::nullopt);
            continue;
        }
        std::array<WCHAR, 256> nom{};
        UINT32 longueur = 0;
        if (FAILED(activations[i]->GetString(MFT_FRIENDLY_NAME_Attribute, nom.data(), static_cast<UINT32>(nom.size()),
                                             &longueur))) {
            noms.emplace_back(std::string());
            continue;
        }
        const std::size_t n = std::min<std::size_t>(longueur, nom.size());
        noms.emplace_back(commun::utf8_depuis_utf16(commun::utf16(std::wstring_view(nom.data(), n))));
    }
    return noms;
}

// The chosen encoder's transform, unlocked for asynchronous use.
std::expected<void, Erreur> activer(TransformeMF& t, const Com<IMFActivate>& activation,
                                    const OptionsDiagnostic& options) {
    if (HRESULT hr = activation->ActivateObject(__uuidof(IMFTransform), t.transformee_.put_void()); FAILED(hr)) {
        return echec(hr);
    }
    t.activation_ = activation;
    if (!t.transformee_) {
        return std::unexpected(Erreur("encodeur non activé"));
    }
    Com<IMFAttributes> attributs;
    if (HRESULT hr = t.transformee_->GetAttributes(attributs.put()); FAILED(hr)) {
        return echec(hr);
    }
    if (!attributs) {
        return echec(E_NOTIMPL);
    }
    if (HRESULT hr = attributs->SetUINT32(MF_TRANSFORM_ASYNC_UNLOCK, 1); FAILED(hr)) {
        return echec(hr);
    }
    if (options.faible_latence) {
        (void)attributs->SetUINT32(MF_LOW_LATENCY, 1);
    }
    return {};
}

// The capture device, shared with the transform through a DXGI device manager.
std::expected<void, Erreur> partager_peripherique(TransformeMF& t, const capture::PeripheriqueD3D& d3d) {
    UINT jeton = 0;
    if (HRESULT hr = MFCreateDXGIDeviceManager(&jeton, t.gestionnaire_.put()); FAILED(hr)) {
        return echec(hr);
    }
    if (!t.gestionnaire_) {
        return std::unexpected(Erreur("gestionnaire DXGI"));
    }
    if (HRESULT hr = t.gestionnaire_->ResetDevice(d3d.peripherique.get(), jeton); FAILED(hr)) {
        return echec(hr);
    }
    if (HRESULT hr = t.transformee_->ProcessMessage(MFT_MESSAGE_SET_D3D_MANAGER,
                                                    reinterpret_cast<ULONG_PTR>(t.gestionnaire_.get()));
        FAILED(hr)) {
        return echec(hr);
    }
    t.gestionnaire_donne_ = true;
    return {};
}

std::expected<void, Erreur> fixer_type_sortie(TransformeMF& t, const ConfigEncodeur& config) {
    auto type = type_sortie(config);
    if (!type) {
        return std::unexpected(type.error());
    }
    if (HRESULT hr = t.transformee_->SetOutputType(0, type->get(), 0); FAILED(hr)) {
        return echec(hr);
    }
    return {};
}

// Codec properties, when the transform has them; a refusal never ends creation.
void regler_codec(TransformeMF& t, const ConfigEncodeur& config, const OptionsDiagnostic& options) {
    if (FAILED(t.transformee_->QueryInterface(abi::iid_codec_api, t.codec_.put_void())) || !t.codec_) {
        t.codec_.reset();
        return;
    }
    ICodecAPI* codec = t.codec_.get();
    const std::uint32_t debit = config.debit_kbps * 1000;
    propriete_u32(codec, prop_mode_debit, eAVEncCommonRateControlMode_CBR, options.debogage);
    propriete_u32(codec, prop_debit_moyen, debit, options.debogage);
    propriete_u32(codec, prop_debit_max, debit, options.debogage);
    propriete_u32(codec, prop_tampon, debit / 2, options.debogage);
    propriete_u32(codec, prop_gop, taille_gop(config, options), options.debogage);
    propriete_u32(codec, prop_images_b, config.images_b, options.debogage);
    if (const auto qualite = qualite_preset(config.preset)) {
        propriete_u32(codec, prop_qualite, *qualite, options.debogage);
    }
    if (options.faible_latence) {
        propriete_vrai(codec, prop_faible_latence);
    }
    propriete_vrai(codec, prop_cabac);
}

std::expected<void, Erreur> fixer_type_entree(TransformeMF& t, const ConfigEncodeur& config) {
    auto type = type_entree(config);
    if (!type) {
        return std::unexpected(type.error());
    }
    if (HRESULT hr = t.transformee_->SetInputType(0, type->get(), 0); FAILED(hr)) {
        return echec(hr);
    }
    return {};
}

// What the encoder kept, for the diagnostic option.
void afficher_reglages(ICodecAPI* codec) {
    afficher_propriete(codec, "GOP", prop_gop);
    afficher_propriete(codec, "debit", prop_debit_moyen);
    afficher_propriete(codec, "mode", prop_mode_debit);
    afficher_propriete(codec, "B", prop_images_b);
}

std::expected<void, Erreur> demarrer_diffusion(TransformeMF& t) {
    if (HRESULT hr = t.transformee_->ProcessMessage(MFT_MESSAGE_NOTIFY_BEGIN_STREAMING, 0); FAILED(hr)) {
        return echec(hr);
    }
    t.diffusion_ = true;
    if (HRESULT hr = t.transformee_->ProcessMessage(MFT_MESSAGE_NOTIFY_START_OF_STREAM, 0); FAILED(hr)) {
        return echec(hr);
    }
    return {};
}

// The event generator the portable event thread polls.
std::expected<void, Erreur> brancher_evenements(TransformeMF& t) {
    if (HRESULT hr = t.transformee_.interroger(t.evenements_); FAILED(hr)) {
        return echec(hr);
    }
    if (!t.evenements_) {
        return echec(E_NOINTERFACE);
    }
    return {};
}

}  // namespace

std::unique_ptr<TransformeAsync> envelopper_transformee(Com<IMFTransform> transformee,
                                                        Com<IMFMediaEventGenerator> evenements,
                                                        Com<IMFDXGIDeviceManager> gestionnaire, Com<ICodecAPI> codec) {
    auto resultat = std::make_unique<TransformeMF>();
    resultat->transformee_ = std::move(transformee);
    resultat->evenements_ = std::move(evenements);
    resultat->gestionnaire_ = std::move(gestionnaire);
    resultat->codec_ = std::move(codec);
    resultat->gestionnaire_donne_ = true;
    resultat->diffusion_ = true;
    return resultat;
}

std::expected<std::unique_ptr<TransformeAsync>, Erreur> creer_transformee(capture::Peripherique& peripherique,
                                                                          const ConfigEncodeur& config,
                                                                          const OptionsDiagnostic& options) {
    return creer_transformee_avec(MFTEnum2, peripherique, config, options);
}

std::expected<std::unique_ptr<TransformeAsync>, Erreur> creer_transformee_avec(EnumerationTransformees enumerer,
                                                                               capture::Peripherique& peripherique,
                                                                               const ConfigEncodeur& config,
                                                                               const OptionsDiagnostic& options) {
    auto& d3d = static_cast<capture::PeripheriqueD3D&>(peripherique);
    if (auto r = demarrer_media_foundation(); !r) {
        return std::unexpected(r.error());
    }

    // Declared before the transform, which a failed creation shuts down and releases first.
    Activations activations;
    auto noms = lister_encodeurs(enumerer, activations);
    if (!noms) {
        return std::unexpected(noms.error());
    }
    const auto choix = choisir_encodeur(*noms, d3d.id_fournisseur);
    if (!choix) {
        return std::unexpected(Erreur(message_aucun_encodeur(d3d.nom)));
    }
    auto activation = Com<IMFActivate>::partager(activations[static_cast<UINT32>(*choix)]);

    auto transformee = std::make_unique<TransformeMF>();
    transformee->nom_ = *(*noms)[*choix];
    if (auto r = activer(*transformee, activation, options); !r) {
        return std::unexpected(r.error());
    }
    if (auto r = partager_peripherique(*transformee, d3d); !r) {
        return std::unexpected(r.error());
    }
    if (auto r = fixer_type_sortie(*transformee, config); !r) {
        return std::unexpected(r.error());
    }
    regler_codec(*transformee, config, options);
    if (auto r = fixer_type_entree(*transformee, config); !r) {
        return std::unexpected(r.error());
    }
    if (options.debogage && transformee->codec_) {
        afficher_reglages(transformee->codec_.get());
    }
    if (auto r = demarrer_diffusion(*transformee); !r) {
        return std::unexpected(r.error());
    }
    if (auto r = brancher_evenements(*transformee); !r) {
        return std::unexpected(r.error());
    }
    return transformee;
}

}  // namespace encodeur
