"""Reads the files the BMP writer and the capture made with outside decoders.

image_check.py LIST, where each line of LIST is one of
  bmp FILE EXPECTED.ppm MASK   Pillow reads FILE as a BMP without a warning and its pixels,
                               each channel ANDed with MASK, equal EXPECTED's (ANDed likewise)
  jpeg FILE EXPECTED.ppm       djpeg and Pillow decode FILE without a warning to an RGB image of
                               EXPECTED's size
Prints one line per file that fails and exits 1 if any did."""
import subprocess
import sys
import warnings

from PIL import Image


def masked(im, mask):
    return im.point(lambda v: v & mask)


def load(path):
    with Image.open(path) as im:
        fmt, mode = im.format, im.mode
        im.load()
        return fmt, mode, im.convert("RGB")


def check_bmp(path, expected, mask):
    fmt, _, got = load(path)
    want = load(expected)[2]
    if fmt != "BMP":
        return "format %s" % fmt
    if got.size != want.size:
        return "size %s, expected %s" % (got.size, want.size)
    a, b = masked(got, mask), masked(want, mask)
    if a.tobytes() != b.tobytes():
        w = got.size[0]
        for i, (p, q) in enumerate(zip(a.getdata(), b.getdata())):
            if p != q:
                return "pixel (%d, %d) is %s, expected %s" % (i % w, i // w, p, q)
    return None


def check_jpeg(path, expected):
    run = subprocess.run(["djpeg", "-outfile", path + ".djpeg.ppm", path],
                         capture_output=True, text=True)
    if run.returncode != 0 or run.stderr:
        return "djpeg: %d %s" % (run.returncode, run.stderr.strip())
    fmt, mode, im = load(path)
    size = load(expected)[2].size
    other = load(path + ".djpeg.ppm")[2].size
    if fmt != "JPEG" or mode != "RGB" or im.size != size or other != size:
        return "Pillow: %s %s %s, djpeg %s, expected %s" % (fmt, mode, im.size, other, size)
    return None


def main():
    warnings.simplefilter("error")
    failed = 0
    with open(sys.argv[1]) as lines:
        for line in lines:
            f = line.split()
            if not f:
                continue
            try:
                if f[0] == "bmp":
                    err = check_bmp(f[1], f[2], int(f[3], 0))
                else:
                    err = check_jpeg(f[1], f[2])
            except Exception as e:  # a decoder's refusal is a finding, not a crash
                err = "%s: %s" % (type(e).__name__, e)
            if err:
                failed += 1
                print("%s: %s" % (f[1], err))
    return 1 if failed else 0


sys.exit(main())
