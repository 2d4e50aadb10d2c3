#!/bin/sh
# Times the language itself in kiln, dash and bash, whole processes each, and prints the
# median of every workload with its ratio to dash:
#   start-up: -c true (startup-c), a one-line script (startup)
#                                                    goal: at most 1.1x dash
#   100,000 builtin calls in a loop                  goal: at most 0.8x dash
#   80,000 function calls                            goal: at most 0.8x dash
#   100,000 variable assignments and expansions      goal: at most 0.8x dash
#   2,000 starts of an external program              goal: at most 1.0x dash
#   10,000 command substitutions of a builtin        goal: at most 0.1x dash
#   a generated 20,000-line script, parsed and run   goal: at most 0.8x dash
#   the same script sourced 20 times                 goal: at most 0.8x dash
#   a 24,000-line script of `if false; then ... fi` blocks sourced 20 times, so that nearly
#   all of the time is parsing                       goal: at most 1.0x dash, peak 4 MiB
#   a generated 1,000,000-line script (36.8 MB)     goal: at most 1.0x dash, at most 4 bytes
#                                                    of peak memory per byte of text
# Every workload but startup-c is one script file that all three shells run unchanged. The
# last columns are each shell's peak resident memory on the workload, from one more run.
# Usage: bench/language.sh [path/to/kiln]   (default: build/kiln). Needs hyperfine.
set -eu

KILN=$(realpath "${1:-build/kiln}")
HERE=$(cd "$(dirname "$0")" && pwd)
WORK=${KILN_BENCH_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/kiln-lang.XXXXXX")}
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

echo "kiln: $KILN"

. "$HERE/lib/workloads.sh"

printf '\n%-14s %12s %12s %12s %10s %10s %12s %12s\n' workload dash bash kiln kiln/dash bash/dash \
    'dash peak' 'kiln peak'
for w in startup-c $WORKLOADS; do
    args=$w.sh
    [ "$w" != startup-c ] || args='-c true'
    hyperfine -N --style none --warmup 1 --min-runs 5 --export-csv "$w.csv" \
        "dash $args" "bash $args" "$KILN $args" > /dev/null 2> "$w.err" ||
        { cat "$w.err" >&2; exit 1; }
    # Columns: command,mean,stddev,median,...; rows in the order given above.
    # $args unquoted: `-c true` is two words.
    dash_peak=$(/usr/bin/time -f %M dash $args 2>&1 >/dev/null | tail -n 1)
    kiln_peak=$(/usr/bin/time -f %M "$KILN" $args 2>&1 >/dev/null | tail -n 1)
    awk -F, -v w="$w" -v dp="$dash_peak" -v kp="$kiln_peak" 'NR > 1 { m[NR - 1] = $4 }
        END { printf "%-14s %10.2fms %10.2fms %10.2fms %10.2f %10.2f %9dKiB %9dKiB\n",
                     w, m[1] * 1000, m[2] * 1000, m[3] * 1000, m[3] / m[1], m[2] / m[1],
                     dp, kp }' "$w.csv"
    [ "$w" != large ] || large_peak=$kiln_peak
done
# Peak memory per byte of text of the large script, whose whole tree is held at once.
awk -v kp="$large_peak" -v bytes="$(wc -c < large.sh)" \
    'BEGIN { printf "large: %.1f bytes of peak memory per byte of text\n", kp * 1024 / bytes }'
