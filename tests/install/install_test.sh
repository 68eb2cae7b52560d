#!/usr/bin/env bash
# The installed library as its users meet it: `cmake --install` into a
# temporary prefix, which is then moved (an installed tree must not depend on
# where it was first put), and in it:
#   - libipcamview.so.0 with its SONAME, exporting the five C functions only;
#   - a C host built with pkg-config alone, opening a viewer on camsim;
#   - a C++ host built with find_package alone, showing camsim's live pictures;
#   - the installed ipcamview and camsim programs working together.
# The camera is the installed camsim.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR CC CXX
set -uo pipefail
BUILD=$1
HERE=$2/tests/install
CC=$3
CXX=$4
WORK=$(mktemp -d "${TMPDIR:-/tmp}/ipcamview-install.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

CAMSIM=""
source "$2/tests/host/camsim.sh" # start_camsim, read_pairs, check and FAILURES
fail() {
    echo "FAIL: $*" >&2
    FAILURES=$((FAILURES + 1))
}

cmake --install "$BUILD" --prefix "$WORK/first" >"$WORK/install.log" || { cat "$WORK/install.log"; exit 1; }
mv "$WORK/first" "$WORK/prefix"
PREFIX=$WORK/prefix
LIBDIR=$(dirname "$(find "$PREFIX" -name 'libipcamview.so.0' | head -1)")
[[ -n "$LIBDIR" && -d "$LIBDIR" ]] || { echo "FAIL: no libipcamview.so.0 installed" >&2; exit 1; }

# --- layout -----------------------------------------------------------------
for f in "$PREFIX/bin/ipcamview" "$PREFIX/bin/camsim" "$LIBDIR/libipcamview.so" "$LIBDIR/ipcamview/libvcodec.so" \
         "$LIBDIR/ipcamview/libreckit.so" "$LIBDIR/libipcam_viewer.a" "$PREFIX/include/ipcamview/ipcamview.h" \
         "$PREFIX/include/ipcamview/Viewer.h" "$PREFIX/include/ipcamview/viewer/CViewer.h" \
         "$LIBDIR/pkgconfig/ipcamview.pc" "$LIBDIR/cmake/ipcamview/ipcamviewConfig.cmake"; do
    [[ -e "$f" ]] || fail "not installed: ${f#"$PREFIX"/}"
done
soname=$(readelf -d "$LIBDIR/libipcamview.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[[ "$soname" == libipcamview.so.0 ]] || fail "SONAME is \"$soname\""
[[ -n $(find "$LIBDIR" -maxdepth 1 -name 'libipcamview.so.0.*.*') ]] || fail "no versioned libipcamview.so.0.x.y"
exports=$(nm -D --defined-only "$LIBDIR/libipcamview.so" | awk '$2 != "A" {print $3}' | sort | tr '\n' ' ')
[[ "$exports" == "GetDeviceType GetMaxChannel GetMediaReceiveType Start Stop " ]] ||
    fail "libipcamview.so exports: $exports"
# Nothing installed may point back into the build or source tree.
if grep -rlI -e "$BUILD" -e "$2/src" "$PREFIX" >"$WORK/leaks"; then
    fail "installed files name the build tree: $(tr '\n' ' ' <"$WORK/leaks")"
fi
for f in "$PREFIX/bin/ipcamview" "$LIBDIR/libipcamview.so"; do
    readelf -d "$f" | grep -E 'R(UN)?PATH' | grep -q -e "$BUILD" -e "$2/" && fail "$(basename "$f"): run path into the build tree"
done

# --- the device ---------------------------------------------------------------
CAMSIM=$PREFIX/bin/camsim
# A recorder's JPEG channel without sound: a C host sees its audio flag written as 0.
MODEL=dvr-jpeg-5124
declare -A D=() P=()
read_pairs D < <("$CAMSIM" --device "$MODEL" --describe)
check "installed camsim --describe: audio" 0 "${D[audio_supported]:-}"
start_camsim --device "$MODEL" || exit 1
refusing_port || fail "no refusing port"
CLOSED=$REFUSING

# --- a C host with pkg-config ---------------------------------------------------
export PKG_CONFIG_PATH=$LIBDIR/pkgconfig
cflags=$(pkg-config --cflags ipcamview) && libs=$(pkg-config --libs ipcamview) || fail "pkg-config ipcamview"
libdir=$(pkg-config --variable=libdir ipcamview)
# shellcheck disable=SC2086
if "$CC" -std=c99 -Wall -Wextra -Werror -pedantic $cflags "$HERE/c_host.c" -o "$WORK/c_host" $libs \
       -Wl,-rpath,"$libdir" 2>"$WORK/c_host.log"; then
    "$WORK/c_host" "127.0.0.1:$PORT" "127.0.0.1:$CLOSED" "${D[audio_supported]:-}" || fail "C host"
else
    cat "$WORK/c_host.log" >&2
    fail "C host does not build with pkg-config"
fi

# --- a C++ host with find_package ---------------------------------------------------
if cmake -S "$HERE/cpp_host" -B "$WORK/cpp_host" -G Ninja -DCMAKE_BUILD_TYPE=Release \
         -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_PREFIX_PATH="$PREFIX" >"$WORK/cpp_host.log" 2>&1 &&
   cmake --build "$WORK/cpp_host" >>"$WORK/cpp_host.log" 2>&1; then
    "$WORK/cpp_host/cpp_host" "127.0.0.1:$PORT" || fail "C++ host"
else
    cat "$WORK/cpp_host.log" >&2
    fail "C++ host does not build with find_package"
fi

# --- the installed programs -------------------------------------------------------------
"$PREFIX/bin/ipcamview" --version >/dev/null || fail "installed ipcamview --version"
read_pairs P < <("$PREFIX/bin/ipcamview" probe "127.0.0.1:$PORT")
check "installed ipcamview probe: machine code" "${D[machine_code]:-none}" "${P[machine_code]:-}"
[[ -n "${P[stream_url]:-}" ]] || fail "installed ipcamview probe composed no stream URL"
stop_camsim

if ((FAILURES > 0)); then
    echo "install test: $FAILURES failures" >&2
    exit 1
fi
echo "install test: all checks held"
