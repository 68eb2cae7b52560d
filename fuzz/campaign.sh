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
#
# Leaks: libFuzzer runs LeakSanitizer after every input that made more
# allocations than it freed (--leaks each, the default). A target whose
# inputs fill caches that live on pays that scan for nearly every input (the
# editors' target runs 2.6 times as fast without it): --leaks end mutates
# without it and runs every input of the kept corpus once with it at the
# end, so each input that stays is checked, each discarded one is not.
#
# Prints one line per target: executions, executions per second, coverage
# (edges, features), corpus size before -> after (files/KiB), findings; exits
# 1 when any target had a finding. Logs: BUILD/fuzz/campaign/NAME.log.
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
    sed -n '2,28p' "$0" | sed 's/^# \{0,1\}//'
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
# keeps handing out fresh pages, whose faults cost more than the targets themselves.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1:quarantine_size_mb=32}
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

printf '%-22s %12s %9s %8s %8s %19s %8s\n' target executions exec/s edges features "corpus files/KiB" findings
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
    [ -n "$RUNS" ] && args+=(-runs="$RUNS")
    [ -n "$SECONDS_PER_TARGET" ] && args+=(-max_total_time="$SECONDS_PER_TARGET")
    [ -f "$HERE/dict/$name.dict" ] && args+=(-dict="$HERE/dict/$name.dict")
    asan=$ASAN_OPTIONS
    if [ "$LEAKS" = end ]; then
        # Neither after each input nor at exit: the pass below checks.
        args+=(-detect_leaks=0)
        asan=${ASAN_OPTIONS//detect_leaks=1/detect_leaks=0}
    fi
    found_before=$(find "$findings" -type f | wc -l)
    # New inputs go to the work folder; the kept corpus is only read.
    ASAN_OPTIONS=$asan nice -n "$NICE" "$binary" "${args[@]}" "$work" "$corpus" >"$log" 2>&1
    rc=$?
    found=$(($(find "$findings" -type f | wc -l) - found_before))
    [ $rc -ne 0 ] && [ $found -eq 0 ] && found=1 # a finding libFuzzer could not save
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
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
    printf '%-22s %12s %9s %8s %8s %19s %8s\n' "$name" "${execs:-?}" "${rate:-?}" "${edges:-?}" "${features:-?}" \
        "${before/ //} -> ${after/ //}" "$found"
    [ "$found" -gt 0 ] && status=1
done
exit $status
