#!/usr/bin/env bash
# Speed of `ipcamview receive --file` splitting a 1080p MJPEG multipart
# capture, next to GStreamer's multipartdemux, FFmpeg's mpjpeg demuxer and
# cat on the same file in the same run. Not a test: it prints bytes per
# second and ratios.
#
#   receive_file_bench.sh IPCAMVIEW [CAPTURE [MEGABYTES [RUNS]]]
#
# The capture (boundary "myboundary", "Content-Type"/"Content-Length"
# headers, testsrc2 pictures encoded by FFmpeg, repeated) is made when it
# does not exist. Each program runs RUNS times (default 3); the best run
# counts.
set -euo pipefail
IPCAMVIEW=$1
CAPTURE=${2:-/tmp/ipcamview-bench-1080p.mjpeg}
MEGABYTES=${3:-200}
RUNS=${4:-3}

if [[ ! -s $CAPTURE ]]; then
    frames=$(mktemp -d)
    ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 50 -q:v 3 \
        "$frames/f%03d.jpg"
    python3 - "$frames" "$CAPTURE" "$MEGABYTES" << 'PY'
import glob, sys
pictures = [open(p, "rb").read() for p in sorted(glob.glob(sys.argv[1] + "/f*.jpg"))]
limit = int(sys.argv[3]) * 1000 * 1000
written, i = 0, 0
with open(sys.argv[2], "wb") as out:
    while written < limit:
        p = pictures[i % len(pictures)]
        part = b"--myboundary\r\nContent-Type: image/jpeg\r\nContent-Length: %d\r\n\r\n%s\r\n" % (len(p), p)
        out.write(part)
        written += len(part)
        i += 1
PY
    rm -rf "$frames"
fi
bytes=$(stat -c %s "$CAPTURE")

# best_seconds COMMAND...: the shortest wall time of RUNS runs.
best_seconds() {
    local best="" start end t
    for ((run = 0; run < RUNS; ++run)); do
        start=$(date +%s.%N)
        "$@" > /dev/null 2>&1
        end=$(date +%s.%N)
        t=$(echo "$end - $start" | bc -l)
        if [[ -z $best ]] || (($(echo "$t < $best" | bc -l))); then best=$t; fi
    done
    echo "$best"
}

cat /dev/null "$CAPTURE" > /dev/null # warm the page cache
receive=$(best_seconds "$IPCAMVIEW" receive --file "$CAPTURE")
gst=$(best_seconds gst-launch-1.0 -q filesrc location="$CAPTURE" ! multipartdemux boundary=myboundary ! fakesink)
ffm=$(best_seconds ffmpeg -hide_banner -loglevel error -f mpjpeg -i "$CAPTURE" -c copy -f null -)
catt=$(best_seconds cat "$CAPTURE")
frames=$("$IPCAMVIEW" receive --file "$CAPTURE" 2> /dev/null | sed -n 's/^frames=//p')
# The same programs on a capture of its first part alone: their start-up,
# which the figures above include. (A part cut short would keep GStreamer's
# demuxer waiting for ever.)
small=$(mktemp)
second=$(grep -a -b -o -m 2 -- '--myboundary' "$CAPTURE" | sed -n '2s/:.*//p')
head -c "$second" "$CAPTURE" > "$small"
receive0=$(best_seconds "$IPCAMVIEW" receive --file "$small")
gst0=$(best_seconds gst-launch-1.0 -q filesrc location="$small" ! multipartdemux boundary=myboundary ! fakesink)
ffm0=$(best_seconds ffmpeg -hide_banner -loglevel error -f mpjpeg -i "$small" -c copy -f null -)
cat0=$(best_seconds cat "$small")
rm -f "$small"

mbps() { echo "scale=1; $bytes / $1 / 1000000" | bc -l; }
echo "capture: $CAPTURE, $bytes bytes, $frames parts"
printf '%-34s %8s s %9s MB/s\n' "ipcamview receive --file" "$receive" "$(mbps "$receive")"
printf '%-34s %8s s %9s MB/s\n' "gst-launch multipartdemux" "$gst" "$(mbps "$gst")"
printf '%-34s %8s s %9s MB/s\n' "ffmpeg -f mpjpeg -c copy" "$ffm" "$(mbps "$ffm")"
printf '%-34s %8s s %9s MB/s\n' "cat > /dev/null" "$catt" "$(mbps "$catt")"
echo "receive / gst:    $(echo "scale=2; $gst / $receive" | bc -l)x"
echo "receive / ffmpeg: $(echo "scale=2; $ffm / $receive" | bc -l)x"
echo "receive / cat:    $(echo "scale=2; $catt / $receive" | bc -l)x"
echo "start-up (one-part capture): receive $receive0 s, gst $gst0 s, ffmpeg $ffm0 s, cat $cat0 s"
net() { echo "scale=1; $bytes / ($1 - $2) / 1000000" | bc -l; }
echo "without start-up: receive $(net "$receive" "$receive0") MB/s, gst $(net "$gst" "$gst0") MB/s," \
    "ffmpeg $(net "$ffm" "$ffm0") MB/s, cat $(net "$catt" "$cat0") MB/s"
