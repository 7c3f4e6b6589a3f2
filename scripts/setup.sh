#!/usr/bin/env bash
# Installs what the builds need on a Debian or Ubuntu machine, and nothing that is there
# already. "demo" installs the native toolchain; "all" adds the cross compilers, wine64 and
# 32-bit wine (wine32:i386) to run their tests, the 32-bit multilib, GoogleTest,
# nlohmann-json, Google Benchmark (also its i386 build, from Debian's multiarch, for the
# 32-bit benchmarks), spdlog, microprofile (a peer profiler's scope in the 64-bit
# benchmarks), the sanitizer runtimes, clang for the fuzz targets, valgrind
# for the memory-check run, pkg-config (the package test builds a client with it), and the
# locale sources from which the build compiles de_DE.UTF-8 for the kit's comma-decimal test.
set -euo pipefail

what="${1:-all}"
packages=(cmake ninja-build g++ binutils)
if [ "$what" = "all" ]; then
    packages+=(g++-multilib g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
               wine64 wine32:i386 googletest libgtest-dev nlohmann-json3-dev libbenchmark-dev
               libspdlog-dev libmicroprofile-dev libclang-rt-14-dev clang valgrind pkgconf
               libbenchmark-dev:i386 libspdlog-dev:i386 python3 locales)
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [ "${#missing[@]}" -eq 0 ]; then
    exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
echo "installing: ${missing[*]}"
if [[ " ${missing[*]}" == *":i386"* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
