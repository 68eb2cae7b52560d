#!/usr/bin/env bash
# Receive, decode and show a camsim MJPEG stream: `ipcamview view --headless`
# (window the size of the picture) beside GStreamer's
#   souphttpsrc ! multipartdemux ! jpegdec ! videoconvert ! fakesink
# on the same stream in the same run. Prints process CPU per frame of each
# and the ratio. camsim pre-encodes its pictures, so its own CPU is small.
#
# Usage: bench/view_vs_gst.sh [BUILD_DIR] [SECONDS] [WxH] [FPS]
set -euo pipefail
build=${1:-build}
seconds=${2:-20}
size=${3:-1920x1080}
fps=${4:-25}
camsim=$build/tools/camsim/camsim
view=$build/tools/ipcamview/ipcamview
out=$(mktemp -d)
trap 'kill $camsim_pid 2>/dev/null || true; rm -rf "$out"' EXIT

"$camsim" --port 0 --device cam-jpeg-4608 --size "$size" --fps "$fps" --preencode 50 >"$out/camsim" &
camsim_pid=$!
for _ in $(seq 100); do grep -q port= "$out/camsim" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/port=//p' "$out/camsim")
url="http://127.0.0.1:$port/ipcam/sjpeg.cgi?language=1&ch=1"

cpu() { awk '{print $1 + $2}' "$1"; }

/usr/bin/time -o "$out/ours.time" -f "%U %S" "$view" view "127.0.0.1:$port" --headless --duration "$seconds" \
  >"$out/ours.out" 2>/dev/null
ours_frames=$(sed -n 's/^viewer1.pictures=//p' "$out/ours.out")
first_ms=$(sed -n 's/^viewer1.first_frame_ms=//p' "$out/ours.out")

# gst-launch's CPU from /proc just before it is stopped (clock ticks).
gst-launch-1.0 -v souphttpsrc location="$url" ! multipartdemux ! jpegdec ! videoconvert ! fakesink silent=false \
  >"$out/gst.out" 2>&1 &
gst_pid=$!
sleep "$seconds"
ticks=$(getconf CLK_TCK)
awk -v t="$ticks" '{printf "%f %f\n", $14 / t, $15 / t}' "/proc/$gst_pid/stat" >"$out/gst.time"
kill -INT $gst_pid 2>/dev/null || true
wait $gst_pid 2>/dev/null || true
gst_frames=$(grep -c 'chain' "$out/gst.out" || true)

ours_cpu=$(cpu "$out/ours.time")
gst_cpu=$(cpu "$out/gst.time")
awk -v oc="$ours_cpu" -v of="$ours_frames" -v gc="$gst_cpu" -v gf="$gst_frames" -v ff="$first_ms" -v sz="$size" \
  -v fps="$fps" 'BEGIN {
  op = of > 0 ? oc * 1000 / of : 0; gp = gf > 0 ? gc * 1000 / gf : 0;
  printf "%s MJPEG at %s fps\n", sz, fps;
  printf "ipcamview view: %.2f s CPU, %d frames shown, %.2f ms CPU/frame, first frame %s ms\n", oc, of, op, ff;
  printf "gst-launch-1.0: %.2f s CPU, %d frames, %.2f ms CPU/frame\n", gc, gf, gp;
  if (gp > 0) printf "ratio (ours / gst): %.2f\n", op / gp;
}'
