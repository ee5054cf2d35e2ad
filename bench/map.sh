#!/usr/bin/env bash
# Writes a large map through "tervolin map edit" (one layer removed) and
# compares its throughput with a plain cp of the same file in the same run;
# prints the peak resident memory of both.
#   bench/map.sh [MEGABYTES] [LAYERS]     (default 512 MB, 99 layers = 200 entries)
set -euo pipefail
megabytes="${1:-512}"
layers="${2:-99}"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

python3 "$top/scripts/make-map.py" large "$work/large.imi" --megabytes "$megabytes" --layers "$layers"
bytes=$(stat -c %s "$work/large.imi")

# measure_throughput NAME COMMAND...: elapsed time, throughput over the
# source size and peak resident memory.
measure_throughput() {
    local name="$1"; shift
    run_timed "$@"
    printf '%-44s %7.2f s %8.1f MB/s %8.1f MiB peak\n' "$name" "$elapsed" \
        "$(echo "$bytes / 1000000 / $elapsed" | bc -l)" "$peak_mib"
}

printf 'source: %d bytes, %d entries\n' "$bytes" $((2 * layers + 2))
cat "$work/large.imi" >/dev/null # both runs read from the page cache
measure_throughput "cp" cp "$work/large.imi" "$work/copy.imi"
cp_seconds=$elapsed
rm -f "$work/copy.imi"
measure_throughput "tervolin map edit --remove Layer_050" \
    "$top/scripts/wine-run" "$host" map edit "Z:$work/large.imi" "Z:$work/edited.imi" --remove Layer_050
edit_seconds=$elapsed
printf '%-44s %7.2fx the time of cp\n' "ratio" "$(echo "$edit_seconds / $cp_seconds" | bc -l)"
"$top/scripts/wine-run" "$host" map list "Z:$work/edited.imi" | tail -n 1
