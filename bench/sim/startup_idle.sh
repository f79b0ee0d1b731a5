#!/bin/bash
# Start-up and idle figures of korvel-sim, as paired runs of two builds (e.g. the previous tree's
# and this one's), alternating so that both see the same machine load:
#   - wall time of a headless run that stops at once (--time 0): start-up to the first
#     instruction plus shutting down;
#   - the share of one core an idle board uses: the board window open, the firmware waiting in
#     WFI between SysTick ticks, CPU time from /proc/<pid>/stat over SECONDS s, under xvfb-run.
# Usage: bench/sim/startup_idle.sh FIRMWARE.elf RUNS SECONDS KORVEL_SIM_A [KORVEL_SIM_B]
set -euo pipefail
elf=$1 runs=$2 seconds=$3
shift 3
sims=("$@")
tick=$(getconf CLK_TCK)

stats() {  # min and median of the numbers on stdin
  sort -g | awk '{v[NR]=$1} END {m=(NR%2)?v[(NR+1)/2]:(v[NR/2]+v[NR/2+1])/2; printf "min %.3f  median %.3f  (n=%d)\n", v[1], m, NR}'
}

wall_runs() {  # prints "<index> <seconds>" per run; korvel-sim needs an X display even headless
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    elf=$1 runs=$2; shift 2
    for ((r = 0; r < runs; ++r)); do
      i=0
      for sim in "$@"; do
        t0=$(date +%s.%N)
        "$sim" --headless --time 0 "$elf" > /dev/null 2>&1 || echo "$sim failed" >&2
        t1=$(date +%s.%N)
        echo "$i $(echo "$t1 - $t0" | bc -l)"
        i=$((i + 1))
      done
    done' wall "$elf" "$runs" "$@"
}

idle_run() {  # prints the percentage of one core
  local sim=$1 pid c0 c1
  xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    "$0" "$1" > /dev/null 2>&1 &
    pid=$!
    sleep 3   # start-up and the board window settle first
    read -r -a s0 < /proc/$pid/stat
    sleep "$2"
    read -r -a s1 < /proc/$pid/stat
    kill $pid; wait $pid 2> /dev/null || true
    echo $(( (s1[13] + s1[14]) - (s0[13] + s0[14]) ))' "$sim" "$elf" "$seconds" | \
    awk -v t="$tick" -v s="$seconds" '{printf "%.2f\n", 100 * $1 / t / s}'
}

for i in "${!sims[@]}"; do : > "/tmp/startup_idle.wall.$i"; : > "/tmp/startup_idle.idle.$i"; done
wall_runs "${sims[@]}" | while read -r i t; do echo "$t" >> "/tmp/startup_idle.wall.$i"; done
for ((r = 0; r < runs; ++r)); do
  for i in "${!sims[@]}"; do idle_run "${sims[$i]}" >> "/tmp/startup_idle.idle.$i"; done
done
for i in "${!sims[@]}"; do
  echo "${sims[$i]}"
  echo "  headless --time 0 wall (s): $(stats < /tmp/startup_idle.wall.$i)"
  echo "  idle, board open (% of a core): $(stats < /tmp/startup_idle.idle.$i)"
done
