#!/bin/sh
# Times the movement of large outputs between commands in kiln, dash and bash, whole processes
# each, and prints the median of every workload with its ratio to dash:
#   big3      1 GiB through /bin/cat f | /bin/cat | /bin/cat > /dev/null   goal: at most 2x dash
#   mid3x5    100 MiB through the same, 5 times                          goal: at most 2x dash
#   collect   /bin/cat f | true, 1 GiB (kiln holds the whole first stage)  goal: at most 1.0 s
#   capture   x=$(/bin/cat f) of 100 MB of text                           goal: at most 0.25x dash
#   builtins  cat f | cat | cat > /dev/null, 1 GiB (kiln's own cat; the others run /bin/cat)
# and the peak memory of the three-stage pipeline (the largest process's resident set).
# The floor of a shell that holds every stage's whole output in memory is one write of the
# output into memory and one read of it back per stage: the last table times dash running the
# same stages through files in /dev/shm (memory) instead of pipes, against dash's pipes.
# Goal: at most twice the file. kiln runs the stages one after another and frees each input
# as the next stage takes it, so about one stage's output is the floor.
# Usage: bench/pipeline.sh [path/to/kiln]   (default: build/kiln). Needs hyperfine, GNU time.
# KILN_BENCH_DIR picks the scratch directory (it needs about 1.3 GiB free);
# KILN_BENCH_MIB sets the size of the large file in MiB (default 1024).
set -eu

KILN=$(realpath "${1:-build/kiln}")
CAT=$(command -v cat)
MIB=${KILN_BENCH_MIB:-1024}
WORK=${KILN_BENCH_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/kiln-pipe.XXXXXX")}
trap 'rm -rf "$WORK"' EXIT
trap 'exit 130' INT TERM
cd "$WORK"

echo "kiln: $KILN"
echo "scratch: $WORK"

# ---- fixtures ------------------------------------------------------------------------------
head -c $((MIB * 1048576)) /dev/urandom > big.bin
head -c 104857600 /dev/urandom > mid.bin
base64 -w 76 mid.bin | head -c 100000000 > text.txt
FILE_KIB=$((MIB * 1024))

PROGRAMS="$CAT big.bin | $CAT | $CAT"

# ---- memory --------------------------------------------------------------------------------
# Runs one shell text under GNU time, checks the copy, and prints the peak resident set.
peak() {
    label=$1
    shift
    rm -f out.bin
    /usr/bin/time -f %M -o rss.txt "$@"
    cmp big.bin out.bin
    kib=$(cat rss.txt)
    printf '  %-34s peak RSS %7d MiB  (%s.%02d x the file)\n' "$label" $((kib / 1024)) \
        $((kib / FILE_KIB)) $((kib * 100 / FILE_KIB % 100))
}

echo
echo "== peak memory, $MIB MiB through three stages"
for sh in dash bash "$KILN"; do
    peak "$(basename "$sh"), programs" "$sh" -c "$PROGRAMS > out.bin"
done
peak 'kiln, builtins' "$KILN" -c 'cat big.bin | cat | cat > out.bin'
peak 'kiln, builtin | program | builtin' "$KILN" -c "cat big.bin | $CAT | cat > out.bin"
rm -f out.bin

# ---- time ----------------------------------------------------------------------------------
printf 'p=%s; $p big.bin | $p | $p > /dev/null\n' "$CAT" > big3.sh
printf 'p=%s; for i in 1 2 3 4 5; do $p mid.bin | $p | $p > /dev/null; done\n' "$CAT" > mid3x5.sh
printf '%s big.bin | true\n' "$CAT" > collect.sh
printf 'x=$(%s text.txt)\n' "$CAT" > capture.sh

printf '\n%-10s %12s %12s %12s %10s %10s\n' workload dash bash kiln kiln/dash bash/dash
for w in big3 mid3x5 collect capture; do
    hyperfine -N --style none --warmup 1 --min-runs 5 --export-csv "$w.csv" \
        "dash $w.sh" "bash $w.sh" "$KILN $w.sh" > /dev/null 2> "$w.err" ||
        { cat "$w.err" >&2; exit 1; }
    # Columns: command,mean,stddev,median,...; rows in the order given above.
    awk -F, -v w="$w" 'NR > 1 { m[NR - 1] = $4 }
        END { printf "%-10s %10.3fs %10.3fs %10.3fs %10.2f %10.2f\n",
                     w, m[1], m[2], m[3], m[3] / m[1], m[2] / m[1] }' "$w.csv"
done

echo
echo "== time, $MIB MiB through kiln's own cat"
hyperfine -N --warmup 1 --min-runs 5 \
    -n 'kiln builtins' "$KILN -c 'cat big.bin | cat | cat > /dev/null'"

# ---- floor ---------------------------------------------------------------------------------
[ -d /dev/shm ] || exit 0
printf 'p=%s; d=/dev/shm/kiln-floor.$$\n' "$CAT" > floor.head
{ cat floor.head; echo '$p big.bin > $d.a; $p < $d.a > $d.b; rm $d.a; $p < $d.b > /dev/null; rm $d.b'; } > big3-floor.sh
{ cat floor.head; echo 'for i in 1 2 3 4 5; do $p mid.bin > $d.a; $p < $d.a > $d.b; rm $d.a'
  echo '$p < $d.b > /dev/null; rm $d.b; done'; } > mid3x5-floor.sh
echo
echo "== floor: the same stages through memory files, run by dash"
printf '%-10s %12s %12s %10s\n' workload pipes 'memory files' ratio
for w in big3 mid3x5; do
    hyperfine -N --style none --warmup 1 --min-runs 5 --export-csv "$w-floor.csv" \
        "dash $w.sh" "dash $w-floor.sh" > /dev/null 2> "$w-floor.err" ||
        { cat "$w-floor.err" >&2; exit 1; }
    awk -F, -v w="$w" 'NR > 1 { m[NR - 1] = $4 }
        END { printf "%-10s %10.3fs %10.3fs %10.2f\n", w, m[1], m[2], m[2] / m[1] }' "$w-floor.csv"
done
