#!/bin/sh
# Times filename expansion in kiln against bash (with globstar), whole processes each:
#   echo *        in a directory of 20,000 files               (goal: no slower than bash)
#   echo **/*.c   in a tree of 20,000 files in 420 directories  (goal: no slower than bash)
#   echo * and echo f00*.txt (100 matches), 40 times each, in a directory of 10,000 files,
#   one script in dash, bash and kiln                           (goal: no slower than dash)
# Both shells must print the same names; the script stops when they differ.
# Usage: bench/glob.sh [path/to/kiln]   (default: build/kiln). Needs hyperfine.
# KILN_BENCH_DIR picks the scratch directory.
set -eu

KILN=$(realpath "${1:-build/kiln}")
WORK=${KILN_BENCH_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/kiln-glob.XXXXXX")}
trap 'rm -rf "$WORK"' EXIT
trap 'exit 130' INT TERM
cd "$WORK"

echo "kiln: $KILN"
echo "scratch: $WORK"

# ---- fixtures ------------------------------------------------------------------------------
# flat: 20,000 files. tree: 20 top directories with 20 subdirectories each, 50 files in every
# one of the 400 leaves (half of them .c): 20,000 files, 10,000 matching.
mkdir flat tree ten
( cd flat && seq -f 'file-%05g.txt' 1 20000 | xargs touch )
( cd ten && seq -f 'f%04g.txt' 0 9999 | xargs touch )
{
    echo 'cd ten'
    echo "for i in $(seq 40 | tr '\n' ' '); do echo * > /dev/null; echo f00*.txt > /dev/null; done"
} > repeat.sh
(
    cd tree
    for top in $(seq -w 1 20); do
        for sub in $(seq -w 1 20); do
            dir="d$top/s$sub"
            mkdir -p "$dir"
            ( cd "$dir" && seq -f 'f%02g.c' 1 25 | xargs touch && seq -f 'f%02g.h' 1 25 | xargs touch )
        done
    done
)

# Byte order in both shells, so that the outputs can be compared.
export LC_ALL=C

check_same() {
    dir=$1 pattern=$2
    (cd "$dir" && "$KILN" -c "echo $pattern") > kiln.out
    (cd "$dir" && bash -O globstar -c "echo $pattern") > bash.out
    if ! cmp -s kiln.out bash.out; then
        echo "outputs differ for '$pattern' in $dir" >&2
        exit 1
    fi
    echo "'$pattern' in $dir: $(wc -w < kiln.out) names, same in both shells"
}

check_same flat '*'
check_same ten 'f00*.txt'
check_same tree '**/*.c'

echo
echo "== echo * in a directory of 20,000 files"
hyperfine --warmup 3 --min-runs 30 -N \
    -n 'bash' "bash -c 'cd $WORK/flat && echo *'" \
    -n 'kiln' "$KILN -c 'cd $WORK/flat && echo *'"

echo
echo "== echo **/*.c in a tree of 20,000 files"
hyperfine --warmup 3 --min-runs 30 -N \
    -n 'bash (globstar)' "bash -O globstar -c 'cd $WORK/tree && echo **/*.c'" \
    -n 'kiln' "$KILN -c 'cd $WORK/tree && echo **/*.c'"

echo
echo "== echo * and echo f00*.txt, 40 times each, in a directory of 10,000 files"
hyperfine --warmup 3 --min-runs 10 -N \
    -n 'dash' "dash $WORK/repeat.sh" \
    -n 'bash' "bash $WORK/repeat.sh" \
    -n 'kiln' "$KILN $WORK/repeat.sh"
