"""Les chiffres du rapport : avertissements de calibration, niveaux, histogrammes, séparation propres/tricheurs."""

import math

import numpy as np

from .entrees import CATEGORIES, NIVEAUX

COUPES_NIVEAUX = (30.0, 50.0, 70.0, 85.0)  # NORMAL < 30 <= OBSERVE < 50 <= REVIEW < 70 <= HIGH-RISK < 85
SEUIL_REVIEW = 50.0
BORNES_FAUX_POSITIFS_PCT = (1, 5)
MINIMUM_REACTIONS = 1000
MINIMUM_MATCHS = 30


def avertissements_calibration(rapport):
    """Les avertissements que calibrer affiche pour ce rapport, mêmes règles, même ordre."""
    textes = []
    for d in rapport["distributions"]:
        if d["echantillons"] == 0:
            textes.append(f"{d['metrique']} : aucun échantillon")
        elif d["metrique"] == "visibilityToActionReactionMs" and d["echantillons"] < MINIMUM_REACTIONS:
            textes.append(f"{d['metrique']} : {d['echantillons']} échantillons seulement "
                          f"(minimum conseillé {MINIMUM_REACTIONS}) — seuils de réaction peu fiables")
    if rapport["matchs"] < MINIMUM_MATCHS:
        textes.append(f"seulement {rapport['matchs']} match(s) : ajoute des matchs propres de la même cohorte")
    return textes


def niveau(score):
    for nom, coupe in zip(NIVEAUX, COUPES_NIVEAUX):
        if score < coupe:
            return nom
    return NIVEAUX[-1]


def resume_population(controle):
    lignes = controle["lignes"]
    n = len(lignes)
    par_niveau = {nom: 0 for nom in NIVEAUX}
    for l in lignes:
        par_niveau[niveau(l["score"])] += 1
    review = sum(1 for l in lignes if l["score"] >= SEUIL_REVIEW)
    categories = {c: sum(1 for l in lignes if c in l["categories"]) for c in CATEGORIES}
    return {
        "joueurs": n,
        "invalides": controle["invalides"],
        "reviewOuPlus": review,
        "tauxReviewOuPlus": review / n,
        "parNiveau": par_niveau,
        "categories": categories,
        "scores": np.array([l["score"] for l in lignes], dtype=float),
    }


def echelle_log(valeurs):
    """Axe logarithmique quand les valeurs positives couvrent plus de deux décades."""
    positives = valeurs[np.isfinite(valeurs) & (valeurs > 0)]
    return positives.size >= 2 and positives.max() / positives.min() > 100.0


def histogramme(echantillons):
    """Comptes d'un histogramme et ce qui n'y figure pas : la somme de tout vaut len(echantillons)."""
    finis = echantillons[np.isfinite(echantillons)]
    classes = int(np.clip(2 * np.sqrt(finis.size), 10, 60))
    non_finis = int(echantillons.size - finis.size)
    log = echelle_log(finis)
    hors_axe = 0
    if log:
        hors_axe = int(np.count_nonzero(finis <= 0))
        finis = finis[finis > 0]
        bords = np.geomspace(finis.min(), finis.max(), classes + 1)
    elif finis.size:
        bas, haut = float(finis.min()), float(finis.max())
        if bas == haut:
            bas, haut = bas - 0.5, haut + 0.5
        bords = np.linspace(bas, haut, classes + 1)
    else:
        bords = np.linspace(0.0, 1.0, classes + 1)
    comptes, bords = np.histogram(finis, bins=bords)
    return {"comptes": comptes, "bords": bords, "log": log, "horsAxe": hors_axe, "nonFinis": non_finis}


def courbe_roc(propres, tricheurs):
    """Points (faux positifs, détectés) pour chaque coupe « score >= c », c parcourant les scores observés
    en ordre décroissant, précédés de (0, 0) : personne n'est signalé. Comptes entiers."""
    seuils = np.unique(np.concatenate([propres, tricheurs]))[::-1]
    fp = propres.size - np.searchsorted(np.sort(propres), seuils, side="left")
    tp = tricheurs.size - np.searchsorted(np.sort(tricheurs), seuils, side="left")
    return seuils, np.concatenate([[0], fp]), np.concatenate([[0], tp])


def aire_roc(fp, tp, n_propres, n_tricheurs):
    """Aire sous les segments de la courbe : les égalités entre classes y comptent pour moitié
    (c'est la statistique de Mann-Whitney). Calculée en entiers, divisée une seule fois."""
    double_aire = int(np.sum(np.diff(fp) * (tp[1:] + tp[:-1])))
    return double_aire / (2 * n_propres * n_tricheurs)


def detection_a_borne(seuils, fp, tp, n_propres, borne_pct):
    """La coupe parmi les scores observés qui détecte le plus de tricheurs avec au plus borne_pct % de
    faux positifs (à détection égale, la plus haute). None quand aucune coupe admise ne détecte personne :
    ne signaler personne vaut alors mieux. Une coupe garde ensemble les scores égaux.
    Avec elle, la coupe suivante (le score observé juste en dessous), qui dit pourquoi on s'arrête là."""
    meilleur = 0  # indice dans fp/tp ; 0 : personne n'est signalé
    for i in range(1, len(fp)):
        if fp[i] * 100 > borne_pct * n_propres:
            break  # fp croît quand la coupe descend : les suivantes dépassent aussi
        if tp[i] > tp[meilleur]:
            meilleur = i
    resultat = {"seuil": float(seuils[meilleur - 1]) if meilleur else None,
                "fauxPositifs": int(fp[meilleur]), "detectes": int(tp[meilleur]), "suivant": None}
    if meilleur + 1 < len(fp):
        resultat["suivant"] = {"seuil": float(seuils[meilleur]), "fauxPositifs": int(fp[meilleur + 1]),
                               "detectes": int(tp[meilleur + 1])}
    return resultat


def separation(propres, tricheurs):
    """Tout ce que la section de séparation montre, en nombres prêts pour la page et le JSON."""
    n_p, n_t = propres.size, tricheurs.size
    seuils, fp, tp = courbe_roc(propres, tricheurs)
    points = [{"seuil": None, "tauxFauxPositifs": 0.0, "tauxDetection": 0.0}]
    for i, c in enumerate(seuils, start=1):
        points.append({"seuil": float(c), "tauxFauxPositifs": fp[i] / n_p, "tauxDetection": tp[i] / n_t})
    detections = []
    for borne in BORNES_FAUX_POSITIFS_PCT:
        d = detection_a_borne(seuils, fp, tp, n_p, borne)
        entree = {
            "fauxPositifsMax": borne / 100,
            "seuil": d["seuil"],
            "detectes": d["detectes"],
            "tauxDetection": d["detectes"] / n_t,
            "fauxPositifs": d["fauxPositifs"],
            "tauxFauxPositifs": d["fauxPositifs"] / n_p,
        }
        if d["suivant"] is not None:
            entree["coupeSuivante"] = {
                "seuil": d["suivant"]["seuil"],
                "detectes": d["suivant"]["detectes"],
                "fauxPositifs": d["suivant"]["fauxPositifs"],
                "tauxFauxPositifs": d["suivant"]["fauxPositifs"] / n_p,
            }
        detections.append(entree)
    review_tp = int(np.count_nonzero(tricheurs >= SEUIL_REVIEW))
    review_fp = int(np.count_nonzero(propres >= SEUIL_REVIEW))
    return {
        "joueursPropres": int(n_p),
        "joueursTricheurs": int(n_t),
        "auc": aire_roc(fp, tp, n_p, n_t),
        "roc": points,
        "detection": detections,
        "review": {
            "seuil": SEUIL_REVIEW,
            "detectes": review_tp,
            "tauxDetection": review_tp / n_t,
            "fauxPositifs": review_fp,
            "tauxFauxPositifs": review_fp / n_p,
        },
    }


def pourcentage(x, decimales=1):
    if x is None or (isinstance(x, float) and math.isnan(x)):
        return "—"
    return f"{x * 100:.{decimales}f} %"
