#!/usr/bin/env bash
# `ipcamview receive` end to end: every device family and codec camsim
# streams (multipart JPEG, MPEG-4, H.264, the recorders' dual pictures and
# polled JPEG pictures, with u-law, G.726 and AAC audio), a dropped stream
# that reconnects, a stream URL given directly, and captured streams read
# from files (whole, with an HTTP head, cut short, garbage). What must
# arrive is read from camsim's own description of the model, and for the
# captures from the parts the test counts in them itself.
set -uo pipefail
IPCAMVIEW=$1
CAMSIM=$2
source "$(dirname "$0")/camsim.sh"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# receive_summary VAR ARGS...: runs receive, fills VAR from its summary and
# RC, ERR (its standard error).
receive_summary() {
    local -n summary=$1
    shift
    "$IPCAMVIEW" receive "$@" > "$WORK/out" 2> "$WORK/err"
    RC=$?
    ERR=$(cat "$WORK/err")
    summary=()
    read_pairs summary < "$WORK/out"
}

# from_camsim VAR "CAMSIM ARGS" RECEIVE ARGS...: receive_summary from a camsim
# started for it.
from_camsim() {
    local var=$1 args=$2
    shift 2
    # shellcheck disable=SC2086
    start_camsim $args || exit 1
    receive_summary "$var" "127.0.0.1:$PORT" "$@"
    stop_camsim
}

positive() { [[ ${2:-0} =~ ^[0-9]+$ && $2 -gt 0 ]] || check "$1 positive" positive "${2:-}"; }
# said WHAT PATTERN: the tool's standard error has a line that matches.
said() { grep -q "$2" <<< "$ERR" || check "$1" "$2" "${ERR:0:200}"; }

for model in cam-jpeg-4608 cam-mpeg4-4752 cam-profile-5751 cam-profile-8192 dvr-h264-5138 dvr-h264-8775 \
    dvr-jpeg-5124 dvr-jpeg-65540 vs-jpeg-12292 cam-vendor-61441 cam-fixed-36865; do
    declare -A D=()
    read_pairs D < <("$CAMSIM" --device "$model" --describe)
    options=(--audio --duration 2)
    if [[ ${D[dialect]} == fixed-camera ]]; then
        options+=(--profile 0 --codec jpeg --width "${D[width]}" --height "${D[height]}")
    fi
    declare -A S=()
    from_camsim S "--device $model" "${options[@]}"
    positive "$model video_frames" "${S[video_frames]:-}"
    # Every JPEG picture is a key frame, tagged from a device header or not.
    positive "$model key_frames" "${S[key_frames]:-}"
    positive "$model bytes" "${S[bytes]:-}"
    # The described size is the picture the device sends, also where one
    # picture carries two channels.
    height=${D[height]}
    check "$model exit code, frames, size" "0 $((${S[video_frames]:-0} + ${S[audio_frames]:-0})) ${D[width]}*$height" \
        "$RC ${S[frames]:-} ${S[picture_width]:-}*${S[picture_height]:-}"
    if [[ ${D[audio_supported]} == 1 && ${D[receive_type]} == 1 ]]; then
        positive "$model audio_frames" "${S[audio_frames]:-}"
        audio_name=([2005]=ulaw [2010]=aac [2020]=g726)
        said "$model audio progress" " ${audio_name[${D[audio_codec]}]}/ch1="
        check "$model audio codec" "${D[audio_codec]}" "${S[audio_codec]:-}"
    else
        check "$model audio_frames" 0 "${S[audio_frames]:-}"
    fi
    video_name=([1000]=jpeg [1005]=mpeg4 [1010]=h264)
    said "$model video progress" "^t=.* ${video_name[${D[video_codec]}]}/ch[1-9]"
    check "$model video codec" "${D[video_codec]}" "${S[video_codec]:-}"
done

# A stream that the device drops after a few parts: the receiver reconnects
# and frames go on arriving.
declare -A S=()
from_camsim S "--device cam-jpeg-4608 --fault dropafter=10" --duration 3
positive "dropped stream reconnects" "${S[reconnects]:-}"
positive "dropped stream frames after the tenth" "$((${S[frames]:-0} - 10))"

# A device that refuses the stream: the receiver stops with one event and
# the tool ends, without asking the device again and again.
declare -A S=()
from_camsim S "--device cam-mpeg4-4752 --fault refuse=1" --duration 3
check "refused stream exit code, frames, events, reconnects" "1 0 1 0" \
    "$RC ${S[frames]:-} ${S[events]:-} ${S[reconnects]:-}"
said "refused stream stop" "refused the stream"

# A picture that changes size mid-stream stops the receiver (a host rebuilds
# the channel) after the frames before it.
declare -A S=()
from_camsim S "--device cam-mpeg4-4752 --fault resize=10" --duration 3
positive "resized stream frames" "${S[frames]:-}"
positive "resized stream events" "${S[events]:-}"
check "resized stream width (before the change)" 640 "${S[picture_width]:-}"
said "resized stream stop" "receiver stopped"

# A stream URL given directly (no device open), with credentials.
start_camsim --device cam-mpeg4-4752 --user admin:secret || exit 1
declare -A S=()
receive_summary S --url "http://127.0.0.1:$PORT/ipcam/mpeg4.cgi?language=1&ch=1" --user admin --password secret --duration 2
positive "url video_frames" "${S[video_frames]:-}"
check "url exit code, width, audio_frames (not asked)" "0 640 0" "$RC ${S[picture_width]:-} ${S[audio_frames]:-}"
receive_summary S --url "http://127.0.0.1:$PORT/ipcam/mpeg4.cgi?language=1&ch=1" --user admin --password wrong --duration 1
check "url refused exit code, frames" "1 0" "$RC ${S[frames]:-}"
stop_camsim

# Captured streams: camsim's JPEG camera, whose stream ends after 12 parts,
# taken with curl with and without its HTTP head; the test counts the parts
# and their bytes itself.
start_camsim --device cam-jpeg-4608 --fault dropafter=12 || exit 1
url="http://127.0.0.1:$PORT/ipcam/sjpeg.cgi?language=1&ch=1"
curl -s -N --max-time 30 -i "$url" -o "$WORK/head.cap"
stop_camsim
python3 - "$WORK" << 'PY'
import os, re, sys
work = sys.argv[1]
raw = open(os.path.join(work, "head.cap"), "rb").read()
body = raw[raw.index(b"\r\n\r\n") + 4:]
open(os.path.join(work, "plain.cap"), "wb").write(body)
sizes, at = [], 0
while True:
    start = body.find(b"--myboundary\r\n", at)
    if start < 0:
        break
    end = body.index(b"\r\n\r\n", start) + 4
    length = int(re.search(rb"Content-Length: *(\d+)", body[start:end]).group(1))
    if end + length > len(body):
        break
    sizes.append(length)
    at = end + length
# Cut inside the last part: one part fewer.
open(os.path.join(work, "cut.cap"), "wb").write(body[:at - sizes[-1] // 2])
open(os.path.join(work, "expect"), "w").write("%d %d %d\n" % (len(sizes), sum(sizes), sum(sizes[:-1])))
PY
read -r count total cut < "$WORK/expect"
check "captured parts" 12 "$count"
for capture in plain head; do
    declare -A S=()
    receive_summary S --file "$WORK/$capture.cap"
    check "$capture capture exit code, frames, key_frames, bytes, size, reconnects" \
        "0 $count $count $total 640*480 0" \
        "$RC ${S[frames]:-} ${S[key_frames]:-} ${S[bytes]:-} ${S[picture_width]:-}*${S[picture_height]:-} ${S[reconnects]:-}"
done
declare -A S=()
receive_summary S --file "$WORK/cut.cap"
check "cut capture frames, bytes" "$((count - 1)) $cut" "${S[frames]:-} ${S[bytes]:-}"
head -c 100000 /dev/urandom > "$WORK/garbage.cap"
: > "$WORK/empty.cap"
for capture in garbage empty; do
    declare -A S=()
    receive_summary S --file "$WORK/$capture.cap"
    check "$capture capture exit code, frames" "1 0" "$RC ${S[frames]:-}"
done
receive_summary S --file "$WORK/missing.cap"
check "missing capture exit code" 2 "$RC"
said "missing capture named" "missing.cap: No such file"

# Bad arguments.
for args in "" "--duration 0 127.0.0.1" "--duration x 127.0.0.1" "--url a --file b" "--file a extra"; do
    # shellcheck disable=SC2086
    "$IPCAMVIEW" receive $args > /dev/null 2>&1
    check "receive $args exit code" 2 "$?"
done

[[ $FAILURES == 0 ]] || { echo "$FAILURES failures" >&2; exit 1; }
echo "receive: every family streams what it describes"
