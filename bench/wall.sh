#!/usr/bin/env bash
# A wall of N cameras in one `ipcamview view --headless` window: N camsim
# cameras (pre-encoded pictures, so camsim costs little), shown in a grid of
# cells. Prints the viewer process's CPU per second and the drops and late
# frames of all viewers.
#
# Usage: bench/wall.sh BUILD_DIR N WxH FPS CELL_WxH SECONDS [view options...]
set -euo pipefail
build=$1 n=$2 size=$3 fps=$4 cell=$5 seconds=$6
shift 6
out=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$out"' EXIT
addresses=()
for i in $(seq "$n"); do
  "$build/tools/camsim/camsim" --port 0 --device cam-jpeg-4608 --size "$size" --fps "$fps" --preencode 25 \
    >"$out/camsim$i" &
  pids+=($!)
done
for i in $(seq "$n"); do
  for _ in $(seq 300); do grep -q port= "$out/camsim$i" 2>/dev/null && break; sleep 0.1; done
  addresses+=("127.0.0.1:$(sed -n 's/port=//p' "$out/camsim$i")")
done
/usr/bin/time -o "$out/time" -f "%U %S %e" "$build/tools/ipcamview/ipcamview" view "${addresses[@]}" --headless \
  --size "$cell" --duration "$seconds" "$@" >"$out/summary" 2>/dev/null || true
awk -v n="$n" -v size="$size" -v fps="$fps" -v cell="$cell" '
  FNR == NR { cpu = $1 + $2; wall = $3; next }
  /\.pictures=/ { split($0, a, "="); shown += a[2] }
  /\.drops=/ { split($0, a, "="); drops += a[2] }
  /\.late=/ { split($0, a, "="); late += a[2] }
  END {
    printf "%d cameras %s at %s fps in %s cells: %.2f s CPU per second, %.0f frames shown per second, drops %d, late %d\n",
      n, size, fps, cell, cpu / wall, shown / wall, drops, late
  }' "$out/time" "$out/summary"
