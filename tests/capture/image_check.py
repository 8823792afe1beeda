"""Reads the files the BMP writer and the capture made with outside decoders.

image_check.py LIST, where each line of LIST is one of
  bmp FILE EXPECTED.ppm MASK   Pillow reads FILE as a BMP without a warning and its pixels,
                               each channel ANDed with MASK, equal EXPECTED's (ANDed likewise)
  jpeg FILE EXPECTED.ppm [DB]  djpeg and Pillow decode FILE without a warning to an RGB image of
                               EXPECTED's size, and (given DB) both decodings are within DB of
                               EXPECTED's pixels (peak signal-to-noise ratio)
Prints one line per file that fails and exits 1 if any did."""
import math
import subprocess
import sys
import warnings

from PIL import Image, ImageChops


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
    differing = ImageChops.difference(masked(got, mask), masked(want, mask)).getbbox()
    return None if differing is None else "pixels differ in %s" % (differing,)


def psnr(a, b):
    hist = ImageChops.difference(a, b).histogram()
    mse = sum(((i % 256) ** 2) * n for i, n in enumerate(hist)) / (a.size[0] * a.size[1] * 3)
    return 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse)


def check_jpeg(path, expected, db):
    run = subprocess.run(["djpeg", "-outfile", path + ".djpeg.ppm", path],
                         capture_output=True, text=True)
    if run.returncode != 0 or run.stderr:
        return "djpeg: %d %s" % (run.returncode, run.stderr.strip())
    fmt, mode, im = load(path)
    want = load(expected)[2]
    other = load(path + ".djpeg.ppm")[2]
    if fmt != "JPEG" or mode != "RGB" or im.size != want.size or other.size != want.size:
        return "Pillow: %s %s %s, djpeg %s, expected %s" % (fmt, mode, im.size, other.size,
                                                            want.size)
    quality = (psnr(im, want), psnr(other, want))
    if db is not None and min(quality) < db:
        return "%.2f dB (Pillow), %.2f dB (djpeg), below %.1f" % (quality + (db,))
    return None


def main():
    warnings.simplefilter("error")
    failed = 0
    with open(sys.argv[1]) as lines:
        for f in filter(None, map(str.split, lines)):
            try:
                err = (check_bmp(f[1], f[2], int(f[3], 0)) if f[0] == "bmp" else
                       check_jpeg(f[1], f[2], float(f[3]) if len(f) > 3 else None))
            except Exception as e:  # a decoder's refusal is a finding, not a crash
                err = "%s: %s" % (type(e).__name__, e)
            if err:
                failed += 1
                print("%s: %s" % (f[1], err))
    return 1 if failed else 0


sys.exit(main())
