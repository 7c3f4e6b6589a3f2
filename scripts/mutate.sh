#!/usr/bin/env bash
# Mutation run: applies each hand-written mutant of scripts/mutants.txt in turn, builds one
# configuration incrementally, runs its tests with ctest and reverts the file, then prints
# killed or survived per mutant and the kill rate of the mutants not marked equivalent.
#
#   scripts/mutate.sh [--preset NAME] [--tsan] [--list FILE] [ID...]
#
# --preset  the configuration to build and test (default linux-x64)
# --tsan    also run the mutants marked equivalent under linux-tsan, where a weaker memory
#           order shows as a data race
# ID...     run only these mutants
# Not part of scripts/test.sh: a full run takes minutes.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

preset=linux-x64
tsan=0
list=scripts/mutants.txt
only=()
while [ "$#" -gt 0 ]; do
    case "$1" in
    --preset) preset=$2; shift 2 ;;
    --tsan) tsan=1; shift ;;
    --list) list=$2; shift 2 ;;
    -h | --help) sed -n '2,12p' "$0"; exit 0 ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) only+=("$1"); shift ;;
    esac
done

work=$(mktemp -d)
backup=""
target=""
# Whatever happens (a failed step, Ctrl-C), the mutated file gets its original bytes back.
restore() {
    if [ -n "$backup" ] && [ -f "$backup" ]; then
        cp "$backup" "$target" # a new time, so the build compiles it again
        backup=""
    fi
}
trap 'restore; rm -rf "$work"' EXIT
trap 'echo "interrupted: reverted"; exit 130' INT TERM

# Splits the list into one file per mutant (id, file, from, to, what, equivalent) and checks
# each: its file exists and its original text occurs there exactly once.
python3 - "$list" "$work" "${only[@]}" <<'EOF' || exit 2
import os, sys
path, work, only = sys.argv[1], sys.argv[2], set(sys.argv[3:])
blocks, block = [], {}
for line in open(path, encoding="utf-8").read().split("\n") + [""]:
    if line.startswith("#"):
        continue
    if not line.strip():
        if block:
            blocks.append(block)
        block = {}
        continue
    key, _, value = line.partition(":")
    block[key.strip()] = value[1:] if value.startswith(" ") else value
bad = False
ids = set()
for n, b in enumerate(blocks):
    for key in ("id", "file", "from", "to", "what"):
        if key not in b:
            print(f"mutant {b.get('id', n)}: no '{key}:' line"); bad = True
    if bad:
        continue
    if b["id"] in ids:
        print(f"mutant {b['id']}: id used twice"); bad = True
    ids.add(b["id"])
    if only and b["id"] not in only:
        continue
    original = b["from"].replace("{NL}", "\n")
    text = open(b["file"], encoding="utf-8").read() if os.path.isfile(b["file"]) else None
    found = -1 if text is None else text.count(original)
    if found != 1:
        print(f"mutant {b['id']}: original text found {found} times in {b['file']} (want 1)")
        bad = True
        continue
    d = os.path.join(work, f"{n:03d}")
    os.mkdir(d)
    for key in ("id", "file", "from", "to", "what", "equivalent"):
        with open(os.path.join(d, key), "w", encoding="utf-8") as f:
            f.write(b.get(key, "").replace("{NL}", "\n"))
missing = only - ids
if missing:
    print("unknown mutant ids: " + " ".join(sorted(missing))); bad = True
sys.exit(1 if bad else 0)
EOF

mkdir -p build
log=build/mutate-$preset.log
: >"$log"

# Builds and tests one preset; 0 when everything passed, 1 when a test failed, 2 when the
# build failed.
run_preset() {
    local p=$1
    if [ ! -f "build/$p/CMakeCache.txt" ]; then
        cmake --preset "$p" >>"$log" 2>&1 || return 2
    fi
    cmake --build --preset "$p" >>"$log" 2>&1 || return 2
    # Each test in its own process as usual; a mutant that hangs is stopped by the timeout.
    (cd "build/$p" && ctest --timeout 60 --stop-on-failure -j 2 --output-on-failure) >>"$log" 2>&1 ||
        return 1
    return 0
}

echo "== baseline: $preset without mutants"
run_preset "$preset"
case $? in
0) ;;
*) echo "the unmutated tree fails its tests or build: see $log"; exit 2 ;;
esac
if [ "$tsan" -eq 1 ]; then
    run_preset linux-tsan || { echo "linux-tsan fails without mutants: see $log"; exit 2; }
fi

killed=0
survived=0
eq_total=0
eq_killed=0
broken=0
survivors=()
for d in "$work"/*/; do
    id=$(cat "$d/id")
    target=$(cat "$d/file")
    equivalent=$(cat "$d/equivalent")
    backup="$work/backup"
    cp -p "$target" "$backup"
    python3 - "$target" "$d/from" "$d/to" <<'EOF'
import sys
target, old, new = sys.argv[1], open(sys.argv[2]).read(), open(sys.argv[3]).read()
text = open(target, encoding="utf-8").read()
assert text.count(old) == 1, "original text not found exactly once"
open(target, "w", encoding="utf-8").write(text.replace(old, new))
EOF
    echo "---- mutant $id ($target)" >>"$log"
    run_preset "$preset"
    result=$?
    tsan_note=""
    if [ -n "$equivalent" ] && [ "$tsan" -eq 1 ] && [ "$result" -eq 0 ]; then
        run_preset linux-tsan
        result=$?
        tsan_note=" (linux-tsan)"
    fi
    restore
    case $result in
    0) verdict=survived ;;
    1) verdict=killed ;;
    *) verdict="DID NOT BUILD" ; broken=$((broken + 1)) ;;
    esac
    if [ -n "$equivalent" ]; then
        eq_total=$((eq_total + 1))
        [ "$verdict" = killed ] && eq_killed=$((eq_killed + 1))
        printf '%-32s %s%s [equivalent]\n' "$id" "$verdict" "$tsan_note"
    else
        [ "$verdict" = killed ] && killed=$((killed + 1))
        [ "$verdict" = survived ] && { survived=$((survived + 1)); survivors+=("$id"); }
        printf '%-32s %s\n' "$id" "$verdict"
    fi
done

# The restored sources leave the build tree in step with the unmutated code again.
cmake --build --preset "$preset" >>"$log" 2>&1

total=$((killed + survived))
echo "killed $killed of $total mutants not marked equivalent ($((total ? 100 * killed / total : 0))%)"
echo "equivalent: $eq_killed of $eq_total killed$([ "$tsan" -eq 1 ] && echo " with linux-tsan")"
[ "${#survivors[@]}" -gt 0 ] && echo "survived: ${survivors[*]}"
[ "$broken" -eq 0 ] || { echo "$broken mutants did not build: fix their text"; exit 1; }
exit 0
