#!/bin/bash
# What recording costs beside viewing: process CPU per frame of `ipcamview view`
# alone and with --record, on the same 1080p camsim camera in the same run
# (MJPEG and H.264, camsim replaying pre-encoded pictures so that its own CPU
# stays small), and for MJPEG also `ffmpeg -f mpjpeg -i URL -c copy out.mkv`,
# which only receives and writes (it decodes nothing). In each round the
# three run at the same time on the same camera.
#
# Usage: bench/record_vs_view.sh [BUILD_DIR] [SECONDS] [ROUNDS]
# Prints every run, then the medians per frame and the ratio record/view.
set -euo pipefail
BUILD=${1:-build}
SECONDS_PER_RUN=${2:-10}
ROUNDS=${3:-5}
HOST=$BUILD/tools/ipcamview/ipcamview
CAMSIM=$BUILD/tools/camsim/camsim
WORK=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$WORK"' EXIT

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for codec in jpeg h264; do
  device=cam-jpeg-4608
  [ $codec = h264 ] && device=cam-profile-5751
  "$CAMSIM" --device $device --codec $codec --size 1920x1080 --fps 30 --preencode 50 --port 0 \
    --lifetime $((ROUNDS * SECONDS_PER_RUN * 4 + 120)) >"$WORK/camsim" &
  camsim=$!
  until grep -q '^port=[0-9]*$' "$WORK/camsim" 2>/dev/null; do sleep 0.1; done
  port=$(sed -n 's/^port=//p' "$WORK/camsim")
  url=$("$HOST" probe 127.0.0.1:$port | sed -n 's/^stream_url=//p')
  : >"$WORK/view.$codec"; : >"$WORK/record.$codec"; : >"$WORK/ffmpeg.$codec"; : >"$WORK/ratio.$codec"
  for round in $(seq "$ROUNDS"); do
    # The viewers (and ffmpeg) run side by side, each on its own connection
    # to the same camera, so that whatever else loads the machine loads them
    # alike.
    rm -f "$WORK/rec.mkv" "$WORK/ff.mkv"
    pids=()
    /usr/bin/time -f "%U %S" -o "$WORK/time.view" "$HOST" view 127.0.0.1:$port --headless \
      --duration "$SECONDS_PER_RUN" >"$WORK/out.view" 2>/dev/null &
    pids+=($!)
    /usr/bin/time -f "%U %S" -o "$WORK/time.record" "$HOST" view 127.0.0.1:$port --headless \
      --duration "$SECONDS_PER_RUN" --record "$WORK/rec.mkv" >"$WORK/out.record" 2>/dev/null &
    pids+=($!)
    if [ $codec = jpeg ]; then
      /usr/bin/time -f "%U %S" -o "$WORK/time.ffmpeg" ffmpeg -nostdin -v error -f mpjpeg -i "$url" \
        -t "$SECONDS_PER_RUN" -c copy "$WORK/ff.mkv" 2>/dev/null &
      pids+=($!)
    fi
    wait "${pids[@]}" || true
    for what in view record; do
      ms=$(awk '{ printf "%d", ($1 + $2) * 1000 }' "$WORK/time.$what")
      frames=$(sed -n 's/^viewer1.pictures=//p' "$WORK/out.$what")
      recorded=$(sed -n 's/^viewer1.record_frames=//p' "$WORK/out.$what")
      echo "$codec round $round $what: ${ms} ms CPU, $frames frames shown${recorded:+, $recorded recorded}"
      awk -v m="$ms" -v f="$frames" 'BEGIN { printf "%.4f\n", m / f }' >>"$WORK/$what.$codec"
    done
    awk -v a="$(tail -1 "$WORK/record.$codec")" -v b="$(tail -1 "$WORK/view.$codec")" \
      'BEGIN { printf "%.4f\n", a / b }' >>"$WORK/ratio.$codec"
    if [ $codec = jpeg ]; then
      ms=$(awk '{ printf "%d", ($1 + $2) * 1000 }' "$WORK/time.ffmpeg")
      frames=$(ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets \
        -of csv=p=0 "$WORK/ff.mkv")
      echo "$codec round $round ffmpeg: ${ms} ms CPU, $frames frames"
      awk -v m="$ms" -v f="$frames" 'BEGIN { printf "%.4f\n", m / f }' >>"$WORK/ffmpeg.$codec"
    fi
  done
  kill "$camsim" 2>/dev/null || true
  wait "$camsim" 2>/dev/null || true
  view=$(median <"$WORK/view.$codec")
  record=$(median <"$WORK/record.$codec")
  echo "== $codec 1080p, medians of $ROUNDS: view ${view} ms/frame, view+record ${record} ms/frame," \
    "ratio of medians $(awk -v a="$record" -v b="$view" 'BEGIN { printf "%.3f", a / b }')," \
    "median of the rounds' ratios $(median <"$WORK/ratio.$codec")"
  if [ $codec = jpeg ]; then
    ff=$(median <"$WORK/ffmpeg.$codec")
    echo "== jpeg 1080p: ffmpeg -f mpjpeg -c copy ${ff} ms/frame (receives and writes only);" \
      "our recording's share: $(awk -v a="$record" -v b="$view" 'BEGIN { printf "%.3f", a - b }') ms/frame"
  fi
done
