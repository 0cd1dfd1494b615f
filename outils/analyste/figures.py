"""Figures en SVG, prêtes à être insérées dans la page.

Matplotlib sans pyplot ni affichage ; sel de hachage fixe et métadonnées sans date pour que les mêmes
entrées donnent les mêmes octets ; identifiants préfixés pour que plusieurs SVG cohabitent dans un document.
"""

import io
import re

import matplotlib
import numpy as np

matplotlib.use("svg")
from matplotlib.figure import Figure  # noqa: E402
from matplotlib.lines import Line2D  # noqa: E402

from .entrees import CATEGORIES, NIVEAUX, NOMS_PERCENTILES  # noqa: E402
from .mesures import COUPES_NIVEAUX, SEUIL_REVIEW, echelle_log  # noqa: E402

matplotlib.rcParams.update({
    "svg.hashsalt": "rapport-analyste",
    "svg.fonttype": "path",  # glyphes en chemins : le rendu ne dépend pas des polices du lecteur
    "font.size": 9,
    "axes.titlesize": 10,
    "legend.fontsize": 8,
    "axes.spines.top": False,
    "axes.spines.right": False,
})

COULEURS_NIVEAUX = ("#d9f0d3", "#fff2b3", "#fdd0a2", "#fc9272", "#cb4335")
COULEUR_PROPRES = "#2b83ba"
COULEUR_TRICHEURS = "#d7191c"
COULEURS_PERCENTILES = ("#6a51a3", "#807dba", "#9e9ac8", "#252525", "#74a9cf", "#3690c0", "#0570b0")
COULEURS_SEUILS = ("#e6550d", "#a50f15")


def en_svg(figure, prefixe):
    tampon = io.StringIO()
    figure.savefig(tampon, format="svg", metadata={"Date": None, "Creator": None})
    texte = tampon.getvalue()
    texte = texte[texte.index("<svg"):]  # ni déclaration XML ni DOCTYPE dans du HTML
    texte = re.sub(r"\s*<metadata>.*?</metadata>", "", texte, count=1, flags=re.S)
    texte = re.sub(r'\bid="', f'id="{prefixe}-', texte)
    texte = texte.replace('href="#', f'href="#{prefixe}-').replace("url(#", f"url(#{prefixe}-")
    return texte


def _nombre(v):
    return f"{v:.4g}"


def figure_metrique(distribution, histo, seuils, prefixe):
    """Histogramme d'une métrique (quand on a ses échantillons), ses sept percentiles et les seuils
    recommandés qui en viennent. seuils : liste de (nom, valeur)."""
    fig = Figure(figsize=(8.6, 3.0 if histo is not None else 2.2), layout="constrained")
    ax = fig.add_subplot()
    valeurs = [distribution[p] for p in NOMS_PERCENTILES] + [v for _, v in seuils]
    if histo is not None:
        log = histo["log"]
        if histo["comptes"].sum() > 0:
            ax.stairs(histo["comptes"], histo["bords"], fill=True, color="#bdbdbd", edgecolor="#636363",
                      linewidth=0.6)
            ax.set_ylabel("échantillons")
        else:
            ax.set_yticks([])
            ax.text(0.5, 0.5, "aucun échantillon à tracer", transform=ax.transAxes, ha="center",
                    color="#636363")
    else:
        log = echelle_log(np.array(valeurs, dtype=float))
        ax.set_yticks([])
        ax.text(0.5, 0.92, "sans histogramme (donne --echantillons)", transform=ax.transAxes, ha="center",
                va="top", color="#636363")
    if log:
        ax.set_xscale("log")
    poignees = []
    for (cle, nom), couleur in zip(NOMS_PERCENTILES.items(), COULEURS_PERCENTILES):
        v = distribution[cle]
        dessinable = np.isfinite(v) and (v > 0 or not log)
        if dessinable:
            ax.axvline(v, color=couleur, linestyle="--", linewidth=1.0)
        etiquette = f"{nom} = {_nombre(v)}" + ("" if dessinable else " (hors axe)")
        poignees.append(Line2D([], [], color=couleur, linestyle="--", label=etiquette))
    for (nom, v), couleur in zip(seuils, COULEURS_SEUILS):
        dessinable = np.isfinite(v) and (v > 0 or not log)
        if dessinable:
            ax.axvline(v, color=couleur, linewidth=2.2)
        etiquette = f"{nom} = {_nombre(v)}" + ("" if dessinable else " (hors axe)")
        poignees.append(Line2D([], [], color=couleur, linewidth=2.2, label=etiquette))
    if histo is None or histo["comptes"].sum() == 0:
        finies = [v for v in valeurs if np.isfinite(v) and (v > 0 or not log)]
        if finies:
            bas, haut = min(finies), max(finies)
            if bas == haut:
                bas, haut = (bas / 2, haut * 2) if log else (bas - 1, haut + 1)
            marge = (haut / bas) ** 0.05 if log else (haut - bas) * 0.05
            ax.set_xlim((bas / marge, haut * marge) if log else (bas - marge, haut + marge))
    ax.set_xlabel(distribution["metrique"] + (" (échelle logarithmique)" if log else ""))
    ax.legend(handles=poignees, loc="upper left", bbox_to_anchor=(1.01, 1.0), frameon=False)
    return en_svg(fig, prefixe)


def _bandes_niveaux(ax, etiquettes=True):
    bords = (0.0,) + COUPES_NIVEAUX + (100.0,)
    for i, nom in enumerate(NIVEAUX):
        ax.axvspan(bords[i], bords[i + 1], color=COULEURS_NIVEAUX[i], alpha=0.45, linewidth=0, zorder=0)
        if etiquettes:  # en quinconce : les bandes étroites du haut ne se chevauchent pas
            ax.text((bords[i] + bords[i + 1]) / 2, 1.01 + 0.07 * (i % 2), nom, transform=ax.get_xaxis_transform(),
                    ha="center", va="bottom", fontsize=7, color="#444444")
    ax.set_xlim(0, 100)


CLASSES_SCORE = [5.0 * i for i in range(21)]


def figure_population(resume, titre, prefixe):
    """Distribution des scores sur les bandes de niveaux, et part des joueurs touchés par catégorie."""
    fig = Figure(figsize=(8.6, 3.1), layout="constrained")
    ax, ax_c = fig.subplots(1, 2, width_ratios=(1.25, 1))
    _bandes_niveaux(ax)
    ax.hist(resume["scores"], bins=CLASSES_SCORE, color="#4d4d4d", edgecolor="white", linewidth=0.5, zorder=2)
    ax.axvline(SEUIL_REVIEW, color="black", linewidth=1.0, zorder=3)
    ax.set_xlabel("score (« score ≥ 50 » : REVIEW ou plus)")
    ax.set_ylabel("joueurs")
    ax.yaxis.get_major_locator().set_params(integer=True)
    n = resume["joueurs"]
    parts = [100.0 * resume["categories"][c] / n for c in CATEGORIES]
    positions = list(range(len(CATEGORIES)))[::-1]
    ax_c.barh(positions, parts, color="#6baed6")
    ax_c.set_yticks(positions, CATEGORIES)
    ax_c.set_xlim(0, 100)
    ax_c.set_xlabel("joueurs touchés (%)")
    for y, part, c in zip(positions, parts, CATEGORIES):
        ax_c.text(min(part, 100) + 1.5, y, str(resume["categories"][c]), va="center", fontsize=7)
    fig.suptitle(titre, fontsize=10)
    return en_svg(fig, prefixe)


def figure_separation(sep, propres, tricheurs, prefixe):
    """Courbe ROC du score (tricheurs positifs) avec les points de fonctionnement, et les deux
    distributions de scores regroupées."""
    fig = Figure(figsize=(8.6, 3.8), layout="constrained")
    ax, ax_d = fig.subplots(1, 2, width_ratios=(1, 1.15))
    x = [p["tauxFauxPositifs"] for p in sep["roc"]]
    y = [p["tauxDetection"] for p in sep["roc"]]
    ax.plot([0, 1], [0, 1], color="#bdbdbd", linestyle=":", linewidth=1.0, label="hasard")
    ax.plot(x, y, color="#08519c", linewidth=1.6, marker="o", markersize=2.5, label=f"score (AUC {sep['auc']:.3f})")
    for d, forme in zip(sep["detection"], ("s", "D")):
        borne = d["fauxPositifsMax"]
        ax.axvline(borne, color="#969696", linewidth=0.7, linestyle="--")
        coupe = "personne" if d["seuil"] is None else f"score ≥ {d['seuil']:g}"
        ax.plot([d["tauxFauxPositifs"]], [d["tauxDetection"]], forme, color="#31a354", markersize=6,
                label=f"≤ {borne * 100:g} % FP : {coupe}", zorder=4)
    r = sep["review"]
    ax.plot([r["tauxFauxPositifs"]], [r["tauxDetection"]], "*", color=COULEUR_TRICHEURS, markersize=13,
            label=f"REVIEW (score ≥ {r['seuil']:g})", zorder=5)
    ax.set_xlim(-0.02, 1.02)
    ax.set_ylim(-0.02, 1.02)
    ax.set_aspect("equal")
    ax.set_xlabel("taux de faux positifs (propres signalés)")
    ax.set_ylabel("taux de détection (tricheurs signalés)")
    ax.legend(loc="lower right", frameon=True, framealpha=0.9)
    _bandes_niveaux(ax_d)
    ax_d.hist([propres, tricheurs], bins=CLASSES_SCORE, color=[COULEUR_PROPRES, COULEUR_TRICHEURS],
              weights=[[100.0 / propres.size] * propres.size, [100.0 / tricheurs.size] * tricheurs.size],
              label=[f"propres ({propres.size})", f"tricheurs ({tricheurs.size})"], zorder=2)
    ax_d.axvline(SEUIL_REVIEW, color="black", linewidth=1.0, zorder=3)
    ax_d.set_xlabel("score")
    ax_d.set_ylabel("part de la classe (%)")
    ax_d.legend(loc="upper right", frameon=True, framealpha=0.9)
    return en_svg(fig, prefixe)
