#!/usr/bin/env bash
# Times the OziExplorer conversions of tervolin.exe (under Wine, start-up
# included) against GPSBabel 1.8 on the same generated files, in one run.
#   bench/convert.sh [TRACK_POINTS] [WAYPOINTS]     (default 1000000 100000)
set -euo pipefail
points="${1:-1000000}"
waypoints="${2:-100000}"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

python3 "$top/bench/generate_ozi.py" "$work" "$points" "$waypoints"

# GPSBabel's Magellan writers take at most 500 waypoints per file.
gpsbabel_waypoint_parts='for f in "$0"/waypoints-500/*.wpt; do gpsbabel -w -i ozi -f "$f" -o magellanx -F "$f.upt"; done'

echo "track: $points points, waypoints: $waypoints"
measure "tervolin convert track" "$top/scripts/wine-run" "$host" convert track "$work/track.plt" "$work/track.log"
t_track=$(cat "$work/last")
measure "gpsbabel ozi -> magellanx (track)" gpsbabel -t -i ozi -f "$work/track.plt" -o magellanx -F "$work/gb.log"
g_track=$(cat "$work/last")
measure "tervolin convert waypoints" "$top/scripts/wine-run" "$host" convert waypoints "$work/waypoints.wpt" "$work/w.upt"
t_wpt=$(cat "$work/last")
measure "gpsbabel magellanx, $((waypoints / 500)) files of 500" bash -c "$gpsbabel_waypoint_parts" "$work"
g_wpt_parts=$(cat "$work/last")
ratio "track: gpsbabel cpu / tervolin cpu" "$g_track" "$t_track"
ratio "waypoints: gpsbabel cpu / tervolin cpu" "$g_wpt_parts" "$t_wpt"
