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
import sys

from PIL import Image

from checks import check, finish, refused, run

EARLIER = b"an earlier result"
TOP_KB = 512 * 1024  # the largest address-space limit tried


def run_limited(tool, limit, args):
    """Runs talvo under a shell limit with the earlier result at the output path (its exit code
    is -N when signal N ended it)."""
    with open("kept.out", "wb") as f:
        f.write(EARLIER)
    return run("/bin/sh", "-c", "ulimit %s; exec %s %s" % (limit, tool, " ".join(args)))


def complete(command, path):
    with open(path, "rb") as f:
        data = f.read()
    if command == "jpeg":
        return data[:2] == b"\xff\xd8" and data[-2:] == b"\xff\xd9"
    return data[:2] == b"BM" and struct.unpack("<I", data[2:6])[0] == len(data)


def failed_cleanly(what, result, reason):
    refused(result, 1, what, reason)
    with open("kept.out", "rb") as f:
        check(f.read() == EARLIER, "%s: the earlier output was changed" % what)
    left = [n for n in os.listdir(".") if n.startswith(".kept.out.")]
    check(not left, "%s: temporary files left: %s" % (what, left))
    for n in left:
        os.remove(n)


def main():
    tool = sys.argv[1]
    # A 24-bit gradient with some texture: every pixel differs from its neighbours.
    width, height = 1200, 900
    Image.frombytes("RGB", (width, height), bytes(
        v for y in range(height) for x in range(width)
        for v in ((x ^ y) & 255, (y * 3) & 255, (x * 7 + y) & 255))).save("in.bmp", format="BMP")
    commands = {"jpeg": ["jpeg", "in.bmp", "kept.out"], "dither": ["dither", "in.bmp", "kept.out"]}
    # A first dither writes the lookup-table file; later runs read it.
    check(run(tool, "dither", "in.bmp", "warm.bmp").returncode == 0, "first dither")

    if "--no-address-limit" not in sys.argv[2:]:
        # Below some limit the system's loader cannot even map the program's libraries (an
        # unoptimised build needs more): the scan starts at 8 MB or where the program starts.
        start_kb = next((kb for kb in range(8 * 1024, TOP_KB + 1, 1024)
                         if run_limited(tool, "-v %d" % kb, ["--help"]).returncode in (0, 2)), None)
        check(start_kb is not None, "talvo --help starts under 512 MB")
        for command, args in commands.items() if start_kb else ():
            for failures, limit_kb in enumerate(range(start_kb, TOP_KB + 1, 1024)):
                result = run_limited(tool, "-v %d" % limit_kb, args)
                what = "%s under ulimit -v %d" % (command, limit_kb)
                if result.returncode == 0:
                    check(complete(command, "kept.out"), what + ": incomplete output")
                    print("%s: %d limits from %d KB failed cleanly, succeeded at %d KB"
                          % (command, failures, start_kb, limit_kb))
                    break
                failed_cleanly(what, result, "out of memory")
            else:
                check(False, command + ": still failing at 512 MB")

    # A full disk: a file-size limit (in 1024-byte blocks) below what the output needs.
    for command, args in commands.items():
        for blocks in (0, 1, 16, 256):
            failed_cleanly("%s under ulimit -f %d" % (command, blocks),
                           run_limited(tool, "-f %d" % blocks, args), "File too large")

    return finish("all limits passed")


if __name__ == "__main__":
    sys.exit(main())
