#!/usr/bin/env bash
# Times the OziExplorer conversions of tervolin.exe (under Wine, start-up
# included) against GPSBabel 1.8 on the same generated files, in one run,
# with the peak memory of each.
#   bench/convert.sh [TRACK_POINTS] [WAYPOINTS] [LARGE_FACTOR]
#                                          (default 1000000 100000 10)
# The large track is the track's points LARGE_FACTOR times over (10:
# 10,000,000 points, 700 MB); it is removed with its output at the end.
# GPSBabel is left out of that row: it holds every point in memory and
# would take minutes. Its time per point against the track's shows whether
# the conversion's time is linear in the file's size.
set -euo pipefail
points="${1:-1000000}"
waypoints="${2:-100000}"
factor="${3:-10}"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

python3 "$top/bench/generate_ozi.py" "$work" "$points" "$waypoints"
{
    head -n 6 "$work/track.plt"
    for ((i = 0; i < factor; ++i)); do tail -n +7 "$work/track.plt"; done
} >"$work/large.plt"

# GPSBabel's Magellan writers take at most 500 waypoints per file.
gpsbabel_waypoint_parts='for f in "$0"/waypoints-500/*.wpt; do gpsbabel -w -i ozi -f "$f" -o magellanx -F "$f.upt"; done'

echo "track: $points points, waypoints: $waypoints, large track: $((points * factor)) points" \
    "($(($(stat -c %s "$work/large.plt") / 1000000)) MB)"
measure "tervolin convert track" "$top/scripts/wine-run" "$host" convert track "$work/track.plt" "$work/track.log"
t_track=$(cat "$work/last")
t_track_elapsed=$elapsed
measure "gpsbabel ozi -> magellanx (track)" gpsbabel -t -i ozi -f "$work/track.plt" -o magellanx -F "$work/gb.log"
g_track=$(cat "$work/last")
g_track_elapsed=$elapsed
measure "tervolin convert track (large)" "$top/scripts/wine-run" "$host" convert track "$work/large.plt" "$work/large.log"
t_large=$(cat "$work/last")
rm -f "$work/large.plt" "$work/large.log"
measure "tervolin convert waypoints" "$top/scripts/wine-run" "$host" convert waypoints "$work/waypoints.wpt" "$work/w.upt"
t_wpt=$(cat "$work/last")
t_wpt_elapsed=$elapsed
measure "gpsbabel magellanx, $((waypoints / 500)) files of 500" bash -c "$gpsbabel_waypoint_parts" "$work"
g_wpt_parts=$(cat "$work/last")
g_wpt_elapsed=$elapsed
ratio "track: gpsbabel cpu / tervolin cpu" "$g_track" "$t_track"
ratio "track: gpsbabel elapsed / tervolin elapsed" "$g_track_elapsed" "$t_track_elapsed"
ratio "large track: cpu per point / track's" "$(echo "$t_large / $factor" | bc -l)" "$t_track"
ratio "waypoints: gpsbabel cpu / tervolin cpu" "$g_wpt_parts" "$t_wpt"
ratio "waypoints: gpsbabel elapsed / tervolin elapsed" "$g_wpt_elapsed" "$t_wpt_elapsed"
