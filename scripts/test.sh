#!/usr/bin/env bash
# Sets up the machine, then builds every configuration and runs its tests. Ends with one
# line "N passed, N failed" summed over all configurations; exits non-zero on any failure.
# linux-memcheck runs every test under valgrind memcheck; linux-fuzz runs each fuzz target
# for a bounded time as one test.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh all || { echo "setup failed"; echo "0 passed, 1 failed"; exit 1; }

presets=(linux-x64 linux-x86 win-x86 win-x64 linux-asan linux-tsan linux-memcheck linux-fuzz)
if [ "$#" -gt 0 ]; then
    presets=("$@")
fi
export WINEDEBUG=-all

passed=0
failed=0
summary=()
for preset in "${presets[@]}"; do
    start=$SECONDS
    log="build/$preset-test.log"
    mkdir -p build
    if ! cmake --preset "$preset" >"build/$preset-configure.log" 2>&1 ||
       ! cmake --build --preset "$preset" >"build/$preset-build.log" 2>&1; then
        echo "== $preset: build FAILED"
        tail -n 40 "build/$preset-configure.log" "build/$preset-build.log"
        failed=$((failed + 1))
        summary+=("$preset: build failed")
        continue
    fi
    # A Windows configuration's wine prefix keeps one server, and the services that wine
    # starts with it, for the whole run: a server that quits between two short test
    # programs can drop the next one's connection. The services start here, with their
    # output going nowhere, so no test's output pipe stays open behind them.
    prefix="$PWD/build/$preset/wine"
    case "$preset" in
        win-x86) wine=(env WINEARCH=win32 "WINEPREFIX=$prefix" /usr/lib/wine/wine) ;;
        win-x64) wine=(env WINEARCH=win64 "WINEPREFIX=$prefix" /usr/lib/wine/wine64) ;;
        *) wine=() ;;
    esac
    if [ "${#wine[@]}" -gt 0 ]; then
        # A new prefix is made by wine itself, which alone knows its architecture.
        if [ ! -f "$prefix/system.reg" ]; then
            "${wine[@]}" wineboot </dev/null >/dev/null 2>&1 || true
            WINEPREFIX="$prefix" /usr/lib/wine/wineserver -w
        fi
        WINEPREFIX="$prefix" /usr/lib/wine/wineserver -p
        "${wine[@]}" wineboot </dev/null >/dev/null 2>&1 || true
    fi
    ctest --preset "$preset" >"$log" 2>&1
    if [ "${#wine[@]}" -gt 0 ]; then
        WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
    fi
    result=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$result" ]; then
        echo "== $preset: ctest did not finish"
        tail -n 40 "$log"
        failed=$((failed + 1))
        summary+=("$preset: ctest did not finish")
        continue
    fi
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$result")
    bad=$(sed -E 's/.*, ([0-9]+) tests? failed.*/\1/' <<<"$result")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    summary+=("$preset: $((total - bad)) passed, $bad failed ($((SECONDS - start)) s)")
    if [ "$bad" -ne 0 ]; then
        echo "== $preset: failures"
        sed -n '/The following tests FAILED/,$p' "$log"
        grep -A 40 -E '\*\*\*(Failed|Exception|Timeout)|(SIGTRAP|SEGFAULT|Subprocess aborted)\*\*\*' "$log" | head -n 200
    fi
done

printf '%s\n' "${summary[@]}"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
