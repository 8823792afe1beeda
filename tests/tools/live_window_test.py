#!/usr/bin/python3
"""`talvo demo --window` on a real X server (Xvfb): the window opens, the animations play at
real speed, and a screenshot of the X screen taken with xwd shows exactly the pixels of the
platform's screen as the demo wrote them out at the end. Ending the program with SIGTERM, which
SDL turns into a close of the window, goes through the message loop and exits with 0.

usage: live_window_test.py TALVO_PROGRAM   (run from an empty working directory)
"""
import os
import signal
import struct
import subprocess
import sys
import time

from PIL import Image, ImageChops

from checks import check, finish

def start_xvfb():
    """Xvfb on a display number it picks itself (-displayfd): (process, ":N")."""
    read, write = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"], pass_fds=(write,), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as pipe:
        number = pipe.readline().strip()  # empty when Xvfb ended without a display
    if not number:
        xvfb.kill()
        raise RuntimeError("Xvfb did not start")
    return xvfb, ":" + number


def read_xwd(data):
    """An xwd dump of a TrueColor screen with 8 bits a channel, as an RGB image."""
    fields = struct.unpack(">25I", data[:100])
    header_size, depth, width, height, byte_order = fields[0], *fields[3:6], fields[7]
    bits_per_pixel, bytes_per_line, masks = fields[11], fields[12], fields[14:17]
    step = bits_per_pixel // 8
    assert depth == 24 and step in (3, 4), (depth, bits_per_pixel)
    # Which channel each byte of a pixel holds, in the order of memory ("X": none).
    order = ["X"] * step
    for channel, mask in zip("RGB", masks):
        shift = (mask & -mask).bit_length() - 1
        assert shift % 8 == 0 and mask >> shift == 255, masks
        order[shift // 8 if byte_order == 0 else step - 1 - shift // 8] = channel
    return Image.frombytes("RGB", (width, height), data[header_size + 12 * fields[19]:], "raw",
                           "".join(order), bytes_per_line)


def main():
    tool = sys.argv[1]
    xvfb, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display, SDL_VIDEODRIVER="x11")
    demo = None
    try:
        dump = os.path.abspath("screen.ppm")
        if os.path.exists(dump):
            os.remove(dump)
        demo = subprocess.Popen([tool, "demo", "--window", "--bpp", "32", "--seconds", "2",
                                 "--out", ".", "--dump-screen", dump, "--hold"], env=env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        started = time.time()
        while not os.path.exists(dump) and demo.poll() is None and time.time() - started < 60:
            time.sleep(0.1)
        if not check(os.path.exists(dump), "the demo wrote its screen (%s)" %
                     (demo.stderr.read() if demo.poll() is not None else "still running")):
            return
        check(time.time() - started >= 2, "two seconds of animation took real time")
        time.sleep(0.5)  # let the X server finish drawing the last frame
        shot = subprocess.run(["xwd", "-root", "-silent", "-display", display],
                              capture_output=True)
        check(shot.returncode == 0, "xwd took a screenshot")
        platform = Image.open(dump).convert("RGB")
        check(platform.size == (800, 600), "the platform screen is 800 x 600")
        shown = read_xwd(shot.stdout).crop((0, 0) + platform.size)
        differing = ImageChops.difference(platform, shown).getbbox()
        check(differing is None, "the X screen shows the platform's pixels (they differ in %s)"
              % (differing,))
        demo.send_signal(signal.SIGTERM)  # SDL makes it a close of the window
        out, err = demo.communicate(timeout=30)  # (running on, it is killed below)
        check(demo.returncode == 0, "closing the window ends the demo with 0 (%s)" % err)
        check("demo-32.jpg" in out, "it wrote its capture: %s" % out)
    finally:
        if demo is not None and demo.poll() is None:
            demo.kill()
            demo.wait()
        xvfb.terminate()
        xvfb.wait()


if __name__ == "__main__":
    try:
        main()
    except Exception as e:  # a harness failure is a failure, not a crash without a verdict
        check(False, "the check ran: %r" % e)
    sys.exit(finish("all checks passed"))
