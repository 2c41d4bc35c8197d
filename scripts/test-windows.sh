#!/usr/bin/env bash
# Runs the Windows end-to-end tests: Velmo.exe under Wine with code page 932, inside Wine's own
# desktop on a private Xvfb, once at 120 and once at 96 dpi, and once under a churn of hostile
# windows. The x86-64 build runs under 64-bit Wine on every machine; the 32-bit build runs under
# 32-bit Wine where the machine can execute i386 code, and is otherwise named as skipped.
# Each build's reports go to build/wine-tests/<preset>/; the totals to build/wine-tests/counts
# as "PASSED FAILED SKIPPED", and a line for each skipped build to build/wine-tests/skipped.
set -euo pipefail
cd "$(dirname "$0")/.."

out=$PWD/build/wine-tests
rm -rf "$out"
mkdir -p "$out"
: >"$out/skipped"

# The test programs, the probe DLL and Velmo.exe of one build are made together, so they are
# always of the same width.
for preset in windows windows-x64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

# Each Velmo.exe is linked statically: it imports from Windows' own libraries only, never from
# a runtime DLL of the compiler (libstdc++, libgcc, libwinpthread).
static_checks=0
static_failures=0
for build in windows:i686 windows-x64:x86_64; do
    preset=${build%%:*}
    exe=build/$preset/mainwindow/win32/Velmo.exe
    dlls=$("${build#*:}-w64-mingw32-objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
    runtime=$(grep -i '^lib' <<<"$dlls" || true)
    static_checks=$((static_checks + 1))
    if [ -n "$dlls" ] && [ -z "$runtime" ]; then
        echo "ok [$preset] Velmo.exe imports only system libraries:" $dlls
    else
        echo "FAIL [$preset] Velmo.exe imports a runtime library: ${runtime:-(no imports read)}"
        static_failures=$((static_failures + 1))
    fi
done

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

total_passed=$((static_checks - static_failures))
total_failed=$static_failures
skipped=0
status=0
[ "$static_failures" -eq 0 ] || status=1

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

# Every check of one build: at 120 dpi, under the churn, then at 96 dpi, last, so that the
# prefix is left at the usual density. `others` are the executables of the other builds, whose
# version record, icon and manifest the test program checks too.
# Waits until the prefix's programs have ended, so that the next one starts a new session. A
# session whose services never end (seen once on a fresh 32-bit prefix under load, where the
# wait hung for good) is ended after 60 s.
end_session() {
    timeout 60 wineserver -w || wineserver -k 2>/dev/null || true
}

run_build() {
    local preset=$1 width=$2
    shift 2
    local build=$PWD/build/$preset dir=$out/$preset
    mkdir -p "$dir"
    export WINEPREFIX=$build/wineprefix
    export WINEARCH=$width
    passed=0
    failed=0
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Making the Wine prefix $WINEPREFIX"
        wineboot -i >"$dir/wineboot.log" 2>&1
    fi
    # Wine finds the face the program asks for under its own name, drawn by IPA's P Gothic.
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'ＭＳ Ｐゴシック' /t REG_SZ \
        /d IPAPGothic /f >/dev/null 2>&1
    # The crash dialog is off, so a crash shows as the process gone.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
        >/dev/null 2>&1

    local driver velmo other_exes=()
    driver=$(winepath -w "$build/tests/wine/velmo_wine_test.exe")
    velmo=$(winepath -w "$build/mainwindow/win32/Velmo.exe")
    for exe in "$@"; do
        other_exes+=("$(winepath -w "$exe")")
    done

    local dpi started
    for run in 120 churn 96; do
        started=$SECONDS
        if [ "$run" = churn ]; then
            end_session
            timeout 120 wine explorer /desktop="velmo$run,1280x1024" \
                "$(winepath -w "$build/tests/wine/velmo_wine_churn.exe")" "$velmo" 20 \
                "$(winepath -w "$dir/report-churn.txt")" >"$dir/wine-churn.log" 2>&1 || true
        else
            dpi=$run
            wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
                >/dev/null 2>&1
            end_session  # a new session reads the density afresh
            timeout 300 wine explorer /desktop="velmo$run,1280x1024" "$driver" "$velmo" "$dpi" \
                "$(winepath -w "$dir/report-$run.txt")" "${other_exes[@]}" \
                >"$dir/wine-$run.log" 2>&1 || true
        fi
        wineserver -k 2>/dev/null || true
        local label=$run
        [ "$run" = churn ] || label="$run dpi"
        count "$preset, $label" "$dir/report-$run.txt" "$dir/wine-$run.log"
        echo "[$preset, $label] took $((SECONDS - started)) s"
    done
    echo "$passed $failed" >"$dir/counts"
    echo "wine ($preset): $passed passed, $failed failed"
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
}

exe32=$PWD/build/windows/mainwindow/win32/Velmo.exe
exe64=$PWD/build/windows-x64/mainwindow/win32/Velmo.exe

# The 64-bit test program also reads the 32-bit executable as data (version record, icon,
# manifest), so those are checked where the 32-bit build cannot run.
run_build windows-x64 win64 "$exe32"
if scripts/can-run-i386.sh; then
    run_build windows win32 "$exe64"
else
    echo "test-windows: SKIPPED: the 32-bit Velmo.exe under 32-bit Wine: this machine cannot" \
        "execute 32-bit x86 programs" | tee -a "$out/skipped" >&2
    skipped=$((skipped + 1))
fi

echo "$total_passed $total_failed $skipped" >"$out/counts"
echo "wine: $total_passed passed, $total_failed failed, $skipped skipped"
exit $status
