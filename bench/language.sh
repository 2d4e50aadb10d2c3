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
# Every workload but startup-c is one script file that all three shells run unchanged.
# Usage: bench/language.sh [path/to/kiln]   (default: build/kiln). Needs hyperfine.
set -eu

KILN=$(realpath "${1:-build/kiln}")
WORK=${KILN_BENCH_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/kiln-lang.XXXXXX")}
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

echo "kiln: $KILN"

# n iterations as nested loops over short word lists (n = m * 10^k), so that no shell needs
# a program or arithmetic to count; the innermost variable is $i.
loop() {
    n=$1 body=$2 depth=0 head='' tail=''
    while [ $((n % 10)) -eq 0 ] && [ "$n" -gt 10 ]; do
        head="${head}for x$depth in 0 1 2 3 4 5 6 7 8 9; do "
        tail="$tail done;"
        n=$((n / 10)) depth=$((depth + 1))
    done
    printf '%sfor i in %s; do %s; done;%s\n' "$head" "$(seq "$n" | tr '\n' ' ')" "$body" "$tail"
}

printf 'true\n' > startup.sh
loop 100000 'true' > builtins.sh
{ echo 'f() { true; }'; loop 80000 'f'; } > functions.sh
loop 100000 'v=$i; w="$v x"' > variables.sh
loop 2000 '/bin/true' > programs.sh
loop 10000 'v=$(echo $i)' > substitutions.sh
# Assignments, tests, case and output, one kind of line after another.
seq 20000 | awk '{
    n = $1 % 4
    if (n == 0) printf "a=line%d; b=$a\n", $1
    else if (n == 1) printf "if [ \"$a\" = line%d ]; then c=yes; else c=no; fi\n", $1 - 1
    else if (n == 2) printf "case $a in line*) d=1;; *) d=2;; esac\n"
    else printf "echo \"$a $b $c $d\" > /dev/null\n"
}' > script.sh
# Blocks that never run: the cost is reading, lexing and parsing the text.
awk 'BEGIN { for (i = 1; i <= 6000; i++)
    printf "if false; then\n    echo \"block %d $a\" > /dev/null\n    x=%d; y=$(echo $x)\nfi\n", i, i
}' > blocks.sh
for i in $(seq 20); do echo '. ./script.sh'; done > sourced.sh
for i in $(seq 20); do echo '. ./blocks.sh'; done > parse.sh

printf '\n%-14s %12s %12s %12s %10s %10s\n' workload dash bash kiln kiln/dash bash/dash
for w in startup-c startup builtins functions variables programs substitutions script sourced \
    parse; do
    args=$w.sh
    [ "$w" = startup-c ] && args='-c true'
    hyperfine -N --style none --warmup 1 --min-runs 5 --export-csv "$w.csv" \
        "dash $args" "bash $args" "$KILN $args" > /dev/null 2> "$w.err" ||
        { cat "$w.err" >&2; exit 1; }
    # Columns: command,mean,stddev,median,...; rows in the order given above.
    awk -F, -v w="$w" 'NR > 1 { m[NR - 1] = $4 }
        END { printf "%-14s %10.2fms %10.2fms %10.2fms %10.2f %10.2f\n",
                     w, m[1] * 1000, m[2] * 1000, m[3] * 1000, m[3] / m[1], m[2] / m[1] }' "$w.csv"
done

# Peak memory of the parse-only workload, which holds a whole tree of 24,000 lines.
printf '\n%-14s' 'parse peak'
for sh in dash bash "$KILN"; do
    printf ' %10sKiB' "$(/usr/bin/time -f %M "$sh" parse.sh 2>&1 >/dev/null | tail -n 1)"
done
echo
