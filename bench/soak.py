#!/usr/bin/env python3
"""Soak: does the viewer hold its resources over time? Outside CI (an hour by
default); everything against camsim on loopback.

1. cycles: --cycles Start/Stop pairs through the library's C exports
   (libipcamview.so, loaded here with ctypes) against a camsim that asks for
   credentials, alternating the two transports; every tenth Start meets a
   fault (401, a refused stream, a connection closed mid-head, a silent
   device) and the next clears it. This process's resident size, threads and
   open descriptors are sampled every --sample-cycles cycles.
2. view: `ipcamview view` for --duration seconds: two viewers of one channel
   (one shared source), decoded once for both (--share-decode), shown
   headless, recorded, with credentials, while camsim runs through its fault
   switches: each one for --fault-s seconds, then --quiet-s seconds without,
   the open stream kicked each time so that the viewer meets it. The
   viewer's resident size, threads and descriptors are sampled every
   --sample-s seconds; the last --quiet-end-s run without faults.

Each part passes when, after its warm-up (--warmup-cycles, --warmup-s), its
last sample of each measure is within 5 % of the first (threads and
descriptors: within 5 % or 1). Credentials never appear: the user's password,
"user:password" and its Base64 are searched for in everything the viewer
wrote (progress lines, summary, errors) and in its trace file (ipcamview
--trace FILE), and in what the cycles wrote.

usage: soak.py --build BUILD_DIR [--cycles 1000] [--duration 3600] [--sample-s 5]
               [--warmup-s 60] [--log-dir DIR]
A short run: soak.py --build build --cycles 200 --duration 120 --warmup-s 20
"""
import argparse
import base64
import ctypes
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "camsim"))
from camsim_process import Camsim  # noqa: E402

USER = "soakuser"
PASSWORD = "Pw-5oak-9f3e"
FAULTS = ["garbage=3000", "dropafter=20", "stallafter=20", "resize=10", "jumpback=15", "refuse=1",
          "redirect=3", "chunked=1", "trickle=2000:10", "unauthorized=1", "closehead=1", "silence=1"]
CYCLE_FAULTS = ["unauthorized=1", "refuse=1", "closehead=1", "silence=1"]
TOLERANCE = 0.05


def proc_sample(pid):
    """(resident MB, threads, open descriptors) of a process."""
    rss, threads = 0.0, 0
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1]) / 1024.0
            elif line.startswith("Threads:"):
                threads = int(line.split()[1])
    fds = len(os.listdir("/proc/%d/fd" % pid))
    return rss, threads, fds


def within(first, last, whole):
    """Whether `last` is within 5 % of `first` (whole numbers: or 1)."""
    slack = first * TOLERANCE
    if whole:
        slack = max(slack, 1)
    return abs(last - first) <= slack


def verdict(name, samples):
    """samples: [(label, rss, threads, fds)] after the warm-up; prints and returns ok."""
    first, last = samples[0], samples[-1]
    peak = max(s[1] for s in samples)
    checks = [("rss", first[1], last[1], False), ("threads", first[2], last[2], True),
              ("fds", first[3], last[3], True)]
    ok = True
    for what, a, b, whole in checks:
        good = within(a, b, whole)
        ok = ok and good
        print("%s %s: after warm-up %s, at the end %s (%+.1f %%)%s%s" % (
            name, what, ("%.1f MB" % a) if not whole else a, ("%.1f MB" % b) if not whole else b,
            (b - a) * 100.0 / a if a else 0.0, "" if good else "  OVER 5 %",
            ("; peak %.1f MB" % peak) if what == "rss" else ""))
    return ok


def start_camsim(path, *args):
    """A camsim that asks for the soak's credentials."""
    return Camsim(path, "--user", USER + ":" + PASSWORD, *args)


def secrets():
    pair = USER + ":" + PASSWORD
    return [PASSWORD, pair, base64.b64encode(pair.encode()).decode()]


def leaks(texts):
    """The secrets found in any of the texts."""
    return sorted({s for s in secrets() for t in texts if s in t})


def run_cycles(args, camsim_path):
    """Start/Stop through the C exports; returns ok."""
    lib = ctypes.CDLL(os.path.join(args.build, "src/api/libipcamview.so"))
    lib.Start.restype = ctypes.c_int32
    lib.Start.argtypes = [ctypes.c_int32, ctypes.c_int32, ctypes.c_char_p, ctypes.c_int32, ctypes.c_char_p,
                          ctypes.c_char_p, ctypes.POINTER(ctypes.c_int32), ctypes.c_int32, ctypes.c_int32]
    lib.Stop.restype = ctypes.c_bool
    lib.Stop.argtypes = [ctypes.c_int32]
    camsim = start_camsim(camsim_path, "--device", "cam-jpeg-4608", "--size", "320x240")
    address = ("127.0.0.1:%d" % camsim.port).encode()
    # What the library writes on this process's standard error (nothing is
    # expected) is collected for the credential check.
    err_file = tempfile.TemporaryFile()
    saved_err = os.dup(2)
    os.dup2(err_file.fileno(), 2)
    samples, opened, failed = [], 0, 0
    start = time.monotonic()
    try:
        for n in range(1, args.cycles + 1):
            fault = None
            if n % 10 == 0:
                fault = CYCLE_FAULTS[(n // 10) % len(CYCLE_FAULTS)]
                camsim.control(fault)
            audio = ctypes.c_int32(1)
            transport = 1 if n % 2 else 2
            handle = lib.Start(0, transport, address, 0, USER.encode(), PASSWORD.encode(), ctypes.byref(audio),
                               1, 1000)
            if handle < 0:
                failed += 1
            else:
                opened += 1
                lib.Stop(handle)
            if fault:
                camsim.control("reset")
            if n % args.sample_cycles == 0:
                rss, threads, fds = proc_sample(os.getpid())
                if n >= args.warmup_cycles:
                    samples.append(("cycle %d" % n, rss, threads, fds))
                print("cycles=%d seconds=%.0f rss_mb=%.1f threads=%d fds=%d" % (
                    n, time.monotonic() - start, rss, threads, fds), flush=True)
    finally:
        os.dup2(saved_err, 2)
        os.close(saved_err)
        camsim.close()
    err_file.seek(0)
    written = err_file.read().decode(errors="replace")
    print("cycles: %d Start/Stop in %.0f s (%d handles, %d refused addresses)" % (
        args.cycles, time.monotonic() - start, opened, failed))
    ok = verdict("cycles", samples) if len(samples) >= 2 else False
    found = leaks([written])
    if found:
        print("cycles: credentials in what the library wrote: %s" % ", ".join(found))
    return ok and not found


def run_view(args, camsim_path, ipcamview, log_dir):
    camsim = start_camsim(camsim_path, "--device", "cam-jpeg-4608", "--codec", "h264", "--size", "320x240",
                    "--fps", "10", "--preencode", "30")
    trace = os.path.join(log_dir, "view-trace.txt")
    out_path = os.path.join(log_dir, "view-stdout.txt")
    err_path = os.path.join(log_dir, "view-stderr.txt")
    record = os.path.join(log_dir, "soak.mkv")
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        viewer = subprocess.Popen(
            [ipcamview, "--trace", trace, "view", "127.0.0.1:%d" % camsim.port, "--user", USER, "--password",
             PASSWORD, "--channel", "1", "--channel", "1", "--share-decode", "--headless", "--record", record,
             "--duration", str(args.duration)],
            stdin=subprocess.DEVNULL, stdout=out, stderr=err)
    start = time.monotonic()
    samples, all_samples = [], []
    quiet_from = args.duration - args.quiet_end_s
    stop = threading.Event()

    def faults():
        """Through the switches: each on for fault_s, then quiet_s off."""
        i = 0
        while not stop.wait(args.quiet_s):
            if time.monotonic() - start > quiet_from - args.fault_s:
                return
            camsim.control(FAULTS[i % len(FAULTS)] + "&kick")
            i += 1
            if stop.wait(args.fault_s):
                break
            camsim.control("reset")
        camsim.control("reset")

    # The first fault comes after the warm-up sample, so that sample is of a
    # viewer at rest.
    warm = threading.Event()
    fault_thread = threading.Thread(target=lambda: warm.wait() and faults(), daemon=True)
    fault_thread.start()
    try:
        while viewer.poll() is None:
            time.sleep(args.sample_s)
            elapsed = time.monotonic() - start
            if elapsed > args.duration - 1:
                break  # the viewer is ending: its teardown is no sample of a running viewer
            try:
                rss, threads, fds = proc_sample(viewer.pid)
            except OSError:
                break
            all_samples.append((elapsed, rss, threads, fds))
            if elapsed >= args.warmup_s:
                samples.append(("t=%.0fs" % elapsed, rss, threads, fds))
                warm.set()
            print("view t=%.0fs rss_mb=%.1f threads=%d fds=%d" % (elapsed, rss, threads, fds), flush=True)
        code = viewer.wait(timeout=args.duration + 60)
    finally:
        stop.set()
        warm.set()
        if viewer.poll() is None:
            viewer.send_signal(signal.SIGINT)
            viewer.wait(timeout=30)
        camsim.close()
    texts = []
    for path in (out_path, err_path, trace):
        if os.path.exists(path):
            with open(path, errors="replace") as f:
                texts.append(f.read())
    summary = dict(line.split("=", 1) for line in texts[0].splitlines() if "=" in line)
    print("view: exit %d after %.0f s; frames %s and %s, restarts %s and %s; recorded %s frames, %s bytes;"
          " %d trace lines" % (
              code, time.monotonic() - start, summary.get("viewer1.frames"), summary.get("viewer2.frames"),
              summary.get("viewer1.restarts"), summary.get("viewer2.restarts"),
              summary.get("viewer1.record_frames"), summary.get("viewer1.record_bytes"),
              texts[2].count("\n") if len(texts) > 2 else 0))
    ok = code == 0 and (verdict("view", samples) if len(samples) >= 2 else False)
    found = leaks(texts)
    if found:
        print("view: credentials in the viewer's output or traces: %s" % ", ".join(found))
    return ok and not found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the build folder (build/)")
    parser.add_argument("--cycles", type=int, default=1000)
    parser.add_argument("--sample-cycles", type=int, default=50)
    parser.add_argument("--warmup-cycles", type=int, default=100)
    parser.add_argument("--duration", type=int, default=3600)
    parser.add_argument("--sample-s", type=float, default=5.0)
    parser.add_argument("--warmup-s", type=float, default=60.0)
    parser.add_argument("--fault-s", type=float, default=5.0)
    parser.add_argument("--quiet-s", type=float, default=15.0)
    parser.add_argument("--quiet-end-s", type=float, default=30.0)
    parser.add_argument("--log-dir", default=None, help="where the viewer's output, traces and recording go")
    parser.add_argument("--skip-cycles", action="store_true")
    parser.add_argument("--skip-view", action="store_true")
    args = parser.parse_args()
    camsim = os.path.join(args.build, "tools/camsim/camsim")
    ipcamview = os.path.join(args.build, "tools/ipcamview/ipcamview")
    log_dir = args.log_dir or tempfile.mkdtemp(prefix="ipcam-soak-")
    os.makedirs(log_dir, exist_ok=True)
    print("soak: logs in %s" % log_dir, flush=True)
    results = []
    if not args.skip_cycles:
        results.append(run_cycles(args, camsim))
    if not args.skip_view:
        results.append(run_view(args, camsim, ipcamview, log_dir))
    passed = sum(1 for r in results if r)
    print("%d passed, %d failed" % (passed, len(results) - passed))
    return 0 if passed == len(results) else 1


if __name__ == "__main__":
    sys.exit(main())
