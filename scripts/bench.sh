#!/usr/bin/env bash
# Builds the Release presets (64-bit and 32-bit), runs every benchmark five times and
# writes docs/performance.md from the medians. The repetitions of an executable's benchmarks
# run interleaved in random order, so a change in the machine's load spreads over all of
# them rather than landing on one. Run it on a quiet machine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh all
out=build/bench-results
mkdir -p "$out"
for preset in linux-x64-release linux-x86-release; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" >/dev/null
    for bench in build/"$preset"/bin/bench_*; do
        [ -x "$bench" ] || continue
        name=$(basename "$bench")
        echo "== $preset $name"
        "$bench" --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true \
            --benchmark_report_aggregates_only=true \
            --benchmark_out="$out/$preset-$name.json" --benchmark_out_format=json >/dev/null
    done
done
# The log's three writers once more under callgrind: instructions per line, a measure that
# the machine's other load does not move.
for preset in linux-x64-release linux-x86-release; do
    for name in BM_Log BM_Spdlog BM_FprintfFflush; do
        valgrind --tool=callgrind --compress-strings=no --compress-pos=no \
            --callgrind-out-file="$out/$preset-callgrind-$name.out" \
            build/"$preset"/bin/bench_log --benchmark_filter="^$name/real_time/threads:1\$" \
            --benchmark_min_time=0.05 >/dev/null 2>&1
    done
done
python3 bench/report.py "$out" docs/performance.md
