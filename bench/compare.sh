#!/usr/bin/env bash
# Times Chunkit_ beside dd on the same 1 GiB record file, in one run, alternating the
# commands, and prints the medians and the ratios. Not a test: a measurement. The listing
# (--list) is timed beside a copy of the same file to NUL.
#   bench/compare.sh [RUNS]        (default 9 runs of each command)
# The last 10 records of a 4 GiB and a 400 GiB sparse file are timed with --batch and --list
# beside dd.
# Also, when the tools are there (each part is skipped with the reason otherwise):
#   valgrind       instructions per record of a whole-file copy, --list and --batch of 4096
#                  records (callgrind)
#   tmux, script   the whole file at a terminal: the tool in a tmux pane with a client attached,
#                  beside the same run with the console on /dev/null
#   root, xfsprogs the whole file on a loop-mounted XFS (which clones extents): the tool,
#                  cp --reflink=always and dd bs=1M, with and without sync after each run
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-9}
cmake -S . -B build-bench -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON >/dev/null
cmake --build build-bench >/dev/null
# tmpfs keeps disk write-back out of the figures; both tools write the same bytes there.
work=${BENCH_DIR:-/dev/shm/chunkit-bench}
mkdir -p "$work"
records=262144  # 1 GiB
[ -f "$work/in.dat" ] || build-bench/mkrecords "$work/in.dat" "$records" 0 1
# A recording of three days, its dated records in time order, for the split by day.
[ -f "$work/days.dat" ] || build-bench/mkrecords "$work/days.dat" "$records" 0 1 3
cat "$work/in.dat" "$work/days.dat" >/dev/null  # warm the cache
bin=$PWD/build-bench/Chunkit_
half_start=$((records / 4 + 1)); half_end=$((records * 3 / 4))

# --- instructions per record ---
# callgrind counts every instruction of a run. Per record: the whole run divided by its 4096
# records, and the slope between runs of 4096 records and of 1 record (start-up left out).
if command -v valgrind >/dev/null; then
  instructions() {  # ARGS... -> instructions of a run in $work with the console on /dev/null
    rm -f "$work/cg.log" "$work/cg.dat"
    (cd "$work" && valgrind --tool=callgrind --callgrind-out-file=/dev/null "$bin" "$@" \
      >/dev/null 2>cg.log)
    grep -o 'refs: *[0-9,]*' "$work/cg.log" | tr -dc 0-9
  }
  build-bench/mkrecords "$work/cg4096.dat" 4096 0 1
  build-bench/mkrecords "$work/cg1.dat" 1 0 1
  per_record() {  # LABEL TARGET ARGS-BEFORE-INPUT -- ARGS-AFTER-INPUT
    local label=$1 target=$2; shift 2
    local before=() ; while [ "$1" != -- ]; do before+=("$1"); shift; done; shift
    local i4096 i1
    i4096=$(instructions "${before[@]}" cg4096.dat "$@")
    i1=$(instructions "${before[@]}" cg1.dat "$@")
    printf 'instructions per record, %-28s %5d   (target %d or fewer; all / 4096: %d)\n' \
      "$label, start-up left out:" $(((i4096 - i1) / 4095)) "$target" $((i4096 / 4096))
  }
  per_record "copy (console on /dev/null)" 841 -- cg.dat 0 0 0 0
  per_record "--list" 690 --list --
  per_record "--batch" 790 --batch -- cg.dat
  rm -f "$work"/cg.* "$work"/cg4096.dat "$work"/cg1.dat
else
  echo "instructions per record: skipped (valgrind is not installed)"
fi
echo

# The seconds a command takes, run in $work (or the folder given second).
seconds_of() {
  local t0 t1
  t0=$(date +%s.%N)
  (cd "${2:-$work}" && eval "$1")
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}'
}

# --- the section of a huge file ---
# The last 10 records of sparse files of 4 GiB and 400 GiB: the modes for programs go straight
# to them, so their time is dd's and does not grow with the file. A dated record lies 100
# records before them, as in a recording; the listing reads back to it for the records' time.
section() {  # RECORDS -> the medians of --batch, --list and dd for the last 10 records
  local n=$1 f=$work/sparse.dat
  rm -f "$f"; truncate -s $((n * 4096)) "$f"
  printf '\x02\x3C\xFF\x99\x01\x23\x00\x00\x23\x59\x59' |
    dd of="$f" bs=4096 seek=$((n - 110)) conv=notrunc status=none
  local scmds=(
    "--batch|$bin --batch sparse.dat NUL $((n - 9)) 0 $n 0 >/dev/null"
    "--list|$bin --list sparse.dat $((n - 9)) 0 $n 0 >/dev/null"
    "dd|dd if=sparse.dat of=/dev/null bs=4096 skip=$((n - 10)) count=10 status=none"
  )
  declare -A st
  for ((i = 0; i < runs; i++)); do
    for entry in "${scmds[@]}"; do
      local name=${entry%%|*}
      st[$name]+="$(seconds_of "${entry#*|}") "
    done
  done
  rm -f "$f"
  local b l d
  b=$(echo "${st[--batch]}" | median); l=$(echo "${st[--list]}" | median); d=$(echo "${st[dd]}" | median)
  printf 'last 10 of %9d records: --batch %.4f s, --list %.4f s, dd bs=4096 %.4f s; ratios %.2f %.2f (target 3 or less)\n' \
    "$n" "$b" "$l" "$d" "$(awk -v a="$b" -v b="$d" 'BEGIN {print a / b}')" \
    "$(awk -v a="$l" -v b="$d" 'BEGIN {print a / b}')"
}
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
section $((4 * 262144))
section $((400 * 262144))
echo

# --- the terminal ---
# A tmux server of its own, with a client attached through `script` (which gives the client a
# terminal), so the pane's output is really drawn. The pane writes the run's start and end.
terminal=""
if ! command -v tmux >/dev/null; then
  echo "terminal: skipped (tmux is not installed)"
elif ! command -v script >/dev/null; then
  echo "terminal: skipped (script, from util-linux, is not installed)"
else
  terminal=yes
  sock=chunkit-bench-$$
  tmux -L "$sock" -f /dev/null new-session -d -s bench -x 80 -y 24 "cat"
  tmux -L "$sock" set-option -g remain-on-exit on
  script -qfc "tmux -L $sock attach -t bench" /dev/null </dev/null >/dev/null 2>&1 &
  client=$!
  trap 'tmux -L "$sock" kill-server 2>/dev/null || true; wait "$client" 2>/dev/null || true' EXIT
  for _ in $(seq 50); do
    tmux -L "$sock" list-clients 2>/dev/null | grep -q . && break
    sleep 0.1
  done
  tmux -L "$sock" list-clients | grep -q . || { echo "terminal: no tmux client attached" >&2; exit 1; }
fi
# Runs the tool in the pane on the whole file and prints its seconds.
at_terminal() {
  rm -f "$work/term.time"
  tmux -L "$sock" respawn-pane -k -t bench "cd $work && t0=\$(date +%s.%N) && \
    $bin in.dat out.dat 0 0 0 0; t1=\$(date +%s.%N); echo \$t0 \$t1 > term.time; \
    tmux -L $sock wait-for -S chunkit-done"
  tmux -L "$sock" wait-for chunkit-done
  awk '{print $2 - $1}' "$work/term.time"
}

# name|command (run in $work; each command's output file is removed before it runs)
cmds=(
  "chunkit whole >null|$bin in.dat out.dat 0 0 0 0 >/dev/null"
  "chunkit whole >file|$bin in.dat out.dat 0 0 0 0 >console.txt"
  "chunkit half >null|$bin in.dat out.dat $half_start 0 $half_end 0 >/dev/null"
  "chunkit whole to NUL|$bin in.dat NUL 0 0 0 0 >/dev/null"
  "chunkit --batch whole|$bin --batch in.dat out.dat >/dev/null"
  "chunkit --list >null|$bin --list in.dat >/dev/null"
  "chunkit --list >file|$bin --list in.dat >console.txt"
  "chunkit --summary >null|$bin --summary in.dat >/dev/null"
  "chunkit --batch 1 hour|$bin --batch --from 99-123T10:00 --to 99-123T11:00 in.dat out.dat >/dev/null"
  "chunkit --split day|$bin --split day days.dat day-%Y-%j.dat >/dev/null 2>&1"
  "chunkit --batch days|$bin --batch days.dat out.dat >/dev/null"
  "dd bs=4096 whole|dd if=in.dat of=out.dat bs=4096 status=none"
  "dd bs=1M whole|dd if=in.dat of=out.dat bs=1M status=none"
  "dd bs=4096 half|dd if=in.dat of=out.dat bs=4096 skip=$((half_start - 1)) count=$((half_end - half_start + 1)) status=none"
  "dd bs=1M half|dd if=in.dat of=out.dat bs=1M skip=$(((half_start - 1) / 256)) count=$(((half_end - half_start + 1) / 256)) status=none"
)
[ -n "$terminal" ] && cmds+=("chunkit whole >tmux|at_terminal")
declare -A times
for ((i = 0; i < runs; i++)); do
  for entry in "${cmds[@]}"; do
    name=${entry%%|*}; cmd=${entry#*|}
    rm -f "$work/out.dat" "$work/console.txt" "$work"/day-*.dat
    if [ "$cmd" = at_terminal ]; then
      times[$name]+="$(at_terminal) "
      continue
    fi
    times[$name]+="$(seconds_of "$cmd") "
  done
done
rm -f "$work/out.dat" "$work/console.txt" "$work/term.time" "$work"/day-*.dat

declare -A med
printf '%-22s %s\n' "command" "median seconds ($runs runs)"
for entry in "${cmds[@]}"; do
  name=${entry%%|*}
  med[$name]=$(echo "${times[$name]}" | median)
  printf '%-22s %.3f\n' "$name" "${med[$name]}"
done
ratio() { awk -v a="${med[$1]}" -v b="${med[$2]}" 'BEGIN {printf "%.2f", a / b}'; }
echo
echo "whole >null / dd bs=1M:   $(ratio 'chunkit whole >null' 'dd bs=1M whole')   (target 1.1 or less)"
echo "--batch / dd bs=1M:       $(ratio 'chunkit --batch whole' 'dd bs=1M whole')   (target 1.0 or less)"
echo "whole >null / dd bs=4096: $(ratio 'chunkit whole >null' 'dd bs=4096 whole')"
echo "whole >file / dd bs=1M:   $(ratio 'chunkit whole >file' 'dd bs=1M whole')   (target 1.3 or less)"
echo "half >null / dd bs=1M:    $(ratio 'chunkit half >null' 'dd bs=1M half')"
echo "half >null / dd bs=4096:  $(ratio 'chunkit half >null' 'dd bs=4096 half')"
echo "--list >null / to NUL:     $(ratio 'chunkit --list >null' 'chunkit whole to NUL')   (target 1.5 or less)"
echo "--list >file / to NUL:     $(ratio 'chunkit --list >file' 'chunkit whole to NUL')"
echo "--summary / --list:        $(ratio 'chunkit --summary >null' 'chunkit --list >null')   (target 1 or less)"
echo "--batch 1 hour / --list:  $(ratio 'chunkit --batch 1 hour' 'chunkit --list >null')   (target 1 or less)"
echo "--split day / --batch:     $(ratio 'chunkit --split day' 'chunkit --batch days')   (three days; target about 1)"
if [ -n "$terminal" ]; then
  echo "whole >tmux / >null:      $(ratio 'chunkit whole >tmux' 'chunkit whole >null')   (target 1.5 or less)"
fi

# --- XFS: storage shared instead of written ---
echo
if [ "$(id -u)" != 0 ]; then
  echo "xfs: skipped (mounting a loop device needs root)"
elif ! command -v mkfs.xfs >/dev/null; then
  echo "xfs: skipped (mkfs.xfs is not installed: Debian package xfsprogs)"
else
  xfs=$work/xfs
  mkdir -p "$xfs"
  truncate -s 4G "$work/xfs.img"
  mkfs.xfs -q -f "$work/xfs.img"
  if ! mount -o loop "$work/xfs.img" "$xfs"; then
    echo "xfs: skipped (mounting the image on a loop device failed)"
  else
    trap 'umount "$xfs" 2>/dev/null || true; rm -f "$work/xfs.img"
      [ -n "$terminal" ] && tmux -L "$sock" kill-server 2>/dev/null; true' EXIT
    cp "$work/in.dat" "$xfs/in.dat"
    sync
    xcmds=(
      "chunkit|$bin in.dat out.dat 0 0 0 0 >/dev/null"
      "chunkit --batch|$bin --batch in.dat out.dat >/dev/null"
      "cp --reflink=always|cp --reflink=always in.dat out.dat"
      "dd bs=1M|dd if=in.dat of=out.dat bs=1M status=none"
    )
    declare -A xt
    for ((i = 0; i < runs; i++)); do
      for synced in "" " + sync"; do
        for entry in "${xcmds[@]}"; do
          name=${entry%%|*}$synced; cmd=${entry#*|}
          rm -f "$xfs/out.dat"; sync
          t0=$(date +%s.%N)
          (cd "$xfs" && eval "$cmd" && if [ -n "$synced" ]; then sync; fi)
          t1=$(date +%s.%N)
          xt[$name]+="$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}') "
        done
      done
    done
    unshared_extents() {  # FILE -> extents of it not shared with another file
      local n=0
      while read -r _ _ _ _ flags; do
        [[ $flags == 0x* ]] && (((flags & 0x2000) == 0)) && n=$((n + 1))
      done < <(xfs_io -c "fiemap -v" "$1" | tail -n +3)
      echo "$n"
    }
    (cd "$xfs" && $bin in.dat shared.dat 0 0 0 0 >/dev/null)
    unshared=$(unshared_extents "$xfs/shared.dat")
    # 100,000 whole records from the middle, by --batch.
    (cd "$xfs" && $bin --batch in.dat middle.dat 100001 0 200000 0 >/dev/null)
    middle=$(unshared_extents "$xfs/middle.dat")
    printf '%-28s %s\n' "on XFS" "median seconds ($runs runs)"
    declare -A xm
    for synced in "" " + sync"; do
      for entry in "${xcmds[@]}"; do
        name=${entry%%|*}$synced
        xm[$name]=$(echo "${xt[$name]}" | median)
        printf '%-28s %.3f\n' "$name" "${xm[$name]}"
      done
    done
    # The three-day recording split into days, beside its summary.
    cp "$work/days.dat" "$xfs/days.dat"
    sync
    for ((i = 0; i < runs; i++)); do
      rm -f "$xfs"/day-*.dat; sync
      xt[split]+="$(seconds_of "$bin --split day days.dat day-%Y-%j.dat >/dev/null 2>&1" "$xfs") "
      xt[summary]+="$(seconds_of "$bin --summary days.dat >/dev/null" "$xfs") "
    done
    days_unshared=0
    for f in "$xfs"/day-*.dat; do days_unshared=$((days_unshared + $(unshared_extents "$f"))); done
    for name in split summary; do
      xm[$name]=$(echo "${xt[$name]}" | median)
      printf '%-28s %.3f\n' "chunkit --$name day" "${xm[$name]}"
    done
    xratio() { awk -v a="${xm[$1]}" -v b="${xm[$2]}" 'BEGIN {printf "%.2f", a / b}'; }
    echo
    echo "dd bs=1M + sync / chunkit + sync: $(xratio 'dd bs=1M + sync' 'chunkit + sync')   (target 3 or more)"
    echo "dd bs=1M + sync / --batch + sync: $(xratio 'dd bs=1M + sync' 'chunkit --batch + sync')   (target 3 or more)"
    echo "chunkit / dd bs=1M (page cache): $(xratio 'chunkit' 'dd bs=1M')   (target 1 or less)"
    echo "--batch / dd bs=1M (page cache): $(xratio 'chunkit --batch' 'dd bs=1M')   (target 1 or less)"
    echo "extents of the tool's copy not shared with the input: $unshared   (target 0)"
    echo "extents of --batch's 100,000 middle records not shared: $middle   (target 0)"
    echo "--split day / --summary (three days): $(xratio split summary)   (target 1 or less)"
    echo "extents of the day pieces not shared with the input: $days_unshared   (target 0)"
  fi
fi
