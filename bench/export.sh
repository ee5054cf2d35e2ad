#!/usr/bin/env bash
# Times tervolin export (under Wine, start-up included) of a generated track
# log against GPSBabel 1.8 reading the same log and writing GPX, in one run:
# elapsed time, processor time and peak memory of each.
#   bench/export.sh [TRACK_POINTS]     (default 1000000)
set -euo pipefail
points="${1:-1000000}"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

python3 "$top/bench/generate_log.py" "$work/track.log" "$points"

echo "track log: $points points, $(du -h "$work/track.log" | cut -f1)"
measure "tervolin export (GPX)" "$top/scripts/wine-run" "$host" export --quiet "$work/track.log" "$work/track.gpx"
t_gpx=$(cat "$work/last")
measure "tervolin export (KML)" "$top/scripts/wine-run" "$host" export --quiet "$work/track.log" "$work/track.kml"
measure "gpsbabel magellanx -> gpx" gpsbabel -t -i magellanx -f "$work/track.log" -o gpx -F "$work/gb.gpx"
g_gpx=$(cat "$work/last")
ratio "gpsbabel cpu / tervolin cpu (GPX)" "$g_gpx" "$t_gpx"
