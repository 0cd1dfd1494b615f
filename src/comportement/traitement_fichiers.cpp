#include "comportement/traitement_fichiers.hpp"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "commun/entree.hpp"
#include "commun/morceaux.hpp"
#include "comportement/debordement.hpp"
#include "comportement/lecture_telemetrie.hpp"
#include "comportement/partiel.hpp"

namespace comportement {

namespace {

using Resultat = Traitement::Resultat;

// A file's first bytes, read ahead to tell a partial result from telemetry, then given back.
class SourceEntamee final : public commun::SourceOctets {
public:
    explicit SourceEntamee(commun::SourceOctets& source) : source_(source) {}
    // As many bytes as a signature, fewer at the end of the input.
    std::expected<std::span<const char>, std::string> debut() {
        while (n_ < debut_.size()) {
            auto r = source_.lire(std::span<char>(debut_).subspan(n_));
            if (!r) return std::unexpected(std::move(r.error()));
            if (*r == 0) break;
            n_ += *r;
        }
        return std::span<const char>(debut_.data(), n_);
    }
    std::expected<std::size_t, std::string> lire(std::span<char> tampon) override {
        if (rendus_ == n_ || tampon.empty()) return source_.lire(tampon);
        const std::size_t k = std::min(tampon.size(), n_ - rendus_);
        std::memcpy(tampon.data(), debut_.data() + rendus_, k);
        rendus_ += k;
        if (k == tampon.size()) return k;
        // The rest of the buffer from the file; its error, if any, comes at the next call.
        auto r = source_.lire(tampon.subspan(k));
        return k + (r ? *r : 0);
    }

private:
    commun::SourceOctets& source_;
    std::array<char, kSignaturePartiel.size()> debut_{};
    std::size_t n_ = 0;
    std::size_t rendus_ = 0;
};

// Whether an opened file is a partial result: only an uncompressed one may be.
std::expected<bool, std::string> partiel_ouvert(commun::Entree& entree, SourceEntamee& source) {
    if (entree.compression() != commun::Compression::aucune) return false;
    auto debut = source.debut();
    if (!debut) return std::unexpected(std::move(debut.error()));
    return est_partiel(*debut);
}

// A partial among the files: to the traitement, or only checked without one. Returns the memory it holds.
std::expected<std::uint64_t, std::string> lire_partiel_pour(Traitement* t, std::size_t fichier, SourceEntamee& source,
                                                            commun::Entree& entree, const ReglagesLecture& r,
                                                            std::uint64_t vus, const std::string& chemin) {
    // The bytes of the file consumed, told to the progress line as the partial is read.
    commun::SourceSuivie suivie(source, entree, r.progression, vus);
    std::expected<std::uint64_t, std::string> lu = 0;
    if (t != nullptr) {
        lu = t->recevoir_partiel(fichier, suivie, entree.taille());
    } else if (auto v = lire_partiel(suivie, entree.taille(), DestinationPartiel{}); !v) {
        lu = std::unexpected(std::move(v.error()));
    }
    if (!lu) return std::unexpected(chemin + " : " + lu.error());
    return lu;
}

// A result of a spilled file: partitions come back in any order, the key puts it back in place.
struct ResultatCle {
    std::string matchId;
    std::string playerId;
    std::unique_ptr<Resultat> resultat;
};

void trier_par_cle(std::vector<ResultatCle>& r) {
    std::sort(r.begin(), r.end(), [](const ResultatCle& a, const ResultatCle& b) {
        return cle_avant(a.matchId, a.playerId, b.matchId, b.playerId);
    });
}

constexpr std::uint32_t kProfondeurMax = 8;  // a partition spread again at most this many times
constexpr std::size_t kSousPartitions = 16;

std::uint64_t sature(std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; }

// A partition read back holds about what it took on disk, plus the blocks' and the map's slack.
std::uint64_t memoire_partition(std::uint64_t octets) { return octets + octets / 4; }

// A spill sized for a file whose frames would take about `estimation` bytes, to be read back in pieces
// of about `piece` bytes, with write buffers that together take a small share of the budget.
std::expected<Debordement, std::string> creer_debordement(const ReglagesLecture& r, std::uint64_t estimation,
                                                          std::uint64_t piece) {
    piece = std::max<std::uint64_t>(piece, 1 << 20);
    const auto partitions =
        static_cast<std::size_t>(std::clamp<std::uint64_t>((estimation + piece - 1) / piece, 4, 256));
    const auto tampon =
        static_cast<std::size_t>(std::clamp<std::uint64_t>(r.budget / 8 / partitions, 4096, std::uint64_t{1} << 20));
    return Debordement::creer(r.dossier_temporaire, partitions, tampon);
}

std::size_t tampon_sous_partitions(const ReglagesLecture& r) {
    return static_cast<std::size_t>(std::clamp<std::uint64_t>(r.budget / 8 / kSousPartitions, 4096, 1 << 20));
}

// The frames of the whole file, from those of its first `lus` bytes (of the file itself: compressed ones
// for a compressed file, as its size).
std::uint64_t estimation_fichier(std::uint64_t tenu, std::uint64_t lus, std::uint64_t taille) {
    if (lus == 0 || taille <= lus) return tenu * 2;
    return static_cast<std::uint64_t>(static_cast<double>(tenu) * static_cast<double>(taille) /
                                      static_cast<double>(lus));
}

// ---------------------------------------------------------------------------------------------------------
// One thread: each file read chunk after chunk, then its batches analysed one after the other.

class Sequentiel {
public:
    Sequentiel(Traitement* t, const ReglagesLecture& r) : t_(t && t->analyse() ? t : nullptr), partiels_(t), r_(r) {}

    std::expected<void, std::string> fichier(std::size_t i, const std::string& chemin) {
        auto source = ouvrir_telemetrie(chemin);
        if (!source) return std::unexpected(chemin + " : replay illisible : " + source.error());
        SourceEntamee entamee(**source);
        auto partiel = partiel_ouvert(**source, entamee);
        if (!partiel) return std::unexpected(chemin + " : replay illisible : " + partiel.error());
        if (*partiel) {
            auto gardes = lire_partiel_pour(partiels_, i, entamee, **source, r_, 0, chemin);
            if (!gardes) return std::unexpected(std::move(gardes.error()));
            permanent_ += *gardes;
            return {};
        }
        const std::size_t taille = r_.taille_morceau;
        commun::Decoupeur decoupeur(entamee, taille, lignes_par_morceau(taille));
        ReserveTrames reserve;
        std::optional<Debordement> deborde;
        std::uint64_t lignes = 0;
        std::uint64_t vus = 0;
        for (;;) {
            auto suite = decoupeur.suivant(morceau_);
            if (r_.progression) {
                const std::uint64_t lus = (*source)->octets_lus();
                r_.progression(lus - vus);
                vus = lus;
            }
            if (!suite) return std::unexpected(chemin + " : replay illisible : " + suite.error());
            if (!*suite) break;
            const MorceauLu lu = lecteur_.lire(morceau_.vue());
            if (lu.erreur) return std::unexpected(chemin + " : " + texte_erreur(*lu.erreur, lignes));
            lignes += lu.lignes;
            if (t_ == nullptr) continue;
            if (deborde) {
                if (auto e = deborde->ajouter(lu); !e) return e;
                continue;
            }
            reserve.ajouter(lu);
            if (permanent_ + fixe() + reserve.octets() > r_.budget) {
                const std::uint64_t estimation =
                    estimation_fichier(reserve.octets(), (*source)->octets_lus(), (*source)->taille().value_or(0));
                auto d = creer_debordement(r_, estimation, libre());
                if (!d) return std::unexpected(d.error());
                if (auto e = d->ajouter(reserve); !e) return e;
                reserve = ReserveTrames{};
                deborde = std::move(*d);
            }
        }
        if (t_ == nullptr) return {};
        if (!deborde) {
            analyser(reserve, nullptr);
            return {};
        }
        if (auto e = deborde->terminer(); !e) return e;
        std::vector<ResultatCle> resultats;
        if (auto e = partitions(*deborde, resultats, 0); !e) return e;
        trier_par_cle(resultats);
        for (ResultatCle& r : resultats) t_->recevoir(std::move(r.resultat));
        permanent_ += en_attente_;
        en_attente_ = 0;
        return {};
    }

private:
    // The chunk, what the chunker keeps past it, and the chunk parsed.
    std::uint64_t fixe() const { return 3 * static_cast<std::uint64_t>(r_.taille_morceau); }
    std::uint64_t libre() const { return sature(r_.budget, permanent_ + en_attente_ + fixe()); }

    // Each batch of `reserve` analysed in key order; the results go to the traitement, or into `cles`.
    void analyser(ReserveTrames& reserve, std::vector<ResultatCle>* cles) {
        std::vector<ReserveTrames::Lot> lots = reserve.extraire();
        for (ReserveTrames::Lot& lot : lots) {
            const LotCompact compact = preparer_lot(lot.matchId, lot.playerId, lot.trames, reserve.textes(), atelier_);
            std::unique_ptr<Resultat> r = t_->analyser(compact, atelier_);
            lot.trames = GroupeCompact{};
            if (cles != nullptr) {
                en_attente_ += r->octets();
                cles->push_back({std::move(lot.matchId), std::move(lot.playerId), std::move(r)});
            } else {
                permanent_ += r->octets();
                t_->recevoir(std::move(r));
            }
        }
        atelier_.alleger();
    }

    std::expected<void, std::string> partitions(Debordement& d, std::vector<ResultatCle>& sortie,
                                                std::uint32_t profondeur) {
        for (std::size_t p = 0; p < d.partitions(); ++p) {
            const std::uint64_t octets = d.taille(p);
            if (octets == 0) continue;
            if (memoire_partition(octets) > libre() && profondeur < kProfondeurMax) {
                auto sous = d.repartir(p, kSousPartitions, tampon_sous_partitions(r_));
                if (!sous) return std::unexpected(sous.error());
                if (*sous) {
                    if (auto e = partitions(**sous, sortie, profondeur + 1); !e) return e;
                    continue;
                }
                // A single batch: read back whatever its size.
            }
            auto reserve = d.charger(p);
            if (!reserve) return std::unexpected(reserve.error());
            analyser(*reserve, &sortie);
        }
        return {};
    }

    Traitement* t_;         // the batches' (none when they are only checked)
    Traitement* partiels_;  // the partials'
    const ReglagesLecture& r_;
    LecteurMorceaux lecteur_;
    Atelier atelier_;
    commun::Tampon morceau_;
    std::uint64_t permanent_ = 0;   // results handed over: the traitement keeps them
    std::uint64_t en_attente_ = 0;  // results of a spilled file, until they are put in order
};

// ---------------------------------------------------------------------------------------------------------
// Several threads.

// Tasks by priority (0 first), each told which thread runs it; the threads are joined when it ends.
class Pool {
public:
    using Tache = std::move_only_function<void(std::size_t fil)>;
    explicit Pool(std::size_t fils) {
        for (std::size_t i = 0; i < fils; ++i) fils_.emplace_back([this, i] { boucle(i); });
    }
    ~Pool() {
        {
            std::lock_guard g(m_);
            fin_ = true;
        }
        cv_.notify_all();
        for (std::thread& f : fils_) f.join();
    }
    void soumettre(std::size_t priorite, Tache tache) {
        {
            std::lock_guard g(m_);
            files_[priorite].push_back(std::move(tache));
        }
        cv_.notify_one();
    }
    // Drops the tasks not started.
    void vider() {
        std::lock_guard g(m_);
        for (auto& f : files_) f.clear();
    }

private:
    void boucle(std::size_t fil) {
        for (;;) {
            Tache tache;
            {
                std::unique_lock l(m_);
                cv_.wait(l, [&] {
                    return fin_ || std::any_of(files_.begin(), files_.end(), [](auto& f) { return !f.empty(); });
                });
                auto file = std::find_if(files_.begin(), files_.end(), [](auto& f) { return !f.empty(); });
                if (file == files_.end()) return;
                tache = std::move(file->front());
                file->pop_front();
            }
            tache(fil);
        }
    }

    std::mutex m_;
    std::condition_variable cv_;
    std::array<std::deque<Tache>, 3> files_;
    bool fin_ = false;
    std::vector<std::thread> fils_;
};

enum Priorite : std::size_t { kUrgent = 0, kAnalyse = 1, kLecture = 2 };

class Parallele {
public:
    Parallele(std::span<const std::string> chemins, Traitement* t, const ReglagesLecture& r)
        : t_(t && t->analyse() ? t : nullptr),
          partiels_(t),
          r_(r),
          fichiers_(chemins.size()),
          lecteurs_max_(std::max<std::size_t>(1, (r.fils + 2) / 3)),
          limite_vol_(2 * r.fils + 2),
          postes_(r.fils),
          pool_(r.fils) {
        for (std::size_t i = 0; i < chemins.size(); ++i) fichiers_[i].chemin = chemins[i];
    }

    ~Parallele() {
        std::unique_lock l(m_);
        arret_ = true;
        pool_.vider();
    }

    std::expected<void, std::string> executer() {
        std::unique_lock l(m_);
        planifier();
        for (;;) {
            // The first error in argument order; a file still being read may yet have one.
            for (std::size_t j = livres_; j < fichiers_.size(); ++j) {
                if (fichiers_[j].erreur) {
                    arret_ = true;
                    pool_.vider();
                    return std::unexpected(*fichiers_[j].erreur);
                }
                if (!fichiers_[j].lu) break;
            }
            if (livres_ < fichiers_.size() && fichiers_[livres_].partiel) {
                if (auto r = livrer_partiel(l); !r) {
                    arret_ = true;
                    pool_.vider();
                    return r;
                }
                continue;
            }
            if (livres_ < fichiers_.size() && fichiers_[livres_].termine) {
                livrer(l);
                continue;
            }
            if (livres_ == fichiers_.size()) return {};
            cv_.wait(l);
        }
    }

private:
    struct Morceau {
        MorceauLu lu;
        std::optional<std::string> erreur_lecture;  // ends the file after the chunks before it
    };
    struct Partition {
        Debordement* debordement;
        std::size_t p;
        std::uint32_t profondeur;
    };
    struct Fichier {
        std::string chemin;
        std::unique_ptr<commun::Entree> source;        // the reading task's
        std::unique_ptr<SourceEntamee> entamee;        // the reading task's: the source, its first bytes given back
        std::unique_ptr<commun::Decoupeur> decoupeur;  // the reading task's
        // A partial result: opened by the reading task, read when its turn to be handed over comes.
        bool partiel = false;
        std::uint64_t vus = 0;  // the reading task's: file bytes told to the progress
        std::uint64_t taille = 0;
        std::uint64_t octets_lus = 0;
        // Reading: chunks are numbered as they are cut and added back in that order.
        bool lecture_active = false;
        bool lecture_finie = false;
        std::uint64_t lus = 0;
        std::uint64_t valides = 0;
        std::map<std::uint64_t, Morceau> prets;
        // One thread at a time adds chunks; the reserve, the spill and the line count are its own.
        bool validation_active = false;
        bool deborder = false;  // asked to spill
        bool deborde = false;
        bool reserve_vide = true;
        std::uint64_t lignes = 0;
        ReserveTrames reserve;
        std::vector<std::unique_ptr<Debordement>> debordements;  // the file's, then partitions spread again
        std::uint64_t tenu = 0;                                  // of the budget, for the reserve or the spill
        bool lu = false;                                         // every line read without error
        // Analysis.
        std::vector<ReserveTrames::Lot> lots;
        std::vector<std::unique_ptr<Resultat>> resultats;  // per batch, in key order
        std::vector<ResultatCle> resultats_cles;           // spilled: any order
        std::deque<Partition> partitions;                  // waiting for memory
        std::size_t taches = 0;
        bool termine = false;
        std::optional<std::string> erreur;
    };

    std::uint64_t place_morceau() const { return 3 * static_cast<std::uint64_t>(r_.taille_morceau); }

    void erreur(Fichier& f, std::string texte) {
        if (!f.erreur) f.erreur = std::move(texte);
        cv_.notify_all();
    }

    // Whether files before i hold memory that their analysis will give back.
    bool tenus_avant(std::size_t i) const {
        for (std::size_t j = livres_; j < i; ++j) {
            if (fichiers_[j].tenu > 0 || fichiers_[j].taches > 0) return true;
        }
        return false;
    }

    // Starts what can start. Under the lock.
    void planifier() {
        if (arret_) return;
        // Several files are read at once (each is read by one thread at a time, and decompression is slow),
        // but none is opened while a spilled file is read back: its partitions need the memory.
        bool relecture = false;
        std::size_t en_lecture = 0;
        std::uint64_t en_vol = 0;
        for (std::size_t j = livres_; j < ouverts_; ++j) {
            const Fichier& f = fichiers_[j];
            relecture = relecture || (f.lu && f.deborde && !f.termine);
            if (!f.lu && !f.erreur && !f.partiel) ++en_lecture;
            en_vol += f.lus - f.valides;
        }
        for (; !relecture && ouverts_ < fichiers_.size() && en_lecture < lecteurs_max_; ++en_lecture) ++ouverts_;
        bool premier = true;
        for (std::size_t i = livres_; i < ouverts_ && en_vol < limite_vol_; ++i) {
            Fichier& f = fichiers_[i];
            if (f.lu || f.erreur || f.partiel) continue;
            const bool ancien = std::exchange(premier, false);
            if (f.lecture_active || f.lecture_finie) continue;
            const std::uint64_t place = place_morceau();
            // The oldest file being read may fill the budget, the others half of it: the oldest can always
            // go on, spilling if it must, without waiting for files read after it.
            bool lire = utilise_ + place <= (ancien ? r_.budget : r_.budget / 2);
            if (!lire && ancien && f.lus == f.valides && !tenus_avant(i)) {
                // Alone and full: spill what is held, or go on past the budget once that is done.
                if (t_ != nullptr && !f.deborde && !f.reserve_vide) {
                    f.deborder = true;
                    valider_plus_tard(i);
                } else {
                    lire = true;
                }
            }
            if (lire) {
                utilise_ += place;
                ++en_vol;
                f.lecture_active = true;
                pool_.soumettre(kUrgent, [this, i, place](std::size_t) { lire_morceau(i, place); });
            }
        }
        for (std::size_t i = livres_; i < ouverts_; ++i) {
            Fichier& f = fichiers_[i];
            while (!f.partitions.empty() && !f.erreur) {
                const Partition q = f.partitions.front();
                const std::uint64_t place = memoire_partition(q.debordement->taille(q.p));
                if (utilise_ + place > r_.budget && partitions_actives_ > 0) break;
                f.partitions.pop_front();
                utilise_ += place;
                ++partitions_actives_;
                pool_.soumettre(kAnalyse,
                                [this, i, q, place](std::size_t fil) { traiter_partition(fil, i, q, place); });
            }
        }
    }

    void valider_plus_tard(std::size_t i) {
        Fichier& f = fichiers_[i];
        if (f.validation_active) return;
        const bool a_faire =
            f.deborder || f.prets.contains(f.valides) || (f.lecture_finie && f.valides == f.lus && !f.lu);
        if (!a_faire) return;
        f.validation_active = true;
        pool_.soumettre(kUrgent, [this, i](std::size_t) { valider(i); });
    }

    void lire_morceau(std::size_t i, std::uint64_t place) {
        Fichier& f = fichiers_[i];
        commun::Tampon tampon;
        {
            std::lock_guard g(m_);
            if (arret_ || f.erreur) {
                f.lecture_active = false;
                utilise_ -= place;
                return;
            }
            if (!tampons_.empty()) {
                tampon = std::move(tampons_.back());
                tampons_.pop_back();
            }
        }
        std::optional<std::string> erreur_lecture;
        bool fin = false;
        bool partiel = false;
        if (!f.decoupeur) {
            auto source = ouvrir_telemetrie(f.chemin);
            if (!source) {
                erreur_lecture = std::move(source.error());
            } else {
                f.source = std::move(*source);
                f.entamee = std::make_unique<SourceEntamee>(*f.source);
                f.taille = f.source->taille().value_or(0);
                auto p = partiel_ouvert(*f.source, *f.entamee);
                if (!p) {
                    erreur_lecture = std::move(p.error());
                } else if (*p) {
                    partiel = true;
                } else {
                    f.decoupeur = std::make_unique<commun::Decoupeur>(*f.entamee, r_.taille_morceau,
                                                                      lignes_par_morceau(r_.taille_morceau));
                }
            }
        }
        if (partiel) {
            std::lock_guard g(m_);
            f.lecture_active = false;
            f.lecture_finie = true;
            f.partiel = true;
            utilise_ -= place;
            rendre(std::move(tampon));
            cv_.notify_all();
            planifier();
            return;
        }
        if (!erreur_lecture) {
            auto suite = f.decoupeur->suivant(tampon);
            if (r_.progression) {
                const std::uint64_t lus = f.source->octets_lus();
                r_.progression(lus - f.vus);
                f.vus = lus;
            }
            if (!suite) {
                erreur_lecture = std::move(suite.error());
            } else {
                fin = !*suite;
            }
        }
        std::lock_guard g(m_);
        f.lecture_active = false;
        if (f.source) f.octets_lus = f.source->octets_lus();
        if (erreur_lecture || fin) {
            f.lecture_finie = true;
            rendre(std::move(tampon));
            if (erreur_lecture) {
                f.prets.emplace(f.lus++, Morceau{{}, std::move(erreur_lecture)});
            } else {
                utilise_ -= place;
            }
            valider_plus_tard(i);
        } else {
            const std::uint64_t numero = f.lus++;
            pool_.soumettre(kLecture, [this, i, numero, t = std::move(tampon)](std::size_t fil) mutable {
                analyser_morceau(fil, i, numero, std::move(t));
            });
        }
        planifier();
    }

    void rendre(commun::Tampon&& t) {
        if (tampons_.size() < limite_vol_) tampons_.push_back(std::move(t));
    }

    void analyser_morceau(std::size_t fil, std::size_t i, std::uint64_t numero, commun::Tampon tampon) {
        LecteurMorceaux& lecteur = poste(fil).lecteur;
        Morceau m;
        bool arret = false;
        {
            std::lock_guard g(m_);
            arret = arret_;
        }
        if (!arret) m.lu = lecteur.lire(tampon.vue());
        std::lock_guard g(m_);
        rendre(std::move(tampon));
        fichiers_[i].prets.emplace(numero, std::move(m));
        valider_plus_tard(i);
    }

    // Adds the parsed chunks to the file in order; the one thread doing so at a time.
    void valider(std::size_t i) {
        Fichier& f = fichiers_[i];
        std::unique_lock l(m_);
        for (;;) {
            if (arret_ || f.erreur) break;
            if (f.deborder && !f.deborde) {
                f.deborder = false;
                const std::uint64_t estimation = estimation_fichier(f.tenu, f.octets_lus, f.taille);
                const std::uint64_t piece = sature(r_.budget, permanent_) / (2 * r_.fils);
                l.unlock();
                auto d = creer_debordement(r_, estimation, piece);
                std::optional<std::string> e;
                if (!d) {
                    e = d.error();
                } else if (auto r = d->ajouter(f.reserve); !r) {
                    e = r.error();
                } else {
                    f.reserve = ReserveTrames{};
                }
                l.lock();
                if (e) {
                    erreur(f, std::move(*e));
                    break;
                }
                f.debordements.push_back(std::make_unique<Debordement>(std::move(*d)));
                f.deborde = true;
                f.deborder = false;  // asked again while the spill was being written
                f.reserve_vide = true;
                reajuster(f, f.debordements[0]->octets());
                planifier();
                continue;
            }
            auto it = f.prets.find(f.valides);
            if (it == f.prets.end()) {
                if (f.lecture_finie && f.valides == f.lus && !f.lu) {
                    fin_lecture(i, l);
                }
                break;
            }
            Morceau m = std::move(it->second);
            f.prets.erase(it);
            l.unlock();
            std::optional<std::string> e;
            std::uint64_t tenu = 0;
            if (m.erreur_lecture) {
                e = f.chemin + " : replay illisible : " + *m.erreur_lecture;
            } else if (m.lu.erreur) {
                e = f.chemin + " : " + texte_erreur(*m.lu.erreur, f.lignes);
            } else {
                f.lignes += m.lu.lignes;
                if (t_ != nullptr && f.deborde) {
                    if (auto r = f.debordements[0]->ajouter(m.lu); !r) e = r.error();
                } else if (t_ != nullptr) {
                    f.reserve.ajouter(m.lu);
                }
            }
            if (t_ != nullptr) tenu = f.deborde ? f.debordements[0]->octets() : f.reserve.octets();
            const bool vide = f.deborde || f.reserve.vide();
            m = Morceau{};
            l.lock();
            ++f.valides;
            utilise_ -= place_morceau();
            reajuster(f, tenu);
            f.reserve_vide = vide;
            if (e) {
                erreur(f, std::move(*e));
                break;
            }
            planifier();
        }
        f.validation_active = false;
        planifier();
    }

    void reajuster(Fichier& f, std::uint64_t tenu) {
        utilise_ = utilise_ - f.tenu + tenu;
        f.tenu = tenu;
    }

    // Every chunk of file i added without error: its batches can go. Under the lock, which it may let go.
    void fin_lecture(std::size_t i, std::unique_lock<std::mutex>& l) {
        Fichier& f = fichiers_[i];
        f.lu = true;
        cv_.notify_all();
        if (t_ == nullptr) {
            terminer(i);
            return;
        }
        if (!f.deborde) {
            f.lots = f.reserve.extraire();
            f.resultats.resize(f.lots.size());
            std::size_t debut = 0;
            std::uint64_t trames = 0;
            std::size_t plus_grand = 0;
            for (std::size_t k = 0; k < f.lots.size(); ++k) {
                trames += f.lots[k].trames.taille();
                plus_grand = std::max(plus_grand, f.lots[k].trames.taille());
                // Small batches go together, so a task is worth its cost.
                if (trames >= 16384 || k + 1 == f.lots.size()) {
                    ++f.taches;
                    const std::uint64_t atelier = plus_grand * kOctetsAnalyseParTrame;
                    pool_.soumettre(kAnalyse, [this, i, debut, fin = k + 1, atelier](std::size_t fil) {
                        analyser_lots(fil, i, debut, fin, atelier);
                    });
                    debut = k + 1;
                    trames = 0;
                    plus_grand = 0;
                }
            }
            if (f.taches == 0) terminer(i);
            return;
        }
        l.unlock();
        auto r = f.debordements[0]->terminer();
        l.lock();
        if (!r) {
            erreur(f, r.error());
            return;
        }
        ajouter_partitions(f, f.debordements[0].get(), 0);
        if (f.taches == 0) terminer(i);
    }

    void ajouter_partitions(Fichier& f, Debordement* d, std::uint32_t profondeur) {
        for (std::size_t p = 0; p < d->partitions(); ++p) {
            if (d->taille(p) == 0) continue;
            f.partitions.push_back({d, p, profondeur});
            ++f.taches;
        }
    }

    void terminer(std::size_t i) {
        Fichier& f = fichiers_[i];
        f.termine = true;
        reajuster(f, 0);
        f.reserve = ReserveTrames{};
        f.lots.clear();
        f.debordements.clear();
        cv_.notify_all();
    }

    void analyser_lots(std::size_t fil, std::size_t i, std::size_t debut, std::size_t fin,
                       std::uint64_t atelier_octets) {
        Atelier& atelier = poste(fil).atelier;
        Fichier& f = fichiers_[i];
        {
            std::lock_guard g(m_);
            if (arret_) return;
            utilise_ += atelier_octets;
        }
        std::uint64_t liberes = 0;
        std::uint64_t gardes = 0;
        for (std::size_t k = debut; k < fin; ++k) {
            ReserveTrames::Lot& lot = f.lots[k];
            const LotCompact compact = preparer_lot(lot.matchId, lot.playerId, lot.trames, f.reserve.textes(), atelier);
            f.resultats[k] = t_->analyser(compact, atelier);
            gardes += f.resultats[k]->octets();
            liberes += lot.trames.octets();
            lot.trames = GroupeCompact{};
        }
        atelier.alleger();
        std::lock_guard g(m_);
        utilise_ -= atelier_octets;
        utilise_ += gardes;
        permanent_ += gardes;
        reajuster(f, f.tenu - liberes);
        if (--f.taches == 0) terminer(i);
        planifier();
    }

    void traiter_partition(std::size_t fil, std::size_t i, Partition q, std::uint64_t place) {
        Atelier& atelier = poste(fil).atelier;
        Fichier& f = fichiers_[i];
        std::uint64_t seuil = 0;
        {
            std::lock_guard g(m_);
            seuil = sature(r_.budget, permanent_) / 2;
        }
        std::optional<std::string> e;
        std::vector<ResultatCle> resultats;
        std::uint64_t gardes = 0;
        std::unique_ptr<Debordement> sous;
        if (place > seuil && q.profondeur < kProfondeurMax) {
            auto r = q.debordement->repartir(q.p, kSousPartitions, tampon_sous_partitions(r_));
            if (!r) {
                e = r.error();
            } else if (*r) {
                sous = std::make_unique<Debordement>(std::move(**r));
            }
        }
        if (!e && !sous) {
            auto reserve = q.debordement->charger(q.p);
            if (!reserve) {
                e = reserve.error();
            } else {
                {
                    std::lock_guard g(m_);
                    utilise_ = utilise_ - place + reserve->octets();
                    place = reserve->octets();
                }
                std::vector<ReserveTrames::Lot> lots = reserve->extraire();
                for (ReserveTrames::Lot& lot : lots) {
                    if (arret_signale()) break;
                    const LotCompact compact =
                        preparer_lot(lot.matchId, lot.playerId, lot.trames, reserve->textes(), atelier);
                    std::unique_ptr<Resultat> r = t_->analyser(compact, atelier);
                    lot.trames = GroupeCompact{};
                    gardes += r->octets();
                    resultats.push_back({std::move(lot.matchId), std::move(lot.playerId), std::move(r)});
                }
                atelier.alleger();
            }
        }
        std::lock_guard g(m_);
        utilise_ = utilise_ - place + gardes;
        permanent_ += gardes;
        --partitions_actives_;
        if (e) {
            erreur(f, std::move(*e));
        } else if (sous) {
            ajouter_partitions(f, sous.get(), q.profondeur + 1);
            f.debordements.push_back(std::move(sous));
        } else {
            std::move(resultats.begin(), resultats.end(), std::back_inserter(f.resultats_cles));
        }
        if (--f.taches == 0 && !f.erreur) terminer(i);
        planifier();
    }

    bool arret_signale() {
        std::lock_guard g(m_);
        return arret_;
    }

    // File livres_, a partial, read into the traitement without the lock.
    std::expected<void, std::string> livrer_partiel(std::unique_lock<std::mutex>& l) {
        const std::size_t i = livres_;
        Fichier& f = fichiers_[i];
        l.unlock();
        auto gardes = lire_partiel_pour(partiels_, i, *f.entamee, *f.source, r_, f.vus, f.chemin);
        f.entamee.reset();
        f.source.reset();
        l.lock();
        if (!gardes) return std::unexpected(std::move(gardes.error()));
        f.lu = true;
        f.termine = true;
        utilise_ += *gardes;
        permanent_ += *gardes;
        ++livres_;
        planifier();
        return {};
    }

    // File livres_'s results to the traitement, in batch order, without the lock.
    void livrer(std::unique_lock<std::mutex>& l) {
        Fichier& f = fichiers_[livres_];
        std::vector<std::unique_ptr<Resultat>> resultats = std::move(f.resultats);
        std::vector<ResultatCle> cles = std::move(f.resultats_cles);
        l.unlock();
        trier_par_cle(cles);
        for (auto& r : resultats) t_->recevoir(std::move(r));
        for (auto& r : cles) t_->recevoir(std::move(r.resultat));
        l.lock();
        ++livres_;
        planifier();
    }

    Traitement* t_;         // the batches' (none when they are only checked)
    Traitement* partiels_;  // the partials'
    const ReglagesLecture& r_;
    std::mutex m_;
    std::condition_variable cv_;  // the calling thread waits on it
    std::vector<Fichier> fichiers_;
    std::size_t ouverts_ = 0;   // files whose reading has started
    std::size_t lecteurs_max_;  // files read at once
    std::size_t livres_ = 0;    // files whose results were handed over
    std::uint64_t utilise_ = 0;
    std::uint64_t permanent_ = 0;  // results: kept until the end
    std::size_t partitions_actives_ = 0;
    bool arret_ = false;
    std::vector<commun::Tampon> tampons_;
    std::uint64_t limite_vol_;  // chunks of a file between their reading and their adding
    // Each thread's working storage, owned here rather than thread_local: the threads' own storage is
    // not reliably destroyed in order on every platform. Made by the thread that uses it, on first use, so
    // it comes from that thread's part of the heap: the parsers of two threads side by side in memory
    // would share cache lines.
    struct Poste {
        LecteurMorceaux lecteur;
        Atelier atelier;
    };
    Poste& poste(std::size_t fil) {
        if (!postes_[fil]) postes_[fil] = std::make_unique<Poste>();
        return *postes_[fil];
    }
    std::vector<std::unique_ptr<Poste>> postes_;
    Pool pool_;  // last: its threads are joined before the rest goes
};

}  // namespace

std::expected<void, std::string> traiter_fichiers(std::span<const std::string> chemins, Traitement* traitement,
                                                  const ReglagesLecture& reglages) {
    if (reglages.fils <= 1) {
        Sequentiel s(traitement, reglages);
        for (std::size_t i = 0; i < chemins.size(); ++i) {
            if (auto r = s.fichier(i, chemins[i]); !r) return r;
        }
        return {};
    }
    Parallele p(chemins, traitement, reglages);
    return p.executer();
}

}  // namespace comportement
