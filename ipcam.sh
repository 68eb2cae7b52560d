#!/usr/bin/env bash
# ipcam.sh: set-up, build and run for ipcamview on Debian 12 (run as root).
#
#   ./ipcam.sh demo     install what is missing, build, run the host program's demo
#   ./ipcam.sh test     install what is missing, build, run every test: the normal
#                       build (the fault matrix and the install test), the
#                       AddressSanitizer+UBSan build (every other test, with the
#                       fuzz targets) and the ThreadSanitizer build of the
#                       threaded tests
#   ./ipcam.sh build    install and build only (build/)
#   ./ipcam.sh deps     install the Debian packages only
#
# Builds go to build/ (g++), build-asan/ and build-tsan/ (clang). Set
# IPCAM_SKIP_SANITIZERS=1 to run only the normal build's tests.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=${JOBS:-2}
# The sanitizer builds' tests spend about half their time waiting on camsim,
# sockets and timers (two at a time kept the two cores 51 % busy under
# ThreadSanitizer, 66 % under ASan): one test more than cores fills them.
TEST_JOBS=${TEST_JOBS:-$((JOBS + 1))}

PACKAGES=(
  build-essential cmake ninja-build pkg-config git clang libclang-rt-14-dev lld
  libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
  libturbojpeg0-dev libjpeg62-turbo-dev
  libcurl4-openssl-dev libcairo2-dev libpixman-1-dev libsdl2-dev libasound2-dev fonts-liberation xvfb xdotool
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  coreutils curl nginx-light python3
)

log() { printf '==> %s\n' "$*" >&2; }

install_deps() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    log "all ${#PACKAGES[@]} Debian packages present"
    return
  fi
  log "installing ${#missing[@]} Debian packages: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# configure DIR [cmake args...]
configure() {
  local dir=$1; shift
  log "configuring $dir"
  cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja "$@" >/dev/null
}

# configure_and_build DIR [cmake args...]
configure_and_build() {
  local dir=$1 t=$SECONDS
  configure "$@"
  log "building $dir (-j$JOBS)"
  cmake --build "$ROOT/$dir" -j "$JOBS"
  log "built $dir in $((SECONDS - t)) s"
}

# The files in DIR that the tests with a label matching LABEL (and none
# matching EXCLUDED) run: each test's program and the programs it is handed (the host
# tests' ipcamview), read from the CTestTestfile.cmake files configuring
# wrote (ctest itself names no program that is not built yet). Ninja builds
# them with everything they link and depend on.
test_programs() {
  python3 - "$ROOT/$1" "$2" "$3" <<'EOF'
import os, re, sys
root, label, excluded = os.path.realpath(sys.argv[1]) + "/", sys.argv[2], sys.argv[3]
commands, labels = {}, {}
for folder, _, files in os.walk(root):
    if "CTestTestfile.cmake" not in files:
        continue
    for line in open(os.path.join(folder, "CTestTestfile.cmake")):
        m = re.match(r'(add_test|set_tests_properties)\(\[=\[(.*?)\]=\] (.*)\)$', line.strip())
        if not m:
            continue
        kind, name, rest = m.groups()
        if kind == "add_test":
            commands[name] = re.findall(r'"([^"]*)"', rest)
        else:
            found = re.search(r'\bLABELS "([^"]*)"', rest)
            if found:
                labels[name] = found.group(1).split(";")
wanted = set()
for name, words in commands.items():
    # As ctest -L and -LE: a regular expression found in any label.
    mine = labels.get(name, [])
    if not any(re.search(label, l) for l in mine) or any(re.search(excluded, l) for l in mine):
        continue
    for word in words:
        path = os.path.realpath(word)
        if path.startswith(root):
            wanted.add(path[len(root):])
print("\n".join(sorted(wanted)))
EOF
}

# run_ctest DIR PARALLEL [ctest args...]
run_ctest() {
  local dir=$1 jobs=$2 t=$SECONDS; shift 2
  log "testing $dir (-j$jobs)"
  (cd "$ROOT/$dir" && ctest --output-on-failure -j "$jobs" "$@")
  log "tested $dir in $((SECONDS - t)) s"
}

# build_normal [cmake args...]
build_normal() { configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIPCAM_UNIT_TESTS=ON "$@"; }

cmd_test() {
  install_deps
  local start=$SECONDS
  if [ "${IPCAM_SKIP_SANITIZERS:-0}" = 1 ]; then
    build_normal
    run_ctest build "$JOBS"
  else
    # Every test runs in the AddressSanitizer build below, except the ones
    # that need the optimised, installable build: the fault matrix (a dozen
    # viewers at once, timed against camsim) and the install test. So this
    # build makes the library, the programs and the benchmarks, and none of
    # the gtest programs (about 60 % of its compile time).
    build_normal -DIPCAM_UNIT_TESTS=OFF
    run_ctest build "$JOBS" -L 'faults|install'
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
    # Allocations fontconfig and SDL make once per process and never free.
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$ROOT/tests/lsan.supp}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$ROOT/tests/tsan.supp}
    # The sanitizer builds test the library against the normal build's camsim
    # (camsim's own tests still run instrumented): see tests/CMakeLists.txt.
    local peer=-DIPCAM_PEER_CAMSIM=$ROOT/build/tools/camsim/camsim
    # -O1 keeps the sanitizer reports readable and runs the suite twice as fast as -O0.
    configure_and_build build-asan "$peer" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS_DEBUG="-g -O1" \
      -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ -DIPCAM_SANITIZE=address,undefined -DIPCAM_FUZZ=ON -DIPCAM_BENCH=OFF
    # The fault matrix runs in the normal build only (tests/faults).
    run_ctest build-asan "$TEST_JOBS" -LE faults
    # ThreadSanitizer at -O1 too: it compiles in 60% of the time -O2 takes.
    # Only what the threaded tests run is built.
    local t=$SECONDS
    configure build-tsan "$peer" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS_DEBUG="-g -O1" \
      -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ -DIPCAM_SANITIZE=thread -DIPCAM_BENCH=OFF
    local programs
    mapfile -t programs < <(test_programs build-tsan threads faults)
    log "building the ${#programs[@]} programs of the threaded tests in build-tsan (-j$JOBS)"
    ninja -C "$ROOT/build-tsan" -j "$JOBS" "${programs[@]}"
    log "built build-tsan in $((SECONDS - t)) s"
    # Sound goes to SDL's dummy driver here (the ASan run keeps ALSA): ALSA
    # enumerates its devices by loading and unloading its plugins, and every
    # dlopen costs ThreadSanitizer a walk of the process's modules, so the
    # first audio device took 7 s to open, and over 100 s beside two busy
    # processes, in which a recording test timed out.
    SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} run_ctest build-tsan "$TEST_JOBS" -L threads -LE faults
  fi
  log "all test runs passed in $((SECONDS - start)) s"
}

cmd_demo() {
  install_deps
  build_normal
  local host="$ROOT/build/tools/ipcamview/ipcamview"
  if [ ! -x "$host" ]; then
    log "the host program is not built yet"
    exit 1
  fi
  exec "$host" --demo "$@"
}

case "${1:-}" in
  deps) install_deps ;;
  build) install_deps; build_normal ;;
  test) cmd_test ;;
  demo) shift; cmd_demo "$@" ;;
  *) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
esac
