#!/usr/bin/env bash
# Builds the Release presets (64-bit and 32-bit), runs every benchmark five times and
# writes docs/performance.md from the medians. Run it on a quiet machine.
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
        "$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
            --benchmark_out="$out/$preset-$name.json" --benchmark_out_format=json >/dev/null
    done
done
python3 bench/report.py "$out" docs/performance.md
