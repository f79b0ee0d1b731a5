#!/bin/bash
# Nanoseconds per pin event through the AGSI host and the LCD module (BM_PinEventsThroughHost/1)
# of two lcd_bench builds, in paired, alternating runs so that both see the same machine load.
# Prints min and median of each and the ratio of the medians.
# Usage: bench/lcd/paired.sh BASELINE_LCD_BENCH NEW_LCD_BENCH [RUNS]
set -euo pipefail
base=$1 new=$2 runs=${3:-7}
: > /tmp/lcd_paired.0; : > /tmp/lcd_paired.1
for ((r = 0; r < runs; ++r)); do
  i=0
  for bench in "$base" "$new"; do
    "$bench" --benchmark_filter='PinEventsThroughHost/1$' --benchmark_min_time=0.3 2>/dev/null |
      grep -oE 'items_per_second=[0-9.]+[kMG]?' |
      awk -F= '{v = $2; m = 1; if (v ~ /k$/) m = 1e3; if (v ~ /M$/) m = 1e6; if (v ~ /G$/) m = 1e9;
                sub(/[kMG]$/, "", v); printf "%.2f\n", 1e9 / (v * m)}' >> "/tmp/lcd_paired.$i"
    i=$((i + 1))
  done
done
stats() { sort -g | awk '{v[NR]=$1} END {m=(NR%2)?v[(NR+1)/2]:(v[NR/2]+v[NR/2+1])/2; printf "min %.2f  median %.2f", v[1], m}'; }
echo "$base: $(stats < /tmp/lcd_paired.0) ns per pin event"
echo "$new: $(stats < /tmp/lcd_paired.1) ns per pin event"
m0=$(sort -g /tmp/lcd_paired.0 | awk '{v[NR]=$1} END {print (NR%2)?v[(NR+1)/2]:(v[NR/2]+v[NR/2+1])/2}')
m1=$(sort -g /tmp/lcd_paired.1 | awk '{v[NR]=$1} END {print (NR%2)?v[(NR+1)/2]:(v[NR/2]+v[NR/2+1])/2}')
echo "median ratio (baseline / new): $(echo "$m0 / $m1" | bc -l | cut -c1-4)"
