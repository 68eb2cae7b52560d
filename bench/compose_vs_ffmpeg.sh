#!/bin/bash
# CPU time per 1080p picture of compositing (ComposePicture: conversion into a
# 1920x1080 window surface and the caption overlay blended over it) beside
# ffmpeg doing the same conversion single-threaded on the same raw frames,
# measured round by round in one run (this machine's speed drifts by tens of
# percent within minutes, so only side-by-side ratios mean anything). Prints
# per-round figures, the medians and the ratios.
#
#   bench/compose_vs_ffmpeg.sh [BUILD_DIR] [FRAMES] [ROUNDS]
#
# Ours: Google Benchmark's CPU time per picture (ComposeBench, in-process, the
# frames in memory). ffmpeg: user+system CPU of the whole process as its own
# -benchmark reports it (getrusage, microseconds; /usr/bin/time counts in
# 10 ms steps) for the full input minus a one-frame input, divided by
# FRAMES-1, so its start-up is not counted against it:
#   ffmpeg -f rawvideo -pix_fmt F -s 1920x1080 -i in.F -vf scale,format=bgra
#          -threads 1 -filter_threads 1 -f null -
# (for BGRA input its scale filter passes the frames through untouched, so
# its figure is the cost of reading raw frames; ours copies and blends).
set -euo pipefail
BUILD=${1:-build}
FRAMES=${2:-120}
ROUNDS=${3:-5}
BENCH="$BUILD/bench/ComposeBench"
[ -x "$BENCH" ] || { echo "build $BENCH first" >&2; exit 1; }
WORK=$(mktemp -d /tmp/compose-vs-ffmpeg-XXXXXX)
trap 'rm -rf "$WORK"' EXIT

declare -A FORMAT=([yuv]=yuv420p [bgra]=bgra [rgb565]=rgb565le)
for ext in yuv bgra rgb565; do
    ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v "$FRAMES" \
        -f rawvideo -pix_fmt "${FORMAT[$ext]}" "$WORK/in.$ext"
    ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt "${FORMAT[$ext]}" -s 1920x1080 -i "$WORK/in.$ext" \
        -frames:v 1 -f rawvideo "$WORK/one.$ext"
done
# Read everything once so that no round pays for the page cache.
cat "$WORK"/* > /dev/null

ffmpeg_cpu() { # CPU seconds of ffmpeg converting one file to BGRA
    ffmpeg -nostdin -hide_banner -nostats -benchmark -f rawvideo -pix_fmt "${FORMAT[$1]}" -s 1920x1080 -i "$2" \
        -vf scale,format=bgra -threads 1 -filter_threads 1 -f null - 2>&1 |
        awk -F'[= s]+' '/^bench: utime/ { printf "%.6f", $3 + $5 }'
}
per_frame() { # ms per frame from the full and the one-frame CPU seconds
    awk -v a="$1" -v b="$2" -v n="$FRAMES" 'BEGIN { printf "%.3f", (a - b) * 1000 / (n - 1) }'
}
ours() { # ms of CPU per picture for one benchmark
    COMPOSE_BENCH_DIR="$WORK" "$BENCH" --benchmark_filter="^$1\$" --benchmark_min_time=1 \
        --benchmark_format=csv 2> /dev/null | awk -F, -v name="\"$1\"" '$1 == name { printf "%.3f", $4 }'
}
median() { tr ' ' '\n' | grep -v '^$' | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Warm-up: every program once, results dropped.
ours BM_ComposeI420 > /dev/null
ffmpeg_cpu yuv "$WORK/in.yuv" > /dev/null

declare -A OURS=() PEER=()
declare -A BENCHES=([yuv]=BM_ComposeI420 [bgra]=BM_ComposeBgra [rgb565]=BM_ComposeRgb565)
for round in $(seq "$ROUNDS"); do
    line="round $round:"
    for ext in yuv bgra rgb565; do
        o=$(ours "${BENCHES[$ext]}")
        f=$(per_frame "$(ffmpeg_cpu "$ext" "$WORK/in.$ext")" "$(ffmpeg_cpu "$ext" "$WORK/one.$ext")")
        OURS[$ext]="${OURS[$ext]:-} $o" PEER[$ext]="${PEER[$ext]:-} $f"
        line="$line ${FORMAT[$ext]} ours $o ms, ffmpeg $f ms;"
    done
    echo "$line"
done

echo
echo "medians over $ROUNDS rounds, $FRAMES frames of 1920x1080 into a 1920x1080 window, CPU ms per picture:"
for ext in yuv bgra rgb565; do
    o=$(echo "${OURS[$ext]}" | median) f=$(echo "${PEER[$ext]}" | median)
    awk -v n="${FORMAT[$ext]}" -v o="$o" -v f="$f" \
        'BEGIN { printf "  %-9s ours %.3f (with the overlay)  ffmpeg %.3f  ratio %.2f (goal <= 1.00)\n", n, o, f, o / f }'
done
