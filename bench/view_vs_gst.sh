#!/usr/bin/env bash
# Receive, decode and show a camsim MJPEG stream: `ipcamview view --headless`
# (window the size of the picture) beside GStreamer's
#   souphttpsrc ! multipartdemux ! jpegdec ! videoconvert ! fakesink
# on the same camsim stream, both running at the same time in every round,
# so that whatever else loads the machine loads them alike.
#
# What is compared is the steady state: each process's CPU (user + system,
# all threads, from /proc/PID/stat) over the same SECONDS, taken after a
# warm-up in which both have connected and shown their first frames. The
# stream is paced by camsim, so in that time both get FPS x SECONDS frames;
# the script checks that against what each actually took (our progress
# lines; the bytes GStreamer's connection received) and says so when one fell behind.
# GStreamer runs without -v: printing a line per buffer costs it about 7 %.
# Our whole run (start-up and first frame included) is printed as well.
#
# camsim replays pre-encoded pictures, so its own CPU is small.
#
# Usage: bench/view_vs_gst.sh [BUILD_DIR] [SECONDS] [ROUNDS] [WxH] [FPS]
set -euo pipefail
build=${1:-build}
seconds=${2:-20}
rounds=${3:-5}
size=${4:-1920x1080}
fps=${5:-25}
warmup=4
camsim=$build/tools/camsim/camsim
view=$build/tools/ipcamview/ipcamview
out=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$out"' EXIT

"$camsim" --port 0 --device cam-jpeg-4608 --size "$size" --fps "$fps" --preencode 50 \
  --lifetime $((rounds * (seconds + warmup + 10) + 60)) >"$out/camsim" &
for _ in $(seq 100); do grep -q port= "$out/camsim" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/port=//p' "$out/camsim")
url="http://127.0.0.1:$port/ipcam/sjpeg.cgi?language=1&ch=1"
ticks=$(getconf CLK_TCK)

# CPU seconds of a process so far (all its threads, the dead ones included).
cpu_of() { awk -v t="$ticks" '{ printf "%.2f\n", ($14 + $15) / t }' "/proc/$1/stat"; }
# Bytes a process has received on its connections to camsim so far.
received_of() {
  ss -tinpH "dst 127.0.0.1:$port" | awk -v p="pid=$1," '
    /^[A-Z]/ { mine = index($0, p) > 0; next }
    mine { for (i = 1; i <= NF; ++i) if ($i ~ /^bytes_received:/) n += substr($i, 16) }
    END { print n + 0 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: >"$out/ours.ms"; : >"$out/gst.ms"; : >"$out/ratio"
for round in $(seq "$rounds"); do
  start_ours() {
    /usr/bin/time -f "%U %S" -o "$out/ours.time" "$view" view "127.0.0.1:$port" --headless \
      --duration $((warmup + seconds + 2)) >"$out/ours.out" 2>"$out/ours.err" &
    timer=$!
  }
  start_gst() {
    gst-launch-1.0 -q souphttpsrc location="$url" ! multipartdemux ! jpegdec ! videoconvert ! fakesink \
      >"$out/gst.out" 2>&1 &
    gst=$!
  }
  # Alternate who starts first.
  if [ $((round % 2)) = 1 ]; then start_ours; start_gst; else start_gst; start_ours; fi
  t0=$(date +%s.%N)
  sleep "$warmup"
  ours=$(pgrep -P $timer)
  ours0=$(cpu_of $ours); gst0=$(cpu_of $gst); received0=$(received_of $gst)
  sleep "$seconds"
  ours1=$(cpu_of $ours); gst1=$(cpu_of $gst); received1=$(received_of $gst)
  window_end=$(awk -v a="$(date +%s.%N)" -v b="$t0" 'BEGIN { printf "%.1f", a - b }')
  kill -INT $gst 2>/dev/null || true
  wait $gst 2>/dev/null || true
  wait $timer || true
  frames=$((fps * seconds))
  # Ours: what the progress lines say was shown between the two samples.
  shown=$(awk -v from="$warmup" -v to="$window_end" '
    / viewer1 / { t = substr($1, 3) + 0; for (i = 2; i <= NF; ++i) if ($i ~ /^shown=/) s = substr($i, 7);
                  if (t > from + 0.5 && t <= to + 0.5) n += s }
    END { print n + 0 }' "$out/ours.err")
  bytes=$(sed -n 's/^viewer1.bytes=//p' "$out/ours.out")
  taken=$(sed -n 's/^viewer1.frames=//p' "$out/ours.out")
  gst_frames=$(awk -v r="$((received1 - received0))" -v b="$bytes" -v f="$taken" 'BEGIN { printf "%d", r / (b / f) }')
  awk -v o0="$ours0" -v o1="$ours1" -v g0="$gst0" -v g1="$gst1" -v f="$frames" -v s="$shown" -v gf="$gst_frames" \
    -v r="$round" -v dir="$out" 'BEGIN {
    o = (o1 - o0) * 1000 / f; g = (g1 - g0) * 1000 / f;
    printf "round %d: ipcamview %.2f ms CPU/frame (%d shown of %d), gst %.2f ms CPU/frame (~%d frames received), ratio %.3f\n",
      r, o, s, f, g, gf, o / g;
    print o >> (dir "/ours.ms"); print g >> (dir "/gst.ms"); print o / g >> (dir "/ratio");
    if (s < 0.97 * f) print "  ipcamview fell behind: the round says little";
    if (gf < 0.97 * f) print "  gst fell behind: the round says little";
  }'
  first=$(sed -n 's/^viewer1.first_frame_ms=//p' "$out/ours.out")
  awk -v t="$taken" -v ff="$first" '{ printf "  ipcamview whole run, start-up included: %.2f s CPU, %d frames taken, %.2f ms CPU/frame, first frame %s ms\n",
    $1 + $2, t, ($1 + $2) * 1000 / t, ff }' "$out/ours.time"
done
o=$(median <"$out/ours.ms"); g=$(median <"$out/gst.ms")
echo "== $size MJPEG at $fps fps, $rounds rounds of $seconds s (after ${warmup} s warm-up):" \
  "ipcamview ${o} ms CPU/frame, gst ${g} ms CPU/frame (medians);" \
  "ratio of medians $(awk -v a="$o" -v b="$g" 'BEGIN { printf "%.3f", a / b }'), median of ratios $(median <"$out/ratio")"
