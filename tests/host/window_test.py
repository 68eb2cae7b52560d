#!/usr/bin/env python3
"""ipcamview view in a real window: an Xvfb server of the test's own (Xvfb
picks a free display itself), camsim on loopback, and ffmpeg's x11grab as an
independent reader of what the screen shows. Two captures a second apart
both show a picture, and differ: the camera's frame counter moves on. Then
the motion editor over the video in that window: xdotool drags with the real
X pointer and right-clicks, SDL turns it into the window's messages, the
viewer's hooks into the editor's area, and the menu's save (its answers
given on standard input) writes what camsim keeps; and the PTZ control, a
held button and the wheel becoming commands in camsim's log.

Usage: window_test.py IPCAMVIEW CAMSIM"""
import os
import shutil
import subprocess
import sys
import threading
import time
import urllib.request

IPCAMVIEW, CAMSIM = sys.argv[1], sys.argv[2]

if shutil.which("Xvfb") is None:
    print("window test skipped: Xvfb is not installed (Debian package xvfb)")
    sys.exit(0)

read_fd, write_fd = os.pipe()
xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "640x480x24", "-nolisten", "tcp"],
                        pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
os.close(write_fd)
number = b""
deadline = time.monotonic() + 20
while not number.endswith(b"\n") and time.monotonic() < deadline:
    chunk = os.read(read_fd, 16)
    if not chunk:
        break
    number += chunk
os.close(read_fd)
if not number.strip():
    xvfb.kill()
    sys.exit("Xvfb did not report a display")
display = ":" + number.decode().strip()

camsim = subprocess.Popen([CAMSIM, "--port", "0", "--device", "cam-mpeg4-4752", "--exit-on-stdin-eof",
                           "--lifetime", "300"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
port = int(camsim.stdout.readline().decode().strip().split("=")[1])

env = dict(os.environ, DISPLAY=display, SDL_RENDER_DRIVER="software")
view = subprocess.Popen([IPCAMVIEW, "view", "127.0.0.1:%d" % port, "--duration", "8"], env=env,
                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def grab():
    """One 640x480 frame of the screen's top left corner as RGB bytes."""
    return subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-f", "x11grab", "-draw_mouse", "0",
                           "-video_size", "640x480", "-i", display + "+0,0", "-frames:v", "1", "-f", "rawvideo",
                           "-pix_fmt", "rgb24", "-"], capture_output=True, env=env).stdout


def lit(frame):
    """Share of pixels that are not black."""
    pixels = frame[::3 * 7]
    return sum(1 for p in pixels if p > 24) / max(len(pixels), 1)


def watch(process, marker, lines, seen):
    """Collects a process's standard error; `seen` is set at the first line
    holding `marker`."""
    for line in process.stderr:
        lines.append(line)
        if marker in line:
            seen.set()


failures = []
time.sleep(4)
first = grab()
time.sleep(1)
second = grab()
out, err = view.communicate(timeout=60)
summary = dict(line.split("=", 1) for line in out.decode().splitlines() if "=" in line)
for what, ok, detail in (
        ("view exit code", view.returncode == 0, err.decode()),
        ("a window on the screen", summary.get("window") == "screen", out.decode()),
        ("frames shown", int(summary.get("viewer1.pictures", "0")) > 30, out.decode()),
        ("captures", len(first) == len(second) == 640 * 480 * 3, "%d, %d bytes" % (len(first), len(second))),
        ("the picture on the screen", len(first) > 0 and lit(first) > 0.5 and lit(second) > 0.5,
         "%.2f, %.2f lit" % (lit(first), lit(second)) if first and second else "no capture"),
        ("the picture moves on", first != second, "two identical captures")):
    if not ok:
        failures.append("%s: %s" % (what, detail))
camsim.stdin.close()
camsim.wait(timeout=10)

if shutil.which("xdotool") is None:
    print("window test: the editor part skipped: xdotool is not installed (Debian package xdotool)")
else:
    camsim = subprocess.Popen([CAMSIM, "--port", "0", "--device", "cam-jpeg-4608", "--exit-on-stdin-eof",
                               "--lifetime", "300"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    port = int(camsim.stdout.readline().decode().strip().split("=")[1])
    view = subprocess.Popen([IPCAMVIEW, "view", "127.0.0.1:%d" % port, "--overlay", "motion", "--input", "-",
                             "--duration", "10"], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    # The answers to the menu and the box the right click will open, taken
    # once the script starts (when the picture is shown): the mouse waits
    # for that line.
    view.stdin.write(b"menu 33006\nanswer ok\n")
    view.stdin.close()
    errors = []
    started = threading.Event()
    reader = threading.Thread(target=watch, args=(view, b"input script starts", errors, started), daemon=True)
    reader.start()
    started.wait(30)
    time.sleep(0.5)
    # The window shows the 640x480 picture at the screen's top left corner.
    subprocess.run(["xdotool", "mousemove", "160", "120", "mousedown", "1", "mousemove", "300", "200",
                    "mousemove", "480", "360", "mouseup", "1"], env=env)
    time.sleep(0.3)
    subprocess.run(["xdotool", "click", "3"], env=env)
    out = view.stdout.read()
    view.wait(timeout=60)
    reader.join(10)
    err = b"".join(errors)
    with urllib.request.urlopen("http://127.0.0.1:%d/vb.htm?getmotionxy" % port, timeout=10) as answer:
        saved = answer.read().decode().strip()
    for what, ok, detail in (
            ("editor view exit code", view.returncode == 0, err.decode()),
            ("the script started", started.is_set(), err.decode()),
            ("the menu opened by the right click", b"menu viewer1 at 480,360" in out, out.decode()),
            ("the save's message", b"message box \"Success\"" in out, out.decode()),
            ("the dragged area saved", saved == "OK getmotionxy=005003016011", saved)):
        if not ok:
            failures.append("%s: %s" % (what, detail))
    # The PTZ control: a held button steers, the wheel (button 4, away from
    # the user) zooms in; camsim logs what arrives.
    view = subprocess.Popen([IPCAMVIEW, "view", "127.0.0.1:%d" % port, "--overlay", "ptz", "--duration", "8"],
                            env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    errors = []
    started = threading.Event()
    # The control exists once the view prints its first progress line.
    reader = threading.Thread(target=watch, args=(view, b" frames=", errors, started), daemon=True)
    reader.start()
    started.wait(30)
    subprocess.run(["xdotool", "mousemove", "600", "240", "mousedown", "1"], env=env)
    time.sleep(0.3)
    subprocess.run(["xdotool", "mouseup", "1"], env=env)
    time.sleep(0.3)
    subprocess.run(["xdotool", "click", "4"], env=env)
    with urllib.request.urlopen("http://127.0.0.1:%d/camsim/ptz?until=4&timeout=10000" % port, timeout=15) as a:
        log = [line.split()[3] for line in a.read().decode().splitlines()[1:]]
    out = view.stdout.read()
    view.wait(timeout=60)
    for what, ok, detail in (
            ("ptz view exit code", view.returncode == 0, b"".join(errors).decode()),
            ("ptz commands from the X pointer and wheel", log[:4] == ["A0000A3700", "A000000000", "A0002000FF",
                                                                       "A000000000"], str(log))):
        if not ok:
            failures.append("%s: %s" % (what, detail))
    camsim.stdin.close()
    camsim.wait(timeout=10)
xvfb.terminate()
xvfb.wait(timeout=10)
for f in failures:
    print("FAIL: " + f, file=sys.stderr)
if failures:
    sys.exit("%d failures" % len(failures))
print("window: the live picture is on the screen, the mouse edits the motion area and steers the camera")
