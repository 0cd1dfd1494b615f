"""Lecture stricte de ce qu'écrit calibrage : rapport de calibration, rapport de contrôle, résultat partiel.

Chaque défaut devient une Erreur qui nomme le fichier ; le programme l'affiche en une ligne.
"""

import json
import math
import struct
import zlib

import numpy as np

METRIQUES = (
    "visibleAngularVelocityDegPerSec",
    "absAngularAccelerationDegPerSec2",
    "visibilityToActionReactionMs",
    "movingVisibleTargetErrorDeg",
)
PERCENTILES = ("p001", "p01", "p05", "p50", "p95", "p99", "p999")
NOMS_PERCENTILES = {"p001": "p0.1", "p01": "p1", "p05": "p5", "p50": "p50", "p95": "p95", "p99": "p99",
                    "p999": "p99.9"}
RECOMMANDATIONS = (
    "snapVitesseDegS",
    "snapAccelMinDegS2",
    "reactionTresRapideMs",
    "reactionSuspecteMs",
    "suiviExcellentErreurDeg",
)
RECOMMANDATIONS_ENTIERES = ("reactionTresRapideMs", "reactionSuspecteMs")
# Ordre du moteur (bit k du résultat partiel de controler).
CATEGORIES = (
    "AimSnap",
    "MicroCorrection",
    "ReactionTime",
    "VisibleTracking",
    "PreAim",
    "OccludedTracking",
    "VisibilityShotCorrelation",
    "StatisticalPersistence",
)
NIVEAUX = ("NORMAL", "OBSERVE", "REVIEW", "HIGH-RISK", "CRITICAL-REVIEW")

MAGIE_PARTIEL = b"\x89PART\r\n\x1a"
VERSION_PARTIEL = 1
COMMANDE_CALIBRER = 1
COMMANDE_CONTROLER = 2


class Erreur(Exception):
    """Un fichier d'entrée ou de sortie inutilisable : « chemin : raison »."""

    def __init__(self, chemin, raison):
        super().__init__(f"{chemin} : {raison}")
        self.chemin = chemin
        self.raison = raison


class _Forme(Exception):
    pass


class _CleDouble(Exception):
    pass


def _objet_sans_doublon(paires):
    objet = {}
    for cle, valeur in paires:
        if cle in objet:
            raise _CleDouble(cle)
        objet[cle] = valeur
    return objet


def _constante_refusee(nom):
    raise ValueError(f"{nom} n'est pas du JSON")


def _nombre(texte):
    valeur = float(texte)
    if math.isinf(valeur):
        raise ValueError(f"nombre hors limites : {texte}")
    return valeur


def lire_octets(chemin):
    try:
        with open(chemin, "rb") as f:
            return f.read()
    except OSError as e:
        raise Erreur(chemin, e.strerror or str(e)) from None


def lire_json(chemin):
    octets = lire_octets(chemin)
    try:
        texte = octets.decode("utf-8")
    except UnicodeDecodeError as e:
        raise Erreur(chemin, f"texte UTF-8 invalide (octet {e.start})") from None
    try:
        return json.loads(texte, object_pairs_hook=_objet_sans_doublon,
                          parse_constant=_constante_refusee, parse_float=_nombre)
    except json.JSONDecodeError as e:
        raise Erreur(chemin, f"JSON invalide : {e.msg} (ligne {e.lineno}, colonne {e.colno})") from None
    except _CleDouble as e:
        raise Erreur(chemin, f"JSON invalide : clé « {e.args[0]} » donnée deux fois") from None
    except ValueError as e:
        raise Erreur(chemin, f"JSON invalide : {e}") from None
    except RecursionError:
        raise Erreur(chemin, "JSON invalide : imbrication trop profonde") from None


# Contrôles de forme : chaque accès nomme son chemin dans le document (« lignes[3].score »).

def _champ(objet, cle, ou):
    if cle not in objet:
        raise _Forme(f"clé « {ou}{cle} » absente")
    return objet[cle]


def _entier(objet, cle, ou, signe=False):
    v = _champ(objet, cle, ou)
    if isinstance(v, bool) or not isinstance(v, int) or (not signe and v < 0):
        raise _Forme(f"« {ou}{cle} » : entier{'' if signe else ' positif ou nul'} attendu")
    return v


def _flottant(objet, cle, ou):
    v = _champ(objet, cle, ou)
    if v is None:  # calibrage écrit null pour une valeur non finie
        return math.nan
    if isinstance(v, bool) or not isinstance(v, (int, float)):
        raise _Forme(f"« {ou}{cle} » : nombre attendu")
    return float(v)


def _texte(objet, cle, ou):
    v = _champ(objet, cle, ou)
    if not isinstance(v, str):
        raise _Forme(f"« {ou}{cle} » : texte attendu")
    return v


def _liste(objet, cle, ou):
    v = _champ(objet, cle, ou)
    if not isinstance(v, list):
        raise _Forme(f"« {ou}{cle} » : tableau attendu")
    return v


def _est_calibration(doc):
    return isinstance(doc, dict) and "distributions" in doc and "recommandations" in doc


def _est_controle(doc):
    return isinstance(doc, dict) and "lignes" in doc and "reviewOuPlus" in doc


def lire_calibration(chemin):
    doc = lire_json(chemin)
    if _est_controle(doc) and not _est_calibration(doc):
        raise Erreur(chemin, "rapport de controler, pas de calibrer (attendu : calibrage calibrer --sortie)")
    try:
        if not isinstance(doc, dict):
            raise _Forme("objet attendu")
        rapport = {
            "genereLe": _texte(doc, "genereLe", ""),
            "matchs": _entier(doc, "matchs", ""),
            "trames": _entier(doc, "trames", ""),
            "cohorte": _texte(doc, "cohorte", ""),
            "distributions": [],
            "recommandations": {},
            "avertissement": _texte(doc, "avertissement", ""),
        }
        for i, d in enumerate(_liste(doc, "distributions", "")):
            ou = f"distributions[{i}]."
            if not isinstance(d, dict):
                raise _Forme(f"« distributions[{i}] » : objet attendu")
            distribution = {"metrique": _texte(d, "metrique", ou), "echantillons": _entier(d, "echantillons", ou)}
            for p in PERCENTILES:
                distribution[p] = _flottant(d, p, ou)
            rapport["distributions"].append(distribution)
        reco = _champ(doc, "recommandations", "")
        if not isinstance(reco, dict):
            raise _Forme("« recommandations » : objet attendu")
        for cle in RECOMMANDATIONS:
            if cle in RECOMMANDATIONS_ENTIERES:
                rapport["recommandations"][cle] = _entier(reco, cle, "recommandations.", signe=True)
            else:
                rapport["recommandations"][cle] = _flottant(reco, cle, "recommandations.")
    except _Forme as e:
        raise Erreur(chemin, f"pas un rapport de calibration : {e}") from None
    return rapport


def lire_controle(chemin):
    doc = lire_json(chemin)
    if _est_calibration(doc) and not _est_controle(doc):
        raise Erreur(chemin, "rapport de calibrer, pas de controler (attendu : calibrage controler --sortie)")
    try:
        if not isinstance(doc, dict):
            raise _Forme("objet attendu")
        controle = {
            "matchs": _entier(doc, "matchs", ""),
            "invalides": _entier(doc, "invalides", ""),
            "reviewOuPlus": _entier(doc, "reviewOuPlus", ""),
            "tauxReviewOuPlus": _flottant(doc, "tauxReviewOuPlus", ""),
            "lignes": [],
        }
        for i, l in enumerate(_liste(doc, "lignes", "")):
            ou = f"lignes[{i}]."
            if not isinstance(l, dict):
                raise _Forme(f"« lignes[{i}] » : objet attendu")
            score = _flottant(l, "score", ou)
            if not math.isfinite(score):
                raise _Forme(f"« {ou}score » : score non fini")
            niveau = _texte(l, "niveau", ou)
            if niveau not in NIVEAUX:
                raise _Forme(f"« {ou}niveau » : niveau inconnu « {niveau} »")
            categories = _liste(l, "categories", ou)
            for c in categories:
                if c not in CATEGORIES:
                    raise _Forme(f"« {ou}categories » : catégorie inconnue « {c} »")
            controle["lignes"].append({
                "matchId": _texte(l, "matchId", ou),
                "joueurId": _texte(l, "joueurId", ou),
                "score": score,
                "niveau": niveau,
                "categories": categories,
            })
        if controle["matchs"] != len(controle["lignes"]):
            raise _Forme(f"« matchs » vaut {controle['matchs']} pour {len(controle['lignes'])} ligne(s)")
    except _Forme as e:
        raise Erreur(chemin, f"pas un rapport de contrôle : {e}") from None
    if not controle["lignes"]:
        raise Erreur(chemin, "population vide (aucune ligne analysée)")
    return controle


class _Curseur:
    """Lit le corps d'un résultat partiel ; toute longueur qui déborde est une troncature."""

    def __init__(self, octets, debut, fin):
        self.octets, self.pos, self.fin = octets, debut, fin

    def prendre(self, n):
        if n > self.fin - self.pos:
            raise _Forme("tronqué (une longueur dépasse la fin du fichier)")
        debut = self.pos
        self.pos += n
        return debut

    def u64(self):
        return struct.unpack_from("<Q", self.octets, self.prendre(8))[0]

    def u8(self):
        return self.octets[self.prendre(1)]

    def texte(self):
        n = self.u64()
        debut = self.prendre(n)
        try:
            return self.octets[debut:debut + n].decode("utf-8")
        except UnicodeDecodeError:
            raise _Forme(f"invalide : texte non UTF-8 à l'octet {debut}") from None

    def flottants(self):
        n = self.u64()
        if n > (self.fin - self.pos) // 8:
            raise _Forme("tronqué (une longueur dépasse la fin du fichier)")
        return np.frombuffer(self.octets, dtype="<f8", count=n, offset=self.prendre(8 * n))


def lire_partiel(chemin):
    """Le résultat partiel de `calibrage calibrer --partiel` : sources, comptes et les quatre listes."""
    octets = lire_octets(chemin)
    taille = len(octets)
    entete = 24
    if octets[:8] != MAGIE_PARTIEL:
        raise Erreur(chemin, "pas un résultat partiel de calibrage (signature absente)")
    if taille < entete + 4:
        raise Erreur(chemin, f"résultat partiel tronqué ({taille} octets, en-tête incomplet)")
    version, commande, longueur = struct.unpack_from("<IIQ", octets, 8)
    if version != VERSION_PARTIEL:
        raise Erreur(chemin, f"résultat partiel de version {version} inconnue (version lue : {VERSION_PARTIEL})")
    if commande != COMMANDE_CALIBRER:
        autre = "controler" if commande == COMMANDE_CONTROLER else f"commande {commande} inconnue"
        raise Erreur(chemin, f"résultat partiel de {autre}, pas de calibrer")
    if taille < longueur:
        raise Erreur(chemin, f"résultat partiel tronqué ({taille} octets, {longueur} annoncés)")
    if taille > longueur:
        raise Erreur(chemin, f"résultat partiel de {taille} octets, {longueur} annoncés")
    if longueur < entete + 4:
        raise Erreur(chemin, f"résultat partiel invalide (longueur annoncée {longueur})")
    crc = struct.unpack_from("<I", octets, longueur - 4)[0]
    if zlib.crc32(memoryview(octets)[:longueur - 4]) != crc:
        raise Erreur(chemin, "résultat partiel corrompu (somme de contrôle CRC-32 fausse)")
    corps = _Curseur(octets, entete, longueur - 4)
    try:
        sources = [corps.texte() for _ in range(corps.u64())]
        partiel = {"sources": sources, "matchs": corps.u64(), "trames": corps.u64()}
        refus = corps.u8()
        if refus not in (0, 1):
            raise _Forme(f"invalide : octet de refus {refus} (0 ou 1 attendu)")
        partiel["refus"] = corps.texte() if refus else None
        partiel["echantillons"] = {m: corps.flottants() for m in METRIQUES}
        if corps.pos != corps.fin:
            raise _Forme(f"invalide : {corps.fin - corps.pos} octet(s) de trop après les échantillons")
    except _Forme as e:
        raise Erreur(chemin, f"résultat partiel {e}") from None
    if partiel["refus"] is not None:
        raise Erreur(chemin, f"calibration refusée : {partiel['refus']}")
    return partiel


def accorder(partiel, chemin_partiel, rapport, chemin_rapport):
    """Le résultat partiel doit être celui du rapport : mêmes matchs, trames et nombres d'échantillons."""
    ecarts = []
    for cle in ("matchs", "trames"):
        if partiel[cle] != rapport[cle]:
            ecarts.append(f"{cle} {partiel[cle]} au lieu de {rapport[cle]}")
    for d in rapport["distributions"]:
        s = partiel["echantillons"].get(d["metrique"])
        if s is not None and len(s) != d["echantillons"]:
            ecarts.append(f"{len(s)} échantillons de {d['metrique']} au lieu de {d['echantillons']}")
    if ecarts:
        raise Erreur(chemin_partiel, f"ne correspond pas à {chemin_rapport} : " + ", ".join(ecarts))
