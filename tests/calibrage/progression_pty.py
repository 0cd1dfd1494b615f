#!/usr/bin/python3
"""The progress line of convertir and controler, as a person at a terminal and a script see it.

The second input is a named pipe fed in two halves a second apart, so the work
lasts long enough for the line to be drawn however fast the machine is.
- stderr on a pseudo-terminal: progress lines, then one erase (spaces and a
  carriage return), then exactly the summary of a run without them;
- stderr on a pipe: exactly the summary, not one byte more.

Usage: progression_pty.py <calibrage>
"""
import os
import pty
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
import tty

CALIBRAGE = sys.argv[1]
signal.alarm(120)


def instantanes(debut, nombre):
    return "".join(
        '{"matchId":"m1","localPlayerId":"p","localEntityId":"e0","localTeamId":1,'
        f'"timestampMs":{debut + 16 * i},"camera":{{"x":0,"y":0,"z":0}},"yawDeg":{i % 90},'
        '"pitchDeg":0,"shotFired":true,"weaponId":"ak","players":[{"entityId":"e1","teamId":2,'
        '"isAlive":true,"isVisibleFromLocalPlayer":true,"aimPoint":{"x":10,"y":1,"z":0}}]}\n'
        for i in range(nombre)
    ).encode()


def trames(debut, nombre):
    return "".join(
        f'{{"matchId":"m{(debut + i) % 7}","playerId":"p","timestampMs":{debut + 16 * i},"yawDeg":{i % 90}}}\n'
        for i in range(nombre)
    ).encode()


def lancer(dossier, stderr_terminal, controle=False):
    """Runs convertir (or controler) on a.jsonl and a pipe fed with a pause; returns (stdout, stderr, status,
    summary)."""
    a = os.path.join(dossier, "a.jsonl")
    with open(a, "wb") as f:
        f.write(trames(0, 20000) if controle else instantanes(0, 2000))
    tube = os.path.join(dossier, "b.jsonl")
    if os.path.exists(tube):
        os.unlink(tube)
    os.mkfifo(tube)
    contenu = trames(1000000, 30000) if controle else instantanes(100000, 3000)

    def alimenter():
        with open(tube, "wb") as f:  # waits for calibrage to open it
            f.write(contenu[: len(contenu) // 2])
            f.flush()
            time.sleep(1.5)
            f.write(contenu[len(contenu) // 2 :])

    sortie = os.path.join(dossier, "trames.jsonl")
    ecrivain = threading.Thread(target=alimenter)
    ecrivain.start()
    commande = [CALIBRAGE, "controler", "--sortie", sortie, a, tube] if controle else [
        CALIBRAGE, "convertir", "--sortie", sortie, a, tube]
    if stderr_terminal:
        maitre, esclave = pty.openpty()
        tty.setraw(esclave)  # bytes as written: no LF to CR LF translation
        p = subprocess.Popen(commande, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=esclave)
        os.close(esclave)
        erreurs = b""
        while True:
            try:
                morceau = os.read(maitre, 65536)
            except OSError:  # EIO once the program has closed the terminal
                break
            if not morceau:
                break
            erreurs += morceau
        os.close(maitre)
        stdout = p.stdout.read()
    else:
        p = subprocess.Popen(commande, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        stdout, erreurs = p.communicate()
    p.wait()
    ecrivain.join()
    resume = f"5000 instantané(s) lus, 5000 trame(s) écrites : {sortie}\n".encode()
    if controle:
        resume = "seuils par défaut du moteur (pas de --rapport)\n14 match(s) analysés (0 invalides ignorés) · 0 à REVIEW ou plus = 0.0 %\n".encode()
    return stdout, erreurs, p.returncode, resume


def verifier(condition, message):
    if not condition:
        print("ÉCHEC :", message, file=sys.stderr)
        sys.exit(1)


def verifier_tout(controle):
    with tempfile.TemporaryDirectory() as dossier:
        stdout, erreurs, statut, resume = lancer(dossier, stderr_terminal=False, controle=controle)
        attendu_sortie = stdout
        verifier(statut == 0 and (controle or stdout == b""), f"statut {statut}, sortie {stdout!r}")
        verifier(erreurs.startswith(resume) if controle else erreurs == resume, f"sur un tube, stderr = {erreurs!r}")
        resume = erreurs

        stdout, erreurs, statut, _ = lancer(dossier, stderr_terminal=True, controle=controle)
        verifier(statut == 0 and stdout == attendu_sortie, f"statut {statut}, sortie {stdout!r}")
        verifier(erreurs.endswith(resume), f"sur un terminal, stderr ne finit pas par le résumé : {erreurs[-300:]!r}")
        avant = erreurs[: -len(resume)].decode()
        # Each drawing starts with a CR; the last one is the erase: spaces, then a CR.
        morceaux = avant.split("\r")
        verifier(len(morceaux) >= 4 and morceaux[0] == "" and morceaux[-1] == "", f"lignes : {avant!r}")
        lignes, effacement = morceaux[1:-2], morceaux[-2]
        verifier(all(re.fullmatch(r"lu \d+ Mo, \d+(,\d)? Mo/s *", l) for l in lignes), f"lignes : {lignes!r}")
        verifier(
            effacement.strip(" ") == "" and len(effacement) >= max(len(l) for l in lignes),
            f"effacement : {effacement!r}",
        )
        commande = "controler" if controle else "convertir"
        print(f"{commande} : {len(lignes)} ligne(s) de progression, effacées avant le résumé ; rien sur un tube")


verifier_tout(controle=False)
verifier_tout(controle=True)
