#!/usr/bin/env bash
# Runs the Windows end-to-end tests: the 32-bit Velmo.exe under 32-bit Wine with code page 932,
# inside Wine's own desktop on a private Xvfb, once at 120 and once at 96 dpi, and once under a
# churn of hostile windows.
# Reports go to build/windows/wine-tests/; the counts of both runs to its file "counts".
set -euo pipefail
cd "$(dirname "$0")/.."

build=$PWD/build/windows
cmake --preset windows >/dev/null
cmake --build --preset windows

out=$build/wine-tests
rm -rf "$out"
mkdir -p "$out"

# Some machines (virtual machines without 32-bit support among them) cannot execute i386 code at
# all, and 32-bit Wine with them. The build above still checks that Velmo.exe compiles and links;
# the run is left out, said so, and counted as skipped rather than passed.
set +e
/lib/ld-linux.so.2 --version >/dev/null 2>&1
probe=$?
set -e
if [ "$probe" -eq 126 ]; then
    echo "test-windows: SKIPPED: this machine cannot execute 32-bit x86 programs" \
        "(/lib/ld-linux.so.2: Exec format error), so Velmo.exe is built but not run" |
        tee "$out/skipped" >&2
    echo "0 0" >"$out/counts"
    exit 0
fi

export WINEPREFIX=$build/wineprefix
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LC_ALL=ja_JP.UTF-8

xvfb=
cleanup() {
    wineserver -k 2>/dev/null || true
    if [ -n "$xvfb" ]; then
        kill "$xvfb" 2>/dev/null || true
        wait "$xvfb" 2>/dev/null || true
    fi
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$out/display" 2>"$out/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$out/display" ] && break
    sleep 0.1
done
if [ ! -s "$out/display" ]; then
    echo "test-windows: Xvfb did not start (see $out/xvfb.log)" >&2
    exit 1
fi
export DISPLAY=:$(cat "$out/display")

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Making the Wine prefix $WINEPREFIX"
    wineboot -i >"$out/wineboot.log" 2>&1
fi
# Wine finds the face the program asks for under its own name, drawn by IPA's P Gothic.
wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /t REG_SZ \
    /d IPAPGothic /f >/dev/null 2>&1

driver=$(winepath -w "$build/tests/wine/velmo_wine_test.exe")
velmo=$(winepath -w "$build/mainwindow/win32/Velmo.exe")
passed=0
failed=0
status=0

# One run of every test with the system at `dpi` dots per inch.
run_at() {
    local dpi=$1 report=$out/report-$1.txt
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
        >/dev/null 2>&1
    wineserver -w  # a new session reads the density afresh
    local started=$SECONDS
    timeout 300 wine explorer /desktop="velmo$dpi,1280x1024" "$driver" "$velmo" "$dpi" \
        "$(winepath -w "$report")" >"$out/wine-$dpi.log" 2>&1 || true
    wineserver -k 2>/dev/null || true
    count "$dpi dpi" "$report" "$out/wine-$dpi.log"
    echo "[$dpi dpi] took $((SECONDS - started)) s"
}

# Adds up the checks of one report and prints it, each line marked with `label`.
count() {
    local label=$1 report=$2 log=$3
    if [ ! -s "$report" ] || ! tail -n1 "$report" | grep -Eq '^[0-9]+ passed, [0-9]+ failed$'; then
        echo "FAIL [$label]: the test program did not finish (see $log)"
        failed=$((failed + 1))
        status=1
        return
    fi
    sed "s/^/[$label] /" "$report"
    local counts
    read -r -a counts < <(tail -n1 "$report")
    passed=$((passed + counts[0]))
    failed=$((failed + counts[2]))
    if [ "${counts[2]}" -ne 0 ]; then
        status=1
    fi
}

# Velmo.exe for 20 s under windows that come and go with hostile titles. The crash dialog is
# off, so a crash shows as the process gone.
run_churn() {
    local report=$out/report-churn.txt started=$SECONDS
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        >/dev/null 2>&1
    wineserver -w
    timeout 120 wine explorer /desktop=velmochurn,1280x1024 \
        "$(winepath -w "$build/tests/wine/velmo_wine_churn.exe")" "$velmo" 20 \
        "$(winepath -w "$report")" >"$out/wine-churn.log" 2>&1 || true
    wineserver -k 2>/dev/null || true
    count churn "$report" "$out/wine-churn.log"
    echo "[churn] took $((SECONDS - started)) s"
}

run_at 120
run_churn
run_at 96  # last, so the prefix is left at the usual density

echo "$passed $failed" >"$out/counts"
echo "wine: $passed passed, $failed failed"
exit $status
