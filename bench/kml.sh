#!/usr/bin/env bash
# Times "tervolin convert kml" (under Wine, start-up included) on a generated
# KML document of placemarks in folders against GPSBabel 1.8 reading the
# same placemarks and writing its Magellan format, in one run: once as KML
# editors format it, once with the same document on a single line. Then
# the one-line document once more, fetched over http from a local server,
# and last a large document of valid placemarks (default 200 MB; 0 leaves it
# out), generated and removed again. Every row gives the peak memory.
#   bench/kml.sh [PLACEMARKS [LARGE_MB]]     (default 100000 200)
set -euo pipefail
placemarks="${1:-100000}"
large_mb="${2:-200}"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

python3 "$top/bench/generate_kml.py" "$work/formatted.kml" "$placemarks" "$work/formatted-parts"

# The same bytes without line breaks and indentation.
one_line() {
    sed 's/^ *//' "$1" | tr -d '\n' >"$2"
}
one_line "$work/formatted.kml" "$work/one-line.kml"
mkdir -p "$work/one-line-parts"
for f in "$work"/formatted-parts/*.kml; do one_line "$f" "$work/one-line-parts/$(basename "$f")"; done

# GPSBabel's Magellan writers refuse more than 500 waypoints per file: it
# converts the same placemarks in files of 500, and the whole document to
# GPX for its reading speed in one piece.
gpsbabel_parts='for f in "$0"/*.kml; do gpsbabel -w -i kml -f "$f" -o magellanx -F "$f.upt"; done'

for form in formatted one-line; do
    echo "KML: $placemarks placemarks in folders, $form, $(du -m "$work/$form.kml" | cut -f1) MB"
    measure "tervolin convert kml" "$top/scripts/wine-run" "$host" convert kml --quiet "$work/$form.kml" "$work/t.upt"
    t_kml=$(cat "$work/last")
    echo "$elapsed" >"$work/$form.elapsed"
    measure "gpsbabel kml -> magellanx, $(( (placemarks + 499) / 500 )) files of 500" \
        bash -c "$gpsbabel_parts" "$work/$form-parts"
    g_parts=$(cat "$work/last")
    measure "gpsbabel kml -> gpx, one file" gpsbabel -w -i kml -f "$work/$form.kml" -o gpx -F "$work/g.gpx"
    g_whole=$(cat "$work/last")
    echo "waypoints written: $(grep -c '^\$PMGNWPL' "$work/t.upt")"
    ratio "gpsbabel magellanx parts cpu / tervolin cpu" "$g_parts" "$t_kml"
    ratio "gpsbabel one-file gpx cpu / tervolin cpu" "$g_whole" "$t_kml"
done
ratio "one-line / formatted elapsed" "$(cat "$work/one-line.elapsed")" "$(cat "$work/formatted.elapsed")"
rm -rf "$work"/formatted-parts "$work"/one-line-parts "$work/formatted.kml"

# Over http from a server on 127.0.0.1 (the document arrives in pieces).
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work" >/dev/null 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null; rm -rf "$work"; "$top/scripts/wine-prefix" stop' EXIT
for _ in $(seq 50); do
    python3 -c "import urllib.request, sys; urllib.request.urlopen(sys.argv[1])" "http://127.0.0.1:$port/" \
        2>/dev/null && break
    sleep 0.1
done
measure "tervolin convert kml http://.../one-line.kml" "$top/scripts/wine-run" "$host" convert kml --quiet \
    "http://127.0.0.1:$port/one-line.kml" "$work/h.upt"
echo "waypoints written: $(grep -c '^\$PMGNWPL' "$work/h.upt")"

# A large document of valid placemarks: whether it converts, and in how
# much memory (bench/generate_kml.py writes about 260 bytes per placemark).
if [ "$large_mb" -gt 0 ]; then
    count=$((large_mb * 1000000 / 260))
    python3 "$top/bench/generate_kml.py" "$work/large.kml" "$count"
    echo "KML: $(du -m "$work/large.kml" | cut -f1) MB, $count placemarks"
    measure "tervolin convert kml" "$top/scripts/wine-run" "$host" convert kml --quiet "$work/large.kml" \
        "$work/large.upt" 2>"$work/errors" || echo "failed: $(tail -1 "$work/errors")"
    [ -f "$work/large.upt" ] && echo "waypoints written: $(grep -c '^\$PMGNWPL' "$work/large.upt")"
    rm -f "$work/large.kml" "$work/large.upt"
fi
