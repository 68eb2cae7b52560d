#!/usr/bin/env bash
# The README's main job must run through and show the library at work.
set -euo pipefail
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
out=$(cd "$folder" && "$1" --demo --duration 3)
echo "$out"
grep -q 'socket transport: GET / -> 200' <<< "$out"
grep -q 'inet   transport: GET / -> 200' <<< "$out"
grep -q 'wrong password -> 401' <<< "$out"
grep -Eq 'Start\(.*\) -> handle [0-9]+' <<< "$out"
grep -q 'Stop(0) -> true' <<< "$out"
# The demo's probe of its camsim (a plain JPEG camera with u-law audio).
grep -q '^machine_code=0x1200$' <<< "$out"
grep -q '^dialect=parameter-camera$' <<< "$out"
grep -Eq '^stream_url=http://127\.0\.0\.1:[0-9]+/ipcam/sjpeg\.cgi\?language=1&audiostream=1&ch=1$' <<< "$out"
# ... and two seconds of its live stream: pictures and sound arrive.
grep -Eq '^video_frames=[1-9][0-9]*$' <<< "$out"
grep -Eq '^audio_frames=[1-9][0-9]*$' <<< "$out"
grep -q '^picture_width=640$' <<< "$out"
# ... then its live video, shown (headless here: no display) with a snapshot.
grep -Eq '^viewer1.pictures=[1-9][0-9]*$' <<< "$out"
grep -Eq '^viewer1.first_frame_ms=[0-9]+$' <<< "$out"
test -s "$folder/ipcamview-demo.png"
ffprobe -v error -show_entries stream=width,height -of csv=p=0 "$folder/ipcamview-demo.png" | grep -qx '640,480'
