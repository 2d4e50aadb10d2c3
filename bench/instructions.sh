#!/bin/sh
# Counts the instructions kiln executes on each workload of bench/language.sh, with
# callgrind: the count does not depend on what else the machine is doing, so two builds can
# be compared to a fraction of a percent on a busy machine.
# Usage: bench/instructions.sh [path/to/kiln] [workload...]   (default: build/kiln, all).
# Needs valgrind. The programs shape counts only the shell's own instructions.
set -eu

KILN=$(realpath "${1:-build/kiln}")
[ $# -gt 0 ] && shift
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d "${TMPDIR:-/tmp}/kiln-instr.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

. "$HERE/lib/workloads.sh"

echo "kiln: $KILN"
for w in ${*:-$WORKLOADS}; do
    valgrind --tool=callgrind --callgrind-out-file=/dev/null "$KILN" "$w.sh" \
        > /dev/null 2> "$w.err" || { cat "$w.err" >&2; exit 1; }
    awk -v w="$w" '/Collected :/ { printf "%-14s %16s\n", w, $4 }' "$w.err"
done
