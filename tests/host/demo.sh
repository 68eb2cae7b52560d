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
