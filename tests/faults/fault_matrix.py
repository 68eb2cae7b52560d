#!/usr/bin/env python3
"""The fault matrix: `ipcamview view --headless` against camsim while the
device misbehaves, for every fault switch camsim has x both HTTP transports
(the socket client and the asynchronous "inet" client) x JPEG, MPEG-4 and
H.264.

Each case runs a camsim of its own and one viewer:

  healthy   the viewer shows frames;
  fault     the switch goes on and camsim kicks the open stream, so the
            viewer's reconnect meets it (as after a device restart); it
            stays on for FAULT_S seconds;
  cleared   the switch goes off; the viewer must show frames again within
            RECOVER_S (the reader's back-off is at most 10 s, but after a
            fault of FAULT_S it waits at most a few seconds; the receive
            time-outs are 3 s socket, 5 s inet);
  end       SIGINT; the viewer must end within EXIT_S with its summary and
            exit code 0.

All along: no crash (a signal, a sanitizer report), no hang (a progress line
at least every HANG_S seconds), memory bounded (resident size at most
RSS_GROWTH_MB above what it was when the first frames showed).

Cases run concurrently (--jobs); one table, one line per case, then
"N passed, N failed". Exit code 0 when every case passed.

usage: fault_matrix.py IPCAMVIEW CAMSIM [--jobs N] [--fault NAME]...
                       [--transport socket|inet]... [--codec jpeg|mpeg4|h264]...
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "camsim"))
from camsim_process import Camsim  # noqa: E402

# Each fault switch of camsim (docs/camsim.md, docs/camsim-media.md) as the
# control CGI takes it. Values are chosen to bite within FAULT_S at 10 fps.
FAULTS = [
    ("refuse", "refuse=1"),                # the device's "NS" refusal
    ("drop", "dropafter=5"),               # closes after 5 parts
    ("stall", "stallafter=5"),             # after 5 parts sends nothing, keeps the connection
    ("garbage", "garbage=3000"),           # junk and broken boundary lines between parts
    ("jump", "jumpback=8"),                # frame numbers step back at part 8
    ("resize", "resize=5"),                # the picture halves at part 5
    ("redirect", "redirect=3"),            # a chain of three 302s before each answer
    ("chunked", "chunked=1"),              # every body chunked in awkward sizes
    ("trickle", "trickle=700:20"),         # 700 bytes every 20 ms (35 kB/s)
    ("401", "unauthorized=1"),             # 401 whatever the credentials
    ("closehead", "closehead=1"),          # half a response head, then close
    ("silence", "silence=1"),              # reads the request, never answers
]
TRANSPORTS = ["socket", "inet"]
CODECS = ["jpeg", "mpeg4", "h264"]

WARMUP_S = 12.0       # the viewer opens and shows its first frames
FAULT_S = 3.0         # the fault stays on this long
RECOVER_S = 15.0      # frames again this long after the fault cleared
AFTER_S = 1.5         # kept running after recovery
EXIT_S = 8.0          # SIGINT to exit
HANG_S = 4.0          # longest gap between progress lines
RSS_GROWTH_MB = 64.0  # over the resident size at the first frames

PROGRESS = re.compile(r"^t=([\d.]+)s viewer1 ch1 frames=(\d+) .*shown=(\d+) .*reconnects=(\d+)")


def rss_mb(pid):
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024.0
    except OSError:
        pass
    return None


class Viewer:
    """One `ipcamview view` whose progress lines are read as they come."""

    def __init__(self, path, port, transport):
        self.p = subprocess.Popen(
            [path, "view", "127.0.0.1:%d" % port, "--headless", "--transport", transport, "--duration", "90"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.lock = threading.Lock()
        self.lines = []      # (monotonic arrival, shown, reconnects)
        self.errors = []     # stderr lines that are no progress lines
        self.peak_rss = 0.0
        self.stop_sampling = threading.Event()
        threading.Thread(target=self._read, daemon=True).start()
        threading.Thread(target=self._sample, daemon=True).start()

    def _read(self):
        for raw in self.p.stderr:
            line = raw.decode(errors="replace").rstrip("\n")
            m = PROGRESS.match(line)
            with self.lock:
                if m:
                    self.lines.append((time.monotonic(), int(m.group(3)), int(m.group(4))))
                else:
                    self.errors.append(line)

    def _sample(self):
        while not self.stop_sampling.wait(0.25):
            r = rss_mb(self.p.pid)
            if r is not None:
                self.peak_rss = max(self.peak_rss, r)

    def shown_after(self, since):
        """Frames shown in progress lines that arrived after `since`."""
        with self.lock:
            return sum(s for t, s, _ in self.lines if t > since)

    def wait_shown(self, since, timeout):
        """Seconds from `since` to the first progress line after it with frames shown, or None."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.p.poll() is None:
            with self.lock:
                for t, s, _ in self.lines:
                    # A progress line covers the second before it: the first
                    # one that begins after `since` counts.
                    if t > since + 1.0 and s > 0:
                        return t - since
            time.sleep(0.05)
        return None

    def longest_gap(self, end):
        with self.lock:
            times = [t for t, _, _ in self.lines]
        if not times:
            return float("inf")
        gaps = [b - a for a, b in zip(times, times[1:])] + [end - times[-1]]
        return max(gaps)

    def reconnects(self):
        with self.lock:
            return self.lines[-1][2] if self.lines else 0

    def restarts(self):
        """Times the view started its source again after the device stopped it."""
        with self.lock:
            return sum(1 for e in self.errors if "started again" in e)


def run_case(ipcamview, camsim_path, fault, query, transport, codec):
    row = {"fault": fault, "transport": transport, "codec": codec, "during": "-", "recovered": "-",
           "reconnects": "-", "restarts": "-", "rss": "-", "exit": "-", "result": "FAIL", "why": ""}
    camsim = Camsim(camsim_path, "--device", "cam-jpeg-4608", "--codec", codec, "--size", "320x240", "--fps", "10",
                    "--preencode", "20", lifetime=120)
    viewer = Viewer(ipcamview, camsim.port, transport)
    try:
        start = time.monotonic()
        first = viewer.wait_shown(start - 1.0, WARMUP_S)
        if first is None:
            row["why"] = "no frames before the fault"
            return row
        base_rss = rss_mb(viewer.p.pid) or 0.0
        camsim.control(query + "&kick")
        fault_at = time.monotonic()
        time.sleep(FAULT_S)
        camsim.control("reset")
        cleared_at = time.monotonic()
        row["during"] = str(viewer.shown_after(fault_at + 1.0) - viewer.shown_after(cleared_at))
        recovered = viewer.wait_shown(cleared_at, RECOVER_S)
        if recovered is not None:
            row["recovered"] = "%.1fs" % recovered
            time.sleep(AFTER_S)
        gap = viewer.longest_gap(time.monotonic())
        row["reconnects"] = str(viewer.reconnects())
        row["restarts"] = str(viewer.restarts())
        viewer.p.send_signal(signal.SIGINT)
        try:
            code = viewer.p.wait(timeout=EXIT_S)
        except subprocess.TimeoutExpired:
            code = None
        viewer.stop_sampling.set()
        row["rss"] = "%.0f->%.0fMB" % (base_rss, viewer.peak_rss)
        row["exit"] = "hang" if code is None else str(code)
        sanitizer = [e for e in viewer.errors if "Sanitizer" in e or "runtime error" in e]
        why = []
        if code is None:
            why.append("no exit %.0fs after SIGINT" % EXIT_S)
        elif code < 0:
            why.append("killed by signal %d" % -code)
        elif code != 0:
            why.append("exit %d: %s" % (code, (viewer.errors or [""])[-1]))
        if sanitizer:
            why.append(sanitizer[0])
        if recovered is None:
            why.append("no frames within %.0fs of the fault clearing" % RECOVER_S)
        if gap > HANG_S:
            why.append("no progress line for %.1fs" % gap)
        if viewer.peak_rss - base_rss > RSS_GROWTH_MB:
            why.append("resident size grew %.0f MB" % (viewer.peak_rss - base_rss))
        row["why"] = "; ".join(why)
        row["result"] = "ok" if not why else "FAIL"
        return row
    except Exception as e:  # a broken case must not take the table with it
        row["why"] = "harness: %s" % e
        return row
    finally:
        viewer.stop_sampling.set()
        if viewer.p.poll() is None:
            viewer.p.kill()
            viewer.p.wait()
        camsim.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("ipcamview")
    parser.add_argument("camsim")
    parser.add_argument("--jobs", type=int, default=12)
    parser.add_argument("--fault", action="append", choices=[f for f, _ in FAULTS])
    parser.add_argument("--transport", action="append", choices=TRANSPORTS)
    parser.add_argument("--codec", action="append", choices=CODECS)
    args = parser.parse_args()
    faults = [(f, q) for f, q in FAULTS if not args.fault or f in args.fault]
    cases = [(f, q, t, c) for f, q in faults for t in (args.transport or TRANSPORTS) for c in (args.codec or CODECS)]
    start = time.monotonic()
    with ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        rows = list(pool.map(lambda c: run_case(args.ipcamview, args.camsim, *c), cases))
    columns = ["fault", "transport", "codec", "during", "recovered", "reconnects", "restarts", "rss", "exit",
               "result", "why"]
    widths = {c: max(len(c), *(len(r[c]) for r in rows)) for c in columns[:-1]}
    print("  ".join(c.ljust(widths[c]) for c in columns[:-1]) + "  why")
    for r in rows:
        print("  ".join(r[c].ljust(widths[c]) for c in columns[:-1]) + "  " + r["why"])
    passed = sum(1 for r in rows if r["result"] == "ok")
    print("%d cases in %.0f s; during: frames shown while the fault was on; reconnects: the reader's; "
          "restarts: sources started again after the device stopped them"
          % (len(rows), time.monotonic() - start))
    print("%d passed, %d failed" % (passed, len(rows) - passed))
    return 0 if passed == len(rows) else 1


if __name__ == "__main__":
    sys.exit(main())
