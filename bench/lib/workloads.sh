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
for i in $(seq 20); do echo '. ./script.sh'; done > sourced.sh
for i in $(seq 20); do echo '. ./blocks.sh'; done > parse.sh

WORKLOADS="startup builtins functions variables programs substitutions script sourced parse"
