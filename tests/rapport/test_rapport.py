#!/usr/bin/python3
"""outils/rapport-analyste : les chiffres de séparation sur des cas calculés à la main, la page produite
depuis des rapports et un résultat partiel écrits ici, et les entrées refusées."""

import html.parser
import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

import numpy as np

RACINE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
OUTIL = os.path.join(RACINE, "outils", "rapport-analyste")
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(RACINE, "outils"))

from analyste import mesures  # noqa: E402
from analyste.entrees import METRIQUES  # noqa: E402


def partiel(echantillons, matchs=3, trames=900, sources=("a.jsonl",), commande=1, version=1, refus=None,
            trafiquer=None):
    """Un résultat partiel de calibrer, octet par octet comme le décrit son format (version 1)."""
    def texte(t):
        b = t.encode("utf-8")
        return struct.pack("<Q", len(b)) + b
    corps = struct.pack("<Q", len(sources)) + b"".join(texte(s) for s in sources)
    corps += struct.pack("<QQ", matchs, trames)
    corps += b"\x01" + texte(refus) if refus else b"\x00"
    for m in METRIQUES:
        v = np.asarray(echantillons.get(m, []), dtype="<f8")
        corps += struct.pack("<Q", v.size) + v.tobytes()
    if trafiquer:
        corps = trafiquer(corps)
    tete = b"\x89PART\r\n\x1a" + struct.pack("<IIQ", version, commande, 24 + len(corps) + 4)
    return tete + corps + struct.pack("<I", zlib.crc32(tete + corps))


ECHANTILLONS = {
    # zéros et trois décades : axe logarithmique, les zéros comptés à part
    "visibleAngularVelocityDegPerSec": [0.0, 0.0, 0.5, 3.0, 40.0, 250.0, 900.0],
    "absAngularAccelerationDegPerSec2": [0.0, 12.0, 800.0, 4000.0, 9000.0, 20.0, 1.5],
    "visibilityToActionReactionMs": [180.0, 210.0, 260.0, float("nan")],
    "movingVisibleTargetErrorDeg": [],
}


def rapport_calibration(matchs=3, trames=900):
    distributions = []
    for i, m in enumerate(METRIQUES):
        d = {"metrique": m, "echantillons": len(ECHANTILLONS[m])}
        # des valeurs toutes distinctes : une colonne décalée ou permutée se voit
        for j, p in enumerate(("p001", "p01", "p05", "p50", "p95", "p99", "p999")):
            d[p] = round((i + 1) * 100 + j * 7.25 + 0.123456789, 9)
        distributions.append(d)
    return {
        "genereLe": "2026-12-06T11:48:44Z", "matchs": matchs, "trames": trames, "cohorte": "essai / souris / 64 Hz",
        "distributions": distributions,
        "recommandations": {"snapVitesseDegS": 143.5, "snapAccelMinDegS2": 243.5, "reactionTresRapideMs": 300,
                            "reactionSuspecteMs": 307, "suiviExcellentErreurDeg": 0.5},
        "avertissement": "Candidates only. Re-run per game/input/FPS/skill cohort and validate false-positive "
                         "rates before enforcement.",
    }


def controle(scores, categories=("AimSnap",)):
    lignes = [{"matchId": f"m{i}", "joueurId": f"j{i}", "score": s, "niveau": mesures.niveau(s),
               "categories": sorted(categories)} for i, s in enumerate(sorted(scores, reverse=True))]
    review = sum(1 for s in scores if s >= 50)
    return {"matchs": len(lignes), "invalides": 0, "reviewOuPlus": review,
            "tauxReviewOuPlus": review / len(lignes) if lignes else 0.0, "lignes": lignes}


class Tableaux(html.parser.HTMLParser):
    """Les cellules (texte, attributs) de chaque tableau de la page."""

    def __init__(self):
        super().__init__()
        self.tableaux, self.cellule = [], None

    def handle_starttag(self, tag, attrs):
        if tag == "table":
            self.tableaux.append([])
        elif tag == "tr":
            self.tableaux[-1].append([])
        elif tag in ("td", "th"):
            self.cellule = ["", dict(attrs)]

    def handle_data(self, data):
        if self.cellule is not None:
            self.cellule[0] += data

    def handle_endtag(self, tag):
        if tag in ("td", "th"):
            self.tableaux[-1][-1].append(tuple(self.cellule))
            self.cellule = None


class Separation(unittest.TestCase):
    def test_roc_et_auc(self):
        # (propres, tricheurs, AUC, points (faux positifs, détectés) du plus haut score au plus bas)
        cas = [
            ([10, 10], [10, 10, 10], 0.5, [(0, 0), (2, 3)]),
            ([1, 2], [3, 4], 1.0, [(0, 0), (0, 1), (0, 2), (1, 2), (2, 2)]),
            ([3, 4], [1, 2], 0.0, [(0, 0), (1, 0), (2, 0), (2, 1), (2, 2)]),
            # égalités entre classes : 2 contre 2 et 3 contre 3 comptent pour moitié -> 7/9
            ([1, 2, 3], [2, 3, 4], 7 / 9, [(0, 0), (0, 1), (1, 2), (2, 3), (3, 3)]),
            ([5], [5], 0.5, [(0, 0), (1, 1)]),
            ([5], [7], 1.0, [(0, 0), (0, 1), (1, 1)]),
            ([50.0, 12.5, 12.5, 0.0], [12.5, 80.0], 3 / 4, [(0, 0), (0, 1), (1, 1), (3, 2), (4, 2)]),
        ]
        for propres, tricheurs, auc, points in cas:
            with self.subTest(propres=propres, tricheurs=tricheurs):
                p, t = np.array(propres, dtype=float), np.array(tricheurs, dtype=float)
                sep = mesures.separation(p, t)
                self.assertEqual(sep["auc"], auc)
                self.assertEqual([(round(r["tauxFauxPositifs"] * p.size), round(r["tauxDetection"] * t.size))
                                  for r in sep["roc"]], points)

    def test_detection_a_borne_et_egalites(self):
        # 21 propres : 5 % en tolère 1, 1 % aucun. Au score 60, deux propres et un tricheur à égalité :
        # la coupe ne peut pas les séparer, elle reste à 70 pour 5 %.
        egalites = ([75.0, 60.0, 60.0] + [10.0] * 18, [80.0, 70.0, 60.0, 55.0, 40.0])
        # (borne, coupe, détectés, faux positifs, coupe suivante (score, faux positifs, détectés))
        attendu = [(0.01, 80.0, 1, 0, (75.0, 1, 1)), (0.05, 70.0, 2, 1, (60.0, 3, 3))]
        # Le plus haut score est propre et la borne n'en tolère aucun : personne n'est signalé.
        attendu_aucun = [(0.01, None, 0, 0, (90.0, 1, 0)), (0.05, None, 0, 0, (90.0, 1, 0))]
        # 100 propres, 1 % en tolère un : le propre à 30 ne détecte rien de plus, la coupe reste à 50.
        attendu_plus_haute = [(0.01, 50.0, 1, 0, (30.0, 1, 1)), (0.05, 50.0, 1, 0, (30.0, 1, 1))]
        for propres, tricheurs, lignes in (egalites + (attendu,), ([90.0] + [0.0] * 9, [50.0], attendu_aucun),
                                           ([30.0] + [0.0] * 99, [50.0], attendu_plus_haute)):
            sep = mesures.separation(np.array(propres), np.array(tricheurs))
            for d, (borne, coupe, detectes, fp, suivante) in zip(sep["detection"], lignes):
                with self.subTest(propres=propres[:3], borne=borne):
                    self.assertEqual(d["fauxPositifsMax"], borne)
                    self.assertEqual((d["seuil"], d["detectes"], d["fauxPositifs"]), (coupe, detectes, fp))
                    s = d["coupeSuivante"]
                    self.assertEqual((s["seuil"], s["fauxPositifs"], s["detectes"]), suivante)
        r = mesures.separation(np.array(egalites[0]), np.array(egalites[1]))["review"]
        self.assertEqual((r["detectes"], r["fauxPositifs"]), (4, 3))


class Programme(unittest.TestCase):
    def setUp(self):
        self._dossier = tempfile.TemporaryDirectory(prefix="rapport-analyste-")
        self.dossier = self._dossier.name

    def tearDown(self):
        self._dossier.cleanup()

    def ecrire(self, nom, contenu):
        chemin = os.path.join(self.dossier, nom)
        with open(chemin, "wb") as f:
            f.write(contenu if isinstance(contenu, bytes) else json.dumps(contenu, indent=2).encode())
        return chemin

    def lancer(self, *args):
        return subprocess.run(["/usr/bin/python3", OUTIL, *args], cwd=self.dossier, capture_output=True, text=True)

    def test_page_complete(self):
        self.ecrire("rapport.json", rapport_calibration())
        self.ecrire("cal.partiel", partiel(ECHANTILLONS))
        self.ecrire("propres.json", controle([0.0, 12.5, 12.5, 50.0]))
        self.ecrire("snap.json", controle([80.0, 12.5], ("AimSnap", "ReactionTime")))
        args = ["--calibration", "rapport.json", "--echantillons", "cal.partiel", "--propres", "propres.json",
                "--tricheurs", "profil snap=snap.json", "--json", "sep.json"]
        fin = self.lancer("--sortie", "r.html", *args)
        self.assertEqual((fin.returncode, fin.stderr), (0, ""))
        self.assertEqual(fin.stdout, "écrit : r.html\nécrit : sep.json\n")
        with open(os.path.join(self.dossier, "r.html"), encoding="utf-8") as f:
            page = f.read()
        self.assertEqual(page.count("<svg"), 4 + 2 + 1)
        self.assertNotIn("<script", page)

        # La table des percentiles porte exactement les valeurs du rapport (infobulle), arrondies à l'écran.
        lecteur = Tableaux()
        lecteur.feed(page[page.index('<div class="percentiles">'):])
        lignes = lecteur.tableaux[0][1:]
        rapport = rapport_calibration()
        self.assertEqual([l[0][0] for l in lignes], list(METRIQUES))
        for ligne, d in zip(lignes, rapport["distributions"]):
            self.assertEqual(int(ligne[1][0]), d["echantillons"])
            for (texte, attributs), p in zip(ligne[2:], ("p001", "p01", "p05", "p50", "p95", "p99", "p999")):
                self.assertEqual(float(attributs["title"]), d[p], (d["metrique"], p))
                self.assertAlmostEqual(float(texte), d[p], delta=abs(d[p]) * 1e-5)

        # Chaque histogramme compte tous les échantillons : tracés, hors de l'axe log, non finis.
        self.assertIn("7 échantillon(s) : 5 dans l'histogramme, 2 à 0 ou moins (hors de l'axe logarithmique)", page)
        self.assertIn("4 échantillon(s) : 3 dans l'histogramme, 1 non fini(s)", page)
        # Les avertissements de calibrer pour ce rapport : les réactions, la métrique vide, les matchs.
        self.assertIn("visibilityToActionReactionMs : 4 échantillons seulement (minimum conseillé 1000)", page)
        self.assertIn("movingVisibleTargetErrorDeg : aucun échantillon", page)
        self.assertIn("seulement 3 match(s)", page)

        with open(os.path.join(self.dossier, "sep.json"), encoding="utf-8") as f:
            sep = json.load(f)
        self.assertEqual(sep["auc"], 3 / 4)
        self.assertEqual(sep["populations"]["tricheurs"],
                         [{"etiquette": "profil snap", "fichier": "snap.json", "joueurs": 2}])
        self.assertEqual((sep["review"]["detectes"], sep["review"]["fauxPositifs"]), (1, 1))  # 50.0 est REVIEW

        # Mêmes entrées, mêmes octets.
        self.assertEqual(self.lancer("--sortie", "r2.html", *args[:-2]).returncode, 0)
        with open(os.path.join(self.dossier, "r2.html"), encoding="utf-8") as f:
            self.assertEqual(f.read(), page)

        # Sans échantillons : les mêmes figures, sans histogramme, et la page le dit.
        fin = self.lancer("--sortie", "r3.html", "--calibration", "rapport.json")
        self.assertEqual(fin.returncode, 0, fin.stderr)
        with open(os.path.join(self.dossier, "r3.html"), encoding="utf-8") as f:
            page = f.read()
        self.assertEqual(page.count("<svg"), 4)
        self.assertIn("Sans <code>--echantillons</code>", page)
        self.assertNotIn("dans l'histogramme", page)

    def test_entrees_refusees(self):
        self.ecrire("rapport.json", rapport_calibration())
        self.ecrire("propres.json", controle([10.0, 20.0]))
        self.ecrire("snap.json", controle([80.0]))
        self.ecrire("vide.json", controle([]))
        self.ecrire("casse.json", b'{"matchs": 1,')
        self.ecrire("double.json", b'{"matchs": 1, "matchs": 1}')
        mauvais_score = controle([10.0])
        mauvais_score["lignes"][0]["score"] = "10"
        self.ecrire("score.json", mauvais_score)
        bon = partiel(ECHANTILLONS)
        self.ecrire("signature.partiel", b"\x89PART\r\n\x1b" + bon[8:])
        self.ecrire("version.partiel", partiel(ECHANTILLONS, version=2))
        self.ecrire("controler.partiel", partiel(ECHANTILLONS, commande=2))
        self.ecrire("tronque.partiel", bon[:-9])
        self.ecrire("long.partiel", bon + b"\x00")
        abime = bytearray(bon)
        abime[60] ^= 0x01
        self.ecrire("corrompu.partiel", bytes(abime))
        # somme de contrôle juste, mais un nombre d'échantillons qui dépasse la fin
        self.ecrire("deborde.partiel", partiel(ECHANTILLONS, trafiquer=lambda c: c[:-8] + struct.pack("<Q", 5)))
        self.ecrire("refus.partiel", partiel(ECHANTILLONS, refus="lot de calibration invalide m1 : vide"))
        self.ecrire("autre.partiel", partiel(ECHANTILLONS, matchs=4))
        os.mkdir(os.path.join(self.dossier, "dossier.json"))

        tricheurs = ["--tricheurs", "snap.json", "--json", "sep.json"]
        cas = [
            (["--propres", "absent.json"] + tricheurs, "absent.json : No such file or directory"),
            (["--propres", "dossier.json"] + tricheurs, "dossier.json : Is a directory"),
            (["--propres", "propres.json", "--tricheurs", "rapport.json", "--json", "sep.json"],
             "rapport.json : rapport de calibrer, pas de controler"),
            (["--calibration", "snap.json"], "snap.json : rapport de controler, pas de calibrer"),
            (["--propres", "vide.json"] + tricheurs, "vide.json : population vide"),
            (["--propres", "casse.json"] + tricheurs, "casse.json : JSON invalide : "),
            (["--propres", "double.json"] + tricheurs, "double.json : JSON invalide : clé « matchs » donnée deux fois"),
            (["--propres", "score.json"] + tricheurs, "score.json : pas un rapport de contrôle : « lignes[0].score »"),
            (["--calibration", "rapport.json", "--echantillons", "signature.partiel"], "signature.partiel : pas un "),
            (["--calibration", "rapport.json", "--echantillons", "version.partiel"], "version.partiel : résultat "
             "partiel de version 2 inconnue"),
            (["--calibration", "rapport.json", "--echantillons", "controler.partiel"], "controler.partiel : résultat "
             "partiel de controler, pas de calibrer"),
            (["--calibration", "rapport.json", "--echantillons", "tronque.partiel"], "tronque.partiel : résultat "
             "partiel tronqué"),
            (["--calibration", "rapport.json", "--echantillons", "long.partiel"], "long.partiel : résultat partiel de "),
            (["--calibration", "rapport.json", "--echantillons", "corrompu.partiel"], "corrompu.partiel : résultat "
             "partiel corrompu"),
            (["--calibration", "rapport.json", "--echantillons", "deborde.partiel"], "deborde.partiel : résultat "
             "partiel tronqué"),
            (["--calibration", "rapport.json", "--echantillons", "refus.partiel"], "refus.partiel : calibration "
             "refusée : lot de calibration invalide m1"),
            (["--calibration", "rapport.json", "--echantillons", "autre.partiel"], "autre.partiel : ne correspond pas "
             "à rapport.json : matchs 4 au lieu de 3"),
            (["--calibration", "rapport.json", "--sortie", "absent/r.html"], "absent/r.html : No such file"),
            (["--propres", "propres.json", "--tricheurs", "snap.json", "--json", "dossier.json"],
             "dossier.json : Is a directory"),
        ]
        for args, debut in cas:
            with self.subTest(args=args):
                self.ecrire("r.html", b"ancien")
                fin = self.lancer("--sortie", "r.html", *args)
                self.assertEqual(fin.returncode, 1)
                self.assertEqual(fin.stdout, "")
                self.assertTrue(fin.stderr.startswith(debut), fin.stderr)
                self.assertEqual(fin.stderr.count("\n"), 1, fin.stderr)
                with open(os.path.join(self.dossier, "r.html"), "rb") as f:
                    self.assertEqual(f.read(), b"ancien")
                self.assertFalse(os.path.exists(os.path.join(self.dossier, "sep.json")))
                self.assertEqual([n for n in os.listdir(self.dossier) if n.endswith(".tmp")], [])

        fin = self.lancer("--calibration", "rapport.json")
        self.assertEqual(fin.returncode, 1)
        self.assertTrue(fin.stderr.startswith("--sortie est obligatoire\nusage :\n"), fin.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
