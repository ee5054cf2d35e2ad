#!/usr/bin/env bash
# Writes a large map through "tervolin map edit" (one layer removed) and
# compares its throughput with a plain cp of the same file in the same run;
# prints the peak resident memory of both.
#   bench/map.sh [MEGABYTES] [LAYERS]     (default 512 MB, 99 layers = 200 entries)
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TERVOLIN_BUILD_DIR:-$top/build}"
megabytes="${1:-512}"
layers="${2:-99}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$top/scripts/build" >/dev/null
export TERVOLIN_WINEPREFIX="${TERVOLIN_WINEPREFIX:-$build/wineprefix}"
export WINEPREFIX="$TERVOLIN_WINEPREFIX"
"$top/scripts/wine-session" start
trap 'rm -rf "$work"; "$top/scripts/wine-session" stop' EXIT

python3 "$top/scripts/make-map.py" large "$work/large.imi" --megabytes "$megabytes" --layers "$layers"
bytes=$(stat -c %s "$work/large.imi")
host="$build/bin/tervolin.exe"

# measure NAME COMMAND...: elapsed time, throughput over the source size and
# peak resident memory.
measure() {
    local name="$1"; shift
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null
    read -r seconds kib <"$work/time"
    printf '%-44s %7.2f s %8.1f MB/s %8.1f MiB peak\n' "$name" "$seconds" \
        "$(echo "$bytes / 1000000 / $seconds" | bc -l)" "$(echo "$kib / 1024" | bc -l)"
}

printf 'source: %d bytes, %d entries\n' "$bytes" $((2 * layers + 2))
cat "$work/large.imi" >/dev/null # both runs read from the page cache
measure "cp" cp "$work/large.imi" "$work/copy.imi"
cp_seconds=$(cut -d' ' -f1 "$work/time")
rm -f "$work/copy.imi"
measure "tervolin map edit --remove Layer_050" \
    "$top/scripts/wine-run" "$host" map edit "Z:$work/large.imi" "Z:$work/edited.imi" --remove Layer_050
edit_seconds=$(cut -d' ' -f1 "$work/time")
printf '%-44s %7.2fx the time of cp\n' "ratio" "$(echo "$edit_seconds / $cp_seconds" | bc -l)"
"$top/scripts/wine-run" "$host" map list "Z:$work/edited.imi" | tail -n 1
