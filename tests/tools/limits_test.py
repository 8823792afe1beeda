#!/usr/bin/python3
"""`talvo jpeg` and `talvo dither` short of memory and of disk.

Under `ulimit -v` from 8 MB upwards, 1 MB at a time, up to the first limit at which the command
succeeds, and under small `ulimit -f` limits: every failing run must end with exit code 1 and a
message that names the reason ("out of memory", "File too large"), leave the file that was at
the output path as it was, and leave no temporary file beside it. No crash, no other exit code.

usage: limits_test.py TALVO_PROGRAM [--no-address-limit]   (run from an empty working directory)
The address-space part is skipped with --no-address-limit (a sanitizer reserves more address
space than any small limit leaves).
"""
import os
import struct
import subprocess
import sys

from PIL import Image

from checks import check, finish

EARLIER = b"an earlier result"


def write_bmp(path, width, height):
    """A 24-bit file of a gradient with some texture: every pixel differs from its neighbours."""
    pixels = bytes(v for y in range(height) for x in range(width)
                   for v in ((x ^ y) & 255, (y * 3) & 255, (x * 7 + y) & 255))
    Image.frombytes("RGB", (width, height), pixels).save(path, format="BMP")


def run_limited(tool, limit, args):
    """Runs talvo under a shell limit; returns (exit code or -signal, standard error)."""
    cmd = "ulimit %s; exec %s %s" % (limit, tool, " ".join(args))
    p = subprocess.run(["/bin/sh", "-c", cmd], capture_output=True, text=True)
    return p.returncode, p.stderr


def complete(command, path):
    with open(path, "rb") as f:
        data = f.read()
    if command == "jpeg":
        return data[:2] == b"\xff\xd8" and data[-2:] == b"\xff\xd9"
    return data[:2] == b"BM" and struct.unpack("<I", data[2:6])[0] == len(data)


def failed_cleanly(what, code, err, reason):
    check(code == 1, "%s: exit code %d (want 1): %s" % (what, code, err.strip()))
    check(reason in err, "%s: no '%s' in: %s" % (what, reason, err.strip()))
    with open("kept.out", "rb") as f:
        check(f.read() == EARLIER, "%s: the earlier output was changed" % what)
    left = [n for n in os.listdir(".") if n.startswith(".kept.out.")]
    check(not left, "%s: temporary files left: %s" % (what, left))
    for n in left:
        os.remove(n)


def main():
    tool = sys.argv[1]
    address_limits = "--no-address-limit" not in sys.argv[2:]
    write_bmp("in.bmp", 1200, 900)
    commands = {"jpeg": ["jpeg", "in.bmp", "kept.out"], "dither": ["dither", "in.bmp", "kept.out"]}
    # A first dither writes the lookup-table file; later runs read it.
    check(subprocess.run([tool, "dither", "in.bmp", "warm.bmp"]).returncode == 0, "first dither")

    steps = {}
    if address_limits:
        # Below some limit the system's loader cannot even map the program's libraries (an
        # unoptimised build needs more): the scan starts at 8 MB or where the program starts.
        start_kb = 8 * 1024
        while run_limited(tool, "-v %d" % start_kb, ["--help"])[0] not in (0, 2):
            start_kb += 1024
            if start_kb > 512 * 1024:
                check(False, "talvo --help does not start under 512 MB")
                break
        for command, args in commands.items():
            limit_kb = start_kb
            while True:
                with open("kept.out", "wb") as f:
                    f.write(EARLIER)
                code, err = run_limited(tool, "-v %d" % limit_kb, args)
                what = "%s under ulimit -v %d" % (command, limit_kb)
                if code == 0:
                    check(complete(command, "kept.out"), what + ": incomplete output")
                    break
                failed_cleanly(what, code, err, "out of memory")
                steps[command] = steps.get(command, 0) + 1
                limit_kb += 1024
                if limit_kb > 512 * 1024:
                    check(False, command + ": still failing at 512 MB")
                    break
            print("%s: %d limits from %d KB failed cleanly, succeeded at %d KB"
                  % (command, steps.get(command, 0), start_kb, limit_kb))

    # A full disk: a file-size limit (in 1024-byte blocks) below what the output needs.
    for command, args in commands.items():
        for blocks in (0, 1, 16, 256):
            with open("kept.out", "wb") as f:
                f.write(EARLIER)
            code, err = run_limited(tool, "-f %d" % blocks, args)
            failed_cleanly("%s under ulimit -f %d" % (command, blocks), code, err, "File too large")

    return finish("all limits passed")


if __name__ == "__main__":
    sys.exit(main())
