# Set-up shared by the benchmark scripts (sourced, not run): builds the
# project, keeps one wineserver alive for the run and gives a temporary
# folder removed at the end.
# Sets: top, build, work, host. Provides: run_timed, measure, ratio.
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TERVOLIN_BUILD_DIR:-$top/build}"
host="$build/bin/tervolin.exe"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$top/scripts/build" >/dev/null
export TERVOLIN_WINEPREFIX="${TERVOLIN_WINEPREFIX:-$build/wineprefix}"
export WINEPREFIX="$TERVOLIN_WINEPREFIX"
"$top/scripts/wine-prefix" start
trap 'rm -rf "$work"; "$top/scripts/wine-prefix" stop' EXIT

# run_timed COMMAND...: runs it with standard output discarded and sets
# elapsed (s), cpu (user + system, s) and peak_mib (peak resident memory);
# returns the command's status. The figures are time's last line: before it,
# time writes "Command exited with non-zero status N" for a failed command.
run_timed() {
    local status=0 user system kib
    /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$@" >/dev/null || status=$?
    read -r elapsed user system kib < <(tail -n 1 "$work/time")
    cpu=$(echo "$user + $system" | bc -l)
    peak_mib=$(echo "$kib / 1024" | bc -l)
    return "$status"
}

# measure NAME COMMAND...: prints the elapsed time, the processor time (what
# the ratios use: elapsed time swings with the machine's load) and the peak
# memory; the processor time is left in $work/last.
measure() {
    local name="$1" status=0; shift
    run_timed "$@" || status=$?
    printf '%-44s %7.2f s elapsed %7.2f s cpu %7.1f MiB\n' "$name" "$elapsed" "$cpu" "$peak_mib"
    echo "$cpu" >"$work/last"
    return "$status"
}

# ratio NAME A B: prints A / B.
ratio() {
    printf '%-44s %7.2fx\n' "$1" "$(echo "$2 / $3" | bc -l)"
}
