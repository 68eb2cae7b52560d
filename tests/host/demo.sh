#!/usr/bin/env bash
# The README's main job must run through and show the library at work.
set -euo pipefail
out=$("$1" --demo)
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
