#!/usr/bin/env bash
# The long fuzz run: every parser fed with 100,000 mutated inputs (or
# FUZZ_INPUTS) from a fixed seed (FUZZ_SEED), with Wine's heap checking on,
# each parser in a process of its own so that a crash or a hang of one does
# not hide the others. Prints per parser: inputs, clean failures,
# successes, crashes, hangs, the slowest input, and how many heap problems
# Wine reported. Inputs that crash or hang are saved under bench/findings/.
# FUZZ_PARSERS limits the run to some parsers (names as the driver's --list
# gives them), so that several runs can share the work.
# Goal: no crash and no hang, the slowest input under 1 s.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

inputs="${FUZZ_INPUTS:-100000}"
seed="${FUZZ_SEED:-7}"
findings="$top/bench/findings"
# A copy, so that a rebuild during the run does not change the program.
driver="$work/tervolin_fuzz.exe"
cp "$build/tests/fuzz/tervolin_fuzz.exe" "$driver"
export TERVOLIN_SOURCE="Z:$top"
export TERVOLIN_TESTDATA="Z:$(cd "$top/../shared/testdata" 2>/dev/null && pwd || echo /nonexistent)"

echo "fuzzing with $inputs inputs per parser, seed $seed, Wine heap checking on"
failed=0
parsers="${FUZZ_PARSERS:-$("$top/scripts/wine-run" "$driver" --list | tr -d '\r')}"
for target in $parsers; do
    status=0
    WINEDEBUG=warn+heap "$top/scripts/wine-run" "$driver" --only "$target" --inputs "$inputs" --seed "$seed" \
        --time-limit 10000 --findings "Z:$findings" >"$work/out" 2>"$work/err" || status=$?
    heap=$(grep -c -E '^(err|warn):heap' "$work/err" || true)
    summary=$(tr -d '\r' <"$work/out" | grep -E "^$target +inputs" || true)
    tr -d '\r' <"$work/out" | grep -E "^$target: (crash|hang)" | head -20 || true
    [ "$status" = 0 ] || failed=1
    if [ -n "$summary" ]; then
        echo "$summary  heap reports $heap"
    elif [ "$status" = 3 ] || [ "$status" = 4 ]; then
        kind=$([ "$status" = 3 ] && echo crash || echo hang)
        echo "$target  stopped by a $kind (crashes $([ "$kind" = crash ] && echo 1 || echo 0)," \
             "hangs $([ "$kind" = hang ] && echo 1 || echo 0))  heap reports $heap"
    else
        echo "$target  ended with exit code $status  heap reports $heap"
        tail -5 "$work/err"
    fi
    if [ "$heap" != 0 ]; then
        failed=1
        grep -m 5 -E '^(err|warn):heap' "$work/err"
    fi
done
exit "$failed"
