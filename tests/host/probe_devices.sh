#!/usr/bin/env bash
# `ipcamview probe` against every model camsim plays, on both transports: what
# it prints must be what the model says of itself (camsim --describe), the
# exit code must say whether a stream URL was composed, and camsim must
# serve that URL. Then refused credentials, no device at all, bad arguments.
set -uo pipefail
IPCAMVIEW=$1
CAMSIM=$2
source "$(dirname "$0")/camsim.sh"

# probe VAR ARGS...: runs probe, fills VAR from what it prints and RC.
probe() {
    local -n printed=$1
    local out
    shift
    out=$("$IPCAMVIEW" probe "$@")
    RC=$?
    printed=()
    read_pairs printed <<< "$out"
}

models=$("$CAMSIM" --list)
[[ $(wc -l <<< "$models") -ge 20 ]] || { echo "FAIL: camsim --list gave too few models" >&2; exit 1; }
for model in $models; do
    declare -A D=()
    read_pairs D < <("$CAMSIM" --device "$model" --describe)
    start_camsim --device "$model" || exit 1
    # A plain open: channel 1, profile 1; the camera with the fixed set-up
    # gets codec and size from the host, as its description assumes.
    options=(--audio --channel 1 --profile 1)
    if [[ ${D[dialect]} == fixed-camera ]]; then
        codec=([1000]=jpeg [1005]=mpeg4 [1010]=h264)
        options=(--audio --channel 1 --profile 0 --codec "${codec[${D[video_codec]}]}" --width "${D[width]}"
                 --height "${D[height]}")
    fi
    for transport in socket inet; do
        declare -A P=()
        probe P "127.0.0.1:$PORT" "${options[@]}" --transport "$transport"
        what="$model/$transport"
        check "$what last_status" 200 "${P[last_status]:-}"
        for field in machine_code device_type receive_type dialect max_channel; do
            check "$what $field" "${D[$field]}" "${P[$field]:-}"
        done
        if [[ ${D[device_type]} == 0 || ${D[device_type]} == 4 ]]; then
            check "$what exit code" 1 "$RC"
            check "$what stream_url" "" "${P[stream_url]-missing}"
            check "$what audio_flag (not written)" 1 "${P[audio_flag]:-}"
            continue
        fi
        check "$what exit code" 0 "$RC"
        for field in video_codec width height frame_rate audio_supported; do
            check "$what $field" "${D[$field]}" "${P[$field]:-}"
        done
        [[ ${D[audio_supported]} == 1 ]] && check "$what audio_codec" "${D[audio_codec]}" "${P[audio_codec]:-}"
        check "$what audio_flag" "${D[audio_supported]}" "${P[audio_flag]:-}"
        check "$what channel" 1 "${P[channel]:-}"
        url=${P[stream_url]:-}
        check "$what stream_url device" "http://127.0.0.1:$PORT/" "${url:0:$((${#PORT} + 18))}"
        [[ $transport == socket ]] || continue
        # The device serves what the viewer composed: a multipart stream, or
        # one picture per request. Only the answer's head is read: head ends
        # the pipe, and curl with it.
        head=$(curl -s -N -i --max-time 20 "$url" 2> /dev/null | head -c 400 | tr -d '\r\0')
        check "$what served status" 200 "$(sed -n '1s/^HTTP\/1\.1 \([0-9]*\).*/\1/p' <<< "$head")"
        type=image/jpeg
        [[ ${D[receive_type]} == 1 ]] && type=multipart/x-mixed-replace
        check "$what served type" $type "$(sed -n 's/^Content-Type: \([^;]*\).*/\1/p' <<< "$head" | head -n 1)"
    done
    stop_camsim
done

# Refused credentials: open stops at the access check with 401.
start_camsim --device cam-jpeg-4608 --user admin:secret || exit 1
for transport in socket inet; do
    declare -A P=()
    probe P "127.0.0.1:$PORT" --user admin --password wrong --transport "$transport" --verbose
    check "refused/$transport exit code, handle, status, machine code" "1 0 401 -1" \
        "$RC ${P[handle]:-} ${P[last_status]:-} ${P[machine_code]:-}"
    probe P "127.0.0.1:$PORT" --user admin --password secret --transport "$transport"
    check "accepted/$transport exit code" 0 "$RC"
done
stop_camsim

# No device: a port that refuses connections (held, so that no camsim of a
# test running beside is handed it). Nothing answered, so nothing is
# printed unless asked.
refusing_port || exit 1
declare -A P=()
probe P "127.0.0.1:$REFUSING"
check "no device exit code, output" "2 ()" "$RC (${P[last_status]-})"
probe P "127.0.0.1:$REFUSING" --verbose
check "no device verbose status, stream URL" "0 ()" "${P[last_status]:-} (${P[stream_url]-missing})"

# Bad arguments; an address that does not parse gets no handle.
for args in "" "--codec vp9 127.0.0.1" "--channel x 127.0.0.1" "--transport udp 127.0.0.1" "a b"; do
    # shellcheck disable=SC2086
    "$IPCAMVIEW" probe $args > /dev/null 2>&1
    check "probe $args exit code" 2 "$?"
done
probe P "http://"
check "unparsable exit code" 2 "$RC"

[[ $FAILURES == 0 ]] || { echo "$FAILURES failures" >&2; exit 1; }
echo "probe: all models agree with their descriptions"
