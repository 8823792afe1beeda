#!/usr/bin/python3
"""`talvo dither` end to end, with Pillow reading what it writes.

usage: dither_tool_test.py TALVO_PROGRAM SOURCE_DIR   (run from an empty working directory)
"""
import os
import struct
import subprocess
import sys

from PIL import Image

from checks import check, finish


def run(tool, *args):
    return subprocess.run([tool, "dither", *args], capture_output=True, text=True)


def block_error(a, b, blocks):
    """Mean difference of the two images' averages over blocks: dithering keeps them."""
    size = (a.width // blocks, a.height // blocks)
    sa, sb = a.resize(size, Image.BOX), b.resize(size, Image.BOX)
    diffs = [abs(x - y) for p, q in zip(sa.getdata(), sb.getdata()) for x, y in zip(p, q)]
    return sum(diffs) / len(diffs)


def main():
    tool, root = sys.argv[1], sys.argv[2]
    sys.path.insert(0, os.path.join(root, "scripts"))
    import make_photo

    for stale in ("256lkup.dat", "16lkup.dat"):  # each run starts as a first run
        if os.path.exists(stale):
            os.remove(stale)
    source = "photo.bmp"
    make_photo.make_photo(97, 61).save(source, format="BMP")  # odd width: padded rows
    original = Image.open(source).convert("RGB")

    for colours, lookup, allowed in ((256, "256lkup.dat", 2.5), (16, "16lkup.dat", 6.0)):
        out = f"out{colours}.bmp"
        result = run(tool, source, out, "--colors", str(colours))
        check(result.returncode == 0, f"{colours}: exit {result.returncode} {result.stderr}")
        check(os.path.getsize(lookup) == 65536, f"{colours}: lookup file of 65536 bytes")
        data = open(out, "rb").read()
        check(data[:2] == b"BM", f"{colours}: magic")
        check(struct.unpack("<I", data[2:6])[0] == len(data), f"{colours}: bfSize")
        check(struct.unpack("<I", data[10:14])[0] == 14 + 40 + 4 * colours, f"{colours}: bfOffBits")
        image = Image.open(out)
        check(image.mode == "P" and image.size == (97, 61), f"{colours}: {image.mode} {image.size}")
        palette = image.getpalette()[: 3 * colours]
        if colours == 256:
            check(palette[3 * 232: 3 * 233] == [255, 0, 0], "256: entry 232 is pure red")
            check(palette[3 * 187: 3 * 188] == palette[3 * 197: 3 * 198] == [48, 48, 48],
                  "256: the grey held twice")
        else:
            check(palette[3 * 7: 3 * 8] == [192, 192, 192] and palette[3 * 12: 3 * 13] == [255, 0, 0],
                  "16: standard colours")
        error = block_error(original, image.convert("RGB"), 8)
        check(error < allowed, f"{colours}: local averages kept ({error:.2f})")

        # A second run reads the lookup file and gives the same bytes.
        again = run(tool, source, "again.bmp", "--colors", str(colours))
        check(again.returncode == 0 and open("again.bmp", "rb").read() == data,
              f"{colours}: same output from the saved lookup file")

    result = run(tool, source, "timed.bmp", "--repeat", "3")
    check(result.returncode == 0 and "Mpx/s" in result.stdout, "--repeat prints its timing")
    check(run(tool, "--help").returncode == 0, "--help")

    # (what, arguments, exit code: 2 for a usage error, 1 for a failure)
    bad = [
        ("missing input", ["no-such.bmp", "x.bmp"], 1),
        ("8-bit input", ["out256.bmp", "x.bmp"], 1),
        ("not a bitmap", [os.path.join(root, "README.md"), "x.bmp"], 1),
        ("bad colour count", [source, "x.bmp", "--colors", "8"], 2),
        ("bad repeat", [source, "x.bmp", "--repeat", "0"], 2),
        ("unknown option", [source, "x.bmp", "--fast"], 2),
        ("missing output", [source], 2),
        ("unwritable output", [source, "no-such-dir/x.bmp"], 1),
    ]
    for what, args, code in bad:
        result = run(tool, *args)
        check(result.returncode == code, f"{what}: exit {result.returncode}, not {code}")
        check(result.stderr.strip() != "",
              f"refused: {what} (exit {result.returncode})")
        check(not os.path.exists("x.bmp"), f"refused: {what}: no output")

    return finish("all checks passed")


if __name__ == "__main__":
    sys.exit(main())
