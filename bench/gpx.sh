#!/usr/bin/env bash
# Times the GPX conversion of tervolin.exe (under Wine, start-up included)
# against GPSBabel 1.8's GPX reader and Magellan writer on the same
# generated files, in one run, and the two XML readers of Windows (MSXML's
# SAX2 reader, which the import uses, and XmlLite) on the same track.
#   bench/gpx.sh [TRACK_POINTS] [WAYPOINTS]     (default 1000000 100000)
set -euo pipefail
points="${1:-1000000}"
waypoints="${2:-100000}"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

python3 "$top/bench/generate_gpx.py" "$work/track.gpx" "$work/waypoints.gpx" "$points" "$waypoints" \
    "$work/waypoints-500"

# GPSBabel's Magellan writers take at most 500 waypoints per file.
gpsbabel_waypoint_parts='for f in "$0"/waypoints-500/*.gpx; do gpsbabel -w -i gpx -f "$f" -o magellanx -F "$f.upt"; done'

echo "track: $points points, waypoints: $waypoints"
measure "tervolin convert gpx (track)" "$top/scripts/wine-run" "$host" convert gpx "$work/track.gpx" "$work/track.log"
t_track=$(cat "$work/last")
measure "gpsbabel gpx -> magellanx (track)" gpsbabel -t -i gpx -f "$work/track.gpx" -o magellanx -F "$work/gb.log"
g_track=$(cat "$work/last")
measure "tervolin convert gpx (waypoints)" "$top/scripts/wine-run" "$host" convert gpx "$work/waypoints.gpx" \
    "$work/waypoints.upt"
t_wpt=$(cat "$work/last")
measure "gpsbabel magellanx, $((waypoints / 500)) files of 500" bash -c "$gpsbabel_waypoint_parts" "$work"
g_wpt_parts=$(cat "$work/last")
echo "XML readers on the track (one process, after start-up):"
"$top/scripts/wine-run" "$build/bench/programs/xml_reader_timings.exe" "$work/track.gpx" | tr -d '\r'
ratio "track: gpsbabel cpu / tervolin cpu" "$g_track" "$t_track"
ratio "waypoints: gpsbabel cpu / tervolin cpu" "$g_wpt_parts" "$t_wpt"
