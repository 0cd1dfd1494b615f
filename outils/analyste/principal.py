"""rapport-analyste : arguments, lecture de toutes les entrées, puis la page (et le JSON) d'un seul coup."""

import errno
import json
import os
import sys
import tempfile

import numpy as np

from . import entrees, mesures, page
from .entrees import Erreur

USAGE = """usage :
  rapport-analyste --sortie rapport.html [--calibration rapport.json [--echantillons resultat.partiel]]
                   [--propres [ETIQUETTE=]controle.json]… [--tricheurs [ETIQUETTE=]controle.json]…
                   [--json separation.json]"""


class ErreurArguments(Exception):
    pass


def lire_arguments(args):
    options = {"sortie": None, "calibration": None, "echantillons": None, "json": None,
               "propres": [], "tricheurs": []}
    i = 0
    while i < len(args):
        a = args[i]
        nom = a[2:] if a.startswith("--") else None
        if nom not in options:
            raise ErreurArguments(f"option inconnue : {a}" if a.startswith("--") else f"argument inattendu : {a}")
        if i + 1 >= len(args):
            raise ErreurArguments(f"{a} attend un chemin")
        valeur = args[i + 1]
        if nom in ("propres", "tricheurs"):
            etiquette, egal, chemin = valeur.partition("=")
            if not egal:
                etiquette, chemin = os.path.basename(valeur), valeur
            if not etiquette or not chemin:
                raise ErreurArguments(f"{a} attend [ETIQUETTE=]CHEMIN : {valeur}")
            options[nom].append((etiquette, chemin))
        else:
            options[nom] = valeur  # une option répétée remplace la précédente, comme dans calibrage
        i += 2
    if options["sortie"] is None:
        raise ErreurArguments("--sortie est obligatoire")
    if options["echantillons"] is not None and options["calibration"] is None:
        raise ErreurArguments("--echantillons accompagne un --calibration (le rapport de ces échantillons)")
    if not (options["calibration"] or options["propres"] or options["tricheurs"]):
        raise ErreurArguments("rien à montrer : donne --calibration, --propres ou --tricheurs")
    if options["json"] is not None and not (options["propres"] and options["tricheurs"]):
        raise ErreurArguments("--json demande au moins une population --propres et une --tricheurs")
    if options["json"] is not None and os.path.abspath(options["json"]) == os.path.abspath(options["sortie"]):
        raise ErreurArguments("--json et --sortie désignent le même fichier")
    return options


def seuils_de(metrique, recommandations):
    return [(cle, float(v)) for cle, v in recommandations.items() if page.REGLES_SEUILS[cle][0] == metrique]


def lire_calibration(chemin, chemin_partiel):
    rapport = entrees.lire_calibration(chemin)
    partiel = None
    if chemin_partiel is not None:
        partiel = entrees.lire_partiel(chemin_partiel)
        entrees.accorder(partiel, chemin_partiel, rapport, chemin)
        partiel["chemin"] = chemin_partiel
    return {"chemin": chemin, "rapport": rapport, "partiel": partiel,
            "avertissements": mesures.avertissements_calibration(rapport)}


def dessiner_calibration(cal):
    from . import figures
    rapport, partiel = cal["rapport"], cal["partiel"]
    figs = []
    for i, d in enumerate(rapport["distributions"]):
        histo = None
        if partiel is not None and d["metrique"] in partiel["echantillons"]:
            histo = mesures.histogramme(partiel["echantillons"][d["metrique"]])
        svg = figures.figure_metrique(d, histo, seuils_de(d["metrique"], rapport["recommandations"]),
                                           f"cal{i}")
        legende = f"<strong>{page.e(d['metrique'])}</strong> — {d['echantillons']} échantillon(s)"
        if histo is not None:
            dans = int(histo["comptes"].sum())
            legende += f" : {dans} dans l'histogramme"
            if histo["horsAxe"]:
                legende += f", {histo['horsAxe']} à 0 ou moins (hors de l'axe logarithmique)"
            if histo["nonFinis"]:
                legende += f", {histo['nonFinis']} non fini(s)"
        elif partiel is not None:
            legende += " ; métrique absente du résultat partiel, pas d'histogramme"
        else:
            legende += " ; percentiles et seuils du rapport, sans histogramme"
        figs.append((svg, legende + "."))
    cal["figures"] = figs


def separation(propres, tricheurs):
    from . import figures
    scores_p = np.concatenate([p["resume"]["scores"] for p in propres])
    scores_t = np.concatenate([p["resume"]["scores"] for p in tricheurs])
    chiffres = mesures.separation(scores_p, scores_t)
    chiffres["parPopulation"] = []
    for p in tricheurs:
        s = p["resume"]["scores"]
        a_part = mesures.separation(scores_p, s)
        chiffres["parPopulation"].append({
            "etiquette": p["etiquette"],
            "joueurs": int(s.size),
            "auc": a_part["auc"],
            "detectes": [int(np.count_nonzero(s >= d["seuil"])) if d["seuil"] is not None else 0
                         for d in chiffres["detection"]],
            "review": a_part["review"]["detectes"],
        })
    return {
        "chiffres": chiffres,
        "etiquettes": {"propres": [p["etiquette"] for p in propres],
                       "tricheurs": [p["etiquette"] for p in tricheurs]},
        "svg": figures.figure_separation(chiffres, scores_p, scores_t, "sep"),
    }


def json_separation(sep, propres, tricheurs):
    def liste(pops):
        return [{"etiquette": p["etiquette"], "fichier": p["chemin"], "joueurs": p["resume"]["joueurs"]}
                for p in pops]
    return {"populations": {"propres": liste(propres), "tricheurs": liste(tricheurs)}, **sep["chiffres"]}


def ecrire_ensemble(fichiers):
    """Écrit chaque (chemin, octets) sous un nom temporaire à côté, puis renomme tout à la fin :
    un échec ne laisse ni fichier partiel ni sortie à moitié produite."""
    for chemin, _ in fichiers:  # le seul renommage qui puisse échouer après coup : ne rien écrire
        if os.path.isdir(chemin):
            raise Erreur(chemin, os.strerror(errno.EISDIR))
    temporaires = []
    try:
        masque = os.umask(0)
        os.umask(masque)
        for chemin, octets in fichiers:
            dossier = os.path.dirname(os.path.abspath(chemin))
            try:
                fd, temp = tempfile.mkstemp(prefix="." + os.path.basename(chemin) + ".", suffix=".tmp",
                                            dir=dossier)
            except OSError as e:
                raise Erreur(chemin, e.strerror or str(e)) from None
            temporaires.append(temp)
            try:
                with os.fdopen(fd, "wb") as f:
                    f.write(octets)
                os.chmod(temp, 0o666 & ~masque)  # mkstemp crée en 0600 ; un rapport se partage
            except OSError as e:
                raise Erreur(chemin, e.strerror or str(e)) from None
        for (chemin, _), temp in zip(fichiers, temporaires):
            try:
                os.replace(temp, chemin)
            except OSError as e:
                raise Erreur(chemin, e.strerror or str(e)) from None
        temporaires = []
    finally:
        for temp in temporaires:
            try:
                os.unlink(temp)
            except OSError:
                pass


def executer(args):
    options = lire_arguments(args)
    # Toutes les entrées sont lues et vérifiées, dans l'ordre de l'usage, avant de dessiner quoi que ce soit.
    cal = None
    if options["calibration"] is not None:
        cal = lire_calibration(options["calibration"], options["echantillons"])
    populations = []
    for classe, cle in (("propres", "propres"), ("tricheurs", "tricheurs")):
        for etiquette, chemin in options[cle]:
            controle = entrees.lire_controle(chemin)
            populations.append({"etiquette": etiquette, "chemin": chemin, "classe": classe,
                                "controle": controle, "resume": mesures.resume_population(controle)})
    # Matplotlib ne se charge qu'une fois les entrées acceptées : une erreur tombe tout de suite.
    from . import figures
    if cal is not None:
        dessiner_calibration(cal)
    for i, p in enumerate(populations):
        p["svg"] = figures.figure_population(p["resume"], f"{p['etiquette']} ({p['classe']})", f"pop{i}")
    propres = [p for p in populations if p["classe"] == "propres"]
    tricheurs = [p for p in populations if p["classe"] == "tricheurs"]
    sep = separation(propres, tricheurs) if propres and tricheurs else None

    lus = [x for x in (options["calibration"], options["echantillons"]) if x] + [p["chemin"] for p in populations]
    sorties = [(options["sortie"], page.page(lus, cal, populations, sep).encode("utf-8"))]
    if options["json"] is not None:
        texte = json.dumps(json_separation(sep, propres, tricheurs), ensure_ascii=False, indent=2,
                           allow_nan=False)
        sorties.append((options["json"], (texte + "\n").encode("utf-8")))
    ecrire_ensemble(sorties)
    for chemin, _ in sorties:
        print(f"écrit : {chemin}")


def main(args=None):
    try:
        executer(sys.argv[1:] if args is None else args)
    except ErreurArguments as e:
        sys.stderr.write(f"{e}\n{USAGE}\n")
        return 1
    except Erreur as e:
        sys.stderr.write(f"{e}\n")
        return 1
    return 0
