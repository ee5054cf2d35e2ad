#!/usr/bin/env bash
# Interprets a capture of at least SENTENCES NMEA sentences (the real
# captures of ../shared/testdata/nmea repeated) with "tervolin nmea FILE"
# (under Wine, start-up included, events to /dev/null) and with gpsd's
# gpsdecode on the same file, in one run; then measures the serial latency
# from a sentence written to a pseudo-terminal port to its Input event.
#   bench/nmea.sh [SENTENCES] [LATENCY_SENTENCES]    (default 1000000 1000)
set -euo pipefail
sentences="${1:-1000000}"
latency_sentences="${2:-1000}"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
captures="${TERVOLIN_TESTDATA_LINUX:-$top/../shared/testdata}/nmea"

# The captures one after another, each ending with a line end, repeated
# until the file holds enough sentences.
for f in "$captures"/*.nmea; do cat "$f"; tail -c1 "$f" | grep -q . && echo; done >"$work/set.nmea"
per_set=$(grep -c '^\$' "$work/set.nmea")
repeats=$(( (sentences + per_set - 1) / per_set ))
for _ in $(seq "$repeats"); do cat "$work/set.nmea"; done >"$work/capture.nmea"
total=$(grep -c '^\$' "$work/capture.nmea")
echo "capture: $total sentences, $(( $(stat -c %s "$work/capture.nmea") / 1048576 )) MiB"

# measure_rate NAME COMMAND...: elapsed and processor time, and sentences
# per second over the elapsed time (left in $work/last).
measure_rate() {
    local name="$1"; shift
    run_timed "$@"
    printf '%-40s %7.2f s elapsed %7.2f s cpu %10.0f sentences/s\n' "$name" "$elapsed" "$cpu" \
        "$(echo "$total / $elapsed" | bc -l)"
    echo "$elapsed" >"$work/last"
}

measure_rate "tervolin nmea FILE" "$top/scripts/wine-run" "$host" nmea "Z:$work/capture.nmea"
tervolin=$(cat "$work/last")
measure_rate "gpsdecode < FILE" bash -c 'gpsdecode <"$0"' "$work/capture.nmea"
gpsdecode=$(cat "$work/last")
ratio "tervolin sentences/s / gpsdecode's" "$gpsdecode" "$tervolin"

python3 "$top/bench/nmea_latency.py" "$build" "$WINEPREFIX" "$latency_sentences"
