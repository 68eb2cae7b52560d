#!/usr/bin/env bash
# A fuzzing campaign over the libFuzzer targets of fuzz/, built with
# AddressSanitizer + UndefinedBehaviorSanitizer (the build-asan/ of ipcam.sh).
#
#   fuzz/campaign.sh [--time S | --runs N] [--targets "A B ..."] [--build BUILD]
#                    [--corpus CORPORA] [--minimise] [--nice N] [--timeout S]
#                    [--leaks each|end]
#
# Each target runs alone, one after another, from its kept corpus
# (CORPORA/NAME, by default fuzz/corpus/NAME) with its dictionary
# (fuzz/dict/NAME.dict, if any), for S seconds (default 60) or N executions
# (both given: whichever comes first). What it found that covers something
# new is merged into the kept corpus; --minimise instead rewrites the kept
# corpus as the smallest set that covers all the old corpus and the finds
# cover. A crash, leak, hang (an input running longer than --timeout,
# default 10 s) or out-of-memory stops that target; its reproducer is kept
# in BUILD/fuzz/findings/NAME/ and counted. BUILD defaults to build-asan/.
# A timeout or slow unit whose input, run alone, ends within half the limit
# was a target starved by other work on the machine: it is
# set aside in BUILD/fuzz/findings/NAME/starved/, not counted, and the
# target goes on for what is left of its time or executions.
#
# Leaks: libFuzzer runs LeakSanitizer after every input that made more
# allocations than it freed (--leaks each, the default). A target whose
# inputs fill caches that live on pays that scan for nearly every input (the
# editors' target runs 2.6 times as fast without it): --leaks end mutates
# without it and runs every input of the kept corpus once with it at the
# end, so each input that stays is checked, each discarded one is not.
#
# Prints one line per target: executions, executions per second, coverage
# (edges, features), corpus size before -> after (files/KiB), the lines the
# target wrote to stderr while fuzzing that neither libFuzzer nor a sanitizer
# wrote (a library's complaints, which a host would get in its stderr: they
# do not stop the target, look for them in the log), findings; exits 1 when
# any target had a finding. Logs: BUILD/fuzz/campaign/NAME.log.
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(dirname "$HERE")
BUILD=$ROOT/build-asan
SECONDS_PER_TARGET=""
RUNS=""
TARGETS=""
MINIMISE=0
CORPORA=$HERE/corpus
NICE=19
TIMEOUT=10
LEAKS=each

usage() {
    sed -n '2,35p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
}
while [ $# -gt 0 ]; do
    case "$1" in
    --time) SECONDS_PER_TARGET=$2; shift 2 ;;
    --runs) RUNS=$2; shift 2 ;;
    --targets) TARGETS=$2; shift 2 ;;
    --build) BUILD=$(cd "$2" && pwd); shift 2 ;;
    --minimise) MINIMISE=1; shift ;;
    --nice) NICE=$2; shift 2 ;;
    --timeout) TIMEOUT=$2; shift 2 ;;
    --corpus) CORPORA=$(cd "$2" && pwd); shift 2 ;;
    --leaks)
        case "$2" in each | end) LEAKS=$2 ;; *) echo "campaign.sh: --leaks each or end" >&2; usage ;; esac
        shift 2
        ;;
    -h | --help) usage ;;
    *) echo "campaign.sh: unknown option $1" >&2; usage ;;
    esac
done
[ -z "$SECONDS_PER_TARGET" ] && [ -z "$RUNS" ] && SECONDS_PER_TARGET=60
if [ -z "$TARGETS" ]; then
    TARGETS=$(cd "$HERE" && ls ./*Fuzzer.cpp | sed 's|^\./||; s|\.cpp$||')
fi

# A smaller quarantine than ASan's 256 MiB: the inputs are small and short-lived, and a large one
# keeps handing out fresh pages, whose faults cost more than the targets themselves (the editors'
# target made 1.4 and the source filter's 1.3 times as many executions with 4 MiB as with 32).
# A freed block stays poisoned until 4 MiB more were freed: longer than an input lasts.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1:quarantine_size_mb=4}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$ROOT/tests/lsan.supp}

LOGS=$BUILD/fuzz/campaign
mkdir -p "$LOGS"

# corpus_size DIR: "files KiB"
corpus_size() {
    if [ -d "$1" ]; then
        echo "$(find "$1" -type f | wc -l) $(($(du -sk "$1" | cut -f1)))"
    else
        echo "0 0"
    fi
}

# set_aside_starved BINARY FINDINGS SINCE ROUND_LOG ASAN: libFuzzer's time limits
# are wall-clock time, so a target starved of the CPU (a build or test run
# beside a niced campaign) "times out" on inputs that take milliseconds; so
# can a long-lived sanitizer process whose large allocations each cost fresh
# pages (a libavcodec structure of 170 KB zeroed per H.264 parameter set). Each
# timeout or slow unit written since SINCE (epoch seconds) is run once more,
# alone: one that ends within half the limit is moved to FINDINGS/starved/
# instead of counting. Prints how many were set aside; any
# other finding of the round stays where it is.
set_aside_starved() {
    local binary=$1 findings=$2 since=$3 round_log=$4 asan=$5 count=0 file ms
    # Only a round that ended by a timeout or ran on after slow units.
    grep -aq -e 'ERROR: libFuzzer: timeout' -e 'Slowest unit' "$round_log" || { echo 0; return; }
    grep -aq -e 'ERROR: AddressSanitizer' -e 'ERROR: LeakSanitizer' -e 'runtime error' -e 'deadly signal' \
        -e 'out-of-memory' "$round_log" && { echo 0; return; }
    for file in "$findings"/timeout-* "$findings"/slow-unit-*; do
        [ -f "$file" ] && [ "$(stat -c %Y "$file")" -ge "$since" ] || continue
        # Not niced, and timed by the clock: an input that blocks (a lost
        # wake-up) takes its time alone too.
        ms=$( { TIMEFORMAT='%R'; time ASAN_OPTIONS=$asan "$binary" -runs=1 -timeout="$TIMEOUT" "$file" \
            >/dev/null 2>&1; } 2>&1 | awk '{ printf "%d", $1 * 1000 }')
        if [ -n "$ms" ] && [ "$ms" -lt $((TIMEOUT * 500)) ]; then
            mkdir -p "$findings/starved"
            mv "$file" "$findings/starved/"
            count=$((count + 1))
        fi
    done
    echo $count
}

# stray_lines LOG: how many lines of a fuzzing round's output neither libFuzzer
# (progress, statistics, dictionaries, merges, artifacts) nor a sanitizer's
# report wrote.
stray_lines() {
    grep -acv -e '^#' -e '^INFO:' -e '^Running:' -e '^Executed' -e '^MS:' -e '^=' -e '^Done' -e '^stat::' \
        -e '^$' -e '^"' -e '^Dictionary:' -e '^artifact_prefix' -e '^Test unit written' -e '^Base64:' \
        -e '^0x' -e '^Slowest unit' -e '^MERGE-' -e '^Suppressions used' -e '^[[:space:]]' -e '^---' -e '^ALARM:' -e '^SUMMARY:' \
        -e '^\*\*\*' -e 'runtime error:' -e '^ERROR:' -e '^WARNING:' -e '^HINT:' -e '^Shadow' -e '^Address' \
        -e '^Indirect leak' -e '^Direct leak' -e '^READ of' -e '^WRITE of' -e '^freed by' -e '^previously' \
        -e '^allocated by' -e '^located in' -e '^is located' -e '^This frame' -e '^Objects leaked' \
        "$1"
}

printf '%-22s %12s %9s %8s %8s %19s %8s %8s\n' target executions exec/s edges features "corpus files/KiB" stderr \
    findings
status=0
for name in $TARGETS; do
    binary=$BUILD/fuzz/$name
    if [ ! -x "$binary" ]; then
        echo "campaign.sh: $binary is not built (cmake --build $BUILD --target $name)" >&2
        status=1
        continue
    fi
    corpus=$CORPORA/$name
    mkdir -p "$corpus"
    findings=$BUILD/fuzz/findings/$name
    mkdir -p "$findings"
    work=$(mktemp -d "${TMPDIR:-/tmp}/campaign-$name.XXXXXX")
    log=$LOGS/$name.log
    before=$(corpus_size "$corpus")
    args=(-print_final_stats=1 -timeout="$TIMEOUT" -artifact_prefix="$findings/")
    [ -f "$HERE/dict/$name.dict" ] && args+=(-dict="$HERE/dict/$name.dict")
    asan=$ASAN_OPTIONS
    if [ "$LEAKS" = end ]; then
        # Neither after each input nor at exit: the pass below checks.
        args+=(-detect_leaks=0)
        asan=${ASAN_OPTIONS//detect_leaks=1/detect_leaks=0}
    fi
    found_before=$(find "$findings" -maxdepth 1 -type f | wc -l)
    # New inputs go to the work folder; the kept corpus is only read. A round
    # that ends in a starved timeout (below) is followed by another for the
    # time or executions left.
    : >"$log"
    started=$(date +%s)
    execs=0
    found=0
    stray=0
    while :; do
        round=("${args[@]}")
        [ -n "$RUNS" ] && round+=(-runs=$((RUNS - execs)))
        [ -n "$SECONDS_PER_TARGET" ] && round+=(-max_total_time=$((SECONDS_PER_TARGET - ($(date +%s) - started))))
        # libFuzzer writes to the log as it goes (so that a long campaign can be
        # watched); the round's part is read back afterwards.
        log_at=$(stat -c %s "$log")
        round_start=$(date +%s)
        ASAN_OPTIONS=$asan nice -n "$NICE" "$binary" "${round[@]}" "$work" "$corpus" >>"$log" 2>&1
        rc=$?
        round_log=$(mktemp "${TMPDIR:-/tmp}/campaign-round-$name.XXXXXX")
        tail -c +$((log_at + 1)) "$log" >"$round_log"
        round_execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$round_log" | tail -1)
        execs=$((execs + ${round_execs:-0}))
        stray=$((stray + $(stray_lines "$round_log")))
        set_aside=$(set_aside_starved "$binary" "$findings" "$round_start" "$round_log" "$asan")
        rm -f "$round_log"
        new=$(($(find "$findings" -maxdepth 1 -type f | wc -l) - found_before))
        if [ "$set_aside" -gt 0 ] && [ "$new" -eq 0 ]; then
            echo "campaign.sh: $name: $set_aside input(s) timed out or ran slowly in the campaign but run in" \
                "a fraction of the limit alone: set aside in $findings/starved/, fuzzing goes on" >&2
            left_time=$((${SECONDS_PER_TARGET:-0} - ($(date +%s) - started)))
            left_runs=$((${RUNS:-0} - execs))
            if { [ -z "$SECONDS_PER_TARGET" ] || [ $left_time -ge 5 ]; } &&
                { [ -z "$RUNS" ] || [ $left_runs -gt 0 ]; }; then
                continue
            fi
            rc=0
        fi
        found=$new
        break
    done
    [ $rc -ne 0 ] && [ $found -eq 0 ] && found=1 # a finding libFuzzer could not save
    elapsed=$(($(date +%s) - started))
    rate=$((execs / (elapsed > 0 ? elapsed : 1)))
    # -a: messages of the libraries in a log may make grep take it for binary.
    edges=$(grep -ao 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    features=$(grep -ao 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)

    # Keep what is new. A merge reads every input once more, without a time limit.
    if [ "$MINIMISE" = 1 ]; then
        merged=$(mktemp -d "${TMPDIR:-/tmp}/campaign-merged-$name.XXXXXX")
        if ASAN_OPTIONS=$asan nice -n "$NICE" "$binary" -merge=1 -artifact_prefix="$findings/" "$merged" "$corpus" \
            "$work" >>"$log" 2>&1; then
            find "$corpus" -type f -delete
            cp "$merged"/* "$corpus"/ 2>/dev/null
        fi
        rm -rf "$merged"
    else
        ASAN_OPTIONS=$asan nice -n "$NICE" "$binary" -merge=1 -artifact_prefix="$findings/" "$corpus" "$work" \
            >>"$log" 2>&1
    fi
    rm -rf "$work"
    if [ "$LEAKS" = end ]; then
        # Every kept input once more, each followed by a leak check.
        if ! nice -n "$NICE" "$binary" -runs=0 -detect_leaks=1 -timeout="$TIMEOUT" -artifact_prefix="$findings/" \
            "$corpus" >>"$log" 2>&1; then
            leak_found=$(($(find "$findings" -type f | wc -l) - found_before - found))
            found=$((found + (leak_found > 0 ? leak_found : 1)))
        fi
    fi
    after=$(corpus_size "$corpus")
    printf '%-22s %12s %9s %8s %8s %19s %8s %8s\n' "$name" "${execs:-?}" "${rate:-?}" "${edges:-?}" \
        "${features:-?}" "${before/ //} -> ${after/ //}" "$stray" "$found"
    [ "$found" -gt 0 ] && status=1
done
exit $status
