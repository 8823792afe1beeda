"""Decodes a JPEG file with Pillow, refusing any warning, and prints the PSNR of Pillow's and
djpeg's decodings against the original pixels: decode_check.py FILE.jpg ORIGINAL.ppm DJPEG.ppm"""
import math
import sys
import warnings

from PIL import Image, ImageChops


def psnr(a, b):
    diff = ImageChops.difference(a, b)
    hist = diff.histogram()
    total = sum(i * i * n for band in range(3) for i, n in enumerate(hist[band * 256:(band + 1) * 256]))
    mse = total / (a.size[0] * a.size[1] * 3)
    return 99.0 if mse == 0 else 10 * math.log10(255 * 255 / mse)


def main():
    warnings.simplefilter("error")
    jpeg, original, djpeg = sys.argv[1:4]
    with Image.open(jpeg) as im:
        fmt, mode, size = im.format, im.mode, im.size
        im.load()
        decoded = im.convert("RGB")
    ref = Image.open(original).convert("RGB")
    other = Image.open(djpeg).convert("RGB")
    if fmt != "JPEG" or mode != "RGB" or size != ref.size or other.size != ref.size:
        print("bad", fmt, mode, size, ref.size, other.size)
        return 1
    print("ok %.2f %.2f" % (psnr(decoded, ref), psnr(other, ref)))
    return 0


sys.exit(main())
