# Writes the language workloads into the current directory, one script file each, so that
# every shell runs them unchanged. Sourced by bench/language.sh and bench/instructions.sh.

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
# A million lines in eight shapes that cycle (n the line number, m = n mod 97): the tree of
# the whole text is held at once, so this is the row for memory per byte of text.
awk -v lines="${KILN_BENCH_LINES:-1000000}" 'BEGIN { for (n = 1; n <= lines; n++) { m = n % 97; s = n % 8
    if (s == 1) printf "if [ %d -gt 0 ]; then y=\"v%d\"; fi\n", n, n
    else if (s == 2) printf "x%d=\"value number %d\"; z=$x%d\n", m, n, m
    else if (s == 3) printf "case \"k%d\" in k1|k2) a=1 ;; k*) a=2 ;; *) a=3 ;; esac\n", m
    else if (s == 4) printf "for w in a%d b%d c%d; do last=$w; done\n", m, m, m
    else if (s == 5) printf "f%d() { r=\"%d\"; }\n", m, n
    else if (s == 6) printf "echo \"line %d $y\" > /dev/null\n", n
    else if (s == 7) printf "test -n \"$x%d\" && ok=1 || ok=0\n", m
    else printf "while false; do echo never %d; done\n", n
}}' > large.sh
for i in $(seq 20); do echo '. ./script.sh'; done > sourced.sh
for i in $(seq 20); do echo '. ./blocks.sh'; done > parse.sh

WORKLOADS="startup builtins functions variables programs substitutions script sourced parse large"
