#!/usr/bin/python3
"""Le rapport d'une petite cohorte générée (generer_cohorte, calibrage convertir, calibrer, controler),
rendu par Chromium sans tête : la page n'est pas blanche, toutes ses figures sont là, la console est muette."""

import os
import subprocess
import sys
import tempfile
import unittest

from PIL import Image

RACINE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
OUTIL = os.path.join(RACINE, "outils", "rapport-analyste")
CALIBRAGE = os.environ.get("CALIBRAGE", os.path.join(RACINE, "build/linux/src/bin/calibrage/calibrage"))
GENERER = os.environ.get("GENERER_COHORTE", os.path.join(RACINE, "build/linux/outils/generer_cohorte"))
CHROMIUM = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--enable-logging=stderr", "--hide-scrollbars", "--window-size=1280,6000"]


def lancer(*args, **kw):
    fin = subprocess.run(list(args), capture_output=True, text=True, timeout=180, **kw)
    if fin.returncode != 0:
        raise AssertionError(f"{' '.join(args)} : statut {fin.returncode}\n{fin.stderr}")
    return fin


class Navigateur(unittest.TestCase):
    def test_rendu(self):
        with tempfile.TemporaryDirectory(prefix="rapport-navigateur-") as dossier:
            def chemin(nom):
                return os.path.join(dossier, nom)
            for nom, profil, graine in (("calibration", "humain", 1), ("propres", "humain", 2), ("snap", "snap", 3)):
                lancer(GENERER, "--profil", profil, "--matchs", "3", "--graine", str(graine), "--duree-s", "40",
                       "--prefixe", nom, "--sortie", chemin(nom + "-instantanes.jsonl"))
                lancer(CALIBRAGE, "convertir", "--sortie", chemin(nom + ".jsonl"), chemin(nom + "-instantanes.jsonl"))
            lancer(CALIBRAGE, "calibrer", "--cohorte", "essai / souris / 64 Hz", "--sortie", chemin("rapport.json"),
                   chemin("calibration.jsonl"))
            # Les échantillons des histogrammes, tels que calibrer les écrit ; l'outil les confronte au rapport.
            lancer(CALIBRAGE, "calibrer", "--cohorte", "essai / souris / 64 Hz", "--partiel", chemin("cal.partiel"),
                   chemin("calibration.jsonl"))
            for nom in ("propres", "snap"):
                lancer(CALIBRAGE, "controler", "--rapport", chemin("rapport.json"), "--sortie",
                       chemin(f"controle-{nom}.json"), chemin(nom + ".jsonl"))
            lancer("/usr/bin/python3", OUTIL, "--sortie", chemin("rapport.html"), "--calibration",
                   chemin("rapport.json"), "--echantillons", chemin("cal.partiel"),
                   "--propres", chemin("controle-propres.json"), "--tricheurs",
                   "snap=" + chemin("controle-snap.json"))
            with open(chemin("rapport.html"), encoding="utf-8") as f:
                page = f.read()
            self.assertNotIn("Sans <code>--echantillons</code>", page)
            # 4 métriques, 2 populations, la séparation : une figure, un SVG chacune.
            self.assertEqual(page.count("<figure"), 7)
            self.assertEqual(page.count("<svg"), 7)

            fin = lancer(*CHROMIUM, "--user-data-dir=" + chemin("profil"), "--screenshot=" + chemin("page.png"),
                         "file://" + chemin("rapport.html"), cwd=dossier)
            console = [l for l in fin.stderr.splitlines() if ":CONSOLE" in l]
            self.assertEqual(console, [])
            image = Image.open(chemin("page.png")).convert("RGB")
            self.assertEqual(image.size, (1280, 6000))
            couleurs = image.getcolors(maxcolors=1 << 20)
            self.assertGreater(len(couleurs), 50, "page blanche ou presque")
            blanc = {c: n for n, c in couleurs}.get((255, 255, 255), 0)
            self.assertLess(blanc, 0.97 * image.size[0] * image.size[1], "page presque vide")
            if os.environ.get("GARDER_CAPTURE"):
                image.save(os.environ["GARDER_CAPTURE"])


if __name__ == "__main__":
    unittest.main(verbosity=2, argv=sys.argv[:1])
