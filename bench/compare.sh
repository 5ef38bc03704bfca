#!/usr/bin/env bash
# Times Chunkit_ beside dd on the same 1 GiB record file, in one run, alternating the
# commands, and prints the medians and the ratios. Not a test: a measurement.
#   bench/compare.sh [RUNS]        (default 9 runs of each command)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-9}
cmake -S . -B build -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build >/dev/null
# tmpfs keeps disk write-back out of the figures; both tools write the same bytes there.
work=${BENCH_DIR:-/dev/shm/chunkit-bench}
mkdir -p "$work"
records=262144  # 1 GiB
[ -f "$work/in.dat" ] || build/mkrecords "$work/in.dat" "$records" 0 1
cat "$work/in.dat" >/dev/null  # warm the cache
bin=$PWD/build/Chunkit_
half_start=$((records / 4 + 1)); half_end=$((records * 3 / 4))

# name|command (run in $work; each command's output file is removed before it runs)
cmds=(
  "chunkit whole >null|$bin in.dat out.dat 0 0 0 0 >/dev/null"
  "chunkit whole >file|$bin in.dat out.dat 0 0 0 0 >console.txt"
  "chunkit half >null|$bin in.dat out.dat $half_start 0 $half_end 0 >/dev/null"
  "dd bs=4096 whole|dd if=in.dat of=out.dat bs=4096 status=none"
  "dd bs=1M whole|dd if=in.dat of=out.dat bs=1M status=none"
  "dd bs=4096 half|dd if=in.dat of=out.dat bs=4096 skip=$((half_start - 1)) count=$((half_end - half_start + 1)) status=none"
  "dd bs=1M half|dd if=in.dat of=out.dat bs=1M skip=$(((half_start - 1) / 256)) count=$(((half_end - half_start + 1) / 256)) status=none"
)
declare -A times
for ((i = 0; i < runs; i++)); do
  for entry in "${cmds[@]}"; do
    name=${entry%%|*}; cmd=${entry#*|}
    rm -f "$work/out.dat" "$work/console.txt"
    t0=$(date +%s.%N)
    (cd "$work" && eval "$cmd")
    t1=$(date +%s.%N)
    times[$name]+="$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}') "
  done
done
rm -f "$work/out.dat" "$work/console.txt"

median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
declare -A med
printf '%-22s %s\n' "command" "median seconds ($runs runs)"
for entry in "${cmds[@]}"; do
  name=${entry%%|*}
  med[$name]=$(echo "${times[$name]}" | median)
  printf '%-22s %.3f\n' "$name" "${med[$name]}"
done
ratio() { awk -v a="${med[$1]}" -v b="${med[$2]}" 'BEGIN {printf "%.2f", a / b}'; }
echo
echo "whole >null / dd bs=1M:   $(ratio 'chunkit whole >null' 'dd bs=1M whole')"
echo "whole >null / dd bs=4096: $(ratio 'chunkit whole >null' 'dd bs=4096 whole')"
echo "whole >file / dd bs=1M:   $(ratio 'chunkit whole >file' 'dd bs=1M whole')"
echo "half >null / dd bs=1M:    $(ratio 'chunkit half >null' 'dd bs=1M half')"
echo "half >null / dd bs=4096:  $(ratio 'chunkit half >null' 'dd bs=4096 half')"
