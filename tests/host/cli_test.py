#!/usr/bin/env python3
"""The host program as a user meets it: every failure is one line on standard
error naming what failed and why, with the documented exit code; --duration
is a deadline whatever the device does; Ctrl-C ends with the summary; the
conventions of a command-line tool hold. Devices are camsim and small
misbehaving servers of this file, all on loopback.

usage: cli_test.py IPCAMVIEW CAMSIM
"""
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

IPCAMVIEW, CAMSIM = sys.argv[1], sys.argv[2]
FAILURES = []


def check(what, ok, detail=""):
    if not ok:
        FAILURES.append("%s: %s" % (what, detail))


def run(args, stdin=None, timeout=60):
    """Runs ipcamview; (exit code, stdout, stderr, seconds)."""
    start = time.monotonic()
    p = subprocess.run([IPCAMVIEW] + args, input=stdin, capture_output=True, timeout=timeout)
    return p.returncode, p.stdout, p.stderr.decode(errors="replace"), time.monotonic() - start


class Camsim:
    def __init__(self, *args, bind=None):
        extra = ["--bind", bind] if bind else []
        self.p = subprocess.Popen([CAMSIM, "--port", "0", "--exit-on-stdin-eof", "--lifetime", "300"] + extra +
                                  list(args), stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        line = self.p.stdout.readline().decode().strip()
        if not line.startswith("port="):
            raise RuntimeError("camsim did not start: " + line)
        self.port = int(line[5:])

    def close(self):
        self.p.stdin.close()
        self.p.wait(timeout=10)


class Server:
    """A loopback device of this file: `answer(conn)` serves each connection."""

    def __init__(self, answer, family=socket.AF_INET, host="127.0.0.1"):
        self.sock = socket.socket(family)
        self.sock.bind((host, 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        self.quit = threading.Event()
        self.conns = []
        threading.Thread(target=self.loop, args=(answer,), daemon=True).start()

    def loop(self, answer):
        while not self.quit.is_set():
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            self.conns.append(conn)
            threading.Thread(target=self.serve, args=(answer, conn), daemon=True).start()

    def serve(self, answer, conn):
        try:
            answer(self, conn)
        except OSError:
            pass

    def close(self):
        self.quit.set()
        self.sock.close()
        for c in self.conns:
            try:
                c.close()
            except OSError:
                pass


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        piece = conn.recv(4096)
        if not piece:
            return None
        data += piece
    return data.split(b" ")[1].decode()


def silent(server, conn):
    server.quit.wait(60)


def web_server(server, conn):
    """Answers "/" with a page and everything else with 404: not a camera."""
    while True:
        target = read_request(conn)
        if target is None:
            return
        body = b"<html>hello</html>" if target == "/" else b"<html>not found</html>"
        status = b"200 OK" if target == "/" else b"404 Not Found"
        conn.sendall(b"HTTP/1.1 " + status + b"\r\nContent-Length: %d\r\n\r\n" % len(body) + body)


def pairs(out):
    return dict(line.split("=", 1) for line in out.decode().splitlines() if "=" in line)


def refusing_port():
    """A loopback port that refuses connections for as long as the returned
    socket lives: bound, never listening. (A port bound and closed again may
    be handed to another test's camsim in the meantime.)"""
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    return s, s.getsockname()[1]


TRANSPORTS = ["socket", "inet"]
refusing, refusing_number = refusing_port()
closed = "127.0.0.1:%d" % refusing_number
cam = Camsim("--device", "cam-jpeg-4608", "--user", "admin:secret")
recorder = Camsim("--device", "dvr-jpeg-5124")
noview = Camsim("--device", "enc-noview-16385")
stalling = Camsim("--device", "cam-mpeg4-4752", "--fault", "stallafter=5")
web = Server(web_server)
quiet = Server(silent)
at = lambda c: "127.0.0.1:%d" % c.port
creds = ["--user", "admin", "--password", "secret"]

# Failures: (what, args, exit code, the message's pattern, whether it goes
# through a transport). Those that do run on both; every one must print
# exactly one line on standard error.
failures = [
    ("refused connection", ["probe", closed], 2, r"127\.0\.0\.1:\d+: connection refused", True),
    ("silent device", ["probe", "127.0.0.1:%d" % quiet.port], 2, r": no answer within [35] s", True),
    ("unparsable address", ["probe", "http://"], 2, r"cannot read the address", False),
    ("https", ["probe", "https://127.0.0.1:%d/" % cam.port], 2, r"only http:// is supported", False),
    ("wrong password", ["probe", at(cam), "--user", "admin", "--password", "no"], 1,
     r": authentication failed \(401\)", True),
    ("not a camera", ["probe", "127.0.0.1:%d" % web.port], 1, r"not a camera: machine code lookup answered 404",
     True),
    ("device without video", ["probe", at(noview)], 1, r"device 0x4001 \(device type 4\) has no live video", True),
    ("channel beyond the device's", ["probe", at(recorder), "--channel", "5"], 1, r"channel 5: the device has 4",
     True),
    ("receive, wrong password", ["receive", at(cam), "--user", "admin", "--password", "no", "--duration", "2"], 1,
     r"authentication failed \(401\)", True),
    ("receive, stream URL refused", ["receive", "--url", "http://127.0.0.1:%d/ipcam/sjpeg.cgi" % cam.port,
                                     "--duration", "2"], 1, r"authentication failed \(401\)", True),
    ("fetch, not found", ["fetch", "127.0.0.1:%d/nothing" % web.port], 1, r"answered 404", True),
    ("fetch, refused connection", ["fetch", "http://%s/" % closed], 2, r"connection refused", True),
    ("unknown option", ["probe", at(cam), "--bogus"], 2, r"unknown option --bogus", False),
    ("flag with a value", ["probe", at(cam), "--audio=1"], 2, r"--audio takes no value", False),
    ("user without password", ["probe", at(cam), "--user", "admin"], 2, r"--user needs --password", False),
    ("codec with --url", ["receive", "--url", "http://%s/" % at(cam), "--codec", "jpeg"], 2,
     r"--codec does not apply to receive --url", False),
    ("duration with --file", ["receive", "--file", "-", "--duration", "3"], 2, r"--duration does not apply", False),
    ("missing capture", ["receive", "--file", "/nonexistent/capture"], 2, r"capture: No such file", False),
    ("unknown command", ["frobnicate"], 2, r'unknown command "frobnicate"', False),
]
for what, args, code, pattern, per_transport in failures:
    for transport in TRANSPORTS if per_transport else [None]:
        rc, out, err, _ = run(args + (["--transport", transport] if transport else []))
        # Progress lines are output; failures are the lines of the program's name.
        lines = [l for l in err.splitlines() if l.startswith("ipcamview")]
        name = "%s (%s)" % (what, transport or "usage")
        check(name + " exit code", rc == code, "expected %d, got %d; %s" % (code, rc, err.strip()))
        check(name + " one line", len(lines) == 1 and lines[0].startswith("ipcamview: "), repr(err))
        check(name + " nothing else", all(l.startswith(("ipcamview: ", "t=")) for l in err.splitlines()), repr(err))
        check(name + " message", re.search(pattern, err) is not None, "want /%s/, got %r" % (pattern, err))

# Deadlines: --duration ends the command within about a second of it, also
# while the device is silent or stalls after a few parts; progress lines come
# every second while a read blocks. The bound excludes the program's own
# start and exit (measured with --version), which a sanitizer build on a busy
# machine stretches far beyond what a device could.
_, _, _, startup = run(["--version"])
for transport in TRANSPORTS:
    for what, target in (("silent", "127.0.0.1:%d" % quiet.port), ("stalling", at(stalling))):
        rc, out, err, took = run(["receive", target, "--transport", transport, "--duration", "2"])
        check("%s/%s ends by its duration" % (what, transport), took - startup < 3.5,
              "took %.1f s, %.1f s of it start and exit" % (took, startup))
        if what == "stalling":
            s = pairs(out)
            check("stalling/%s frames then silence" % transport, rc == 0 and s.get("frames") == "5", out)
            check("stalling/%s progress while blocked" % transport, len(re.findall(r"^t=", err, re.M)) >= 1, err)

# Ctrl-C ends cleanly with the summary; a second one ends at once.
p = subprocess.Popen([IPCAMVIEW, "receive", at(cam)] + creds, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
time.sleep(1.5)
p.send_signal(signal.SIGINT)
out, err = p.communicate(timeout=5)
check("SIGINT exit code and summary", p.returncode == 0 and int(pairs(out).get("frames", "0")) > 0, out + err)
p = subprocess.Popen([IPCAMVIEW, "receive", "127.0.0.1:%d" % quiet.port], stdout=subprocess.PIPE,
                     stderr=subprocess.PIPE)
time.sleep(0.5)
p.send_signal(signal.SIGINT)
p.send_signal(signal.SIGINT)
p.communicate(timeout=5)
check("second SIGINT ends at once", p.returncode in (130, 2), "exit %d" % p.returncode)

# --help on standard output with exit 0 for every command; --version.
for command in ([], ["fetch"], ["probe"], ["receive"], ["demo"]):
    rc, out, err, _ = run(command + ["--help"])
    check("%s --help" % (command or ["ipcamview"])[0], rc == 0 and out.startswith(b"usage") and not err, err)
rc, out, _, _ = run(["--version"])
check("--version", rc == 0 and re.match(rb"ipcamview \d+\.\d+", out) is not None, out)
rc, out, _, _ = run(["fetch", "--help", "http://127.0.0.1:1/"])
check("fetch --help fetches nothing", rc == 0 and out.startswith(b"usage"), out)

# --opt=value beside --opt value; credentials in the URL; JSON summaries.
for transport in TRANSPORTS:
    rc, out, err, _ = run(["probe", "http://admin:secret@%s/" % at(cam), "--transport=" + transport, "--json"])
    check("URL credentials, --opt=value, --json (%s)" % transport,
          rc == 0 and b'"machine_code": "0x1200"' in out and b'"video_codec_name": "jpeg"' in out, out + err.encode())

# Captures from standard input keep every part; a 50 MB body streams whole.
with tempfile.TemporaryDirectory() as work:
    capture = os.path.join(work, "cap")
    drop = Camsim("--device", "cam-jpeg-4608", "--fault", "dropafter=7")
    subprocess.run(["curl", "-s", "-N", "--max-time", "20", "-o", capture,
                    "http://127.0.0.1:%d/ipcam/sjpeg.cgi?language=1&ch=1" % drop.port])
    drop.close()
    rc, out, err, _ = run(["receive", "--file", capture])
    whole = pairs(out)
    with open(capture, "rb") as f:
        rc2, out2, err2, _ = run(["receive", "--file", "-"], stdin=f.read())
    check("capture from standard input", rc == 0 and rc2 == 0 and whole.get("frames") == "7" and
          pairs(out2).get("frames") == "7" and pairs(out2).get("bytes") == whole.get("bytes"), out + out2)
    for transport in TRANSPORTS:
        rc, out, err, _ = run(["fetch", "127.0.0.1:%d/bytes?n=50000000" % cam.port, "--transport", transport] +
                              creds, timeout=120)
        check("50 MB body (%s)" % transport, rc == 0 and len(out) == 50000000, "exit %d, %d bytes, %s" %
              (rc, len(out), err))

# IPv6 loopback on both transports, where the machine has it.
try:
    socket.socket(socket.AF_INET6).bind(("::1", 0))
    have_v6 = True
except OSError:
    have_v6 = False
if have_v6:
    v6 = Camsim("--device", "cam-jpeg-4608", bind="::1")
    for transport in TRANSPORTS:
        rc, out, err, _ = run(["probe", "[::1]:%d" % v6.port, "--transport", transport])
        check("IPv6 probe (%s)" % transport, rc == 0 and pairs(out).get("machine_code") == "0x1200", err)
    v6.close()

# view: two viewers of one channel share one stream connection and both get
# their frames decoded; with --share-decode one decoded source serves both.
def stream_counts(port):
    text = subprocess.run(["curl", "-s", "http://127.0.0.1:%d/camsim/control?streams" % port],
                          capture_output=True).stdout.decode()
    m = re.search(r"streams open=(\d+) total=(\d+)", text)
    return (int(m.group(1)), int(m.group(2))) if m else (-1, -1)


for share in ([], ["--share-decode"]):
    mpeg4 = Camsim("--device", "cam-mpeg4-4752")
    rc, out, err, _ = run(["view", at(mpeg4), "--channel", "1", "--channel", "1", "--headless", "--duration", "3"] +
                          share)
    s = pairs(out)
    name = "view %s" % (share[0] if share else "")
    check(name + " exit code", rc == 0, err)
    for k in (1, 2):
        check(name + " viewer%d pictures" % k, int(s.get("viewer%d.pictures" % k, "0")) > 10 and
              s.get("viewer%d.channel" % k) == "1" and s.get("viewer%d.drops" % k) == "0", out)
    check(name + " sources", s.get("sources") == ("2" if share else "1"), out)
    check(name + " one stream connection", stream_counts(mpeg4.port) == (0, 1), str(stream_counts(mpeg4.port)))
    mpeg4.close()

# view of two devices in one window: a JPEG camera and channel 1 of a H.264
# recorder, each in its cell of the grid; the snapshot is the window as shown.
def png_rgb(path):
    """(width, height, rgb bytes) of a PNG, through ffmpeg."""
    probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=width,height", "-of", "csv=p=0", path],
                           capture_output=True).stdout.decode().strip()
    width, height = (int(v) for v in probe.split(","))
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                         capture_output=True).stdout
    return width, height, raw


def mean_level(width, raw, x0, x1, y0, y1):
    total = count = 0
    for y in range(y0, y1, 4):
        row = raw[(y * width + x0) * 3:(y * width + x1) * 3]
        total += sum(row[::12])
        count += len(row[::12])
    return total / max(count, 1)


jpeg_cam = Camsim("--device", "cam-jpeg-4608")
h264_dvr = Camsim("--device", "dvr-h264-8776")
with tempfile.TemporaryDirectory() as folder:
    for size, cell in (([], (480, 270)), (["--size", "320x180"], (320, 180))):
        snap = os.path.join(folder, "wall.png")
        rc, out, err, _ = run(["view", at(jpeg_cam), at(h264_dvr), "--headless", "--duration", "3", "--snapshot", snap]
                              + size)
        s = pairs(out)
        name = "view of two devices %s" % (" ".join(size) or "default cells")
        check(name + " exit code", rc == 0, err)
        check(name + " addresses", s.get("viewer1.address") == at(jpeg_cam) and
              s.get("viewer2.address") == at(h264_dvr), out)
        for k in (1, 2):
            check(name + " viewer%d shown" % k, int(s.get("viewer%d.pictures" % k, "0")) > 10 and
                  0 <= int(s.get("viewer%d.first_frame_ms" % k, "-1")) < 3000, out)
        width, height, raw = png_rgb(snap)
        check(name + " snapshot size", (width, height) == (2 * cell[0], cell[1]), "%dx%d" % (width, height))
        if (width, height) == (2 * cell[0], cell[1]):
            for k, x0 in ((1, 0), (2, cell[0])):
                level = mean_level(width, raw, x0, x0 + cell[0], 0, cell[1])
                check(name + " picture in cell %d" % k, level > 40, "mean level %.1f" % level)
rc, _, err, _ = run(["view", at(jpeg_cam), "--size", "12x9000", "--headless"])
check("view --size out of range", rc == 2 and "--size" in err, err)
jpeg_cam.close()
h264_dvr.close()

for c in (cam, recorder, noview, stalling):
    c.close()
web.close()
quiet.close()
for f in FAILURES:
    print("FAIL: " + f, file=sys.stderr)
if FAILURES:
    sys.exit("%d failures" % len(FAILURES))
print("cli: every failure named, deadlines kept, conventions hold")
