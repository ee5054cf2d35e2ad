#!/usr/bin/env bash
# Interprets a capture of at least SENTENCES NMEA sentences (the real
# captures of ../shared/testdata/nmea repeated) with "tervolin nmea FILE"
# (under Wine, start-up included, events to /dev/null) and with gpsd's
# gpsdecode on the same file, in one run; then measures the serial latency
# from a sentence written to a pseudo-terminal port to its Input event.
#   bench/nmea.sh [SENTENCES] [LATENCY_SENTENCES]    (default 1000000 1000)
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TERVOLIN_BUILD_DIR:-$top/build}"
sentences="${1:-1000000}"
latency_sentences="${2:-1000}"
captures="${TERVOLIN_TESTDATA_LINUX:-$top/../shared/testdata}/nmea"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$top/scripts/build" >/dev/null
export TERVOLIN_WINEPREFIX="${TERVOLIN_WINEPREFIX:-$build/wineprefix}"
export WINEPREFIX="$TERVOLIN_WINEPREFIX"
"$top/scripts/wine-session" start
trap 'rm -rf "$work"; "$top/scripts/wine-session" stop' EXIT

# The captures one after another, each ending with a line end, repeated
# until the file holds enough sentences.
for f in "$captures"/*.nmea; do cat "$f"; tail -c1 "$f" | grep -q . && echo; done >"$work/set.nmea"
per_set=$(grep -c '^\$' "$work/set.nmea")
repeats=$(( (sentences + per_set - 1) / per_set ))
for _ in $(seq "$repeats"); do cat "$work/set.nmea"; done >"$work/capture.nmea"
total=$(grep -c '^\$' "$work/capture.nmea")
echo "capture: $total sentences, $(( $(stat -c %s "$work/capture.nmea") / 1048576 )) MiB"

measure() {
    local name="$1"; shift
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null
    read -r seconds user system <"$work/time"
    printf '%-40s %7.2f s elapsed %7.2f s cpu %10.0f sentences/s\n' "$name" "$seconds" \
        "$(echo "$user + $system" | bc -l)" "$(echo "$total / $seconds" | bc -l)"
    echo "$seconds" >"$work/last"
}

measure "tervolin nmea FILE" "$top/scripts/wine-run" "$build/bin/tervolin.exe" nmea "Z:$work/capture.nmea"
tervolin=$(cat "$work/last")
measure "gpsdecode < FILE" bash -c 'gpsdecode <"$0"' "$work/capture.nmea"
gpsdecode=$(cat "$work/last")
printf '%-40s %7.2fx\n' "tervolin sentences/s / gpsdecode's" "$(echo "$gpsdecode / $tervolin" | bc -l)"

python3 "$top/bench/nmea_latency.py" "$build" "$WINEPREFIX" "$latency_sentences"
