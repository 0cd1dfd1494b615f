// Writes snapshots crowded with opponents for the convertir benchmark
// (bench/commande_convertir_foule.sh). Every player is `["<n>",1,true]`: alive,
// of team 1 (the local player's team is 0), aim point and camera at the
// origin, so each one is a candidate at 0 degrees and lands in the target
// history; past 256 entries every snapshot prunes that history.
//   generer_foule <sortie.jsonl> <mégaoctets> [joueurs par ligne]
// Without a player count the file is one line `{"players":[...]}` of the given
// size. With one, it is lines of that many players at increasing times; each
// line keeps half of the previous line's ids, so the pruning also drops some.
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void ajouter_joueur(std::string& ligne, long id) {
    ligne += "[\"";
    ligne += std::to_string(id);
    ligne += "\",1,true]";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage : generer_foule <sortie.jsonl> <mégaoctets> [joueurs par ligne]\n");
        return 1;
    }
    const double mo = std::atof(argv[2]);
    const long par_ligne = argc == 4 ? std::atol(argv[3]) : 0;
    if (!(mo > 0.0) || par_ligne < 0) {
        std::fprintf(stderr, "generer_foule : taille ou nombre de joueurs invalide\n");
        return 1;
    }
    const auto octets = static_cast<std::size_t>(mo * 1e6);
    std::FILE* f = std::fopen(argv[1], "wb");
    if (f == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::string ligne;
    std::size_t ecrits = 0;
    if (par_ligne == 0) {
        ligne = "{\"players\":[";
        for (long id = 0; ligne.size() + 3 < octets; ++id) {
            if (id > 0) ligne += ',';
            ajouter_joueur(ligne, id);
        }
        ligne += "]}\n";
        ecrits = std::fwrite(ligne.data(), 1, ligne.size(), f);
    } else {
        for (long n = 0; ecrits < octets; ++n) {
            ligne = "{\"timestampMs\":" + std::to_string(n * 16) + ",\"players\":[";
            for (long i = 0; i < par_ligne; ++i) {
                if (i > 0) ligne += ',';
                ajouter_joueur(ligne, n * (par_ligne / 2) + i);
            }
            ligne += "]}\n";
            ecrits += std::fwrite(ligne.data(), 1, ligne.size(), f);
        }
    }
    if (std::fclose(f) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
