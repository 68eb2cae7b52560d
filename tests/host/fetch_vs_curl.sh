#!/usr/bin/env bash
# `ipcamview fetch` must hand out exactly the bytes curl gets for the same URL,
# on both transports, and say the status through its exit code.
set -euo pipefail
host=$1
camsim=$2
work=$(mktemp -d)
trap 'kill $camsim_pid 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

# camsim prints "port=N" first; it exits when our end of its stdin closes.
exec 3> >("$camsim" --port 0 --user admin:secret --exit-on-stdin-eof --lifetime 100 > "$work/camsim.out")
camsim_pid=$!
for _ in $(seq 100); do
  grep -q '^port=' "$work/camsim.out" 2>/dev/null && break
  sleep 0.1
done
port=$(sed -n 's/^port=//p' "$work/camsim.out")
[ -n "$port" ] || { echo "camsim did not start"; exit 1; }
base="http://127.0.0.1:$port"

failures=0
check() { # name expected-exit url [fetch options...]
  local name=$1 want=$2 url=$3; shift 3
  for transport in socket inet; do
    set +e
    "$host" fetch "$url" --user admin --password secret --transport "$transport" "$@" \
      > "$work/ours" 2> "$work/ours.err"
    local rc=$?
    set -e
    rm -f "$work/theirs"
    curl -s -L -u admin:secret -o "$work/theirs" "$url" || true
    if [ "$rc" -ne "$want" ]; then
      echo "FAIL $name ($transport): exit $rc, want $want; $(cat "$work/ours.err")"
      failures=$((failures + 1))
    elif [ "$want" -eq 0 ] && ! cmp -s "$work/ours" "$work/theirs"; then
      echo "FAIL $name ($transport): body differs from curl's ($(stat -c %s "$work/ours") vs $(stat -c %s "$work/theirs") bytes)"
      failures=$((failures + 1))
    else
      echo "ok   $name ($transport): exit $rc, $(stat -c %s "$work/ours") bytes, $(tr -d '\n' < "$work/ours.err")"
    fi
  done
}

check root 0 "$base/"
check bytes 0 "$base/bytes?n=300000"
check chunked-awkward 0 "$base/chunked?n=70000&sizes=1,7,300,2,4096&ext=1&zeros=3&upper=1&pieces=1"
check redirect-chain 0 "$base/redirect?n=3"
check not-found 1 "$base/status?code=404"

# Wrong credentials: an answer, but not 2xx.
for transport in socket inet; do
  set +e
  "$host" fetch "$base/" --user admin --password wrong --transport "$transport" > /dev/null 2> "$work/err"
  rc=$?
  set -e
  if [ "$rc" -ne 1 ] || ! grep -q 'status=401' "$work/err"; then
    echo "FAIL refused ($transport): exit $rc, $(cat "$work/err")"; failures=$((failures + 1))
  else
    echo "ok   refused ($transport)"
  fi
done

# No answer at all: a closed port.
closed=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()')
for transport in socket inet; do
  set +e
  "$host" fetch "http://127.0.0.1:$closed/" --transport "$transport" > /dev/null 2>&1
  rc=$?
  set -e
  if [ "$rc" -ne 2 ]; then echo "FAIL closed port ($transport): exit $rc, want 2"; failures=$((failures + 1));
  else echo "ok   closed port ($transport)"; fi
done

echo "$failures failed"
[ "$failures" -eq 0 ]
