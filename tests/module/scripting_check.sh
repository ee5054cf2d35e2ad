#!/usr/bin/env bash
# Registration with the system's own tool and a real scripting client:
# regsvr32 registers Tervolin.dll, the registry holds its classes, a
# JScript file run by cscript uses them by ProgID, regsvr32 /u removes them.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
: "${TERVOLIN_BUILD:?}" "${WINEPREFIX:?}"
export WINEARCH="${TERVOLIN_WINEARCH:-win32}" WINEDEBUG=-all
dll="Z:${TERVOLIN_BUILD}/bin/Tervolin.dll"
script="Z:${here}/automation.js"
connection='HKCR\CLSID\{FBA96C3A-E33F-4C9F-80B3-2216027DD3F7}'
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

query() {
    wine reg query "$@" 2>/dev/null | tr -d '\r'
}

wine regsvr32 /s "$dll" || fail "regsvr32 returned $?"
query "$connection\\InprocServer32" | grep -q 'ThreadingModel.*REG_SZ.*both' || fail "ThreadingModel"
query "$connection\\InprocServer32" | grep -qi 'Tervolin.dll' || fail "InprocServer32 path"
query 'HKCR\Norvask.Tervolin.SerialInterpreter\CurVer' | grep -q 'Norvask.Tervolin.SerialInterpreter.1' || fail "CurVer"

# Wine's cscript exits with 0 after a script error: the script's own last
# line is the verdict.
output="$(wine cscript //nologo "$script" | tr -d '\r')" || true
echo "$output"
[ "$(echo "$output" | tail -n 1)" = "0 failure(s)" ] || fail "automation.js did not finish cleanly"

wine regsvr32 /u /s "$dll" || fail "regsvr32 /u returned $?"
query "$connection" >/dev/null && fail "the class key is still there"
query 'HKCR\AppID' >/dev/null || fail "HKCR\\AppID is gone"

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
