#!/usr/bin/env bash
# The Debian package as a user of a plain Debian 12 machine meets it: a minimal bookworm root
# (debootstrap --variant=minbase, nothing of the build machine in it), the package installed there
# with apt, which must find every dependency in the archive by name, and then used there:
#   - dpkg calls it installed, and ldconfig knows libipcamview.so.0;
#   - nothing the package installs (programs, libipcamview, the codec and recording libraries the
#     viewer loads on first use) misses a library under ldd;
#   - ipcamview --version answers with the package's version;
#   - Depends names no -dev package;
#   - the installed camsim serves, the installed ipcamview probes it and views it headless (JPEG, and
#     H.264 while recording, which loads the codec and recording libraries and FFmpeg behind them);
#   - what the programs and libraries open by name at run time is on the root;
#   - apt-get remove leaves no file of the package behind, and ldconfig forgets the library.
# One line per check, PASS or FAIL; the exit code is the number of failures (capped at 100), 0 when all
# passed. Needs root, the network to the Debian mirror and a few minutes, so it is not part of CI.
#
# Usage: fresh_root_install.sh [--cache DIR] [--mirror URL] [--refresh] [--keep-root] [--build-hosts]
#                              PACKAGE.deb
#   --cache DIR   where the pristine root (a tarball of debootstrap's tree) and the downloaded .debs
#                 are kept between runs (default /var/tmp/ipcamview-fresh-root); each run unpacks a
#                 new root from the tarball, so every run starts from the same fresh system
#   --mirror URL  the Debian archive (default http://deb.debian.org/debian)
#   --refresh     debootstrap again instead of using the cached tarball
#   --keep-root   leave the run's root in DIR/root for a look afterwards
#   --build-hosts also install a compiler, cmake and pkg-config (and no -dev package of the libraries
#                 beneath the viewer) and build the install test's C host with pkg-config and C++ host
#                 with find_package against the package, then run them against camsim: the package
#                 claims a host is built from it alone, which the build machine, holding every -dev
#                 package, cannot show (a few more minutes and about 80 MB more to download)
set -uo pipefail

CACHE=/var/tmp/ipcamview-fresh-root
MIRROR=http://deb.debian.org/debian
SUITE=bookworm
REFRESH=0
KEEP_ROOT=0
BUILD_HOSTS=0
DEB=""

usage() {
    echo "usage: $0 [--cache DIR] [--mirror URL] [--refresh] [--keep-root] [--build-hosts] PACKAGE.deb" >&2
    exit 2
}
while (($#)); do
    case $1 in
    --cache) CACHE=${2:?}; shift 2 ;;
    --cache=*) CACHE=${1#*=}; shift ;;
    --mirror) MIRROR=${2:?}; shift 2 ;;
    --mirror=*) MIRROR=${1#*=}; shift ;;
    --refresh) REFRESH=1; shift ;;
    --keep-root) KEEP_ROOT=1; shift ;;
    --build-hosts) BUILD_HOSTS=1; shift ;;
    -h | --help) usage ;;
    -*) echo "$0: unknown option $1" >&2; usage ;;
    *) [[ -z "$DEB" ]] || usage; DEB=$1; shift ;;
    esac
done
[[ -n "$DEB" && -f "$DEB" ]] || { echo "$0: no package file: ${DEB:-(none given)}" >&2; usage; }
[[ $EUID -eq 0 ]] || { echo "$0: needs root (debootstrap, chroot, mounts)" >&2; exit 2; }
DEB=$(realpath "$DEB")
mkdir -p "$CACHE"
CACHE=$(realpath "$CACHE")
ROOT=$CACHE/root
TARBALL=$CACHE/$SUITE-minbase.tar
ARCHIVES=$CACHE/archives
LOG=$CACHE/log
mkdir -p "$ARCHIVES" "$LOG"
rm -f "$LOG"/* # the logs of this run only
START=$SECONDS

FAILURES=0
pass() { echo "PASS $1"; }
fail() {
    local detail=${2:-}
    detail=${detail//$'\n'/ | }
    echo "FAIL $1${detail:+: $detail}"
    FAILURES=$((FAILURES + 1))
}
check() { # NAME CONDITION-STATUS DETAIL
    if [[ $2 -eq 0 ]]; then pass "$1"; else fail "$1" "$3"; fi
}
info() { echo "INFO $*"; }
finish() {
    info "wall time $((SECONDS - START)) s"
    ((FAILURES == 0)) && echo "all checks passed" || echo "$FAILURES check(s) failed"
    exit $((FAILURES > 100 ? 100 : FAILURES))
}
# A step without which the later checks mean nothing ends the run.
fatal() {
    fail "$1" "$2"
    finish
}

# --- cleanup: camsim first (it keeps the root's /proc busy), then the mounts in reverse ----------------
MOUNTS=()
CAMSIM_CHILD="" # bash unsets the coproc's own CAMSIM_PID when it ends
cleanup() {
    # Whatever went wrong before, the mounts must go: no error may end this early.
    set +eu
    stop_camsim
    local i
    for ((i = ${#MOUNTS[@]} - 1; i >= 0; i--)); do
        umount "${MOUNTS[i]}" 2>/dev/null || umount -l "${MOUNTS[i]}" 2>/dev/null ||
            echo "$0: could not unmount ${MOUNTS[i]}" >&2
    done
    MOUNTS=()
    if ((KEEP_ROOT == 0)) && [[ -d "$ROOT" ]] && ! mounted_under "$ROOT"; then
        rm -rf --one-file-system "$ROOT"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mounted_under() { awk -v d="$1/" 'index($2, d) == 1 { found = 1 } END { exit !found }' /proc/mounts; }
mount_in_root() { # TYPE TARGET OPTIONS
    mount -t "$1" -o "$3" "$1" "$ROOT$2" || return 1
    MOUNTS+=("$ROOT$2")
}

# Runs a command in the root with a clean environment: nothing of the caller's (DISPLAY, LD_*,
# a proxy) may make the root look better than a fresh machine.
in_root() {
    chroot "$ROOT" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive TMPDIR=/tmp "$@"
}

# --- debootstrap, once -----------------------------------------------------------------------------------
if ! command -v debootstrap >/dev/null; then
    info "installing debootstrap"
    { apt-get update && apt-get install -y debootstrap; } >"$LOG/debootstrap-install.log" 2>&1 ||
        fatal "debootstrap installed" "see $LOG/debootstrap-install.log"
fi
if ((REFRESH)) || [[ ! -s "$TARBALL" ]]; then
    info "debootstrap --variant=minbase $SUITE from $MIRROR (once; kept in $TARBALL)"
    NEW=$CACHE/base.new
    mounted_under "$NEW" && fatal "pristine root made" "something is mounted under $NEW"
    rm -rf --one-file-system "$NEW"
    debootstrap --variant=minbase "$SUITE" "$NEW" "$MIRROR" >"$LOG/debootstrap.log" 2>&1 ||
        fatal "pristine root made" "debootstrap failed, see $LOG/debootstrap.log"
    # apt's own cache stays out of the tarball: the downloaded .debs are kept apart and reused.
    rm -f "$NEW"/var/cache/apt/archives/*.deb
    tar --numeric-owner -C "$NEW" -cpf "$TARBALL.new" . && mv "$TARBALL.new" "$TARBALL" ||
        fatal "pristine root made" "could not write $TARBALL"
    rm -rf --one-file-system "$NEW"
fi

# --- a fresh root for this run ------------------------------------------------------------------------
mounted_under "$ROOT" && fatal "fresh root unpacked" "something is still mounted under $ROOT"
rm -rf --one-file-system "$ROOT"
mkdir -p "$ROOT"
tar --numeric-owner -C "$ROOT" -xpf "$TARBALL" || fatal "fresh root unpacked" "from $TARBALL"
cp /etc/resolv.conf "$ROOT/etc/resolv.conf"
# No service of a dependency starts in the root (the usual rule for package installs in a chroot).
printf '#!/bin/sh\nexit 101\n' >"$ROOT/usr/sbin/policy-rc.d"
chmod 755 "$ROOT/usr/sbin/policy-rc.d"

mount_in_root proc /proc nosuid,nodev,noexec || fatal "root mounted" "/proc"
mount_in_root sysfs /sys ro,nosuid,nodev,noexec || fatal "root mounted" "/sys"
# A /dev of its own with the usual nodes, not the host's: nothing in the root reaches a host device.
mount_in_root tmpfs /dev mode=755,nosuid || fatal "root mounted" "/dev"
for node in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
    IFS=: read -r name major minor <<<"$node"
    mknod -m 666 "$ROOT/dev/$name" c "$major" "$minor" || fatal "root mounted" "mknod /dev/$name"
done
mkdir -p "$ROOT/dev/pts" "$ROOT/dev/shm"
mount_in_root devpts /dev/pts newinstance,ptmxmode=0666,mode=620 || fatal "root mounted" "/dev/pts"
ln -s pts/ptmx "$ROOT/dev/ptmx"
mount_in_root tmpfs /dev/shm mode=1777,nosuid,nodev || fatal "root mounted" "/dev/shm"
ln -s /proc/self/fd "$ROOT/dev/fd"

# --- install ----------------------------------------------------------------------------------------
cp "$DEB" "$ROOT/root/"
DEBNAME=$(basename "$DEB")
shopt -s nullglob
cached=("$ARCHIVES"/*.deb)
((${#cached[@]})) && { cp -l "${cached[@]}" "$ROOT/var/cache/apt/archives/" 2>/dev/null ||
    cp "${cached[@]}" "$ROOT/var/cache/apt/archives/"; }
info "package $DEBNAME, $(stat -c %s "$DEB") bytes"
in_root sh -c "cd /root && apt-get update && apt-get install -y ./ipcamview_*.deb" >"$LOG/install.log" 2>&1
rc=$?
shopt -u nullglob
# What apt downloaded is kept for the next run (the dependencies here, the toolchain below).
save_archives() { find "$ROOT/var/cache/apt/archives" -maxdepth 1 -name '*.deb' -exec cp -n -t "$ARCHIVES/" {} +; }
save_archives
grep -E '^(Need to get|After this operation)' "$LOG/install.log" | sed 's/^/INFO apt: /'
((rc == 0)) || fatal "apt-get install ./$DEBNAME" "exit $rc, see $LOG/install.log"
pass "apt-get install ./$DEBNAME"

status=$(in_root dpkg-query -W -f='${Status}' ipcamview 2>&1)
check "dpkg -s ipcamview: install ok installed" "$([[ "$status" == "install ok installed" ]]; echo $?)" "$status"
info "Installed-Size $(in_root dpkg-query -W -f='${Installed-Size}' ipcamview) KiB"

in_root dpkg -L ipcamview >"$LOG/files" 2>&1 || fatal "dpkg -L ipcamview" "$(head -1 "$LOG/files")"
# Which of the listed paths are the package's own files (not the directories it shares).
: >"$LOG/own-files"
while read -r path; do
    [[ -L "$ROOT$path" || -f "$ROOT$path" ]] && echo "$path" >>"$LOG/own-files"
done <"$LOG/files"
info "$(wc -l <"$LOG/own-files") files and links, $(sed "s|^|$ROOT|" "$LOG/own-files" | tr '\n' '\0' | du -sck --files0-from=- | tail -1 | cut -f1) KiB on disk"

# Not `ldconfig -p | grep -q`: grep leaving at the first match can kill ldconfig with SIGPIPE, and
# pipefail would take that for the answer.
known_libraries() { in_root ldconfig -p | awk 'NR > 1 {print $1}'; }
known=$(known_libraries)
grep -q -x -F libipcamview.so.0 <<<"$known"
check "ldconfig knows libipcamview.so.0" $? "not in ldconfig -p: the package's postinst did not run it"

# --- every installed object finds its libraries -----------------------------------------------------
objects=$(grep -E '/bin/(ipcamview|camsim)$|/libipcamview\.so\.0$|/ipcamview/lib(vcodec|reckit)\.so$' "$LOG/own-files")
for expected in /bin/ipcamview /bin/camsim /libipcamview.so.0 /libvcodec.so /libreckit.so; do
    grep -q -- "$expected\$" <<<"$objects" || fail "ldd *$expected" "the package does not hold it"
done
for obj in $objects; do
    out=$(in_root ldd "$obj" 2>&1)
    rc=$?
    missing=$(grep 'not found' <<<"$out" | awk '{print $1}' | tr '\n' ' ')
    check "ldd $obj: no library missing" "$([[ $rc -eq 0 && -z "$missing" ]]; echo $?)" \
        "${missing:-ldd exit $rc: $out}"
done

# What a library or program opens by name at run time (FFmpeg's and SDL2 for sound, loaded on first
# use) is not in its NEEDED entries, so ldd cannot see it and dpkg-shlibdeps did not ask for it: it is
# only there because some dependency brings it. The names are the sonames among the file's strings.
for obj in $objects; do
    needed=$(readelf -d "$ROOT$obj" | sed -n 's/.*(\(NEEDED\|SONAME\)).*\[\(.*\)\]/\2/p')
    byname=$(strings -a "$ROOT$obj" | grep -E '^lib[A-Za-z0-9_+-]+(-[0-9.]+)?\.so(\.[0-9]+)+$' | sort -u |
        grep -v -x -F "$needed")
    [[ -n "$byname" ]] || continue
    known=$(known_libraries)
    missing=""
    for name in $byname; do
        grep -q -x -F "$name" <<<"$known" || missing+="$name "
    done
    check "$obj: what it opens by name is there ($(tr '\n' ' ' <<<"$byname" | sed 's/ $//'))" \
        "$([[ -z "$missing" ]]; echo $?)" "not known to ldconfig: $missing"
done

# --- the version and the dependencies --------------------------------------------------------------
want=$(dpkg-deb -f "$DEB" Version)
got=$(in_root ipcamview --version 2>&1)
rc=$?
check "ipcamview --version says $want" "$([[ $rc -eq 0 && "$got" == "ipcamview ${want%%-*}" ]]; echo $?)" \
    "exit $rc, \"$got\""

depends=$(dpkg-deb -f "$DEB" Depends Pre-Depends)
info "$depends"
dev=$(sed 's/^[A-Za-z-]*://' <<<"$depends" | tr ',|' '\n\n' | sed 's/(.*//; s/:.*//; s/ //g' | grep -E -- '-dev$')
check "Depends names no -dev package" "$([[ -z "$dev" ]]; echo $?)" "$(tr '\n' ' ' <<<"$dev")"

# --- the installed programs against each other -------------------------------------------------------
# camsim in the root on a free loopback port; its standard input is ours, so it ends when we close it
# (or when we die), and --lifetime bounds it whatever happens.
PORT=""
start_camsim() {
    coproc CAMSIM { exec chroot "$ROOT" /usr/bin/env -i PATH=/usr/bin:/bin LANG=C.UTF-8 TMPDIR=/tmp \
        /usr/bin/camsim --port 0 --lifetime 120 --exit-on-stdin-eof "$@" 2>>"$LOG/camsim.err"; }
    CAMSIM_CHILD=$CAMSIM_PID
    local line=""
    read -r -t 30 line <&"${CAMSIM[0]}"
    PORT=${line#port=}
    [[ "$line" == port=* && "$PORT" =~ ^[0-9]+$ ]]
}
stop_camsim() {
    [[ -n "$CAMSIM_CHILD" ]] || return 0
    local fd=${CAMSIM[1]:-}
    [[ -n "$fd" ]] && exec {fd}>&-
    local i
    for ((i = 0; i < 50; i++)); do
        kill -0 "$CAMSIM_CHILD" 2>/dev/null || break
        sleep 0.1
    done
    kill "$CAMSIM_CHILD" 2>/dev/null
    wait "$CAMSIM_CHILD" 2>/dev/null
    CAMSIM_CHILD=""
}
# The value of NAME=VALUE in a summary file.
value() { sed -n "s/^$1=//p" "$2" | head -1; }

if start_camsim; then
    pass "camsim --port 0 serves (port=$PORT)"
    in_root ipcamview probe "127.0.0.1:$PORT" >"$LOG/probe.out" 2>"$LOG/probe.err"
    rc=$?
    url=$(value stream_url "$LOG/probe.out")
    w=$(value width "$LOG/probe.out")
    check "ipcamview probe 127.0.0.1:$PORT: stream_url, ${w:-?}x$(value height "$LOG/probe.out")" \
        "$([[ $rc -eq 0 && "$url" == "http://127.0.0.1:$PORT/"* && ${w:-0} -gt 0 ]]; echo $?)" \
        "exit $rc, stream_url=\"$url\": $(head -c 300 "$LOG/probe.err")"

    in_root ipcamview view "127.0.0.1:$PORT" --headless --duration 3 >"$LOG/view.out" 2>"$LOG/view.err"
    rc=$?
    frames=$(value viewer1.frames "$LOG/view.out")
    pictures=$(value viewer1.pictures "$LOG/view.out")
    check "ipcamview view --headless --duration 3 (JPEG): frames=${frames:-?} shown=${pictures:-?}" \
        "$([[ $rc -eq 0 && ${frames:-0} -gt 0 && ${pictures:-0} -gt 0 ]]; echo $?)" \
        "exit $rc: $(tail -c 300 "$LOG/view.err")"
else
    fail "camsim --port 0 serves" "no port=N line: $(tail -n 1 "$LOG/camsim.err")"
fi
stop_camsim

# H.264 goes through the codec library (libvcodec and FFmpeg's decoder) and the recording through
# libreckit: both are loaded on first use, so only using them proves the package holds what they need.
if start_camsim --codec h264; then
    rm -f "$ROOT/tmp/fresh-root.mkv"
    in_root ipcamview view "127.0.0.1:$PORT" --headless --duration 3 --record /tmp/fresh-root.mkv \
        >"$LOG/view-h264.out" 2>"$LOG/view-h264.err"
    rc=$?
    frames=$(value viewer1.frames "$LOG/view-h264.out")
    pictures=$(value viewer1.pictures "$LOG/view-h264.out")
    recorded=$(value viewer1.record_frames "$LOG/view-h264.out")
    size=$(stat -c %s "$ROOT/tmp/fresh-root.mkv" 2>/dev/null || echo 0)
    check "ipcamview view --headless --duration 3 --record (camsim --codec h264): frames=${frames:-?} shown=${pictures:-?}" \
        "$([[ $rc -eq 0 && ${frames:-0} -gt 0 && ${pictures:-0} -gt 0 ]]; echo $?)" \
        "exit $rc: $(grep -v 'non-existing PPS' "$LOG/view-h264.err" | tail -c 300)"
    check "recorded /tmp/fresh-root.mkv: ${recorded:-?} frames, $size bytes" \
        "$([[ ${recorded:-0} -gt 0 && $size -gt 0 ]]; echo $?)" "$(grep -i record "$LOG/view-h264.err" | tail -c 300)"
    rm -f "$ROOT/tmp/fresh-root.mkv"
else
    fail "camsim --codec h264 serves" "no port=N line: $(tail -n 1 "$LOG/camsim.err")"
fi
stop_camsim

# --- hosts built from the package alone ----------------------------------------------------------------
HOSTS_SRC=$(realpath "$(dirname "$0")/../../tests/install")
if ((BUILD_HOSTS)); then
    in_root apt-get install -y --no-install-recommends gcc g++ make cmake pkg-config \
        >"$LOG/toolchain.log" 2>&1
    check "toolchain installed (gcc g++ make cmake pkg-config)" $? "see $LOG/toolchain.log"
    save_archives
    info "-dev packages on the root: $(in_root dpkg-query -W -f='${Package}\n' | grep -E -- '-dev$' | tr '\n' ' ')"
    mkdir -p "$ROOT/root/hosts"
    cp -r "$HOSTS_SRC/c_host.c" "$HOSTS_SRC/cpp_host" "$ROOT/root/hosts/"
    # The install test's device: a recorder's JPEG channel without sound.
    model=dvr-jpeg-5124
    audio=$(in_root camsim --device "$model" --describe | sed -n 's/^audio_supported=//p')
    if start_camsim --device "$model"; then
        in_root sh -c 'cd /root/hosts && cc -std=c99 -Wall -Wextra -Werror -pedantic c_host.c -o c_host \
            $(pkg-config --cflags --libs ipcamview)' >"$LOG/c_host.log" 2>&1
        check "C host builds with pkg-config alone" $? "$(tail -n 3 "$LOG/c_host.log")"
        # Port 1 on loopback: nothing listens there, so the second viewer finds no device.
        in_root /root/hosts/c_host "127.0.0.1:$PORT" 127.0.0.1:1 "$audio" >>"$LOG/c_host.log" 2>&1
        check "C host opens a viewer on camsim" $? "$(tail -n 3 "$LOG/c_host.log")"
        in_root sh -c 'cmake -S /root/hosts/cpp_host -B /root/hosts/cpp_build -DCMAKE_BUILD_TYPE=Release &&
            cmake --build /root/hosts/cpp_build -j 1' >"$LOG/cpp_host.log" 2>&1
        check "C++ host builds with find_package alone" $? "$(grep -m 3 -i error "$LOG/cpp_host.log")"
        in_root /root/hosts/cpp_build/cpp_host "127.0.0.1:$PORT" >>"$LOG/cpp_host.log" 2>&1
        check "C++ host shows camsim's live pictures" $? "$(tail -n 3 "$LOG/cpp_host.log")"
    else
        fail "camsim --device $model serves" "no port=N line: $(tail -n 1 "$LOG/camsim.err")"
    fi
    stop_camsim
    rm -rf "$ROOT/root/hosts"
fi

# --- removal ----------------------------------------------------------------------------------------
in_root apt-get remove -y ipcamview >"$LOG/remove.log" 2>&1
check "apt-get remove -y ipcamview" $? "see $LOG/remove.log"
# The paths of dpkg -L still there, but for directories that another package owns too. dpkg keeps a
# directory it could not empty in the removed package's own list, so the package itself does not count.
leftovers() {
    local path owners
    while read -r path; do
        [[ "$path" == /. ]] && continue
        [[ -L "$ROOT$path" || -e "$ROOT$path" ]] || continue
        if [[ -d "$ROOT$path" && ! -L "$ROOT$path" ]]; then
            owners=$(in_root dpkg-query -S "$path" 2>/dev/null | sed -n 's/: .*//p' | tr ',' '\n' |
                sed 's/ //g; s/:.*//' | grep -v -x ipcamview)
            [[ -n "$owners" ]] && continue
        fi
        printf '%s ' "$path"
    done <"$LOG/files"
}
left=$(leftovers)
check "nothing of the package left behind after remove ($(wc -l <"$LOG/files") paths of dpkg -L)" \
    "$([[ -z "$left" ]]; echo $?)" "$left"
known=$(known_libraries)
grep -q '^libipcamview\.so' <<<"$known"
check "ldconfig forgot libipcamview" "$((!$?))" "still in ldconfig -p"
# The maintainer scripts that run ldconfig keep dpkg's record of the package ("rc") after a remove,
# as for any package with a postrm; a purge ends it.
in_root apt-get purge -y ipcamview >"$LOG/purge.log" 2>&1
rc=$?
status=$(in_root dpkg-query -W -f='${Status}' ipcamview 2>/dev/null)
check "apt-get purge -y ipcamview: dpkg keeps no record" \
    "$([[ $rc -eq 0 && ( -z "$status" || "$status" == *not-installed ) ]]; echo $?)" "exit $rc, \"$status\""
left=$(leftovers)
check "nothing of the package left behind after purge" "$([[ -z "$left" ]]; echo $?)" "$left"

finish
