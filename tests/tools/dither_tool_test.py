#!/usr/bin/python3
"""`talvo dither` end to end, with Pillow reading what it writes.

usage: dither_tool_test.py TALVO_PROGRAM SOURCE_DIR   (run from an empty working directory)
"""
import os
import struct
import sys

from PIL import Image

from checks import check, finish, refused, run

RED, SILVER, GREY = [255, 0, 0], [192, 192, 192], [48, 48, 48]
# (colours, how far the averages over 8 x 8 blocks may move, palette entries it must hold);
# the 256-colour palette holds its grey twice.
PALETTES = [(256, 2.5, {232: RED, 187: GREY, 197: GREY}), (16, 6.0, {7: SILVER, 12: RED})]


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

    source = "photo.bmp"
    make_photo.make_photo(97, 61).save(source, format="BMP")  # odd width: padded rows
    original = Image.open(source).convert("RGB")

    for colours, allowed, entries in PALETTES:
        out, lookup = f"out{colours}.bmp", f"{colours}lkup.dat"
        if os.path.exists(lookup):  # each run starts as a first run
            os.remove(lookup)
        result = run(tool, "dither", source, out, "--colors", str(colours))
        check(result.returncode == 0, f"{colours}: exit {result.returncode} {result.stderr}")
        check(os.path.getsize(lookup) == 65536, f"{colours}: lookup file of 65536 bytes")
        data = open(out, "rb").read()
        head = struct.unpack("<2sI4xI", data[:14])  # magic, bfSize, bfOffBits
        check(head == (b"BM", len(data), 14 + 40 + 4 * colours), f"{colours}: file header {head}")
        image = Image.open(out)
        check(image.mode == "P" and image.size == (97, 61), f"{colours}: {image.mode} {image.size}")
        palette = image.getpalette()
        for index, colour in entries.items():
            check(palette[3 * index: 3 * index + 3] == colour, f"{colours}: entry {index} {colour}")
        error = block_error(original, image.convert("RGB"), 8)
        check(error < allowed, f"{colours}: local averages kept ({error:.2f})")

        # A second run reads the lookup file and gives the same bytes.
        again = run(tool, "dither", source, "again.bmp", "--colors", str(colours))
        check(again.returncode == 0 and open("again.bmp", "rb").read() == data,
              f"{colours}: same output from the saved lookup file")

    result = run(tool, "dither", source, "timed.bmp", "--repeat", "3")
    check(result.returncode == 0 and "Mpx/s" in result.stdout, "--repeat prints its timing")
    check(run(tool, "dither", "--help").returncode == 0, "--help")

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
        refused(run(tool, "dither", *args), code, what)
        check(not os.path.exists("x.bmp"), f"refused: {what}: no output")

    return finish("all checks passed")


if __name__ == "__main__":
    sys.exit(main())
