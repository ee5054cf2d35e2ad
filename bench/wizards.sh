#!/usr/bin/env bash
# Times the import wizards under Wine on the null display driver: from the
# export call to the first page being visible, and a whole scripted run of
# each wizard (conversion of the bundled sample included). Wine's own
# start-up is not in these figures; it is printed once for comparison.
#   bench/wizards.sh [ROUNDS]     (default 5)
set -euo pipefail
rounds="${1:-5}"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

measure "Wine start-up and exit (tervolin --help)" "$top/scripts/wine-run" "$host" --help
TERVOLIN_BIN="Z:$build/bin" TERVOLIN_SOURCE="Z:$top" \
    "$top/scripts/wine-run" "$build/bench/programs/wizard_timings.exe" "$rounds"
