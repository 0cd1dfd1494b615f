#include "cohorte/carte.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace cohorte {

Carte::Carte(double largeur, double hauteur, std::vector<Boite> boites)
    : largeur_(largeur), hauteur_(hauteur), boites_(std::move(boites)) {
    constexpr double ecart = 0.3;
    for (const Boite& b : boites_) {
        const Point2 coins[4] = {{b.x0 - ecart, b.y0 - ecart},
                                 {b.x1 + ecart, b.y0 - ecart},
                                 {b.x0 - ecart, b.y1 + ecart},
                                 {b.x1 + ecart, b.y1 + ecart}};
        for (const Point2& c : coins)
            if (c.x > 0.5 && c.y > 0.5 && c.x < largeur_ - 0.5 && c.y < hauteur_ - 0.5 && point_libre(c, 0.2))
                coins_.push_back(c);
    }
}

Carte Carte::generer(Alea& alea) {
    const double largeur = alea.uniforme(40.0, 56.0);
    const double hauteur = alea.uniforme(40.0, 56.0);
    std::vector<Boite> boites;
    const int n_caisses = static_cast<int>(alea.entier(8, 13));
    const int n_murs = static_cast<int>(alea.entier(3, 5));
    int essais = 0;
    const auto chevauche = [&](const Boite& c) {
        // Keep at least 2.5 m between obstacles so every lane stays walkable.
        return std::any_of(boites.begin(), boites.end(), [&](const Boite& b) {
            return c.x0 < b.x1 + 2.5 && b.x0 < c.x1 + 2.5 && c.y0 < b.y1 + 2.5 && b.y0 < c.y1 + 2.5;
        });
    };
    while (static_cast<int>(boites.size()) < n_caisses + n_murs && essais++ < 400) {
        Boite c{};
        if (static_cast<int>(boites.size()) < n_murs) {
            const double longueur = alea.uniforme(7.0, 15.0);
            const double epaisseur = alea.uniforme(0.5, 1.0);
            const bool horizontal = alea.bernoulli(0.5);
            const double w = horizontal ? longueur : epaisseur;
            const double h = horizontal ? epaisseur : longueur;
            const double x = alea.uniforme(4.0, largeur - 4.0 - w);
            const double y = alea.uniforme(4.0, hauteur - 4.0 - h);
            c = {x, y, x + w, y + h};
        } else {
            const double w = alea.uniforme(1.2, 4.5);
            const double h = alea.uniforme(1.2, 4.5);
            const double x = alea.uniforme(3.0, largeur - 3.0 - w);
            const double y = alea.uniforme(3.0, hauteur - 3.0 - h);
            c = {x, y, x + w, y + h};
        }
        if (!chevauche(c)) boites.push_back(c);
    }
    return Carte(largeur, hauteur, std::move(boites));
}

bool Carte::segment_libre(Point2 a, Point2 b, double marge) const {
    const double dx = b.x - a.x;
    const double dy = b.y - a.y;
    for (const Boite& boite : boites_) {
        // Slab test of the segment against the grown box.
        double t0 = 0.0;
        double t1 = 1.0;
        const double bornes[2][2] = {{boite.x0 - marge, boite.x1 + marge}, {boite.y0 - marge, boite.y1 + marge}};
        const double origine[2] = {a.x, a.y};
        const double direction[2] = {dx, dy};
        bool dehors = false;
        for (int axe = 0; axe < 2 && !dehors; ++axe) {
            if (direction[axe] == 0.0) {
                dehors = origine[axe] < bornes[axe][0] || origine[axe] > bornes[axe][1];
                continue;
            }
            double ta = (bornes[axe][0] - origine[axe]) / direction[axe];
            double tb = (bornes[axe][1] - origine[axe]) / direction[axe];
            if (ta > tb) std::swap(ta, tb);
            t0 = std::fmax(t0, ta);
            t1 = std::fmin(t1, tb);
            dehors = t0 > t1;
        }
        if (!dehors) return false;
    }
    return true;
}

std::optional<Point2> Carte::bord_de_couverture(Point2 oeil, Point2 cache, double decalage) const {
    const Boite* couverture = nullptr;
    double plusProche = 1e300;
    for (const Boite& b : boites_) {
        if (Carte(largeur_, hauteur_, {b}).segment_libre(oeil, cache)) continue;
        const double cx = (b.x0 + b.x1) / 2 - oeil.x;
        const double cy = (b.y0 + b.y1) / 2 - oeil.y;
        if (cx * cx + cy * cy < plusProche) {
            plusProche = cx * cx + cy * cy;
            couverture = &b;
        }
    }
    if (!couverture) return std::nullopt;
    const double cap = std::atan2(cache.y - oeil.y, cache.x - oeil.x);
    const Point2 coins[4] = {{couverture->x0, couverture->y0},
                             {couverture->x1, couverture->y0},
                             {couverture->x0, couverture->y1},
                             {couverture->x1, couverture->y1}};
    std::optional<Point2> bord;
    double ecartBord = 1e300;
    for (const double sens : {-1.0, 1.0}) {
        // The silhouette edge on this side is the corner furthest round from the hidden point.
        double extreme = 0.0;
        Point2 coin{};
        for (const Point2& c : coins) {
            const double rel =
                std::remainder(std::atan2(c.y - oeil.y, c.x - oeil.x) - cap, 2 * 3.141592653589793) * sens;
            if (rel > extreme) {
                extreme = rel;
                coin = c;
            }
        }
        if (extreme <= 0.0 || extreme >= ecartBord) continue;
        const double dx = coin.x - oeil.x;
        const double dy = coin.y - oeil.y;
        const double d = std::sqrt(dx * dx + dy * dy);
        if (d < 1e-9) continue;
        ecartBord = extreme;
        bord = Point2{coin.x - dy / d * sens * decalage, coin.y + dx / d * sens * decalage};
    }
    return bord;
}

bool Carte::point_libre(Point2 p, double marge) const {
    if (p.x < marge || p.y < marge || p.x > largeur_ - marge || p.y > hauteur_ - marge) return false;
    return std::none_of(boites_.begin(), boites_.end(), [&](const Boite& b) {
        return p.x > b.x0 - marge && p.x < b.x1 + marge && p.y > b.y0 - marge && p.y < b.y1 + marge;
    });
}

Point2 Carte::point_libre_aleatoire(Alea& alea, double marge) const {
    for (int i = 0; i < 200; ++i) {
        const Point2 p{alea.uniforme(marge, largeur_ - marge), alea.uniforme(marge, hauteur_ - marge)};
        if (point_libre(p, marge)) return p;
    }
    return {marge, marge};  // the generator keeps the border lane clear
}

}  // namespace cohorte
