#!/bin/sh
# Times kiln's builtins against the programs and the shell users compare them with:
#   cat of a 1 GiB file into a file        kiln `cat`  vs coreutils cat   (goal: within 2x)
#   ls of a directory of 20,000 entries    kiln `ls`   vs coreutils ls    (goal: within 2x)
#   100,000 echo / printf / test calls     kiln        vs dash            (goal: faster)
# Usage: bench/builtins.sh [path/to/kiln]   (default: build/kiln). Needs hyperfine.
# KILN_BENCH_DIR picks the scratch directory (it needs about 2 GiB free).
set -eu

KILN=$(realpath "${1:-build/kiln}")
WORK=${KILN_BENCH_DIR:-$(mktemp -d "${TMPDIR:-/tmp}/kiln-bench.XXXXXX")}
trap 'rm -rf "$WORK"' EXIT
trap 'exit 130' INT TERM
cd "$WORK"

echo "kiln: $KILN"
echo "scratch: $WORK"

# ---- fixtures ------------------------------------------------------------------------------
head -c 1073741824 /dev/urandom > big.bin
mkdir many
( cd many && seq -f 'entry-%05g.txt' 1 20000 | xargs touch )
N=100000
seq $N > numbers.txt

echo
echo "== cat of a 1 GiB file into a file"
hyperfine --warmup 1 --min-runs 5 --prepare 'rm -f out.bin' \
    -n 'coreutils cat' "cat big.bin > out.bin" \
    -n 'kiln cat' "$KILN -c 'cat big.bin > out.bin'"
cmp big.bin out.bin
rm -f out.bin

echo
echo "== ls of a directory of 20,000 entries"
hyperfine --warmup 2 --min-runs 20 \
    -n 'coreutils ls' "ls many > /dev/null" \
    -n 'kiln ls' "$KILN -c 'ls many > /dev/null'"

echo
echo "== ls -l of a directory of 20,000 entries"
hyperfine --warmup 2 --min-runs 20 \
    -n 'coreutils ls -l' "ls -l many > /dev/null" \
    -n 'kiln ls -l' "$KILN -c 'ls -l many > /dev/null'"

# The same loop text runs in both shells; only builtins run inside it. Its output goes to
# /dev/null through hyperfine, since kiln takes redirections on simple commands only.
loop() {
    printf 'for i in $(cat numbers.txt); do %s; done' "$1"
}

for body in 'echo hello $i' "printf '%s=%d\\n' x \$i" 'test $i -gt 5'; do
    echo
    echo "== $N iterations of: $body"
    script=$(loop "$body")
    printf '%s\n' "$script" > loop.sh
    hyperfine --warmup 1 --min-runs 5 -N --output=null \
        -n 'dash' "dash loop.sh" \
        -n 'kiln' "$KILN loop.sh"
done
