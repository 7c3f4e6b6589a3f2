#!/usr/bin/env bash
# Sets up the native toolchain, builds the linux-x64 configuration's demo and runs it: a
# host and two plug-ins sharing one profiler context, ending with the report and the path
# of a trace file to open in Perfetto.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh demo
cmake --preset linux-x64 -DPC_BUILD_TESTS=OFF >/dev/null
cmake --build --preset linux-x64 --target profiler_demo >/dev/null
./build/linux-x64/bin/profiler_demo build/linux-x64/profiler_demo_trace.json
