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

positive() { [[ ${2:-0} =~ ^[0-9]+$ && $2 -gt 0 ]] || { echo "FAIL: $1 is \"${2:-}\", not positive" >&2; FAILURES=$((FAILURES + 1)); }; }

for model in cam-jpeg-4608 cam-mpeg4-4752 cam-profile-5751 cam-profile-8192 dvr-h264-5138 dvr-h264-8775 \
    dvr-jpeg-5124 dvr-jpeg-65540 vs-jpeg-12292 cam-vendor-61441 cam-fixed-36865; do
    declare -A D=()
    read_pairs D < <("$CAMSIM" --device "$model" --describe)
    options=(--audio --duration 2)
    if [[ ${D[dialect]} == fixed-camera ]]; then
        options+=(--profile 0 --codec jpeg --width "${D[width]}" --height "${D[height]}")
    fi
    start_camsim --device "$model" || exit 1
    declare -A S=()
    receive_summary S "127.0.0.1:$PORT" "${options[@]}"
    stop_camsim
    check "$model exit code" 0 "$RC"
    positive "$model video_frames" "${S[video_frames]:-}"
    # Pictures without the device header are left untagged.
    if [[ ${D[video_codec]} != 1000 || ${D[jpeg_device_header]} == 1 ]]; then
        positive "$model key_frames" "${S[key_frames]:-}"
    fi
    positive "$model bytes" "${S[bytes]:-}"
    check "$model frames" "$(( ${S[video_frames]:-0} + ${S[audio_frames]:-0} ))" "${S[frames]:-}"
    check "$model width" "${D[width]}" "${S[width]:-}"
    height=${D[height]}
    # A dual-picture H.264 stream carries two channels one above the other
    # under a 10-pixel band.
    if [[ ${D[dual_picture]} == 1 && ${D[receive_type]} == 1 ]]; then height=$((2 * height + 10)); fi
    check "$model height" "$height" "${S[height]:-}"
    if [[ ${D[audio_supported]} == 1 && ${D[receive_type]} == 1 ]]; then
        positive "$model audio_frames" "${S[audio_frames]:-}"
        grep -q " a${D[audio_codec]}/" <<< "$ERR" || { echo "FAIL: $model: no audio ${D[audio_codec]} in progress" >&2; FAILURES=$((FAILURES + 1)); }
    else
        check "$model audio_frames" 0 "${S[audio_frames]:-}"
    fi
    grep -q "^t=.* v${D[video_codec]}/ch" <<< "$ERR" || { echo "FAIL: $model: no progress line with codec ${D[video_codec]}" >&2; FAILURES=$((FAILURES + 1)); }
done

# A stream that the device drops after a few parts: the receiver reconnects
# and frames go on arriving.
start_camsim --device cam-jpeg-4608 --fault dropafter=10 || exit 1
declare -A S=()
receive_summary S "127.0.0.1:$PORT" --duration 3
stop_camsim
positive "dropped stream reconnects" "${S[reconnects]:-}"
[[ ${S[frames]:-0} -gt 10 ]] || { echo "FAIL: dropped stream: only ${S[frames]:-0} frames" >&2; FAILURES=$((FAILURES + 1)); }

# A device that refuses the stream: the receiver stops with one event and
# the tool ends, without asking the device again and again.
start_camsim --device cam-mpeg4-4752 --fault refuse=1 || exit 1
declare -A S=()
receive_summary S "127.0.0.1:$PORT" --duration 3
stop_camsim
check "refused stream exit code" 1 "$RC"
check "refused stream frames" 0 "${S[frames]:-}"
check "refused stream events" 1 "${S[events]:-}"
check "refused stream reconnects" 0 "${S[reconnects]:-}"
grep -q "receiver stopped" <<< "$ERR" || { echo "FAIL: refused stream: no word of the stop" >&2; FAILURES=$((FAILURES + 1)); }

# A picture that changes size mid-stream stops the receiver (a host rebuilds
# the channel) after the frames before it.
start_camsim --device cam-mpeg4-4752 --fault resize=10 || exit 1
declare -A S=()
receive_summary S "127.0.0.1:$PORT" --duration 3
stop_camsim
positive "resized stream frames" "${S[frames]:-}"
positive "resized stream events" "${S[events]:-}"
check "resized stream width (before the change)" 640 "${S[width]:-}"
grep -q "receiver stopped" <<< "$ERR" || { echo "FAIL: resized stream: no word of the stop" >&2; FAILURES=$((FAILURES + 1)); }

# A stream URL given directly (no device open), with credentials.
start_camsim --device cam-mpeg4-4752 --user admin:secret || exit 1
declare -A S=()
receive_summary S --url "http://127.0.0.1:$PORT/ipcam/mpeg4.cgi?language=1&ch=1" --user admin --password secret --duration 2
check "url exit code" 0 "$RC"
positive "url video_frames" "${S[video_frames]:-}"
check "url width" 640 "${S[width]:-}"
check "url audio_frames (not asked)" 0 "${S[audio_frames]:-}"
receive_summary S --url "http://127.0.0.1:$PORT/ipcam/mpeg4.cgi?language=1&ch=1" --user admin --password wrong --duration 1
check "url refused exit code" 1 "$RC"
check "url refused frames" 0 "${S[frames]:-}"
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
    check "$capture capture exit code" 0 "$RC"
    check "$capture capture frames" "$count" "${S[frames]:-}"
    check "$capture capture key_frames" "$count" "${S[key_frames]:-}"
    check "$capture capture bytes" "$total" "${S[bytes]:-}"
    check "$capture capture width" 640 "${S[width]:-}"
    check "$capture capture height" 480 "${S[height]:-}"
    check "$capture capture reconnects" 0 "${S[reconnects]:-}"
done
declare -A S=()
receive_summary S --file "$WORK/cut.cap"
check "cut capture frames" "$((count - 1))" "${S[frames]:-}"
check "cut capture bytes" "$cut" "${S[bytes]:-}"
head -c 100000 /dev/urandom > "$WORK/garbage.cap"
: > "$WORK/empty.cap"
for capture in garbage empty missing; do
    declare -A S=()
    receive_summary S --file "$WORK/$capture.cap"
    check "$capture capture exit code" 1 "$RC"
    check "$capture capture frames" 0 "${S[frames]:-}"
done

# Bad arguments.
for args in "" "--duration 0 127.0.0.1" "--duration x 127.0.0.1" "--url a --file b" "--file a extra"; do
    # shellcheck disable=SC2086
    "$IPCAMVIEW" receive $args > /dev/null 2>&1
    check "receive $args exit code" 2 "$?"
done

[[ $FAILURES == 0 ]] || { echo "$FAILURES failures" >&2; exit 1; }
echo "receive: every family streams what it describes"
