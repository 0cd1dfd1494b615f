#!/usr/bin/python3
# outils/calibrage-grappe against a real Dask scheduler and two workers on 127.0.0.1, started here
# (setpriv --pdeathsig: they die with this process, however it ends) and stopped by PID.
#   test_grappe.py mecanique   shard order, first error, retry after a killed worker, progress, the
#                              driver's own errors: with tests/grappe/doublure standing in for calibrage
#   test_grappe.py identite    the real calibrage through the driver, byte for byte against one process
import importlib.machinery
import importlib.util
import json
import os
import pty
import re
import signal
import subprocess
import sys
import tempfile
import time
import tty
import unittest

ICI = os.path.dirname(os.path.abspath(__file__))
PILOTE = os.path.join(ICI, "..", "..", "outils", "calibrage-grappe")
DOUBLURE = os.path.join(ICI, "doublure")
CALIBRAGE = os.environ.get("CALIBRAGE", "")
GENERER = os.environ.get("GENERER_COHORTE", "")
DATE = re.compile(rb'"genereLe": "\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ"')
GARDE = ["setpriv", "--pdeathsig", "KILL", "--"]

# Stands in front of the program the workers run: marks its start (which worker, which shard) and
# sleeps, so a test can kill a worker while one of its tasks is running.
LENT = """#!/usr/bin/python3
import os, sys, time
if "--partiel" in sys.argv:
    tranche = os.path.basename(sys.argv[sys.argv.index("--partiel") + 1])
    with open(os.path.join({marques!r}, f"{{tranche}}-{{os.getpid()}}"), "w") as f:
        f.write(str(os.getppid()))
    time.sleep(0.6)
os.execv({reel!r}, [{reel!r}] + sys.argv[1:])
"""


def executer(commande, **kwargs):
    r = subprocess.run(commande, capture_output=True, **kwargs)
    return r.returncode, r.stdout, r.stderr


def vivant(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except FileNotFoundError:
        return False


class Grappe:
    """A scheduler and two workers with one thread each, no nanny: the PID killed is the worker."""

    def __init__(self, dossier):
        self.dossier = dossier
        self.fichier = os.path.join(dossier, "planificateur.json")
        self.journal = open(os.path.join(dossier, "grappe.log"), "wb")
        self.processus = []
        self.travailleurs = []
        self.lancer(["dask-scheduler", "--host", "127.0.0.1", "--port", "0",
                     "--dashboard-address", "127.0.0.1:0", "--scheduler-file", self.fichier])
        limite = time.monotonic() + 60
        while not os.path.exists(self.fichier):
            if time.monotonic() > limite:
                raise RuntimeError("le planificateur ne démarre pas")
            time.sleep(0.1)
        time.sleep(0.1)  # written in one go, but make sure it is complete
        with open(self.fichier) as f:
            self.adresse = json.load(f)["address"]
        from distributed import Client

        self.client = Client(self.adresse, timeout=30)
        self.completer()

    def lancer(self, commande):
        p = subprocess.Popen(GARDE + commande, stdin=subprocess.DEVNULL, stdout=self.journal,
                             stderr=subprocess.STDOUT)
        self.processus.append(p)
        return p

    def completer(self):
        """Back to two live workers."""
        self.travailleurs = [p for p in self.travailleurs if p.poll() is None]
        while len(self.travailleurs) < 2:
            self.travailleurs.append(self.lancer(
                ["dask-worker", "--scheduler-file", self.fichier, "--no-nanny", "--nthreads", "1",
                 "--host", "127.0.0.1", "--dashboard-address", "127.0.0.1:0", "--death-timeout", "30"]))
        limite = time.monotonic() + 60
        while len(self.client.scheduler_info()["workers"]) != 2:
            if time.monotonic() > limite:
                raise RuntimeError("les travailleurs ne s'inscrivent pas")
            time.sleep(0.1)

    def arreter(self):
        self.client.close()
        for p in self.processus:
            if p.poll() is None:
                os.kill(p.pid, signal.SIGKILL)
            p.wait()
        self.journal.close()


class Commun:
    """What both suites check, for the program in `self.programme`."""

    @classmethod
    def setUpClass(cls):
        cls.temporaire = tempfile.TemporaryDirectory(prefix="grappe-")
        cls.dossier = cls.temporaire.name
        cls.grappe = Grappe(cls.dossier)

    @classmethod
    def tearDownClass(cls):
        cls.grappe.arreter()
        cls.temporaire.cleanup()

    def assertCommeUnSeul(self, arguments, programme=None, grappe=None, statut=None, lent=None, pendant=None):
        """The driver (its workers running `lent` when given) gives one process's stdout, stderr, --sortie file
        and status; `pendant` runs while the driver does."""
        programme = programme or self.programme
        grappe = grappe or ["--planificateur", self.grappe.adresse]
        sortie = None
        if "--sortie" in arguments:
            sortie = os.path.join(self.dossier, arguments[arguments.index("--sortie") + 1])
        resultats = []
        for commande in ([programme], [PILOTE, *grappe, "--programme", lent or programme]):
            if sortie:
                with open(sortie, "wb") as f:
                    f.write(b"ancien")
            p = subprocess.Popen(commande + arguments, cwd=self.dossier, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            if pendant and commande[0] == PILOTE:
                pendant()
            flux = p.communicate(timeout=120)
            r = (p.returncode, *flux)
            if sortie:
                with open(sortie, "rb") as f:
                    r += (f.read(),)
            # calibrer's report is dated to the second: the one thing two runs may not share.
            resultats.append(tuple(DATE.sub(b'"genereLe": "-"', x) if isinstance(x, bytes) else x for x in r))
        self.assertEqual(resultats[1], resultats[0], arguments)
        if statut is not None:
            self.assertEqual(resultats[0][0], statut, resultats[0][2])
        return resultats[0]

    def test_travailleur_tue_pendant_une_tache(self):
        marques = tempfile.mkdtemp(dir=self.dossier)
        lent = os.path.join(self.dossier, "lent")
        with open(lent, "w") as f:
            f.write(LENT.format(marques=marques, reel=self.programme))
        os.chmod(lent, 0o755)
        travailleurs = {str(p.pid) for p in self.grappe.travailleurs}
        tuee = []

        def tuer():
            limite = time.monotonic() + 60
            while not tuee and time.monotonic() < limite:
                for nom in os.listdir(marques):
                    with open(os.path.join(marques, nom)) as f:
                        travailleur = f.read()
                    if travailleur in travailleurs:
                        os.kill(int(travailleur), signal.SIGKILL)
                        tuee.append(nom)
                        break
                time.sleep(0.02)
            self.assertTrue(tuee, "aucune tâche n'a démarré")
            # Its task dies with it (it would otherwise sleep on for half a second).
            pid = int(tuee[0].rsplit("-", 1)[1])
            limite = time.monotonic() + 0.3
            while vivant(pid) and time.monotonic() < limite:
                time.sleep(0.01)
            self.assertFalse(vivant(pid))

        self.assertCommeUnSeul(["controler", "--sortie", "tue.json", *self.fichiers], lent=lent, pendant=tuer)
        # The shard of the killed worker ran again elsewhere.
        tranche = tuee[0].rsplit("-", 1)[0]
        self.assertGreater(sum(nom.startswith(tranche + "-") for nom in os.listdir(marques)), 1)
        self.grappe.completer()


class Mecanique(Commun, unittest.TestCase):
    programme = DOUBLURE

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # Eleven files of uneven sizes (one empty) for eight shards: some shards hold several files.
        cls.fichiers = []
        for k, taille in enumerate([3000, 10, 0, 9000, 500, 500, 12000, 40, 7000, 1, 2500]):
            nom = f"f{k:02d}.jsonl"
            with open(os.path.join(cls.dossier, nom), "wb") as f:
                f.write(f"<{nom}>".encode() * (taille // 9) + b"\n")
            cls.fichiers.append(nom)

    def test_tranches_dans_l_ordre_et_options_transmises(self):
        for grappe in (None, ["--local", "2"]):
            for arguments in (["calibrer", "--cohorte", "c / d / 1", *self.fichiers],
                              ["controler", "--rapport", "r.json", "--sortie", "s.json", *self.fichiers],
                              ["controler", self.fichiers[3]]):
                self.assertCommeUnSeul(arguments, grappe=grappe, statut=0)

    def test_la_premiere_erreur_dans_l_ordre_des_arguments_gagne(self):
        fichiers = list(self.fichiers)
        fichiers[9] = "f09-mauvais.jsonl"  # its shard fails first: the fifth file's shard is slow
        fichiers[4] = "f04-mauvais-lent.jsonl"
        _, _, erreur = self.assertCommeUnSeul(["calibrer", "--cohorte", "c", *fichiers], statut=1)
        self.assertEqual(erreur, b"f04-mauvais-lent.jsonl : ligne 3 : mauvais\n")

    def test_progression_sur_un_terminal_effacee_avant_la_sortie(self):
        _, _, attendu = executer([DOUBLURE, "controler", *self.fichiers], cwd=self.dossier)
        maitre, esclave = pty.openpty()
        tty.setraw(esclave)
        p = subprocess.Popen([PILOTE, "--planificateur", self.grappe.adresse, "--programme", DOUBLURE, "controler",
                              *self.fichiers], cwd=self.dossier, stdout=subprocess.DEVNULL, stderr=esclave)
        os.close(esclave)
        texte = b""
        while True:
            try:
                lu = os.read(maitre, 4096)
            except OSError:  # EIO once the last writer is gone
                break
            if not lu:
                break
            texte += lu
        os.close(maitre)
        self.assertEqual(p.wait(), 0)
        self.assertIn(b"calibrage-grappe : tranches 0 / 8", texte)
        self.assertIn(b"calibrage-grappe : tranches 8 / 8\r\x1b[K" + attendu, texte)
        self.assertTrue(texte.endswith(b"\r\x1b[K" + attendu))

    def test_decoupage_contigu_equilibre_jamais_vide(self):
        chargeur = importlib.machinery.SourceFileLoader("pilote", PILOTE)
        pilote = importlib.util.module_from_spec(importlib.util.spec_from_loader("pilote", chargeur))
        chargeur.exec_module(pilote)
        decouper = pilote.decouper
        for tailles, nombre, attendu in (([3, 1, 1, 1, 3], 3, [[0], [1, 2, 3], [4]]),
                                         ([9, 1, 1, 1, 1, 1, 1, 1, 1, 1], 2, [[0], [1, 2, 3, 4, 5, 6, 7, 8, 9]]),
                                         ([1, 1, 1, 1, 1, 1], 4, [[0, 1], [2, 3], [4], [5]]),
                                         ([0, 0, 0], 8, [[0], [1], [2]]),
                                         ([7], 4, [[0]])):
            self.assertEqual(decouper(tailles, nombre), attendu, (tailles, nombre))

    def test_erreurs_du_pilote(self):
        fichier = self.fichiers[0]
        cas = [
            (["--planificateur", "tcp://127.0.0.1:1", "controler", fichier], "planificateur injoignable"),
            (["--local", "1", "--partage", os.path.join(self.dossier, fichier), "controler", fichier],
             "partage inutilisable"),
            (["--local", "1", "--programme", os.path.join(self.dossier, "absent"), "controler", fichier],
             "programme introuvable"),
        ]
        for arguments, motif in cas:
            statut, sortie, erreur = executer([PILOTE, *arguments], cwd=self.dossier)
            self.assertEqual((statut, sortie), (2, b""), arguments)
            self.assertTrue(erreur.startswith(b"calibrage-grappe : ") and erreur.count(b"\n") == 1, erreur)
            self.assertIn(motif.encode(), erreur)
        for arguments in (["controler", fichier], ["--local", "x", "controler", fichier], ["--local"]):
            statut, _, erreur = executer([PILOTE, *arguments], cwd=self.dossier)
            self.assertEqual(statut, 2, arguments)
            self.assertIn(b"\nusage :\n  calibrage-grappe", erreur)

    def test_arguments_que_calibrage_refuse_passent_par_lui(self):
        # calibrage's own argument walk decides: run locally, whatever the value after an option is.
        fichier = self.fichiers[0]
        for arguments in ([], ["controler"], ["calibrer", "--cohorte"], ["controler", "--x", fichier],
                          ["controler", "--sortie", "--rapport"], ["inconnue", fichier],
                          ["convertir", "--sortie", "c.jsonl", fichier]):
            self.assertCommeUnSeul(arguments, programme=CALIBRAGE, statut=1)


class Identite(Commun, unittest.TestCase):
    programme = CALIBRAGE

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # Twelve files of one to three matches, clean players and the three cheats.
        profils = ["humain", "snap", "humain", "trigger", "humain", "wallhack"] * 2
        cls.fichiers = []
        for k, profil in enumerate(profils):
            instantanes = os.path.join(cls.dossier, "instantanes.jsonl")
            nom = f"c{k:02d}.jsonl"
            subprocess.run([GENERER, "--profil", profil, "--matchs", str(1 + k % 3), "--graine", str(k + 1),
                            "--duree-s", "40", "--prefixe", f"m{k:02d}", "--sortie", instantanes],
                           check=True, capture_output=True)
            subprocess.run([CALIBRAGE, "convertir", "--sortie", os.path.join(cls.dossier, nom), instantanes],
                           check=True, capture_output=True)
            cls.fichiers.append(nom)
        subprocess.run([CALIBRAGE, "calibrer", "--cohorte", "g", "--sortie", "rapport.json", *cls.fichiers],
                       cwd=cls.dossier, check=True, capture_output=True)

    def test_calibrer_et_controler_comme_un_seul_processus(self):
        for arguments in (["calibrer", "--cohorte", "jeu / souris / 64 Hz", "--sortie", "r.json", *self.fichiers],
                          ["calibrer", "--cohorte", "  ", *self.fichiers],
                          ["controler", *self.fichiers],
                          ["controler", "--rapport", "rapport.json", "--sortie", "c.json", *self.fichiers],
                          ["controler", "--rapport", "absent.json", *self.fichiers]):
            self.assertCommeUnSeul(arguments)

    def test_erreur_dans_le_cinquieme_fichier(self):
        fichiers = list(self.fichiers)
        for k in (4, 8):
            with open(os.path.join(self.dossier, self.fichiers[k]), "rb") as f:
                lignes = f.read().split(b"\n")
            lignes[2] = lignes[2][:-7]
            fichiers[k] = f"abime-{k}.jsonl"
            with open(os.path.join(self.dossier, fichiers[k]), "wb") as f:
                f.write(b"\n".join(lignes))
        for commande in (["calibrer", "--cohorte", "g"], ["controler"]):
            _, _, erreur = self.assertCommeUnSeul([*commande, *fichiers], statut=1)
            self.assertTrue(erreur.startswith(b"abime-4.jsonl : ligne 3 : "), erreur)

    def test_partiels_abimes_ou_d_une_autre_commande_refuses(self):
        def partiel(commande, nom):
            subprocess.run([CALIBRAGE, *commande, "--partiel", nom, *self.fichiers[:3]], cwd=self.dossier,
                           check=True, capture_output=True)
            with open(os.path.join(self.dossier, nom), "rb") as f:
                return f.read()

        bon = partiel(["controler"], "bon.partiel")
        autre = partiel(["calibrer", "--cohorte", "g"], "autre.partiel")
        milieu = len(bon) // 2
        for nom, octets in (("corrompu.partiel", bon[:milieu] + bytes([bon[milieu] ^ 1]) + bon[milieu + 1:]),
                            ("tronque.partiel", bon[:-5]),
                            ("autre-commande.partiel", autre)):
            with open(os.path.join(self.dossier, nom), "wb") as f:
                f.write(octets)
            fichiers = [*self.fichiers[:4], nom, *self.fichiers[4:]]
            _, _, erreur = self.assertCommeUnSeul(["controler", *fichiers], statut=1)
            self.assertTrue(erreur.startswith(nom.encode() + b" : "), erreur)


if __name__ == "__main__":
    suite = sys.argv.pop(1) if len(sys.argv) > 1 else "mecanique"
    classe = {"mecanique": Mecanique, "identite": Identite}[suite]
    resultat = unittest.TextTestRunner(verbosity=2).run(unittest.defaultTestLoader.loadTestsFromTestCase(classe))
    sys.exit(0 if resultat.wasSuccessful() else 1)
