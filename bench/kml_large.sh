#!/usr/bin/env bash
# Peak memory and time of "tervolin convert kml" (under Wine, start-up
# included) on generated KML documents of the given sizes in MB (default
# 100 and 200): whether a document converts or fails with words, and what
# the process needed for it. The documents are removed at the end.
#   bench/kml_large.sh [MB...]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100 200)

# bench/generate_kml.py writes about 260 bytes per placemark.
for mb in "${sizes[@]}"; do
    python3 "$top/bench/generate_kml.py" "$work/large.kml" $((mb * 1000000 / 260))
    echo "KML: $(du -m "$work/large.kml" | cut -f1) MB, $((mb * 1000000 / 260)) placemarks"
    measure "tervolin convert kml" "$top/scripts/wine-run" "$host" convert kml --quiet "$work/large.kml" \
        "$work/large.upt" 2>"$work/errors" || true
    echo "standard error: $(tail -1 "$work/errors" 2>/dev/null || true)"
    [ -f "$work/large.upt" ] && echo "waypoints written: $(grep -c '^\$PMGNWPL' "$work/large.upt")"
    rm -f "$work/large.kml" "$work/large.upt"
done
