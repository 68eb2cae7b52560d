#!/usr/bin/env bash
# campaign.sh's handling of timeouts, against a stand-in for a libFuzzer
# binary whose first round ends in a timeout: an input that runs fast alone
# (the target was starved by other work) is set aside and the target fuzzes
# on for the time left, its executions added up; one that hangs alone too
# stays a finding and ends the target.
#
# usage: campaign_starved_test.sh CAMPAIGN_SH WORK_DIR
set -u
CAMPAIGN=$1
WORK=$2
rm -rf "$WORK"
mkdir -p "$WORK/build/fuzz" "$WORK/corpus/FakeFuzzer"
echo seed >"$WORK/corpus/FakeFuzzer/seed"

# What the stand-in does, by its arguments, as libFuzzer would: a merge and
# the leak pass succeed; a single run of a saved input hangs for a second
# when the input says "hang"; the first fuzzing round writes a timeout input
# (its content from FAKE_INPUT) and exits as libFuzzer does on a timeout,
# later rounds end normally. Each round prints its executions.
cat >"$WORK/build/fuzz/FakeFuzzer" <<'FAKE'
#!/usr/bin/env bash
prefix=""; single=0
for a in "$@"; do
    case "$a" in
    -merge=1 | -runs=0) exit 0 ;;
    -runs=1) single=1 ;;
    -artifact_prefix=*) prefix=${a#-artifact_prefix=} ;;
    esac
done
if [ $single = 1 ]; then
    [ "$(cat "${!#}")" = hang ] && { sleep 1.2; exit 70; }
    exit 0
fi
state=$FAKE_STATE
rounds=$(($(cat "$state" 2>/dev/null || echo 0) + 1))
echo $rounds >"$state"
echo "#1 INITED cov: 5 ft: 7 corp: 1/1b"
if [ $rounds = 1 ]; then
    echo "$FAKE_INPUT" >"${prefix}timeout-0123456789abcdef"
    echo "==1== ERROR: libFuzzer: timeout after 3 seconds"
    echo "stat::number_of_executed_units: 100"
    exit 70
fi
# What libFuzzer and a sanitizer write, and two lines of a library's own.
echo "#150 NEW cov: 6 ft: 8 corp: 1/1b lim: 4 exec/s: 0 rss: 30Mb L: 1/1 MS: 1 ChangeBit-"
printf '\tNEW_FUNC[1/1]: 0x55 in Decode vcodec.cpp:12\n'
echo "delta scale 3008 is invalid"
echo "[h264 @ 0x6190000] [IMGUTILS @ 0x7ffd] Picture size 64x44032 is invalid"
echo "###### Recommended dictionary. ######"
echo '"\x00\x00\x01" # Uses: 3'
echo "Dictionary: 12 entries"
echo "#200 DONE cov: 6 ft: 8 corp: 1/1b"
echo "stat::number_of_executed_units: 200"
exit 0
FAKE
chmod +x "$WORK/build/fuzz/FakeFuzzer"

FAILURES=0
check() { # what, condition result
    if [ "$2" != 0 ]; then
        echo "FAIL: $1" >&2
        FAILURES=$((FAILURES + 1))
    fi
}

for input in fast hang; do
    rm -rf "$WORK/build/fuzz/findings"
    export FAKE_STATE=$WORK/state-$input FAKE_INPUT=$input
    rm -f "$FAKE_STATE"
    out=$(bash "$CAMPAIGN" --time 20 --timeout 1 --targets FakeFuzzer --build "$WORK/build" \
        --corpus "$WORK/corpus" --nice 0 --leaks end 2>"$WORK/err-$input")
    rc=$?
    line=$(echo "$out" | grep '^FakeFuzzer')
    findings="$WORK/build/fuzz/findings/FakeFuzzer"
    if [ $input = fast ]; then
        echo "$line" | grep -Eq '^FakeFuzzer +300 +[0-9]+ +6 +8 +[0-9]+/[0-9]+ -> [0-9]+/[0-9]+ +2 +0$'
        check "starved: two rounds' executions, two lines of the library's, no finding: $line" $?
        check "starved: exit 0 ($rc)" $rc
        [ -f "$findings/starved/timeout-0123456789abcdef" ] && [ ! -f "$findings/timeout-0123456789abcdef" ]
        check "starved: the input set aside" $?
        grep -q "set aside" "$WORK/err-$input"
        said=$?
        check "starved: said on stderr: $(cat "$WORK/err-$input")" $said
        [ "$(cat "$FAKE_STATE")" = 2 ]
        check "starved: fuzzing went on" $?
    else
        echo "$line" | grep -Eq '^FakeFuzzer +100 +[0-9]+ .* 1$'
        check "hang: one round, one finding: $line" $?
        [ $rc = 1 ]
        check "hang: exit 1 ($rc)" $?
        [ -f "$findings/timeout-0123456789abcdef" ]
        check "hang: the input kept as a finding" $?
        [ "$(cat "$FAKE_STATE")" = 1 ]
        check "hang: the target ended" $?
    fi
done
[ $FAILURES = 0 ] || exit 1
echo "campaign: starved timeouts set aside, real ones kept"
