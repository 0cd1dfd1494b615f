#!/usr/bin/env bash
# Recording benchmark on Linux: records an animated X window (ico) on a private Xvfb for
# DUREE seconds with vextrel, then has ffmpeg do the same job in the same run (x11grab of the
# window's region, scaled and padded into 1280x720, libx264 veryfast at the same constant bit
# rate, Matroska). Reports CPU seconds per recorded second and lost ticks for both, and the
# ratio of the CPU figures.
#
# usage: bench/enregistrement_x11.sh [path/to/vextrel]   (DUREE=20 REPETITIONS=1 by default)
set -euo pipefail

racine=$(cd "$(dirname "$0")/.." && pwd)
vextrel=${1:-$racine/build/linux/src/bin/vextrel/vextrel}
duree=${DUREE:-20}
repetitions=${REPETITIONS:-1}
[ -x "$vextrel" ] || { echo "vextrel introuvable : $vextrel (cmake --build --preset linux --target vextrel)" >&2; exit 1; }
for outil in Xvfb ico ffmpeg ffprobe xwininfo; do
    command -v "$outil" >/dev/null || { echo "$outil manquant (scripts/dependances.sh)" >&2; exit 1; }
done

travail=$(mktemp -d "${TMPDIR:-/tmp}/bench-enregistrement.XXXXXX")
pid_x=""
pid_client=""
nettoyer() {
    [ -n "$pid_client" ] && kill "$pid_client" 2>/dev/null || true
    [ -n "$pid_x" ] && kill "$pid_x" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$travail"
}
trap nettoyer EXIT

# A private server on the first free display from :90 up: ours once its lock file names it.
for n in $(seq 90 189); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    pid_x=$!
    for _ in $(seq 100); do
        [ "$(cat "/tmp/.X$n-lock" 2>/dev/null | tr -d ' ')" = "$pid_x" ] && [ -e "/tmp/.X11-unix/X$n" ] && break
        kill -0 "$pid_x" 2>/dev/null || break
        sleep 0.05
    done
    if kill -0 "$pid_x" 2>/dev/null && [ "$(cat "/tmp/.X$n-lock" 2>/dev/null | tr -d ' ')" = "$pid_x" ]; then
        export DISPLAY=":$n"
        sleep 0.2
        break
    fi
    kill "$pid_x" 2>/dev/null || true
    pid_x=""
done
[ -n "$pid_x" ] || { echo "aucun affichage libre pour Xvfb" >&2; exit 1; }

# The animated client: a solid icosahedron bouncing in an 800x600 window.
ico -faces -geometry 800x600+40+30 >/dev/null 2>&1 &
pid_client=$!
fenetre=""
for _ in $(seq 100); do
    fenetre=$(xwininfo -root -children 2>/dev/null | awk '/"Ico[:"]/ {print $1; exit}')
    [ -n "$fenetre" ] && break
    sleep 0.05
done
[ -n "$fenetre" ] || { echo "la fenêtre d'ico n'est pas apparue" >&2; exit 1; }
geometrie=$(xwininfo -id "$fenetre")
x=$(awk '/Absolute upper-left X/ {print $NF}' <<<"$geometrie")
y=$(awk '/Absolute upper-left Y/ {print $NF}' <<<"$geometrie")
l=$(awk '/Width:/ {print $NF}' <<<"$geometrie")
h=$(awk '/Height:/ {print $NF}' <<<"$geometrie")

# Frames in the file, ticks missing between its first and last frame (gaps of more than one
# frame period at 30 per second), and the video's duration by its time stamps.
analyser() {
    ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of csv=p=0 "$1" |
        sort -g | awk '
            NF { t[n++] = $1 }
            END {
                perdues = 0
                for (i = 1; i < n; i++) {
                    ecart = (t[i] - t[i-1]) * 30
                    if (ecart > 1.5) perdues += int(ecart + 0.5) - 1
                }
                printf "%d %d %.2f\n", n, perdues, (n > 0) ? t[n-1] - t[0] + 1 / 30 : 0
            }'
}

# CPU (user + system, children included) of one command, in seconds.
TIMEFORMAT='%U %S'
mesurer() {
    local sortie=$1
    shift
    { time "$@" >"$sortie.out" 2>"$sortie.err"; } 2>"$sortie.temps"
    awk '{printf "%.2f\n", $1 + $2}' "$sortie.temps"
}

printf 'fenêtre %s (%sx%s à %s,%s) sur %s, %s s par enregistrement\n' "$fenetre" "$l" "$h" "$x" "$y" "$DISPLAY" "$duree"
# A recorded second is 30 frames: a recorder that drops frames also spares their encoding.
printf '%-8s %8s %7s %10s %12s %12s %8s\n' outil "cpu (s)" images "durée (s)" "cpu/s images" "cpu/s durée" perdus
ligne() {
    awk -v o="$1" -v c="$2" -v n="$3" -v d="$4" -v p="$5" 'BEGIN {
        printf "%-8s %8.2f %7d %10.2f %12.4f %12.4f %8d\n", o, c, n, d, (n > 0) ? c / (n / 30) : 0, (d > 0) ? c / d : 0, p
    }'
}
somme_v=0
somme_f=0
somme_dv=0
somme_df=0
for r in $(seq "$repetitions"); do
    cpu_v=$(mesurer "$travail/v$r" "$vextrel" ico "$duree" "$travail/v$r.mkv")
    read -r images_v perdues_v duree_v < <(analyser "$travail/v$r.mkv")
    cpu_f=$(mesurer "$travail/f$r" ffmpeg -hide_banner -nostdin -y -f x11grab -draw_mouse 0 -framerate 30 \
        -video_size "${l}x${h}" -i "$DISPLAY+$x,$y" -t "$duree" \
        -vf "scale=1280:720:force_original_aspect_ratio=decrease,pad=1280:720:(ow-iw)/2:(oh-ih)/2,format=nv12" \
        -c:v libx264 -preset veryfast -tune zerolatency -profile:v high -bf 0 -g 60 \
        -b:v 2500k -maxrate 2500k -bufsize 1250k -f matroska "$travail/f$r.mkv")
    read -r images_f perdues_f duree_f < <(analyser "$travail/f$r.mkv")
    ligne vextrel "$cpu_v" "$images_v" "$duree_v" "$perdues_v"
    ligne ffmpeg "$cpu_f" "$images_f" "$duree_f" "$perdues_f"
    somme_v=$(awk -v a="$somme_v" -v c="$cpu_v" -v n="$images_v" 'BEGIN{print a + ((n > 0) ? c / (n / 30) : 0)}')
    somme_f=$(awk -v a="$somme_f" -v c="$cpu_f" -v n="$images_f" 'BEGIN{print a + ((n > 0) ? c / (n / 30) : 0)}')
    somme_dv=$(awk -v a="$somme_dv" -v c="$cpu_v" -v d="$duree_v" 'BEGIN{print a + ((d > 0) ? c / d : 0)}')
    somme_df=$(awk -v a="$somme_df" -v c="$cpu_f" -v d="$duree_f" 'BEGIN{print a + ((d > 0) ? c / d : 0)}')
done
awk -v v="$somme_v" -v f="$somme_f" -v dv="$somme_dv" -v df="$somme_df" 'BEGIN {
    if (f > 0) printf "rapport vextrel / ffmpeg, cpu par seconde d'\''images (30 images) : %.2f\n", v / f
    if (df > 0) printf "rapport vextrel / ffmpeg, cpu par seconde de durée : %.2f\n", dv / df
}'
