#!/usr/bin/env bash
# Sets up the native toolchain, builds the linux-x64 configuration and runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh demo
cmake --preset linux-x64 -DPC_BUILD_TESTS=OFF >/dev/null
cmake --build --preset linux-x64 --target profiler_report >/dev/null
./build/linux-x64/bin/profiler_report
