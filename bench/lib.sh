# Helpers the benchmark scripts share (POSIX sh; source it with ". bench/lib.sh").

now() { date +%s.%N; }
# The middle of the numbers on standard input, one a line.
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# Appends the seconds since $1 (a `now` reading) to the file $2.
record_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f\n", b - a }' >> "$2"; }
# "label: median M s over N runs (each)" for a file of run times.
runs_line() { echo "$1 median $(median < "$2") s over $(wc -l < "$2") runs ($(tr '\n' ' ' < "$2"))"; }
# The median and best ratios of two files of run times, with the target named in $4.
ratio_line() {
    m=$(median < "$2"); c=$(median < "$3")
    mb=$(sort -n "$2" | head -1); cb=$(sort -n "$3" | head -1)
    echo "ratio $1: median $(awk -v a="$m" -v c="$c" 'BEGIN { printf "%.2f", a / c }'), best $mb / $cb = $(awk -v a="$mb" -v c="$cb" 'BEGIN { printf "%.2f", a / c }') (target <= $4)"
}
