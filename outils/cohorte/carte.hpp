#pragma once
// A flat arena seen from above: axis-aligned boxes and walls, all taller than a
// player, so sight and movement reduce to 2D segment tests.
#include <optional>
#include <vector>

#include "cohorte/alea.hpp"

namespace cohorte {

struct Point2 {
    double x = 0.0;
    double y = 0.0;
};

struct Boite {
    double x0, y0, x1, y1;
};

class Carte {
public:
    Carte(double largeur, double hauteur, std::vector<Boite> boites);

    // A random layout of crates and wall segments, with open lanes between them.
    static Carte generer(Alea& alea);

    double largeur() const { return largeur_; }
    double hauteur() const { return hauteur_; }
    const std::vector<Boite>& boites() const { return boites_; }

    // True when no box, grown by `marge` on every side, cuts the segment a-b.
    bool segment_libre(Point2 a, Point2 b, double marge = 0.0) const;
    bool point_libre(Point2 p, double marge) const;
    Point2 point_libre_aleatoire(Alea& alea, double marge) const;
    // For a point `cache` hidden from `oeil`, the nearest edge of the box hiding it as seen
    // from `oeil` (where it would step out), moved `decalage` further out across the line of
    // sight. Nothing when no single box hides it.
    std::optional<Point2> bord_de_couverture(Point2 oeil, Point2 cache, double decalage) const;
    // Box corners pushed slightly outwards: the spots where opponents appear.
    const std::vector<Point2>& coins() const { return coins_; }

private:
    double largeur_;
    double hauteur_;
    std::vector<Boite> boites_;
    std::vector<Point2> coins_;
};

}  // namespace cohorte
