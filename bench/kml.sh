#!/usr/bin/env bash
# Times "tervolin convert kml" (under Wine, start-up included) on a generated
# KML document of placemarks in folders against GPSBabel 1.8 reading the
# same placemarks and writing its Magellan format, in one run.
#   bench/kml.sh [PLACEMARKS]     (default 100000)
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TERVOLIN_BUILD_DIR:-$top/build}"
placemarks="${1:-100000}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$top/scripts/build" >/dev/null
export TERVOLIN_WINEPREFIX="${TERVOLIN_WINEPREFIX:-$build/wineprefix}"
export WINEPREFIX="$TERVOLIN_WINEPREFIX"
"$top/scripts/wine-session" start
trap 'rm -rf "$work"; "$top/scripts/wine-session" stop' EXIT

python3 "$top/bench/generate_kml.py" "$work/placemarks.kml" "$placemarks" "$work/parts-500"
host="$build/bin/tervolin.exe"

# measure NAME COMMAND...: prints the elapsed time, the processor time (user
# + system, what the ratios use: elapsed time swings with the machine's
# load) and the peak resident memory.
measure() {
    local name="$1"; shift
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null
    read -r seconds user system kib <"$work/time"
    local cpu
    cpu=$(echo "$user + $system" | bc -l)
    printf '%-44s %7.2f s elapsed %7.2f s cpu %7.1f MiB\n' "$name" "$seconds" "$cpu" "$(echo "$kib / 1024" | bc -l)"
    echo "$cpu" >"$work/last"
}

ratio() {
    printf '%-44s %7.2fx\n' "$1" "$(echo "$2 / $3" | bc -l)"
}

# GPSBabel's Magellan writers refuse more than 500 waypoints per file: it
# converts the same placemarks in files of 500, and the whole document to
# GPX for its reading speed in one piece.
gpsbabel_parts='for f in "$0"/parts-500/*.kml; do gpsbabel -w -i kml -f "$f" -o magellanx -F "$f.upt"; done'

echo "KML: $placemarks placemarks in folders, $(du -m "$work/placemarks.kml" | cut -f1) MB"
measure "tervolin convert kml" "$top/scripts/wine-run" "$host" convert kml "$work/placemarks.kml" "$work/t.upt"
t_kml=$(cat "$work/last")
measure "gpsbabel kml -> magellanx, $(( (placemarks + 499) / 500 )) files of 500" bash -c "$gpsbabel_parts" "$work"
g_parts=$(cat "$work/last")
measure "gpsbabel kml -> gpx, one file" gpsbabel -w -i kml -f "$work/placemarks.kml" -o gpx -F "$work/g.gpx"
g_whole=$(cat "$work/last")
echo "waypoints written: $(grep -c '^\$PMGNWPL' "$work/t.upt")"
ratio "gpsbabel magellanx parts cpu / tervolin cpu" "$g_parts" "$t_kml"
ratio "gpsbabel one-file gpx cpu / tervolin cpu" "$g_whole" "$t_kml"
