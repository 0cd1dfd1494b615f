#include "cohorte/simulation.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "cohorte/alea.hpp"
#include "cohorte/carte.hpp"

namespace cohorte {

std::optional<Profil> profil_depuis_texte(std::string_view texte) {
    if (texte == "humain") return Profil::humain;
    if (texte == "snap") return Profil::snap;
    if (texte == "trigger") return Profil::trigger;
    if (texte == "wallhack") return Profil::wallhack;
    return std::nullopt;
}

std::string_view nom_profil(Profil profil) {
    switch (profil) {
    case Profil::humain: return "humain";
    case Profil::snap: return "snap";
    case Profil::trigger: return "trigger";
    case Profil::wallhack: return "wallhack";
    }
    return "humain";
}

namespace {

constexpr double kDegParRad = 57.29577951308232;
constexpr double kHauteurOeil = 1.62;
constexpr double kHauteurVisee = 1.45;  // upper chest: the point every aim is measured against
constexpr double kDemiChampDeg = 53.0;
constexpr double kGraceVisibilite = 0.08;  // s
constexpr double kAttentionDeg = 26.0;     // opponents further off the crosshair go unnoticed
constexpr std::int64_t kOrigineMs = 1'765'000'000'000;

double enroule(double angle) { return std::remainder(angle, 360.0); }

// Rounded to a decimal grid: divisions by an exact power of ten give the shortest text.
double arrondi(double v, double parUnite) { return std::round(v * parUnite) / parUnite; }

struct Angles {
    double yaw = 0.0;
    double pitch = 0.0;
};

Angles difference(Angles a, Angles b) { return {enroule(a.yaw - b.yaw), a.pitch - b.pitch}; }
double norme(Angles a) { return std::sqrt(a.yaw * a.yaw + a.pitch * a.pitch); }

Angles direction(const Vec3& depuis, double x, double y, double z) {
    const double dx = x - depuis.x;
    const double dy = y - depuis.y;
    const double dz = z - depuis.z;
    return {std::atan2(dy, dx) * kDegParRad, std::atan2(dz, std::sqrt(dx * dx + dy * dy)) * kDegParRad};
}

// Minimum-jerk position profile: the bell-shaped speed of a human submovement.
double minimum_jerk(double tau) { return tau * tau * tau * (10.0 + tau * (-15.0 + 6.0 * tau)); }

// One submovement of the aim offset, from `debut` to `fin` between t0 and t0 + duree.
struct SousMouvement {
    double t0 = 0.0;
    double duree = 0.0;
    Angles debut;
    Angles fin;
    bool lineaire = false;

    Angles valeur(double t) const {
        if (duree <= 0.0 || t >= t0 + duree) return fin;
        const double tau = std::fmax(0.0, (t - t0) / duree);
        const double s = lineaire ? tau : minimum_jerk(tau);
        const Angles d = difference(fin, debut);
        return {debut.yaw + d.yaw * s, debut.pitch + d.pitch * s};
    }
    bool actif(double t) const { return t < t0 + duree; }
};

// Hand noise as intermittent drift: every few tenths of a second the hand settles on a new
// small offset, reached with a smooth submovement. Between two of them the aim moves one way
// only, so direction reversals come a few times a second, never every tick.
struct Bruit {
    SousMouvement derive;
    double prochain = 0.0;

    Angles avancer(Alea& alea, double t, double sigma) {
        if (t >= prochain) {
            const Angles depuis = derive.valeur(t);
            const double duree = alea.uniforme(0.14, 0.3);
            derive = SousMouvement{t, duree, depuis, {alea.normale(0.0, sigma), alea.normale(0.0, sigma * 0.4)}, false};
            prochain = t + duree + alea.uniforme(0.08, 0.35);
        }
        return derive.valeur(t);
    }
};

struct Personnage {
    std::string id;
    std::int32_t equipe = 0;
    Point2 pos;
    Point2 dest;
    double vitesse = 0.0;
    double pause = 0.0;
    bool enMouvement = false;
    bool vivant = true;
    double reapparition = 0.0;
    int sante = 100;
    double phase = 0.0;
    // Derived each tick, for opponents.
    Angles dir;
    double distance = 0.0;
    bool visible = false;
    double vuJusqua = -1.0;
    // Peeking from cover: where he hides, where he steps out, how many more times.
    Point2 abri;
    Point2 bord;
    int peeks = 0;
    bool suiteImposee = false;
};

enum class Mode { garde, engage, suiviMural };

struct Traits {
    double rtMediane;  // s
    double rtSigma;
    double main;          // scales submovement durations
    double tauSuivi;      // s, lag of visual pursuit
    double bruitSuivi;    // deg
    double bruitGarde;    // deg
    double placement;     // deg, crosshair placement spread
    double degParCompte;  // view degrees per mouse count
    double seuilAjustement;
    double ecoute;  // how often footsteps decide which corner to hold
};

}  // namespace

struct SimulationMatch::Etat {
    ParametresMatch p;
    Alea alea;
    Carte carte;
    Traits traits{};
    std::string arme;
    double intervalleTir = 0.1;
    double degatsCorps = 28.0;

    std::int64_t tick = 0;
    std::int64_t ticksTotal = 0;
    double t = 0.0;
    double tPrecedent = 0.0;

    Personnage local;
    std::vector<Personnage> autres;  // teammate first, then opponents
    std::size_t premierAdversaire = 1;
    Vec3 camera;
    double yaw = 0.0;
    double pitch = 0.0;

    // Aim controller.
    Mode mode = Mode::garde;
    Angles reference;  // current reference direction
    SousMouvement mouvement;
    Bruit bruit;
    double sigmaBruit = 0.3;
    // Watching an angle.
    Vec3 pointGarde;
    double changementGarde = 0.0;
    bool ecoute = false;  // this hold follows the footsteps of the nearest hidden opponent
    double prochaineEcoute = 0.0;
    // Engagement.
    int cible = -1;
    int phase = 0;  // 0 primary, 1 waiting to correct, 2 tracking
    double correctionA = 0.0;
    double dernierAjustement = 0.0;
    double perdueDepuis = -1.0;
    double reprise = -1.0;
    double tirRepris = 0.0;
    bool perdueAttention = false;
    bool distrait = false;
    double attentionRetour = -1.0;
    Angles filtre;
    double tauFiltre = 0.08;
    bool bot = false;  // this engagement is driven by the aimbot
    // Perception of a new opponent.
    int enAttente = -1;
    double attenteFin = 0.0;
    bool attenteBot = false;
    bool botArme = false;  // the aimbot key is held
    double basculeBot = 0.0;
    double prochaineRecherche = 0.0;  // next look for an opponent to follow through cover
    // The target telemetry attributes to the local player at the last tick (index in autres),
    // from the real conversion run on each snapshot as it is produced.
    comportement::EtatConversion conversion;
    int cibleTelemetrie = -1;
    // Shooting.
    double prochainTir = 0.0;
    int rafaleRestante = 0;
    int rafaleIndice = 0;
    double pauseRafale = 0.0;
    double armeDepuis = -1.0;
    double delaiBot = 0.0;

    explicit Etat(const ParametresMatch& parametres)
        : p(parametres), alea(Alea::flux(parametres.graine, parametres.indice)), carte(Carte::generer(alea)) {}

    // --- set-up -----------------------------------------------------------------------------

    void initialiser() {
        ticksTotal = static_cast<std::int64_t>(std::llround(p.dureeS * kTicksParSeconde));
        traits.rtMediane = alea.lognormale(0.22, 0.08);
        traits.rtSigma = alea.uniforme(0.17, 0.23);
        traits.main = alea.lognormale(0.85, 0.12);
        traits.tauSuivi = alea.uniforme(0.06, 0.11);
        traits.bruitSuivi = alea.uniforme(0.35, 0.6);
        traits.bruitGarde = alea.uniforme(0.12, 0.22);
        traits.placement = alea.uniforme(2.5, 5.0);
        traits.degParCompte = 0.022 * alea.uniforme(0.9, 2.6);
        traits.seuilAjustement = alea.uniforme(1.1, 1.8);
        traits.ecoute = alea.uniforme(0.3, 0.6);
        switch (p.profil) {
        case Profil::snap: traits.placement = alea.uniforme(4.0, 8.0); break;
        case Profil::trigger:
            // Holds angles tightly, listens, and lets the bot pull the trigger.
            traits.placement = alea.uniforme(0.4, 0.9);
            traits.ecoute = alea.uniforme(0.85, 0.95);
            break;
        default: break;
        }
        if (alea.bernoulli(0.8)) {
            arme = "fusil";
            intervalleTir = 0.1;
            degatsCorps = 28.0;
        } else {
            arme = "pistolet";
            intervalleTir = 0.25;
            degatsCorps = 34.0;
        }

        local.id = "ent-1";
        local.equipe = 1;
        local.pos = carte.point_libre_aleatoire(alea, 1.0);
        local.dest = local.pos;
        local.pause = alea.uniforme(0.5, 3.0);
        autres.clear();
        Personnage equipier;
        equipier.id = "ent-2";
        equipier.equipe = 1;
        autres.push_back(equipier);
        const int nAdversaires = static_cast<int>(alea.entier(2, 3));
        for (int i = 0; i < nAdversaires; ++i) {
            Personnage a;
            a.id = "ent-" + std::to_string(3 + i);
            a.equipe = 2;
            autres.push_back(a);
        }
        for (Personnage& a : autres) {
            a.pos = a.equipe == 2 ? point_apparition() : carte.point_libre_aleatoire(alea, 1.0);
            a.dest = a.pos;
            a.pause = alea.uniforme(0.0, 2.0);
            a.phase = alea.uniforme(0.0, 6.283185307179586);
        }
        yaw = alea.uniforme(-180.0, 180.0);
        pitch = alea.normale(0.0, 1.0);
        mettre_camera();
        reference = {yaw, pitch};
        mouvement = SousMouvement{0.0, 0.0, {0, 0}, {0, 0}, false};
        choisir_garde();
    }

    Point2 point_apparition() {
        for (int i = 0; i < 50; ++i) {
            const Point2 q = carte.point_libre_aleatoire(alea, 1.0);
            const double dx = q.x - local.pos.x;
            const double dy = q.y - local.pos.y;
            if (dx * dx + dy * dy >= 18.0 * 18.0) return q;
        }
        return carte.point_libre_aleatoire(alea, 1.0);
    }

    void mettre_camera() { camera = {local.pos.x, local.pos.y, kHauteurOeil}; }

    // --- movement ---------------------------------------------------------------------------

    // Opponents spread out rather than moving as a pack.
    bool a_l_ecart(const Personnage& qui, Point2 q) const {
        // Nor do they walk right up to the local player: fights happen at a few metres or more.
        if ((local.pos.x - q.x) * (local.pos.x - q.x) + (local.pos.y - q.y) * (local.pos.y - q.y) < 7.0 * 7.0)
            return false;
        for (std::size_t i = premierAdversaire; i < autres.size(); ++i) {
            const Personnage& a = autres[i];
            if (&a == &qui || !a.vivant) continue;
            for (const Point2 r : {a.pos, a.dest})
                if ((r.x - q.x) * (r.x - q.x) + (r.y - q.y) * (r.y - q.y) < 5.0 * 5.0) return false;
        }
        return true;
    }

    Point2 destination(Personnage& qui, bool chasseur) {
        if (chasseur && alea.bernoulli(0.7)) {
            // Peek: step out from the edge of the cover between us and the local player, often
            // stepping back in and out again a few times.
            if (const auto bord = carte.bord_de_couverture(local.pos, qui.pos, alea.uniforme(0.5, 1.2)))
                if (carte.point_libre(*bord, 0.4) && carte.segment_libre(qui.pos, *bord, 0.35) &&
                    a_l_ecart(qui, *bord)) {
                    qui.abri = qui.pos;
                    qui.bord = *bord;
                    qui.peeks = static_cast<int>(alea.entier(0, 3));
                    return *bord;
                }
        }
        qui.peeks = 0;
        for (int essai = 0; essai < 24; ++essai) {
            Point2 q;
            if (chasseur && essai < 12) {
                // Opponents often head for the local player's area: that is where fights happen.
                const double ang = alea.uniforme(0.0, 6.283185307179586);
                const double r = alea.uniforme(8.0, 16.0);
                q = {local.pos.x + r * std::cos(ang), local.pos.y + r * std::sin(ang)};
            } else {
                const double ang = alea.uniforme(0.0, 6.283185307179586);
                const double r = alea.uniforme(4.0, 18.0);
                q = {qui.pos.x + r * std::cos(ang), qui.pos.y + r * std::sin(ang)};
            }
            if (carte.point_libre(q, 0.8) && carte.segment_libre(qui.pos, q, 0.45) && a_l_ecart(qui, q)) return q;
        }
        return qui.pos;
    }

    void deplacer(Personnage& qui, double dt, bool estLocal) {
        if (!qui.vivant) return;
        if (qui.pause > 0.0) {
            qui.pause -= dt;
            qui.enMouvement = false;
            if (qui.pause <= 0.0) {
                if (qui.suiteImposee) qui.suiteImposee = false;
                else qui.dest = destination(qui, !estLocal && qui.equipe == 2 && alea.bernoulli(0.45));
                qui.vitesse = estLocal ? alea.uniforme(2.0, 3.4)
                                       : (alea.bernoulli(0.7) ? alea.uniforme(3.8, 5.6) : alea.uniforme(1.8, 2.6));
            }
            return;
        }
        const double dx = qui.dest.x - qui.pos.x;
        const double dy = qui.dest.y - qui.pos.y;
        const double d = std::sqrt(dx * dx + dy * dy);
        const double pas = qui.vitesse * dt;
        if (d <= pas || d < 0.05) {
            qui.pos = qui.dest;
            qui.enMouvement = false;
            if (qui.peeks > 0) {
                const bool dehors = qui.pos.x == qui.bord.x && qui.pos.y == qui.bord.y;
                if (!dehors) --qui.peeks;
                qui.dest = dehors ? qui.abri : qui.bord;
                qui.pause = dehors ? alea.uniforme(0.25, 0.9) : alea.uniforme(0.2, 0.7);
                qui.suiteImposee = true;
                return;
            }
            qui.pause = estLocal ? (p.profil == Profil::trigger ? alea.uniforme(6.0, 16.0) : alea.uniforme(2.0, 7.0))
                                 : (alea.bernoulli(0.45) ? alea.uniforme(0.3, 2.5) : 0.001);
            return;
        }
        qui.pos.x += dx / d * pas;
        qui.pos.y += dy / d * pas;
        qui.enMouvement = true;
        qui.phase += dt * 9.0;
    }

    void mettre_a_jour_monde(double dt) {
        deplacer(local, dt, true);
        mettre_camera();
        for (std::size_t i = 0; i < autres.size(); ++i) {
            Personnage& a = autres[i];
            if (!a.vivant && t >= a.reapparition) {
                a.vivant = true;
                a.sante = 100;
                a.pos = point_apparition();
                a.dest = a.pos;
                a.peeks = 0;
                a.suiteImposee = false;
                a.pause = alea.uniforme(0.2, 1.5);
            }
            deplacer(a, dt, false);
            const Vec3 visee = point_vise(a);
            a.dir = direction(camera, visee.x, visee.y, visee.z);
            const double dx = visee.x - camera.x;
            const double dy = visee.y - camera.y;
            a.distance = std::sqrt(dx * dx + dy * dy);
            // The game keeps an opponent flagged visible for a short grace after the last clear
            // line of sight, so that he does not blink in and out behind thin obstacles.
            if (a.vivant && visible_depuis_camera(visee)) a.vuJusqua = t + kGraceVisibilite;
            a.visible = a.vivant && t <= a.vuJusqua;
        }
    }

    // Seen when the chest or either shoulder is in the open, as a renderer's visibility test
    // would report it; this also keeps the flag from flickering at every thin obstacle.
    bool visible_depuis_camera(const Vec3& visee) const {
        const Point2 oeil{camera.x, camera.y};
        if (carte.segment_libre(oeil, {visee.x, visee.y})) return true;
        const double dx = visee.x - camera.x;
        const double dy = visee.y - camera.y;
        const double d = std::sqrt(dx * dx + dy * dy);
        if (d < 1e-6) return true;
        const double ex = -dy / d * 0.25;
        const double ey = dx / d * 0.25;
        return carte.segment_libre(oeil, {visee.x + ex, visee.y + ey}) ||
               carte.segment_libre(oeil, {visee.x - ex, visee.y - ey});
    }

    static Vec3 point_vise(const Personnage& a) { return {a.pos.x, a.pos.y, kHauteurVisee}; }

    // --- aim --------------------------------------------------------------------------------

    Angles vue() const { return {yaw, pitch}; }

    double duree_mouvement(double amplitude) {
        return traits.main * (0.075 + 0.028 * std::sqrt(amplitude)) * alea.lognormale(1.0, 0.12);
    }

    // Switches to a new reference direction without a jump: the offset absorbs the difference
    // and then moves to `fin` over `duree`.
    void vers(Angles nouvelleReference, Angles fin, double duree, bool lineaire) {
        const Angles actuel = souhaite_sans_bruit();
        reference = nouvelleReference;
        mouvement = SousMouvement{t, duree, difference(actuel, reference), fin, lineaire};
    }

    Angles souhaite_sans_bruit() const {
        const Angles o = mouvement.valeur(t);
        return {enroule(reference.yaw + o.yaw), reference.pitch + o.pitch};
    }

    Angles erreur_vers(const Personnage& a) const { return difference(vue(), a.dir); }

    // A view change while nobody is in sight: mostly an unhurried pan to a nearby angle,
    // sometimes a quick turn to check behind.
    double duree_garde(double amplitude, bool rapide) {
        if (rapide) return duree_mouvement(amplitude) * alea.uniforme(1.0, 1.4);
        return std::fmax(duree_mouvement(amplitude), 1.875 * amplitude / alea.uniforme(15.0, 32.0));
    }

    bool adversaire_en_vue() const {
        for (std::size_t i = premierAdversaire; i < autres.size(); ++i)
            if (autres[i].visible && norme(erreur_vers(autres[i])) <= kDemiChampDeg) return true;
        return false;
    }

    bool adversaire_visible() const {
        for (std::size_t i = premierAdversaire; i < autres.size(); ++i)
            if (autres[i].visible) return true;
        return false;
    }

    // Footsteps: an opponent heard behind cover makes the player hold the edge of that cover
    // he is closest to, where he would step out.
    std::optional<Vec3> bord_ou_l_on_entend() {
        const Personnage* proche = nullptr;
        for (std::size_t i = premierAdversaire; i < autres.size(); ++i) {
            const Personnage& a = autres[i];
            if (a.vivant && !a.visible && a.distance < 22.0 && (!proche || a.distance < proche->distance)) proche = &a;
        }
        if (!proche) return std::nullopt;
        // Held tight against the edge: the first part of him to show is under the crosshair.
        const auto bord = carte.bord_de_couverture({camera.x, camera.y}, proche->pos, 0.12);
        if (!bord) return std::nullopt;
        const double dx = bord->x - camera.x;
        const double dy = bord->y - camera.y;
        if (dx * dx + dy * dy < 4.0 * 4.0 || !carte.segment_libre({camera.x, camera.y}, *bord)) return std::nullopt;
        return Vec3{bord->x, bord->y, kHauteurVisee};
    }

    void tenir(const Vec3& point, bool rapide = false) {
        pointGarde = point;
        const Angles ref = direction(camera, pointGarde.x, pointGarde.y, pointGarde.z);
        const Angles fin{alea.normale(0.0, traits.placement), alea.normale(0.0, traits.placement * 0.3)};
        const double amplitude = norme(difference(souhaite_sans_bruit(), {ref.yaw + fin.yaw, ref.pitch + fin.pitch}));
        vers(ref, fin, duree_garde(amplitude, rapide), false);
    }

    void choisir_garde() {
        mode = Mode::garde;
        ecoute = false;
        cible = -1;
        bot = false;
        sigmaBruit = traits.bruitGarde;
        const bool regardeDevant = local.enMouvement && alea.bernoulli(0.5) && !adversaire_visible();
        if (regardeDevant) {
            const double dx = local.dest.x - local.pos.x;
            const double dy = local.dest.y - local.pos.y;
            const double d = std::fmax(0.1, std::sqrt(dx * dx + dy * dy));
            pointGarde = {local.pos.x + dx / d * 30.0, local.pos.y + dy / d * 30.0, kHauteurVisee};
        } else {
            // Hold a corner an opponent could come round, preferably near where we already look.
            const auto& coins = carte.coins();
            std::vector<std::size_t> proches;
            std::vector<std::size_t> tous;
            for (std::size_t i = 0; i < coins.size(); ++i) {
                const double dx = coins[i].x - camera.x;
                const double dy = coins[i].y - camera.y;
                const double d = std::sqrt(dx * dx + dy * dy);
                if (d < 8.0 || d > 35.0 || !carte.segment_libre({camera.x, camera.y}, coins[i])) continue;
                tous.push_back(i);
                const Angles dir = direction(camera, coins[i].x, coins[i].y, kHauteurVisee);
                if (std::fabs(enroule(dir.yaw - yaw)) < 40.0) proches.push_back(i);
            }
            // Quick turns only when nobody is in sight at all: with an opponent visible somewhere,
            // players keep their eyes on the angles around him.
            const bool seTourner = proches.empty() || (alea.bernoulli(0.15) && !adversaire_visible());
            const auto& liste = seTourner ? tous : proches;
            ecoute = alea.bernoulli(traits.ecoute);
            if (const auto bord = ecoute ? bord_ou_l_on_entend() : std::nullopt) {
                tenir(*bord, p.profil == Profil::trigger);
                changementGarde = t + (p.profil == Profil::trigger ? alea.uniforme(3.0, 8.0) : alea.uniforme(1.5, 4.5));
                return;
            } else if (liste.empty()) {
                const double ang = (yaw + alea.normale(0.0, 25.0)) / kDegParRad;
                pointGarde = {camera.x + 12.0 * std::cos(ang), camera.y + 12.0 * std::sin(ang), kHauteurVisee};
            } else {
                const Point2 c =
                    coins[liste[static_cast<std::size_t>(alea.entier(0, static_cast<std::int64_t>(liste.size()) - 1))]];
                pointGarde = {c.x, c.y, kHauteurVisee};
            }
        }
        tenir(pointGarde);
        changementGarde = t + (p.profil == Profil::trigger ? alea.uniforme(3.0, 8.0) : alea.uniforme(1.5, 4.5));
    }

    void garder_vers_derniere_position(const Personnage& a) {
        mode = Mode::garde;
        ecoute = false;
        cible = -1;
        bot = false;
        sigmaBruit = traits.bruitGarde;
        pointGarde = point_vise(a);
        const Angles ref = direction(camera, pointGarde.x, pointGarde.y, pointGarde.z);
        const Angles fin{alea.normale(0.0, traits.placement * 0.5), alea.normale(0.0, traits.placement * 0.15)};
        const double amplitude = norme(difference(souhaite_sans_bruit(), {ref.yaw + fin.yaw, ref.pitch + fin.pitch}));
        vers(ref, fin, duree_garde(amplitude, false), false);
        changementGarde = t + alea.uniforme(1.5, 3.0);
    }

    // `suivaitDejaAuMur`: the wallhack was already following him through cover.
    void engager(int indice, bool parBot, bool suivaitDejaAuMur) {
        Personnage& a = autres[static_cast<std::size_t>(indice)];
        mode = Mode::engage;
        cible = indice;
        perdueDepuis = -1.0;
        reprise = -1.0;
        filtre = a.dir;
        rafaleRestante = 0;
        rafaleIndice = 0;
        armeDepuis = -1.0;
        bot = parBot;
        if (bot) {
            // The aimbot jumps onto the target in one to three ticks at constant speed and
            // stops dead: no bell-shaped profile, no overshoot.
            tauFiltre = 0.0;
            sigmaBruit = 0.02;
            const double amplitude = norme(difference(souhaite_sans_bruit(), a.dir));
            const double vitesse = alea.uniforme(1400.0, 2800.0);
            const double ticks = std::fmax(1.0, std::round(amplitude / vitesse * kTicksParSeconde));
            vers(a.dir, {alea.normale(0.0, 0.05), alea.normale(0.0, 0.04)}, (ticks - 0.5) / kTicksParSeconde, true);
            phase = 2;
            return;
        }
        tauFiltre = suivaitDejaAuMur ? 0.05 : traits.tauSuivi;
        sigmaBruit = suivaitDejaAuMur ? 0.2 : traits.bruitSuivi;
        const Angles ecart = difference(souhaite_sans_bruit(), a.dir);
        const double amplitude = norme(ecart);
        if (amplitude < 1.0) {
            vers(a.dir, difference(souhaite_sans_bruit(), a.dir), 0.0, false);
            phase = 2;
            dernierAjustement = t;
            return;
        }
        // Primary submovement: lands short or long along the movement, a little off to the side.
        const double ux = -ecart.yaw / amplitude;
        const double uy = -ecart.pitch / amplitude;
        const double depassement = alea.normale(0.07, 0.09) * amplitude;
        const double lateral = alea.normale(0.0, 0.035) * amplitude;
        const Angles fin{ux * depassement - uy * lateral + alea.normale(0.0, 0.3),
                         uy * depassement + ux * lateral + alea.normale(0.0, 0.2)};
        const double duree = duree_mouvement(amplitude);
        vers(a.dir, fin, duree, false);
        phase = 0;
        correctionA = t + duree;
    }

    void corriger(const Personnage& a, double imprecision) {
        // Corrective submovement towards the target, planned from where the hand is now.
        const Angles actuel = mouvement.valeur(t);
        const Angles vise = difference(a.dir, reference);
        const Angles fin{vise.yaw + alea.normale(0.0, imprecision), vise.pitch + alea.normale(0.0, imprecision * 0.6)};
        const double amplitude = norme(difference(fin, actuel));
        mouvement = SousMouvement{t, duree_mouvement(amplitude), actuel, fin, false};
        dernierAjustement = t;
    }

    void percevoir() {
        // A visible opponent is noticed after a reaction time; aim only moves then. The player
        // reacts to the opponent that telemetry attributes to him (the closest one to the
        // crosshair, visible ones preferred), so reactions are measured from a clean start.
        if (p.profil == Profil::snap && t >= basculeBot) {
            botArme = alea.bernoulli(0.85);  // the aimbot key is held most of the time
            basculeBot = t + alea.uniforme(2.0, 6.0);
        }
        if (enAttente >= 0) {
            const Personnage& a = autres[static_cast<std::size_t>(enAttente)];
            // Out of sight, or gone from around the crosshair: the player has lost him.
            if (!a.visible ||
                (!attenteBot && (enAttente != cibleTelemetrie || norme(erreur_vers(a)) > kAttentionDeg + 4.0))) {
                enAttente = -1;
            } else if (t >= attenteFin) {
                const int i = enAttente;
                enAttente = -1;
                engager(i, attenteBot, mode == Mode::suiviMural);
            }
            return;
        }
        if (mode == Mode::engage && perdueDepuis < 0.0) return;
        const bool parBot = p.profil == Profil::snap && botArme;
        int meilleur = -1;
        double excentricite = 1e9;
        for (std::size_t i = premierAdversaire; i < autres.size(); ++i) {
            const Personnage& a = autres[i];
            if (!a.visible || a.distance > 45.0) continue;
            const double e = norme(erreur_vers(a));
            const bool remarque = parBot ? e < 45.0 : (static_cast<int>(i) == cibleTelemetrie && e < kAttentionDeg);
            if (remarque && e < excentricite) {
                excentricite = e;
                meilleur = static_cast<int>(i);
            }
        }
        if (meilleur < 0) return;
        enAttente = meilleur;
        attenteBot = parBot;
        if (mode == Mode::garde && !parBot) {
            // Noticing someone stops the sweep in progress.
            const Angles ici = mouvement.valeur(t);
            mouvement = SousMouvement{t, 0.0, ici, ici, false};
        }
        double rt = alea.lognormale(traits.rtMediane, traits.rtSigma) + 0.0015 * excentricite;
        if (parBot) rt = alea.lognormale(0.085, 0.35);  // the aimbot fires on what it sees
        else if (mode == Mode::suiviMural && meilleur == cible)
            rt = alea.lognormale(0.17, 0.2);  // already expecting that opponent
        attenteFin = t + rt;
    }

    void chercher_suivi_mural() {
        // Wallhack: pick a nearby opponent behind cover and follow it through the wall.
        if (t < prochaineRecherche) return;
        prochaineRecherche = t + 0.3;
        int meilleur = -1;
        double meilleurAngle = 1e9;
        for (std::size_t i = premierAdversaire; i < autres.size(); ++i) {
            const Personnage& a = autres[i];
            if (!a.vivant || a.visible || a.distance > 26.0) continue;
            const double e = norme(erreur_vers(a));
            if (e < 75.0 && e < meilleurAngle) {
                meilleurAngle = e;
                meilleur = static_cast<int>(i);
            }
        }
        if (meilleur < 0 || !alea.bernoulli(0.8)) return;
        const Personnage& a = autres[static_cast<std::size_t>(meilleur)];
        mode = Mode::suiviMural;
        cible = meilleur;
        filtre = a.dir;
        tauFiltre = 0.045;
        sigmaBruit = 0.22;
        const Angles fin{alea.normale(0.0, 0.3), alea.normale(0.0, 0.15)};
        vers(a.dir, fin, duree_mouvement(meilleurAngle), false);
    }

    void suivre_filtre(const Personnage& a, double dt) {
        if (tauFiltre <= 0.0) {
            filtre = a.dir;
        } else {
            const double k = 1.0 - std::exp(-dt / tauFiltre);
            const Angles d = difference(a.dir, filtre);
            filtre = {enroule(filtre.yaw + d.yaw * k), filtre.pitch + d.pitch * k};
        }
        // The reference moves with the filter; the offset keeps its meaning.
        reference = filtre;
    }

    // Whether the engaged opponent is the one telemetry attributes to the player; when it
    // comes back to him after a while elsewhere, he needs a reaction time to resume.
    bool attentif() {
        if (bot) return true;
        if (cible != cibleTelemetrie) {
            attentionRetour = -1.0;
            distrait = true;
            return false;
        }
        if (distrait) {
            distrait = false;
            attentionRetour = t + alea.lognormale(0.18, 0.2);
        }
        return t >= attentionRetour;
    }

    void piloter(double dt) {
        if (mode == Mode::suiviMural) {
            Personnage& a = autres[static_cast<std::size_t>(cible)];
            if (!a.vivant || a.distance > 32.0) {
                choisir_garde();
            } else {
                suivre_filtre(a, dt);
            }
        }
        if (mode == Mode::engage) {
            Personnage& a = autres[static_cast<std::size_t>(cible)];
            if (!a.vivant) {
                choisir_garde();
            } else if (!a.visible) {
                if (perdueDepuis < 0.0) perdueDepuis = t;
                if (bot || t - perdueDepuis > 1.2) {
                    garder_vers_derniere_position(a);
                } else if (t - perdueDepuis < 0.15) {
                    suivre_filtre(a, dt);  // the hand keeps its momentum for a moment
                }
            } else {
                if (perdueDepuis >= 0.0) {
                    // The player sees the opponent again and needs a moment before firing again.
                    tirRepris = t + alea.lognormale(0.18, 0.2);
                    if (t - perdueDepuis > 0.15 && reprise < 0.0) reprise = t + alea.lognormale(0.19, 0.2);
                    perdueDepuis = -1.0;
                }
                if (reprise >= 0.0 && norme(erreur_vers(a)) > kAttentionDeg) {
                    // He came back out far from where he was lost: look that way, then react.
                    garder_vers_derniere_position(a);
                } else if (!attentif()) {
                    // Telemetry credits him with another opponent: no new corrective movement
                    // until his attention is back on this one (nor pursuit while he has yet to
                    // find him again).
                    if (reprise < 0.0) suivre_filtre(a, dt);
                } else if (reprise >= 0.0) {
                    if (t >= reprise) {
                        reprise = -1.0;
                        suivre_filtre(a, dt);
                        corriger(a, 0.25 + 0.05 * norme(erreur_vers(a)));
                        phase = 2;
                    }
                } else {
                    suivre_filtre(a, dt);
                    if (phase == 0 && t >= correctionA) {
                        phase = 1;
                        correctionA = t + alea.uniforme(0.03, 0.09);
                    } else if (phase == 1 && t >= correctionA) {
                        corriger(a, 0.2 + 0.08 * norme(erreur_vers(a)));
                        phase = 2;
                    } else if (phase == 2 && !bot && !mouvement.actif(t) && t - dernierAjustement > 0.2 &&
                               norme(erreur_vers(a)) > traits.seuilAjustement) {
                        corriger(a, 0.3);  // occasional micro-adjustment
                    }
                }
            }
        }
        if (mode == Mode::garde) {
            reference = direction(camera, pointGarde.x, pointGarde.y, pointGarde.z);
            const double gx = pointGarde.x - camera.x;
            const double gy = pointGarde.y - camera.y;
            // Walking up to the held spot would swing the view round it: look elsewhere first.
            if (gx * gx + gy * gy < 5.0 * 5.0 && t < changementGarde) changementGarde = t;
            if (ecoute && t >= prochaineEcoute && enAttente < 0) {
                prochaineEcoute = t + (p.profil == Profil::trigger ? 0.25 : 0.4);
                const auto bord = bord_ou_l_on_entend();
                if (bord && (bord->x - pointGarde.x) * (bord->x - pointGarde.x) +
                                    (bord->y - pointGarde.y) * (bord->y - pointGarde.y) >
                                2.0 * 2.0)
                    tenir(*bord, p.profil == Profil::trigger);
            }
            if (t >= changementGarde) {
                // Nobody turns away from an opponent in plain sight.
                if (enAttente >= 0 || adversaire_en_vue()) changementGarde = t + 0.25;
                else choisir_garde();
            }
            if (p.profil == Profil::wallhack && mode == Mode::garde) chercher_suivi_mural();
        }
        percevoir();
    }

    void viser(std::int32_t& dx, std::int32_t& dy) {
        const Angles b = bruit.avancer(alea, t, sigmaBruit);
        const Angles s = souhaite_sans_bruit();
        const Angles voulu{enroule(s.yaw + b.yaw), s.pitch + b.pitch};
        // The view only moves by whole mouse counts, as with a real mouse.
        const double k = traits.degParCompte;
        const auto cy = static_cast<std::int32_t>(std::lround(enroule(voulu.yaw - yaw) / k));
        const auto cp = static_cast<std::int32_t>(std::lround((voulu.pitch - pitch) / k));
        yaw = enroule(yaw + cy * k);
        pitch = std::clamp(pitch + cp * k, -89.0, 89.0);
        dx = cy;
        dy = -cp;
    }

    // --- shooting ---------------------------------------------------------------------------

    struct Impact {
        bool touche = false;
        bool tete = false;
    };

    Impact resultat_tir(const Personnage& a, double dispersion) {
        const Angles e = erreur_vers(a);
        const double ey = (e.yaw * std::cos(a.dir.pitch / kDegParRad) + alea.normale(0.0, dispersion)) / kDegParRad;
        const double ep = (e.pitch + alea.normale(0.0, dispersion)) / kDegParRad;
        const double hx = a.distance * std::tan(ey);
        const double hz = a.distance * std::tan(ep);
        Impact r;
        r.tete = hx * hx + (hz - 0.17) * (hz - 0.17) <= 0.12 * 0.12;
        r.touche = r.tete || (std::fabs(hx) <= 0.24 && hz >= -0.6 && hz <= 0.1);
        return r;
    }

    bool sur_la_cible(const Personnage& a) const {
        const Angles e = erreur_vers(a);
        const double hx = a.distance * std::tan(e.yaw * std::cos(a.dir.pitch / kDegParRad) / kDegParRad);
        const double hz = a.distance * std::tan(e.pitch / kDegParRad);
        return std::fabs(hx) <= 0.26 && hz >= -0.55 && hz <= 0.3;
    }

    void tirer(Instantane& s, Personnage& a, double dispersion) {
        s.shotFired = true;
        prochainTir = t + intervalleTir;
        const Impact r = resultat_tir(a, dispersion);
        if (!r.touche || !a.vivant || !a.visible) return;
        s.hit = true;
        s.headshot = r.tete;
        a.sante -= r.tete ? 100 : static_cast<int>(degatsCorps);
        if (a.sante <= 0) {
            a.vivant = false;
            a.visible = false;
            a.enMouvement = false;
            a.reapparition = t + alea.uniforme(3.0, 6.0);
        }
    }

    void decider_tir(Instantane& s) {
        if (t < prochainTir) return;
        if (p.profil == Profil::trigger) {
            // Triggerbot: fires a few tens of ms after the crosshair covers a visible opponent.
            int sous = -1;
            for (std::size_t i = premierAdversaire; i < autres.size(); ++i)
                if (autres[i].visible && sur_la_cible(autres[i])) sous = static_cast<int>(i);
            if (sous < 0) {
                armeDepuis = -1.0;
            } else {
                if (armeDepuis < 0.0) {
                    armeDepuis = t;
                    delaiBot = alea.uniforme(0.005, 0.035);
                }
                if (t - armeDepuis >= delaiBot) {
                    tirer(s, autres[static_cast<std::size_t>(sous)], 0.12);
                    return;
                }
            }
        }
        if (mode != Mode::engage || cible < 0) return;
        Personnage& a = autres[static_cast<std::size_t>(cible)];
        const double erreur = norme(erreur_vers(a));
        if (bot) {
            if (a.visible && erreur <= 0.6) tirer(s, a, 0.25);
            return;
        }
        // Attention follows the opponent telemetry attributes to the player: while it points
        // elsewhere he holds fire, and takes a moment to resume once it is back.
        if (cible != cibleTelemetrie && a.visible) {
            perdueAttention = true;
        } else if (perdueAttention) {
            perdueAttention = false;
            tirRepris = std::fmax(tirRepris, t + alea.lognormale(0.18, 0.2));
        }
        if (!a.visible || perdueAttention || t < tirRepris) {
            rafaleRestante = 0;
            return;
        }
        const double rayon = std::atan(0.25 / std::fmax(a.distance, 0.5)) * kDegParRad;
        const double tolerance = std::fmax(0.5, 1.3 * rayon);
        if (rafaleRestante > 0) {
            if (erreur <= 2.5 * tolerance) {
                --rafaleRestante;
                tirer(s, a, std::fmin(1.4, 0.35 + 0.3 * rafaleIndice));  // recoil spreads a burst
                ++rafaleIndice;
                if (rafaleRestante == 0) pauseRafale = t + alea.uniforme(0.15, 0.45);
            } else {
                rafaleRestante = 0;
                pauseRafale = t + alea.uniforme(0.1, 0.3);
            }
            return;
        }
        if (phase < 1 || t < pauseRafale || !a.visible || erreur > tolerance) return;
        rafaleRestante = arme == "fusil" ? static_cast<int>(alea.entier(1, 5)) : 1;
        rafaleIndice = 0;
        --rafaleRestante;
        tirer(s, a, 0.35);
        ++rafaleIndice;
        if (rafaleRestante == 0) pauseRafale = t + alea.uniforme(0.15, 0.45);
    }

    // --- snapshot ---------------------------------------------------------------------------

    void preparer(Instantane& s) {
        s.matchId = p.matchId;
        s.localPlayerId = p.joueurId;
        s.localEntityId = local.id;
        s.localTeamId = local.equipe;
        s.weaponId = arme;
        s.acquisitionMode = "rayons-serveur";
        s.acquisitionConfidence = 1.0;
        s.players.resize(autres.size() + 1);
        s.players[0].entityId = local.id;
        s.players[0].teamId = local.equipe;
        for (std::size_t i = 0; i < autres.size(); ++i) {
            s.players[i + 1].entityId = autres[i].id;
            s.players[i + 1].teamId = autres[i].equipe;
        }
    }

    // The opponent the converter credits the player with aiming at, when it is visible; -1 otherwise.
    int telemetrie_cible(const Instantane& s) {
        const auto trame = trame_suivante(s, conversion);
        if (!trame || !trame->targetVisible || !trame->targetId) return -1;
        for (std::size_t i = 0; i < autres.size(); ++i)
            if (autres[i].id == *trame->targetId) return static_cast<int>(i);
        return -1;
    }

    bool suivant(Instantane& s) {
        if (tick >= ticksTotal) return false;
        if (tick == 0) preparer(s);
        const std::int64_t ms = tick * 1000 / kTicksParSeconde;
        t = static_cast<double>(ms) / 1000.0;
        const double dt = tick == 0 ? 1.0 / kTicksParSeconde : t - tPrecedent;
        tPrecedent = t;

        mettre_a_jour_monde(dt);
        piloter(dt);
        std::int32_t dx = 0;
        std::int32_t dy = 0;
        viser(dx, dy);
        s.shotFired = false;
        s.hit = false;
        s.headshot = false;
        decider_tir(s);

        s.timestampMs = kOrigineMs + static_cast<std::int64_t>(p.indice) * 3'600'000 + ms;
        s.camera = {arrondi(camera.x, 1000.0), arrondi(camera.y, 1000.0), arrondi(camera.z, 1000.0)};
        s.yawDeg = arrondi(yaw, 10000.0);
        s.pitchDeg = arrondi(pitch, 10000.0);
        s.mouseDx = dx;
        s.mouseDy = dy;
        JoueurInstantane& moi = s.players[0];
        moi.isAlive = true;
        moi.isVisibleFromLocalPlayer = false;
        moi.isInFrustum = false;
        moi.worldPosition = {arrondi(local.pos.x, 1000.0), arrondi(local.pos.y, 1000.0), 0.0};
        moi.aimPoint = {moi.worldPosition.x, moi.worldPosition.y, kHauteurVisee};
        for (std::size_t i = 0; i < autres.size(); ++i) {
            const Personnage& a = autres[i];
            JoueurInstantane& j = s.players[i + 1];
            const Vec3 visee = point_vise(a);
            j.isAlive = a.vivant;
            if (i < premierAdversaire) {
                // Teammates: sight is computed the same way.
                j.isVisibleFromLocalPlayer = carte.segment_libre({camera.x, camera.y}, a.pos);
                const Angles dir = direction(camera, visee.x, visee.y, visee.z);
                j.isInFrustum = std::fabs(enroule(dir.yaw - yaw)) <= kDemiChampDeg;
            } else {
                j.isVisibleFromLocalPlayer = a.visible;
                j.isInFrustum = a.vivant && std::fabs(enroule(a.dir.yaw - yaw)) <= kDemiChampDeg &&
                                std::fabs(a.dir.pitch - pitch) <= 35.0;
            }
            j.worldPosition = {arrondi(a.pos.x, 1000.0), arrondi(a.pos.y, 1000.0), 0.0};
            j.aimPoint = {j.worldPosition.x, j.worldPosition.y, arrondi(visee.z, 1000.0)};
        }
        cibleTelemetrie = telemetrie_cible(s);
        ++tick;
        return true;
    }
};

SimulationMatch::SimulationMatch(const ParametresMatch& parametres) : etat_(std::make_unique<Etat>(parametres)) {
    etat_->initialiser();
}

SimulationMatch::~SimulationMatch() = default;

bool SimulationMatch::suivant(Instantane& s) { return etat_->suivant(s); }

comportement::LotTrames lot_du_match(const ParametresMatch& parametres) {
    comportement::LotTrames lot;
    lot.matchId = parametres.matchId;
    lot.playerId = parametres.joueurId;
    SimulationMatch simulation(parametres);
    comportement::EtatConversion etat;
    Instantane s;
    while (simulation.suivant(s))
        if (auto trame = trame_suivante(s, etat)) lot.trames.push_back(std::move(*trame));
    return lot;
}

}  // namespace cohorte
