#!/bin/bash
# CPU time per 1080p picture of libvcodec beside ffmpeg and GStreamer, on the
# same input files, measured round by round in one run (this machine's speed
# drifts by tens of percent within minutes, so only side-by-side ratios mean
# anything). Prints per-round figures, the medians and the ratios.
#
#   bench/vcodec_vs_peers.sh [BUILD_DIR] [FRAMES] [ROUNDS]
#
# vcodec: Google Benchmark's CPU time per picture (VcodecBench, in-process).
# Peers: user+system CPU of the whole process from /usr/bin/time, for the
# full input minus a one-picture input, divided by FRAMES-1, so start-up
# (about 40 ms for anything linking libavcodec) is not counted against them.
set -euo pipefail
BUILD=${1:-build-c}
FRAMES=${2:-120}
ROUNDS=${3:-5}
BENCH="$BUILD/bench/VcodecBench"
[ -x "$BENCH" ] || { echo "build $BENCH first" >&2; exit 1; }
WORK=$(mktemp -d /tmp/vcodec-peers-XXXXXX)
trap 'rm -rf "$WORK"' EXIT

SOURCE=(-f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v "$FRAMES")
ff() { ffmpeg -nostdin -v error -y "$@"; }
ff "${SOURCE[@]}" -c:v mjpeg -q:v 3 -f mjpeg "$WORK/in.mjpeg"
ff -f mjpeg -i "$WORK/in.mjpeg" -c copy -f mpjpeg "$WORK/in.mpjpeg"
ff -f mjpeg -i "$WORK/in.mjpeg" -c copy -frames:v 1 -f mjpeg "$WORK/one.mjpeg"
ff -f mjpeg -i "$WORK/in.mjpeg" -c copy -frames:v 1 -f mpjpeg "$WORK/one.mpjpeg"
ff "${SOURCE[@]}" -c:v libx264 -profile:v baseline -preset veryfast -g 50 -f h264 "$WORK/in.h264"
ff -f h264 -i "$WORK/in.h264" -c copy -frames:v 1 -f h264 "$WORK/one.h264"
# Read everything once so that no round pays for the page cache.
cat "$WORK"/* > /dev/null

cpu() { # seconds of user+system CPU of a command
    /usr/bin/time -f "%U %S" -o "$WORK/time" "$@" > /dev/null 2>&1
    awk '{printf "%.4f", $1 + $2}' "$WORK/time"
}
per_frame() { # ms per picture from the full and the one-picture CPU seconds
    awk -v a="$1" -v b="$2" -v n="$FRAMES" 'BEGIN { printf "%.3f", (a - b) * 1000 / (n - 1) }'
}
vcodec() { # ms of CPU per picture for one benchmark
    VCODEC_BENCH_DIR="$WORK" "$BENCH" --benchmark_filter="$1" --benchmark_format=csv 2> /dev/null |
        awk -F, -v name="\"$1\"" '$1 == name { printf "%.3f", $4 }'
}
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

cpu_gst() { # CPU seconds of GStreamer's jpegdec on a multipart file
    cpu gst-launch-1.0 -q filesrc location="$1" ! multipartdemux ! jpegdec ! videoconvert ! \
        video/x-raw,format=BGRA ! fakesink
}

# Warm-up: every program once, results dropped.
vcodec BM_JpegToBgra1080p > /dev/null
cpu ffmpeg -nostdin -threads 1 -i "$WORK/in.mjpeg" -pix_fmt bgra -f null - > /dev/null
cpu_gst "$WORK/in.mpjpeg" > /dev/null

J_V="" J_F="" J_G="" H_V="" H_F=""
for round in $(seq "$ROUNDS"); do
    v=$(vcodec BM_JpegToBgra1080p)
    f=$(per_frame "$(cpu ffmpeg -nostdin -threads 1 -i "$WORK/in.mjpeg" -pix_fmt bgra -f null -)" \
                  "$(cpu ffmpeg -nostdin -threads 1 -i "$WORK/one.mjpeg" -pix_fmt bgra -f null -)")
    g=$(per_frame "$(cpu_gst "$WORK/in.mpjpeg")" "$(cpu_gst "$WORK/one.mpjpeg")")
    hv=$(vcodec BM_H264ToI4201080p)
    hf=$(per_frame "$(cpu ffmpeg -nostdin -threads 1 -i "$WORK/in.h264" -f null -)" \
                   "$(cpu ffmpeg -nostdin -threads 1 -i "$WORK/one.h264" -f null -)")
    echo "round $round: JPEG->BGRA vcodec $v ms, ffmpeg $f ms, GStreamer $g ms; H.264->I420 vcodec $hv ms, ffmpeg $hf ms"
    J_V="$J_V $v" J_F="$J_F $f" J_G="$J_G $g" H_V="$H_V $hv" H_F="$H_F $hf"
done

jv=$(echo "$J_V" | median) jf=$(echo "$J_F" | median) jg=$(echo "$J_G" | median)
hv=$(echo "$H_V" | median) hf=$(echo "$H_F" | median)
echo
echo "medians over $ROUNDS rounds, $FRAMES pictures of 1920x1080, CPU ms per picture:"
echo "  JPEG to BGRA:  vcodec $jv  ffmpeg $jf  GStreamer $jg"
echo "  H.264 to I420: vcodec $hv  ffmpeg $hf"
awk -v a="$jv" -v b="$jf" -v c="$jg" -v d="$hv" -v e="$hf" 'BEGIN {
    printf "ratios: JPEG vcodec/ffmpeg %.2f (target <= 0.70), vcodec/GStreamer %.2f (target <= 1.00); ", a / b, a / c
    printf "H.264 vcodec/ffmpeg %.2f (target <= 1.05)\n", d / e }'
