#!/usr/bin/env bash
# `ipcamview fetch` must hand out exactly the bytes curl gets for the same URL,
# on both transports, and say the status through its exit code.
set -uo pipefail
IPCAMVIEW=$1
CAMSIM=$2
source "$(dirname "$0")/camsim.sh"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# fetch NAME EXIT URL [PASSWORD [STDERR-PATTERN]]: on both transports as admin;
# exit 0 must come with curl's bytes for the same URL.
fetch() {
    local name=$1 want=$2 url=$3 password=${4:-secret} pattern=${5:-}
    for transport in socket inet; do
        "$IPCAMVIEW" fetch "$url" --user admin --password "$password" --transport "$transport" \
            > "$WORK/ours" 2> "$WORK/err"
        check "$name ($transport) exit code" "$want" "$?"
        [[ -z $pattern ]] || grep -q "$pattern" "$WORK/err" || check "$name ($transport) says" "$pattern" \
            "$(< "$WORK/err")"
        [[ $want != 0 ]] && continue
        curl -s -L -u admin:secret -o "$WORK/theirs" "$url"
        cmp -s "$WORK/ours" "$WORK/theirs" || check "$name ($transport) body" "curl's bytes" "other bytes"
    done
}

start_camsim --user admin:secret || exit 1
base="http://127.0.0.1:$PORT"
fetch root 0 "$base/"
fetch bytes 0 "$base/bytes?n=300000"
fetch chunked-awkward 0 "$base/chunked?n=70000&sizes=1,7,300,2,4096&ext=1&zeros=3&upper=1&pieces=1"
fetch redirect-chain 0 "$base/redirect?n=3"
fetch not-found 1 "$base/status?code=404"
fetch refused 1 "$base/" wrong 'authentication failed (401)' # an answer, but not 2xx
stop_camsim
fetch "closed port" 2 "$base/" # no answer at all: camsim has gone

[[ $FAILURES == 0 ]] || { echo "$FAILURES failures" >&2; exit 1; }
echo "fetch: the bytes curl gets"
