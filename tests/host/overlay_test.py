#!/usr/bin/env python3
"""ipcamview view --overlay with --input scripts, end to end against camsim:
what a script draws and saves is what camsim keeps afterwards; every popup
menu and message box is printed on standard output as it opens, with its
answer; the snapshot shows the area blended over the video; scripts come from
files and from standard input; bad lines and devices without an editor fail
with the documented exit codes.

usage: overlay_test.py IPCAMVIEW CAMSIM
"""
import os
import subprocess
import sys
import tempfile
import urllib.request

IPCAMVIEW, CAMSIM = sys.argv[1], sys.argv[2]
FAILURES = []


def check(what, ok, detail=""):
    if not ok:
        FAILURES.append("%s: %s" % (what, detail))


def run(args, stdin=None, timeout=90):
    p = subprocess.run([IPCAMVIEW] + args, input=stdin, capture_output=True, timeout=timeout)
    return p.returncode, p.stdout.decode(errors="replace"), p.stderr.decode(errors="replace")


class Camsim:
    def __init__(self, *args):
        self.p = subprocess.Popen([CAMSIM, "--port", "0", "--exit-on-stdin-eof", "--lifetime", "180"] +
                                  list(args), stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        line = self.p.stdout.readline().decode().strip()
        if not line.startswith("port="):
            raise RuntimeError("camsim did not start: " + line)
        self.port = int(line[5:])
        self.address = "127.0.0.1:%d" % self.port

    def get(self, target):
        with urllib.request.urlopen("http://%s%s" % (self.address, target), timeout=10) as answer:
            return answer.read().decode()

    def param(self, key):
        line = self.get("/vb.htm?" + key).strip()
        return line.split("=", 1)[1] if line.startswith("OK ") else None

    def close(self):
        self.p.stdin.close()
        self.p.wait(timeout=10)


def png_rgb(path):
    """(width, height, rgb bytes) of a PNG, through ffmpeg."""
    probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=width,height", "-of", "csv=p=0", path],
                           capture_output=True).stdout.decode().strip()
    if "," not in probe:
        return 0, 0, b""
    width, height = (int(v) for v in probe.split(","))
    raw = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                         capture_output=True).stdout
    return width, height, raw


def pixel(width, raw, x, y):
    at = (y * width + x) * 3
    return tuple(raw[at:at + 3])


with tempfile.TemporaryDirectory() as folder:
    # A camera whose picture never changes, so that two snapshots can be
    # compared pixel by pixel.
    cam = Camsim("--device", "cam-jpeg-4608", "--preencode", "1")
    before = os.path.join(folder, "before.png")
    after = os.path.join(folder, "after.png")
    script = os.path.join(folder, "area.txt")
    with open(script, "w") as f:
        f.write("# the device's area cleared, the video alone, then the middle of the picture, saved\n"
                "menu 33001\n"
                "up 5 5 right\n"
                "snapshot %s\n"
                "down 160 120 left\n"
                "move 480 360\n"
                "up 480 360 left\n"
                "\n"
                "menu 33006\n"
                "answer ok\n"
                "up 200 150 right\n"
                "snapshot %s\n" % (before, after))
    rc, out, err = run(["view", cam.address, "--overlay", "motion", "--input", script, "--headless"])
    check("area script exit", rc == 0, "%d %s" % (rc, err))
    check("area saved", cam.param("getmotionxy") == "005003016011", cam.param("getmotionxy"))
    check("area switched on", cam.param("getmotionenable") == "1", cam.param("getmotionenable"))
    menu = ("menu viewer1 at 200,150\n"
            "  33004 \"Disable motion.\"\n"
            "  33002 \"Select the &max area. \"\n"
            "  33001 \"&Clear\"\n"
            "  33003 \"Res&tore\"\n"
            "  -\n"
            "  33006 \"&Save setting\"\n"
            "menu answer 33006 (script)\n"
            "message box \"Success\": \"Save data successfully.\"\n"
            "message box answer ok (script)\n")
    check("menu and box printed as they open", menu in out, out)
    check("the editor named", "motion area editor over 640x480 video" in err, err)
    w0, h0, raw0 = png_rgb(before)
    w1, h1, raw1 = png_rgb(after)
    check("snapshots", (w0, h0, w1, h1) == (640, 480, 640, 480), "%dx%d %dx%d" % (w0, h0, w1, h1))
    if raw0 and raw1:
        fill = (200, 255, 200)
        inside = outside = 0
        for y in range(130, 350, 10):
            for x in range(170, 470, 10):
                a, b = pixel(640, raw0, x, y), pixel(640, raw1, x, y)
                inside += all(abs(b[c] - (a[c] + fill[c]) // 2) <= 4 for c in range(3))
        for y in range(380, 480, 10):
            for x in range(0, 640, 10):
                outside += pixel(640, raw0, x, y) == pixel(640, raw1, x, y)
        check("area blended at half alpha", inside == 22 * 30, "%d of %d" % (inside, 22 * 30))
        check("nothing else drawn", outside == 10 * 64, "%d of %d" % (outside, 10 * 64))

    # The device refuses: the script's author reads it on standard output,
    # and the device keeps its area.
    cam.get("/camsim/device?reply=NG:motionxy")
    rc, out, err = run(["view", cam.address, "--overlay", "motion", "--input", "-", "--headless"],
                       stdin=b"menu 33002\nup 10 10 right\nmenu 33006\nanswer ok\nup 10 10 right\n")
    check("refused save exit", rc == 0, "%d %s" % (rc, err))
    check("refused save said", "message box \"Error\": \"Save data failed.\"\n" in out, out)
    cam.get("/camsim/device?reset=faults")
    check("refused area kept", cam.param("getmotionxy") == "005003016011", cam.param("getmotionxy"))
    cam.close()

    # A recorder's block grid from standard input: channel 2, a click and an
    # erasing drag, saved under the channel's key.
    dvr = Camsim("--device", "dvr-jpeg-5124")
    lines = ("down 60 60 left\nup 60 60 left\n"             # cell 13
             "down 20 20 left\nmove 60 100\nup 60 100 left\n"  # cells 0 .. 25
             "down 20 60 left shift\nmove 60 60 left shift\nup 60 60 left shift\n"  # 12 and 13 off
             "menu 33006\nanswer ok\nup 5 5 right\n")
    rc, out, err = run(["view", dvr.address, "--channel", "2", "--overlay", "grid", "--input", "-", "--headless",
                        "--size", "480x320"], stdin=lines.encode())
    check("grid script exit", rc == 0, "%d %s" % (rc, err))
    check("grid saved", dvr.param("motionblock=2") == "300000300000000000000000", dvr.param("motionblock=2"))
    check("other channel untouched", dvr.param("motionblock=1") == "0" * 24, dvr.param("motionblock=1"))
    check("grid editor named", "motion block grid editor over 704x480 video" in err, err)
    check("grid menu printed", "  33002 \"Select &all \"\n  33001 \"&Clear all \"\n" in out, out)
    # A script for a grid on a device with a motion area only is noted.
    dvr.close()

    # Privacy masks: mask 3 chosen and switched on from the menu, dragged over
    # (16, 8) .. (32, 24) of camsim's 44 x 30 grid, saved as its list item.
    cam = Camsim("--device", "cam-jpeg-4608", "--still")
    lines = ("menu 33011\nup 5 5 right\n"
             "menu 33002\nup 5 5 right\n"
             "down 233 128 left\nmove 300 200\nmove 466 384\nup 466 384 left\n"
             "menu 33008\nanswer ok\nup 5 5 right\n")
    rc, out, err = run(["view", cam.address, "--overlay", "mask", "--input", "-", "--headless"],
                       stdin=lines.encode())
    check("mask script exit", rc == 0, "%d %s" % (rc, err))
    check("mask saved", cam.param("paratest=maskarealist.all") ==
          "000000000000000;001000000000000;102010008020018;003000000000000;",
          cam.param("paratest=maskarealist.all"))
    check("mask menu printed", "  33011 \"* Mask &3\"\n  33012 \"_ Mask &4\"\n  -\n  33002 \"&Enable mask 3\"\n" in out,
          out)
    check("mask editor named", "privacy mask editor over 640x480 video" in err, err)

    # PTZ: a press at the far corner, its release and a wheel step, in
    # camsim's log in that order; the script waits for the worker at its end.
    lines = "down 639 479 left\nwait 200\nup 639 479 left\nwheel 120 320 240\nwait 300\n"
    rc, out, err = run(["view", cam.address, "--overlay", "ptz", "--input", "-", "--headless"],
                       stdin=lines.encode())
    check("ptz script exit", rc == 0, "%d %s" % (rc, err))
    log = [line.split() for line in cam.get("/camsim/ptz?until=4&timeout=10000").splitlines()[1:]]
    check("ptz commands", [l[3] for l in log] == ["A000123E3E", "A000000000", "A0002000FF", "A000000000"],
          str(log))
    if len(log) == 4:
        check("ptz zoom paused", float(log[3][1]) - float(log[2][1]) >= 50, str(log))
    check("no menu of the ptz control", "menu " not in out, out)
    cam.close()

    # Failures: a bad line (before anything is opened, and from standard
    # input when it arrives), a bad kind, a device without a motion editor.
    bad = os.path.join(folder, "bad.txt")
    with open(bad, "w") as f:
        f.write("down 1 2 left\nmove 1\n")
    server = Camsim("--device", "vs-jpeg-12292")
    rc, out, err = run(["view", server.address, "--overlay", "motion", "--input", bad, "--headless"])
    check("bad script line", rc == 2 and "bad.txt line 2" in err and "move X Y" in err, "%d %s" % (rc, err))
    rc, out, err = run(["view", server.address, "--overlay", "masks", "--headless"])
    check("bad overlay kind", rc == 2 and "--overlay" in err, "%d %s" % (rc, err))
    rc, out, err = run(["view", server.address, "--overlay", "motion", "--headless", "--duration", "5"])
    check("no motion editor", rc == 1 and "offers no motion editor" in err, "%d %s" % (rc, err))
    rc, out, err = run(["view", server.address, "--overlay", "mask", "--headless", "--duration", "5"])
    check("no privacy masks", rc == 1 and "offers no privacy masks" in err, "%d %s" % (rc, err))
    server.close()
    cam = Camsim("--device", "cam-jpeg-4608")
    rc, out, err = run(["view", cam.address, "--overlay", "motion", "--input", "-", "--headless"],
                       stdin=b"wait 10\nanswer maybe\n")
    check("bad line on standard input", rc == 2 and "standard input line 2" in err, "%d %s" % (rc, err))
    rc, out, err = run(["view", cam.address, "--overlay", "motion", "--input", "-", "--headless"],
                       stdin=b"frames 1\nframes 0\n")
    check("no pictures to wait for", rc == 2 and "standard input line 2" in err and "frames N (1 to 10000)" in err,
          "%d %s" % (rc, err))
    rc, out, err = run(["view", cam.address, "--overlay", "grid", "--input", "-", "--headless"], stdin=b"")
    check("grid asked of an area camera", rc == 0 and "in one area, not a grid" in err, "%d %s" % (rc, err))
    cam.close()

for f in FAILURES:
    print("FAIL: " + f, file=sys.stderr)
if FAILURES:
    sys.exit("%d failures" % len(FAILURES))
print("overlay: scripts draw and save what camsim keeps, menus and boxes printed")
