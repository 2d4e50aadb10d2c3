#!/bin/sh
# Times `cat big | cat | cat > out` of a 1 GiB file in kiln against bash doing the same, and
# measures kiln's peak memory while it runs:
#   kiln builtins      cat big | cat | cat > out                    (kiln's own cat)
#   kiln programs      /bin/cat big | /bin/cat | /bin/cat > out     (external programs)
#   bash               either text (bash has no cat of its own)
# Goals: time within 2x of bash; kiln's peak resident memory no more than about twice the file.
# kiln runs the stages one after another, handing each stage's whole output to the next, so
# about one file's worth of memory is the floor; a stage that copied its input would double it.
# Usage: bench/pipeline.sh [path/to/kiln]   (default: build/kiln). Needs hyperfine and GNU time.
# KILN_BENCH_DIR picks the scratch directory (it needs about 2 GiB free);
# KILN_BENCH_MIB sets the file size in MiB (default 1024).
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

# ---- fixture -------------------------------------------------------------------------------
head -c $((MIB * 1048576)) /dev/urandom > big.bin
FILE_KIB=$((MIB * 1024))

BUILTINS='cat big.bin | cat | cat > out.bin'
PROGRAMS="$CAT big.bin | $CAT | $CAT > out.bin"

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
echo "== peak memory, $MIB MiB through three stages (largest single process)"
peak 'bash, programs' bash -c "$PROGRAMS"
peak 'kiln, builtins' "$KILN" -c "$BUILTINS"
peak 'kiln, programs' "$KILN" -c "$PROGRAMS"
peak 'kiln, builtin | program | builtin' "$KILN" -c "cat big.bin | $CAT | cat > out.bin"
rm -f out.bin

echo
echo "== time, $MIB MiB through three stages"
hyperfine --warmup 1 --min-runs 5 -N --prepare 'rm -f out.bin' \
    -n 'bash' "bash -c '$PROGRAMS'" \
    -n 'kiln builtins' "$KILN -c '$BUILTINS'" \
    -n 'kiln programs' "$KILN -c '$PROGRAMS'"
cmp big.bin out.bin
