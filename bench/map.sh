#!/usr/bin/env bash
# Writes a large map with one layer removed through "tervolin map edit" and
# through the map wizard (driven as a user would by the wizard's test
# program) and compares both with a plain cp of the same file in the same
# run; prints the peak resident memory of each.
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
sync; cat "$work/large.imi" >/dev/null # every run reads from the page cache
measure_throughput "cp" cp "$work/large.imi" "$work/copy.imi"
cp_seconds=$elapsed
# Each run starts without the previous one's output waiting to be written.
rm -f "$work/copy.imi"; sync
measure_throughput "tervolin map edit --remove Layer_050" \
    "$top/scripts/wine-run" "$host" map edit "Z:$work/large.imi" "Z:$work/edited.imi" --remove Layer_050
edit_seconds=$elapsed
rm -f "$work/edited.imi"; sync
export TERVOLIN_BIN="Z:$build/bin" TERVOLIN_SOURCE="Z:$top" TERVOLIN_MEASURE_SOURCE="Z:$work/large.imi" \
    TERVOLIN_MEASURE_DESTINATION="Z:$work/wizard.imi" TERVOLIN_MEASURE_REMOVE=Layer_050
measure_throughput "map wizard, Layer_050 removed" \
    "$top/scripts/wine-run" "$build/tests/map/map_wizard_tests.exe" --gtest_filter=MapWizardTest.MeasuredSave
wizard_seconds=$elapsed
[ -s "$work/wizard.imi" ] || { echo "the wizard wrote no map" >&2; exit 1; }
printf '%-44s %7.2fx the time of cp\n' "ratio map edit / cp" "$(echo "$edit_seconds / $cp_seconds" | bc -l)"
printf '%-44s %7.2fx the time of cp\n' "ratio wizard / cp" "$(echo "$wizard_seconds / $cp_seconds" | bc -l)"
printf '%-44s %7.2fx\n' "ratio wizard / map edit" "$(echo "$wizard_seconds / $edit_seconds" | bc -l)"
"$top/scripts/wine-run" "$host" map list "Z:$work/wizard.imi" | tail -n 1
