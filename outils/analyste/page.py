"""La page HTML : un seul fichier, figures SVG en ligne, lisible sans script ni réseau."""

import html
import math

from .entrees import CATEGORIES, NIVEAUX, NOMS_PERCENTILES, PERCENTILES

STYLE = """
body { font-family: "DejaVu Sans", Verdana, sans-serif; font-size: 14px; color: #222; background: #fff;
       margin: 0; }
main { max-width: 1100px; margin: 0 auto; padding: 16px 24px 48px; }
h1 { font-size: 22px; margin: 8px 0 4px; }
h2 { font-size: 18px; border-bottom: 2px solid #08519c; padding-bottom: 3px; margin-top: 36px; }
h3 { font-size: 15px; margin: 24px 0 6px; }
p, li { line-height: 1.45; }
.discret { color: #555; }
.avertissement { color: #8c2d04; }
table { border-collapse: collapse; margin: 8px 0 14px; }
th, td { border: 1px solid #ccc; padding: 3px 8px; text-align: right; vertical-align: top; }
th { background: #f0f0f0; }
td.texte, th.texte { text-align: left; }
figure { margin: 10px 0 18px; }
figure svg { max-width: 100%; height: auto; display: block; }
figcaption { color: #444; font-size: 13px; margin-top: 2px; }
code { background: #f4f4f4; padding: 0 3px; }
"""


def e(texte):
    return html.escape(str(texte), quote=True)


def nombre(v, chiffres=6):
    if v is None or (isinstance(v, float) and not math.isfinite(v)):
        return "—"
    return f"{v:.{chiffres}g}"


class Cellule(str):
    """Une cellule de tableau déjà en HTML ; tout autre texte est échappé."""


def cellule_nombre(v):
    """Valeur arrondie pour l'œil, valeur exacte du rapport en infobulle."""
    exact = "null" if isinstance(v, float) and not math.isfinite(v) else repr(v)
    return Cellule(f'<td title="{e(exact)}">{e(nombre(v))}</td>')


def taux(k, n):
    return f"{k} / {n} = {100.0 * k / n:.1f} %"


def figure(svg, legende):
    return f'<figure class="figure">\n{svg}\n<figcaption>{legende}</figcaption>\n</figure>'


def _table(entetes, lignes, formes):
    """formes : une lettre par colonne, t (texte, à gauche) ou n (nombre, à droite)."""
    classe = {"t": ' class="texte"', "n": ""}
    h = ["<table>", "<tr>" + "".join(f"<th{classe[f]}>{e(t)}</th>" for t, f in zip(entetes, formes)) + "</tr>"]
    for ligne in lignes:
        h.append("<tr>" + "".join(c if isinstance(c, Cellule) else f"<td{classe[f]}>{e(c)}</td>"
                                  for c, f in zip(ligne, formes)) + "</tr>")
    h.append("</table>")
    return "\n".join(h)


REGLES_SEUILS = {
    "snapVitesseDegS": ("visibleAngularVelocityDegPerSec", "max(p99.9, 1.0)", "aimSnapMinVelocityDegPerSec"),
    "snapAccelMinDegS2": ("absAngularAccelerationDegPerSec2", "max(p99.9, 1.0)", "aimSnapMinAccelDegPerSec2"),
    "reactionTresRapideMs": ("visibilityToActionReactionMs", "p0.1 arrondi, au moins 1", "reactionVeryFastMs"),
    "reactionSuspecteMs": ("visibilityToActionReactionMs", "p1 arrondi, au moins 1", "reactionSuspectMs"),
    "suiviExcellentErreurDeg": ("movingVisibleTargetErrorDeg", "max(p1, 0.01)", "trackingExcellentErrorDeg"),
}


def section_calibration(cal):
    """cal : rapport, chemins, avertissements, et par métrique (svg, légende)."""
    r = cal["rapport"]
    h = ['<section id="calibration">', "<h2>1. Calibration</h2>"]
    h.append(f"<p>Rapport <code>{e(cal['chemin'])}</code> : cohorte « {e(r['cohorte'])} », "
             f"{r['matchs']} match(s), {r['trames']} trames, généré le {e(r['genereLe'])}.</p>")
    if cal["avertissements"]:
        h.append('<p>Avertissements (ceux que <code>calibrage calibrer</code> affiche pour ce rapport) :</p><ul>')
        h += [f'<li class="avertissement">⚠ {e(t)}</li>' for t in cal["avertissements"]]
        h.append("</ul>")
    else:
        h.append("<p>Aucun avertissement : assez de matchs et de réactions.</p>")
    h.append(f'<p class="discret"><em>{e(r["avertissement"])}</em></p>')

    h.append("<h3>Seuils recommandés</h3>")
    lignes = []
    for cle, v in r["recommandations"].items():
        metrique, regle, moteur = REGLES_SEUILS[cle]
        lignes.append([cle, cellule_nombre(v), f"{regle} de {metrique}", moteur])
    h.append(_table(["recommandation", "valeur", "règle", "seuil du moteur remplacé"], lignes, "tntt"))

    h.append("<h3>Percentiles</h3>")
    lignes = [[d["metrique"], str(d["echantillons"])] + [cellule_nombre(d[p]) for p in PERCENTILES]
              for d in r["distributions"]]
    h.append('<div class="percentiles">' + _table(["métrique", "échantillons"] +
                                                  [NOMS_PERCENTILES[p] for p in PERCENTILES], lignes,
                                                  "t" + "n" * (1 + len(PERCENTILES))) + "</div>")
    h.append('<p class="discret">Valeurs arrondies à 6 chiffres significatifs ; la valeur exacte du rapport '
             "apparaît au survol.</p>")

    h.append("<h3>Distributions</h3>")
    if cal["partiel"] is None:
        h.append("<p>Sans <code>--echantillons</code> (le résultat partiel de <code>calibrage calibrer "
                 "--partiel</code>), les figures montrent les sept percentiles et les seuils recommandés du "
                 "rapport, sans histogramme.</p>")
    else:
        p = cal["partiel"]
        h.append(f"<p>Histogrammes des échantillons bruts lus dans <code>{e(p['chemin'])}</code> "
                 f"({len(p['sources'])} fichier(s) de télémétrie source), percentiles en tirets, seuils "
                 "recommandés en traits pleins. Axe logarithmique quand les valeurs positives couvrent plus de "
                 "deux décades.</p>")
    for svg, legende in cal["figures"]:
        h.append(figure(svg, legende))
    h.append("</section>")
    return "\n".join(h)


def section_populations(populations):
    h = ['<section id="populations">', "<h2>2. Populations contrôlées</h2>",
         "<p>Une ligne par joueur et par match analysé (la sortie de <code>calibrage controler --sortie</code>). "
         "Niveaux selon le score : NORMAL &lt; 30 ≤ OBSERVE &lt; 50 ≤ REVIEW &lt; 70 ≤ HIGH-RISK &lt; 85 ≤ "
         "CRITICAL-REVIEW.</p>"]
    lignes = []
    for p in populations:
        s = p["resume"]
        lignes.append([p["etiquette"], p["classe"], str(s["joueurs"]), str(s["invalides"]),
                       taux(s["reviewOuPlus"], s["joueurs"])] + [str(s["parNiveau"][n]) for n in NIVEAUX])
    h.append(_table(["population", "classe", "joueurs", "lots invalides", "REVIEW ou plus"] + list(NIVEAUX),
                    lignes, "tt" + "n" * (3 + len(NIVEAUX))))
    h.append("<h3>Part des joueurs sur qui chaque catégorie s'est déclenchée</h3>")
    lignes = []
    for c in CATEGORIES:
        lignes.append([c] + [f"{100.0 * p['resume']['categories'][c] / p['resume']['joueurs']:.1f} % "
                             f"({p['resume']['categories'][c]})" for p in populations])
    h.append(_table(["catégorie"] + [f"{p['etiquette']} ({p['classe']})" for p in populations], lignes,
                    "t" + "n" * len(populations)))
    for p in populations:
        s = p["resume"]
        h.append(f"<h3>{e(p['etiquette'])} — {e(p['classe'])}</h3>")
        h.append(f"<p><code>{e(p['chemin'])}</code> : {s['joueurs']} joueur(s), {s['invalides']} lot(s) invalide(s) "
                 f"ignoré(s), {taux(s['reviewOuPlus'], s['joueurs'])} à REVIEW ou plus.</p>")
        h.append(figure(p["svg"], f"Scores de {e(p['etiquette'])} sur les bandes de niveaux (classes de 5 points), "
                        "et part des joueurs touchés par chaque catégorie (nombre de joueurs au bout de la barre)."))
        tete = p["controle"]["lignes"][:10]
        h.append(_table(["score", "niveau", "match / joueur", "catégories"],
                        [[f"{l['score']:.1f}", l["niveau"], f"{l['matchId']} / {l['joueurId']}",
                          ", ".join(l["categories"])] for l in tete], "nttt"))
        if len(p["controle"]["lignes"]) > 10:
            h.append(f'<p class="discret">Les 10 scores les plus hauts sur {s["joueurs"]}.</p>')
    h.append("</section>")
    return "\n".join(h)


def _coupe(seuil):
    return "personne" if seuil is None else f"score ≥ {seuil:g}"


def _pourquoi(d, n_propres):
    """Pourquoi la coupe s'arrête là : ce que la coupe suivante ajouterait."""
    s = d.get("coupeSuivante")
    borne = f"{d['fauxPositifsMax'] * 100:g} %"
    if s is None:
        return f"≤ {borne} : tous les joueurs sont déjà signalés."
    propres = s["fauxPositifs"] - d["fauxPositifs"]
    tricheurs = s["detectes"] - d["detectes"]
    if propres + tricheurs == 1:
        groupe = f"le joueur de score {s['seuil']:g} ({'propre' if propres else 'tricheur'})"
    else:
        groupe = (f"le groupe des {propres + tricheurs} joueurs de score {s['seuil']:g} ({propres} propre(s), "
                  f"{tricheurs} tricheur(s)), signalés ensemble")
    if s["fauxPositifs"] * 100 > round(d["fauxPositifsMax"] * 100) * n_propres:
        suite = (f"ferait passer les faux positifs à {s['fauxPositifs']} / {n_propres} = "
                 f"{s['tauxFauxPositifs'] * 100:.1f} %, au-delà de {borne}")
    else:
        suite = "ne détecterait pas plus de tricheurs avant que la borne soit dépassée"
    return f"≤ {borne} : la coupe suivante, score ≥ {s['seuil']:g}, ajouterait {groupe}, et {suite}."


def section_separation(sep):
    h = ['<section id="separation">', "<h2>3. Séparation propres / tricheurs</h2>"]
    if sep is None:
        h.append("<p>Il faut au moins une population <code>--propres</code> et une <code>--tricheurs</code>.</p>"
                 "</section>")
        return "\n".join(h)
    c = sep["chiffres"]
    n_p, n_t = c["joueursPropres"], c["joueursTricheurs"]
    h.append(f"<p>Toutes les lignes des populations propres ({e(', '.join(sep['etiquettes']['propres']))} : "
             f"{n_p} joueur(s)) contre toutes celles des populations de tricheurs "
             f"({e(', '.join(sep['etiquettes']['tricheurs']))} : {n_t} joueur(s)) ; les tricheurs sont les "
             "positifs. Une coupe c signale les joueurs de score ≥ c.</p>")
    h.append(f"<p><strong>AUC = {c['auc']:.4f}</strong> : la probabilité qu'un tricheur tiré au hasard ait un "
             "score plus haut qu'un joueur propre tiré au hasard, les égalités comptant pour moitié "
             "(0.5 : aucune séparation ; 1 : séparation parfaite).</p>")
    lignes = []
    for d in c["detection"]:
        lignes.append([f"au plus {d['fauxPositifsMax'] * 100:g} % de faux positifs", _coupe(d["seuil"]),
                       taux(d["detectes"], n_t), taux(d["fauxPositifs"], n_p)])
    r = c["review"]
    lignes.append(["seuil REVIEW", _coupe(r["seuil"]), taux(r["detectes"], n_t), taux(r["fauxPositifs"], n_p)])
    h.append(_table(["point de fonctionnement", "coupe", "tricheurs détectés", "propres signalés (faux positifs)"],
                    lignes, "ttnn"))
    h.append("<p>La coupe de chaque borne est choisie parmi les scores observés : celle qui détecte le plus de "
             "tricheurs sans dépasser la borne de faux positifs (à détection égale, la plus haute). Des scores "
             "égaux sont signalés ensemble : quand la borne tombe au milieu d'un groupe de scores égaux, tout le "
             "groupe reste sous la coupe, qui remonte au score observé suivant. « personne » : aucune coupe "
             "admise ne détecte un tricheur.</p><ul>")
    h += [f"<li>{e(_pourquoi(d, n_p))}</li>" for d in c["detection"]]
    h.append("</ul>")
    if len(c["parPopulation"]) > 1:
        h.append("<h3>Par population de tricheurs</h3>")
        lignes = [[p["etiquette"], f"{p['auc']:.4f}"] +
                  [taux(k, p["joueurs"]) for k in p["detectes"]] + [taux(p["review"], p["joueurs"])]
                  for p in c["parPopulation"]]
        h.append(_table(["population", "AUC contre les propres"] +
                        [f"détectés à {_coupe(d['seuil'])} (≤ {d['fauxPositifsMax'] * 100:g} % FP)"
                         for d in c["detection"]] + ["détectés à REVIEW"], lignes,
                        "t" + "n" * (2 + len(c["detection"]))))
    h.append(figure(sep["svg"], "À gauche, la courbe ROC du score : un point par coupe, du score le plus haut "
                    "(en bas à gauche) au plus bas ; des scores égaux entre les classes donnent un segment "
                    "oblique. Carré et losange : les coupes à 1 % et 5 % de faux positifs ; étoile : le seuil "
                    "REVIEW. À droite, les scores des deux classes (part de chaque classe par classe de 5 points)."))
    h.append("</section>")
    return "\n".join(h)


def page(entrees, calibration, populations, separation):
    h = ["<!DOCTYPE html>", '<html lang="fr">', "<head>", '<meta charset="utf-8">',
         '<meta name="viewport" content="width=device-width, initial-scale=1">',
         "<title>Rapport d'analyse — calibrage</title>", f"<style>{STYLE}</style>", "</head>", "<body>", "<main>",
         "<h1>Rapport d'analyse</h1>",
         "<p class=\"discret\">Produit par <code>outils/rapport-analyste</code> à partir de : "
         + ", ".join(f"<code>{e(x)}</code>" for x in entrees) + ".</p>",
         '<p><a href="#calibration">1. Calibration</a> · <a href="#populations">2. Populations</a> · '
         '<a href="#separation">3. Séparation</a></p>']
    if calibration is not None:
        h.append(section_calibration(calibration))
    else:
        h.append('<section id="calibration"><h2>1. Calibration</h2><p>Pas de <code>--calibration</code>.</p>'
                 "</section>")
    if populations:
        h.append(section_populations(populations))
    else:
        h.append('<section id="populations"><h2>2. Populations contrôlées</h2><p>Ni <code>--propres</code> ni '
                 "<code>--tricheurs</code>.</p></section>")
    h.append(section_separation(separation))
    h += ["</main>", "</body>", "</html>", ""]
    return "\n".join(h)
