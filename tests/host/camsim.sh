# Shared by the host program's shell tests: camsim on a free loopback port.
# Source it with CAMSIM set to camsim's path.

# start_camsim ARGS...: runs camsim as a coprocess (its standard input held
# by us, so it ends with the test) and sets PORT from its "port=N" line.
start_camsim() {
    coproc CAMSIM_PROC { exec "$CAMSIM" "$@" --port 0 --exit-on-stdin-eof --lifetime 300; }
    local line=""
    read -r -t 10 line <&"${CAMSIM_PROC[0]}" || true
    if [[ "$line" != port=* ]]; then
        echo "camsim did not start (got \"$line\")" >&2
        return 1
    fi
    PORT=${line#port=}
}

# stop_camsim: closes camsim's input (it exits) and waits for it.
stop_camsim() {
    local pid=$CAMSIM_PROC_PID
    eval "exec ${CAMSIM_PROC[1]}>&- ${CAMSIM_PROC[0]}<&-"
    wait "$pid" 2>/dev/null || true
}

# refusing_port: sets REFUSING to a loopback port that refuses connections
# while the test runs: bound by a helper that never listens and that ends
# with the test's shell. (A port bound and closed again may be handed to a
# camsim of another test running beside before it is used.)
refusing_port() {
    local fd
    exec {fd}< <(exec python3 -c 'import os, socket, time
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1], flush=True)
parent = os.getppid()
while os.getppid() == parent:
    time.sleep(1)')
    REFUSING=""
    read -r -t 10 REFUSING <&"$fd" || true
    [[ -n "$REFUSING" ]]
}

# read_pairs VAR < name=value lines: fills the associative array VAR.
read_pairs() {
    local -n into=$1
    local line
    while IFS= read -r line; do
        [[ "$line" == *=* ]] || continue
        into["${line%%=*}"]="${line#*=}"
    done
}

FAILURES=0
# check WHAT EXPECTED ACTUAL
check() {
    if [[ "$2" != "$3" ]]; then
        echo "FAIL: $1: expected \"$2\", got \"$3\"" >&2
        FAILURES=$((FAILURES + 1))
    fi
}
