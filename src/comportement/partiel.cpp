#include "comportement/partiel.hpp"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <system_error>

#include <fmt/format.h>
#include <zlib.h>

#include "comportement/calibration.hpp"
#include "comportement/controle.hpp"

namespace comportement {

namespace {

constexpr std::uint64_t kEntete = 24;
constexpr std::uint64_t kQueue = 4;  // the CRC
constexpr std::uint64_t kMinimum = kEntete + kQueue;
// Smallest line of a control partial: two empty texts, a score and the category byte.
constexpr std::uint64_t kLigneMinimum = 8 + 8 + 8 + 1;
// Read and write buffer.
constexpr std::size_t kTampon = std::size_t{1} << 20;

// Little-endian, byte by byte: the same bytes whatever the host's order.
void poser_u32(char* p, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = static_cast<char>(static_cast<unsigned char>(v >> (8 * k)));
}
void poser_u64(char* p, std::uint64_t v) {
    for (int k = 0; k < 8; ++k) p[k] = static_cast<char>(static_cast<unsigned char>(v >> (8 * k)));
}
std::uint32_t lire_u32(const char* p) {
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(p[k])) << (8 * k);
    return v;
}
std::uint64_t lire_u64(const char* p) {
    std::uint64_t v = 0;
    for (int k = 0; k < 8; ++k) v |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[k])) << (8 * k);
    return v;
}

std::uint32_t crc(std::uint32_t c, const char* p, std::size_t n) {
    return static_cast<std::uint32_t>(crc32(c, reinterpret_cast<const Bytef*>(p), static_cast<uInt>(n)));
}

std::filesystem::path chemin_fs(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string nom_commande(std::uint32_t c) {
    return c == static_cast<std::uint32_t>(CommandePartiel::calibrer) ? "calibrer" : "controler";
}

// The eight categories in the engine's order: bit k of a control line's category byte.
std::uint8_t bits_categories(const std::vector<std::string>& noms, std::expected<void, std::string>& erreur) {
    std::uint8_t bits = 0;
    for (const std::string& nom : noms) {
        std::size_t k = 0;
        while (k < kNombreCategories && category_name(static_cast<SignalCategory>(k)) != nom) ++k;
        if (k == kNombreCategories) {
            erreur = std::unexpected("catégorie inconnue : " + nom);
        } else {
            bits = static_cast<std::uint8_t>(bits | (1u << k));
        }
    }
    return bits;
}

// The names of the bits set, byte-wise ascending, as ligne_controle gives them.
std::vector<std::string> noms_categories(std::uint8_t bits) {
    std::vector<std::string_view> noms;
    for (std::size_t k = 0; k < kNombreCategories; ++k) {
        if ((static_cast<unsigned>(bits) >> k) & 1u) noms.push_back(category_name(static_cast<SignalCategory>(k)));
    }
    std::sort(noms.begin(), noms.end());
    return {noms.begin(), noms.end()};
}

// ---------------------------------------------------------------------------------------------------------
// Writing.

class Ecrivain {
public:
    Ecrivain(commun::SortieOctets& sortie, CommandePartiel commande, std::uint64_t longueur)
        : sortie_(sortie), tampon_(new char[kTampon]), longueur_(longueur) {
        octets(kSignaturePartiel.data(), kSignaturePartiel.size());
        u32(kVersionPartiel);
        u32(static_cast<std::uint32_t>(commande));
        u64(longueur);
    }

    void octets(const char* p, std::size_t n) {
        while (n > 0) {
            if (pos_ == kTampon) vider();
            const std::size_t k = std::min(n, kTampon - pos_);
            std::memcpy(tampon_.get() + pos_, p, k);
            pos_ += k;
            p += k;
            n -= k;
        }
    }
    void u8(std::uint8_t v) { octets(reinterpret_cast<const char*>(&v), 1); }
    void u32(std::uint32_t v) {
        char b[4];
        poser_u32(b, v);
        octets(b, 4);
    }
    void u64(std::uint64_t v) {
        if (kTampon - pos_ < 8) vider();
        poser_u64(tampon_.get() + pos_, v);
        pos_ += 8;
    }
    void f64(double v) { u64(std::bit_cast<std::uint64_t>(v)); }
    void texte(std::string_view t) {
        u64(t.size());
        octets(t.data(), t.size());
    }

    std::expected<void, std::string> terminer() {
        vider();
        char b[4];
        poser_u32(b, crc_);
        if (!erreur_) {
            if (auto r = sortie_.ecrire({b, 4}); !r) erreur_ = r.error();
        }
        if (erreur_) return std::unexpected(*erreur_);
        // The header's length is computed before the body is written: they must agree.
        if (ecrits_ + kQueue != longueur_) {
            return std::unexpected(fmt::format("longueur {} écrite pour {} annoncés", ecrits_ + kQueue, longueur_));
        }
        return {};
    }

private:
    void vider() {
        if (pos_ == 0) return;
        crc_ = crc(crc_, tampon_.get(), pos_);
        ecrits_ += pos_;
        if (!erreur_) {
            if (auto r = sortie_.ecrire({tampon_.get(), pos_}); !r) erreur_ = r.error();
        }
        pos_ = 0;
    }

    commun::SortieOctets& sortie_;
    std::unique_ptr<char[]> tampon_;
    std::size_t pos_ = 0;
    std::uint32_t crc_ = 0;
    std::uint64_t ecrits_ = 0;
    std::uint64_t longueur_;
    std::optional<std::string> erreur_;
};

std::uint64_t octets_sources(const std::vector<std::string>& sources) {
    std::uint64_t n = 8;
    for (const std::string& s : sources) n += 8 + s.size();
    return n;
}

void ecrire_sources(Ecrivain& e, const std::vector<std::string>& sources) {
    e.u64(sources.size());
    for (const std::string& s : sources) e.texte(s);
}

// ---------------------------------------------------------------------------------------------------------
// Reading.

const std::string kTronque = "résultat partiel tronqué";
const std::string kLongueurDepassee = kTronque + " (une longueur dépasse la fin annoncée)";

// One partial read from its first byte: header, body into the destination, CRC. A fault of the body's
// structure is only told once the CRC is found right: otherwise the file is corrupted, whatever its
// structure looks like.
class Lecture {
public:
    Lecture(commun::SourceOctets& source, std::optional<std::uint64_t> taille)
        : source_(source), taille_(taille), tampon_(new char[kTampon]) {}

    std::expected<void, std::string> lire(const DestinationPartiel& d) {
        if (!disponibles(kMinimum)) {
            if (fatal_) return std::unexpected(*fatal_);
            return std::unexpected(fmt::format("{} ({} octets, en-tête incomplet)", kTronque, fin_));
        }
        const char* e = prendre(kEntete);
        if (std::memcmp(e, kSignaturePartiel.data(), kSignaturePartiel.size()) != 0) {
            return std::unexpected(std::string("pas un résultat partiel"));
        }
        const std::uint32_t version = lire_u32(e + 8);
        const std::uint32_t commande = lire_u32(e + 12);
        longueur_ = lire_u64(e + 16);
        if (version != kVersionPartiel) {
            return std::unexpected(fmt::format(
                "résultat partiel de version {} inconnue (ce programme lit la version {})", version, kVersionPartiel));
        }
        if (commande != static_cast<std::uint32_t>(CommandePartiel::calibrer) &&
            commande != static_cast<std::uint32_t>(CommandePartiel::controler)) {
            return std::unexpected(fmt::format("résultat partiel d'une commande inconnue ({})", commande));
        }
        if (d.commande && commande != static_cast<std::uint32_t>(*d.commande)) {
            return std::unexpected("résultat partiel de " + nom_commande(commande) + ", pas de " +
                                   nom_commande(static_cast<std::uint32_t>(*d.commande)));
        }
        if (longueur_ < kMinimum) {
            return std::unexpected(fmt::format("résultat partiel invalide (longueur annoncée {})", longueur_));
        }
        if (taille_ && *taille_ < longueur_) {
            return std::unexpected(fmt::format("{} ({} octets sur {} annoncés)", kTronque, *taille_, longueur_));
        }
        if (taille_ && *taille_ > longueur_) {
            return std::unexpected(
                fmt::format("résultat partiel invalide ({} octets pour {} annoncés)", *taille_, longueur_));
        }
        fin_corps_ = longueur_ - kQueue;

        sources(d.sources);
        if (commande == static_cast<std::uint32_t>(CommandePartiel::calibrer)) {
            corps_calibration(d);
        } else {
            corps_controle(d);
        }
        if (fatal_) return std::unexpected(*fatal_);
        if (!probleme_ && lus_ != fin_corps_) {
            probleme_ = fmt::format("résultat partiel invalide ({} octets de trop)", fin_corps_ - lus_);
        }
        // What the body did not take still counts in the CRC.
        while (lus_ < fin_corps_) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(fin_corps_ - lus_, kTampon));
            if (!present(n)) return std::unexpected(*fatal_);
            prendre(n);
        }
        if (!present(kQueue)) return std::unexpected(*fatal_);
        const std::uint32_t attendu = lire_u32(tampon_.get() + debut_);
        debut_ += kQueue;
        lus_ += kQueue;
        if (attendu != crc_) {
            return std::unexpected(std::string("résultat partiel corrompu (somme de contrôle CRC-32 fausse)"));
        }
        if (probleme_) return std::unexpected(*probleme_);
        if (!taille_ && disponibles(1)) {
            return std::unexpected(
                fmt::format("résultat partiel invalide (plus long que les {} octets annoncés)", longueur_));
        }
        if (fatal_) return std::unexpected(*fatal_);
        return {};
    }

private:
    // Whether `n` (at most the buffer's size) bytes are in the buffer, reading what is missing.
    bool disponibles(std::size_t n) {
        if (fin_ - debut_ >= n) return true;
        if (fatal_) return false;
        std::memmove(tampon_.get(), tampon_.get() + debut_, fin_ - debut_);
        fin_ -= debut_;
        debut_ = 0;
        while (fin_ < n && !epuise_) {
            auto r = source_.lire({tampon_.get() + fin_, kTampon - fin_});
            if (!r) {
                fatal_ = "résultat partiel illisible : " + r.error();
                return false;
            }
            epuise_ = *r == 0;
            fin_ += *r;
        }
        return fin_ >= n;
    }
    // The same, the end of the input before them being a truncation.
    bool present(std::size_t n) {
        if (disponibles(n)) return true;
        if (!fatal_) {
            fatal_ = fmt::format("{} ({} octets sur {} annoncés)", kTronque, lus_ + (fin_ - debut_), longueur_);
        }
        return false;
    }
    const char* prendre(std::size_t n) {
        const char* p = tampon_.get() + debut_;
        crc_ = crc(crc_, p, n);
        debut_ += n;
        lus_ += n;
        return p;
    }
    std::uint64_t reste() const { return fin_corps_ - lus_; }
    // Room to give ahead for `n` elements of at least `octets` bytes each in the file. With the file's size
    // known the header's length is checked against it, so `n` fits the file; without it (a pipe) that
    // length is only a claim until the bytes arrive: at most a buffer's worth ahead, the rest as it comes.
    std::uint64_t place(std::uint64_t n, std::uint64_t octets) const {
        return taille_ ? n : std::min<std::uint64_t>(n, kTampon / octets);
    }
    // A field of `n` bytes within the body: false, with the reason kept, when it is not there.
    bool champ(std::uint64_t n) {
        if (n > reste()) {
            probleme_ = kLongueurDepassee;
            return false;
        }
        return present(static_cast<std::size_t>(n));
    }
    bool u8(std::uint8_t& v) {
        if (!champ(1)) return false;
        v = static_cast<std::uint8_t>(*prendre(1));
        return true;
    }
    bool u64(std::uint64_t& v) {
        if (!champ(8)) return false;
        v = lire_u64(prendre(8));
        return true;
    }
    bool f64(double& v) {
        std::uint64_t b = 0;
        if (!u64(b)) return false;
        v = std::bit_cast<double>(b);
        return true;
    }
    bool drapeau(bool& v, std::string_view nom) {
        std::uint8_t b = 0;
        if (!u8(b)) return false;
        if (b > 1) {
            probleme_ = fmt::format("résultat partiel invalide (octet « {} » à {})", nom, b);
            return false;
        }
        v = b == 1;
        return true;
    }
    bool texte(std::string* t) {
        std::uint64_t n = 0;
        if (!u64(n)) return false;
        if (n > reste()) {
            probleme_ = kLongueurDepassee;
            return false;
        }
        if (t != nullptr) t->reserve(static_cast<std::size_t>(place(n, 1)));
        while (n > 0) {
            const auto k = static_cast<std::size_t>(std::min<std::uint64_t>(n, kTampon));
            if (!present(k)) return false;
            const char* p = prendre(k);
            if (t != nullptr) t->append(p, k);
            n -= k;
        }
        return true;
    }
    // `n` floats after those of `liste` (when there is one), given room for them and for `apres` more at once.
    bool flottants(std::vector<double>* liste, std::uint64_t n, std::uint64_t apres) {
        if (n > reste() / 8) {
            probleme_ = kLongueurDepassee;
            return false;
        }
        if (liste != nullptr && liste->capacity() - liste->size() < n) {
            liste->reserve(static_cast<std::size_t>(liste->size() + place(n, 8) + apres));
        }
        while (n > 0) {
            const auto k = static_cast<std::size_t>(std::min<std::uint64_t>(n, kTampon / 8));
            if (!present(8 * k)) return false;
            const char* p = prendre(8 * k);
            if (liste != nullptr) {
                for (std::size_t i = 0; i < k; ++i) liste->push_back(std::bit_cast<double>(lire_u64(p + 8 * i)));
            }
            n -= k;
        }
        return true;
    }

    bool sources(std::vector<std::string>* sortie) {
        std::uint64_t n = 0;
        if (!u64(n)) return false;
        if (n > reste() / 8) {
            probleme_ = kLongueurDepassee;
            return false;
        }
        for (std::uint64_t k = 0; k < n; ++k) {
            std::string s;
            if (!texte(sortie != nullptr ? &s : nullptr)) return false;
            if (sortie != nullptr) sortie->push_back(std::move(s));
        }
        return true;
    }

    void corps_calibration(const DestinationPartiel& d) {
        if (probleme_ || fatal_) return;
        AccumulateurCalibration* a = d.calibration;
        std::uint64_t matchs = 0;
        std::uint64_t trames = 0;
        bool refuse = false;
        if (!u64(matchs) || !u64(trames) || !drapeau(refuse, "refus")) return;
        std::optional<std::string> refus;
        if (refuse) {
            refus.emplace();
            if (!texte(&*refus)) return;
        }
        // As AccumulateurCalibration::ajouter takes a suite: nothing after a refusal counts. The samples of
        // a refused partial do not either: they are not kept.
        const bool garder = a != nullptr && !a->refus;
        if (garder) {
            a->matchs += matchs;
            a->trames += trames;
            a->refus = std::move(refus);
        }
        EchantillonsMetriques* e = garder && !refuse ? &a->echantillons : nullptr;
        std::vector<double>* listes[] = {
            e ? &e->visibleAngularVelocityDegPerSec : nullptr,
            e ? &e->absAngularAccelerationDegPerSec2 : nullptr,
            e ? &e->visibilityToActionReactionMs : nullptr,
            e ? &e->movingVisibleTargetErrorDeg : nullptr,
        };
        for (std::size_t k = 0; k < 4; ++k) {
            std::uint64_t n = 0;
            if (!u64(n) || !flottants(listes[k], n, d.apres.echantillons[k])) return;
        }
    }

    void corps_controle(const DestinationPartiel& d) {
        if (probleme_ || fatal_) return;
        bool avec_seuils = false;
        double vitesse = 0;
        double acceleration = 0;
        std::uint64_t tres_rapide = 0;
        std::uint64_t suspecte = 0;
        double suivi = 0;
        std::uint64_t invalides = 0;
        std::uint64_t n = 0;
        if (!drapeau(avec_seuils, "seuils") || !f64(vitesse) || !f64(acceleration) || !u64(tres_rapide) ||
            !u64(suspecte) || !f64(suivi) || !u64(invalides) || !u64(n)) {
            return;
        }
        if (d.seuils != nullptr) {
            d.seuils->reset();
            if (avec_seuils) {
                EngineThresholds s;
                s.aimSnapMinVelocityDegPerSec = vitesse;
                s.aimSnapMinAccelDegPerSec2 = acceleration;
                s.reactionVeryFastMs = static_cast<std::int64_t>(tres_rapide);
                s.reactionSuspectMs = static_cast<std::int64_t>(suspecte);
                s.trackingExcellentErrorDeg = suivi;
                *d.seuils = s;
            }
        }
        if (n > reste() / kLigneMinimum) {
            probleme_ = kLongueurDepassee;
            return;
        }
        std::vector<LigneControle>* lignes = d.controle != nullptr ? &d.controle->lignes : nullptr;
        if (d.controle != nullptr) d.controle->invalides += invalides;
        if (lignes != nullptr && lignes->capacity() - lignes->size() < n) {
            lignes->reserve(static_cast<std::size_t>(lignes->size() + place(n, kLigneMinimum) + d.apres.lignes));
        }
        for (std::uint64_t k = 0; k < n; ++k) {
            LigneControle l;
            std::uint8_t categories = 0;
            std::string* match = lignes != nullptr ? &l.matchId : nullptr;
            std::string* joueur = lignes != nullptr ? &l.joueurId : nullptr;
            if (!texte(match) || !texte(joueur) || !f64(l.score) || !u8(categories)) return;
            if (lignes != nullptr) {
                l.niveau = risk_level(l.score);
                l.categories = noms_categories(categories);
                lignes->push_back(std::move(l));
            }
        }
    }

    commun::SourceOctets& source_;
    std::optional<std::uint64_t> taille_;
    std::unique_ptr<char[]> tampon_;
    std::size_t debut_ = 0;  // [debut_, fin_) of the buffer: read, not yet taken
    std::size_t fin_ = 0;
    bool epuise_ = false;
    std::uint64_t lus_ = 0;  // bytes taken
    std::uint32_t crc_ = 0;
    std::uint64_t longueur_ = 0;
    std::uint64_t fin_corps_ = 0;
    std::optional<std::string> fatal_;     // the reading cannot go on
    std::optional<std::string> probleme_;  // the body's structure, told after the CRC
};

// Only checks the files, and notes each partial's sources.
class Verification final : public Traitement {
public:
    Verification(std::size_t fichiers, CommandePartiel commande) : partiels(fichiers), commande_(commande) {}
    bool analyse() const override { return false; }
    std::unique_ptr<Resultat> analyser(const LotCompact&, Atelier&) const override { return nullptr; }
    void recevoir(std::unique_ptr<Resultat>) override {}
    std::expected<std::uint64_t, std::string> recevoir_partiel(std::size_t fichier, commun::SourceOctets& source,
                                                               std::optional<std::uint64_t> taille) override {
        partiels[fichier].emplace();
        DestinationPartiel d;
        d.commande = commande_;
        d.sources = &*partiels[fichier];
        if (auto r = lire_partiel(source, taille, d); !r) return std::unexpected(std::move(r.error()));
        return 0;
    }

    std::vector<std::optional<std::vector<std::string>>> partiels;

private:
    CommandePartiel commande_;
};

}  // namespace

bool est_partiel(std::span<const char> debut) {
    return debut.size() >= kSignaturePartiel.size() &&
           std::equal(kSignaturePartiel.begin(), kSignaturePartiel.end(), debut.begin());
}

bool memes_seuils_partiel(const EngineThresholds& a, const EngineThresholds& b) {
    const auto bits = [](double x) { return std::bit_cast<std::uint64_t>(x); };
    return bits(a.aimSnapMinVelocityDegPerSec) == bits(b.aimSnapMinVelocityDegPerSec) &&
           bits(a.aimSnapMinAccelDegPerSec2) == bits(b.aimSnapMinAccelDegPerSec2) &&
           a.reactionVeryFastMs == b.reactionVeryFastMs && a.reactionSuspectMs == b.reactionSuspectMs &&
           bits(a.trackingExcellentErrorDeg) == bits(b.trackingExcellentErrorDeg);
}

std::expected<void, std::string> ecrire_partiel_calibration(commun::SortieOctets& sortie,
                                                            const AccumulateurCalibration& calibration) {
    // A refused calibration ends in its refusal whatever comes with it; what was gathered before it depends
    // on which threads got there first, so none of it is written: the same files give the same bytes.
    const EchantillonsMetriques vide;
    const bool refusee = calibration.refus.has_value();
    const EchantillonsMetriques& e = refusee ? vide : calibration.echantillons;
    const std::vector<double>* listes[] = {
        &e.visibleAngularVelocityDegPerSec,
        &e.absAngularAccelerationDegPerSec2,
        &e.visibilityToActionReactionMs,
        &e.movingVisibleTargetErrorDeg,
    };
    std::uint64_t longueur = kEntete + octets_sources(calibration.sources) + 8 + 8 + 1 + kQueue;
    if (refusee) longueur += 8 + calibration.refus->size();
    for (const std::vector<double>* l : listes) longueur += 8 + 8 * static_cast<std::uint64_t>(l->size());

    Ecrivain w(sortie, CommandePartiel::calibrer, longueur);
    ecrire_sources(w, calibration.sources);
    w.u64(refusee ? 0 : calibration.matchs);
    w.u64(refusee ? 0 : calibration.trames);
    w.u8(calibration.refus ? 1 : 0);
    if (calibration.refus) w.texte(*calibration.refus);
    for (const std::vector<double>* l : listes) {
        w.u64(l->size());
        for (double x : *l) w.f64(x);
    }
    return w.terminer();
}

std::expected<void, std::string> ecrire_partiel_controle(commun::SortieOctets& sortie,
                                                         const AccumulateurControle& controle,
                                                         const std::optional<EngineThresholds>& seuils) {
    std::uint64_t longueur = kEntete + octets_sources(controle.sources) + 1 + std::uint64_t{5} * 8 + 8 + 8 + kQueue;
    for (const LigneControle& l : controle.lignes) longueur += kLigneMinimum + l.matchId.size() + l.joueurId.size();

    Ecrivain w(sortie, CommandePartiel::controler, longueur);
    ecrire_sources(w, controle.sources);
    const EngineThresholds s = seuils.value_or(EngineThresholds{});
    const bool avec = seuils.has_value();
    w.u8(avec ? 1 : 0);
    w.f64(avec ? s.aimSnapMinVelocityDegPerSec : 0.0);
    w.f64(avec ? s.aimSnapMinAccelDegPerSec2 : 0.0);
    w.u64(avec ? static_cast<std::uint64_t>(s.reactionVeryFastMs) : 0);
    w.u64(avec ? static_cast<std::uint64_t>(s.reactionSuspectMs) : 0);
    w.f64(avec ? s.trackingExcellentErrorDeg : 0.0);
    w.u64(controle.invalides);
    w.u64(controle.lignes.size());
    std::expected<void, std::string> categories;
    for (const LigneControle& l : controle.lignes) {
        w.texte(l.matchId);
        w.texte(l.joueurId);
        w.f64(l.score);
        w.u8(bits_categories(l.categories, categories));
    }
    if (!categories) return categories;
    return w.terminer();
}

std::expected<void, std::string> ecrire_fichier_partiel(
    const std::string& chemin, const std::function<std::expected<void, std::string>(commun::SortieOctets&)>& ecrire) {
    std::uint64_t alea = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    try {
        std::random_device r;
        alea ^= (static_cast<std::uint64_t>(r()) << 32) ^ r();
    } catch (const std::exception&) {
        // The clock alone still makes two names apart.
    }
    const std::string temporaire = fmt::format("{}.{:016x}.tmp", chemin, alea);
    // The file is closed when this returns: a file still open could be neither renamed nor removed on Windows.
    const auto remplir = [&]() -> std::expected<void, std::string> {
        auto fichier = commun::SortieFichier::creer(temporaire);
        if (!fichier) return std::unexpected(std::move(fichier.error()));
        if (auto r = ecrire(*fichier); !r) return r;
        return fichier->vider();
    };
    std::error_code ec;
    if (auto r = remplir(); !r) {
        std::filesystem::remove(chemin_fs(temporaire), ec);
        return r;
    }
    std::filesystem::rename(chemin_fs(temporaire), chemin_fs(chemin), ec);
    if (ec) {
        std::string texte = ec.message();
        while (!texte.empty() && (texte.back() == '\n' || texte.back() == '\r')) texte.pop_back();
        std::error_code ignore;
        std::filesystem::remove(chemin_fs(temporaire), ignore);
        return std::unexpected(std::move(texte));
    }
    return {};
}

ComptesPartiel& ComptesPartiel::operator+=(const ComptesPartiel& autre) {
    for (std::size_t k = 0; k < echantillons.size(); ++k) echantillons[k] += autre.echantillons[k];
    lignes += autre.lignes;
    return *this;
}

ComptesPartiel& ComptesPartiel::operator-=(const ComptesPartiel& autre) {
    for (std::size_t k = 0; k < echantillons.size(); ++k)
        echantillons[k] -= std::min(echantillons[k], autre.echantillons[k]);
    lignes -= std::min(lignes, autre.lignes);
    return *this;
}

std::optional<ComptesPartiel> compter_partiel(const std::string& chemin) {
    // Only a regular file: a pipe read here would lose its first bytes for the real reading.
    std::error_code ec;
    const std::filesystem::path p = chemin_fs(chemin);
    if (!std::filesystem::is_regular_file(p, ec)) return std::nullopt;
    const std::uint64_t taille = std::filesystem::file_size(p, ec);
    if (ec || taille < kMinimum) return std::nullopt;
    std::ifstream f(p, std::ios::binary);
    char e[kEntete];
    if (!f.read(e, kEntete) || !est_partiel({e, kEntete}) || lire_u32(e + 8) != kVersionPartiel ||
        lire_u64(e + 16) != taille) {
        return std::nullopt;
    }
    const std::uint32_t commande = lire_u32(e + 12);
    const std::uint64_t fin = taille - kQueue;
    std::uint64_t pos = kEntete;
    const auto u64 = [&](std::uint64_t& v) {
        char b[8];
        if (fin - pos < 8 || !f.read(b, 8)) return false;
        v = lire_u64(b);
        pos += 8;
        return true;
    };
    const auto sauter = [&](std::uint64_t n) {
        if (n > fin - pos) return false;
        if (n < 65536) {
            f.ignore(static_cast<std::streamsize>(n));
        } else {
            f.seekg(static_cast<std::streamoff>(n), std::ios::cur);
        }
        pos += n;
        return static_cast<bool>(f);
    };
    std::uint64_t n = 0;
    if (!u64(n)) return std::nullopt;
    for (std::uint64_t k = 0; k < n; ++k) {
        std::uint64_t t = 0;
        if (!u64(t) || !sauter(t)) return std::nullopt;
    }
    ComptesPartiel c;
    if (commande == static_cast<std::uint32_t>(CommandePartiel::calibrer)) {
        char refus = 0;
        if (!sauter(16) || fin - pos < 1 || !f.get(refus)) return std::nullopt;
        ++pos;
        if (refus != 0 && (!u64(n) || !sauter(n))) return std::nullopt;
        for (std::uint64_t& compte : c.echantillons) {
            if (!u64(compte) || compte > (fin - pos) / 8 || !sauter(8 * compte)) return std::nullopt;
        }
    } else if (commande == static_cast<std::uint32_t>(CommandePartiel::controler)) {
        if (!sauter(1 + 5 * 8 + 8) || !u64(c.lignes) || c.lignes > (fin - pos) / kLigneMinimum) return std::nullopt;
    } else {
        return std::nullopt;
    }
    return c;
}

ComptesPartiel PrevisionPartiels::apres(std::size_t fichier) {
    if (comptes_.empty()) {
        comptes_.resize(chemins_.size());
        for (std::size_t j = fichier + 1; j < chemins_.size(); ++j) {
            comptes_[j] = compter_partiel(chemins_[j]);
            if (comptes_[j]) restant_ += *comptes_[j];
        }
    } else if (fichier < comptes_.size() && comptes_[fichier]) {
        restant_ -= *comptes_[fichier];
    }
    return restant_;
}

std::expected<void, std::string> lire_partiel(commun::SourceOctets& source, std::optional<std::uint64_t> taille,
                                              const DestinationPartiel& destination) {
    Lecture l(source, taille);
    return l.lire(destination);
}

std::vector<std::string> sources_a_plat(std::span<const std::string> chemins,
                                        const std::vector<std::optional<std::vector<std::string>>>& partiels) {
    std::vector<std::string> sources;
    for (std::size_t i = 0; i < chemins.size(); ++i) {
        if (i < partiels.size() && partiels[i]) {
            sources.insert(sources.end(), partiels[i]->begin(), partiels[i]->end());
        } else {
            sources.push_back(chemins[i]);
        }
    }
    return sources;
}

std::expected<std::vector<std::string>, std::string> verifier_fichiers(std::span<const std::string> chemins,
                                                                       CommandePartiel commande,
                                                                       const ReglagesLecture& reglages) {
    Verification v(chemins.size(), commande);
    if (auto r = traiter_fichiers(chemins, &v, reglages); !r) return std::unexpected(std::move(r.error()));
    return sources_a_plat(chemins, v.partiels);
}

}  // namespace comportement
