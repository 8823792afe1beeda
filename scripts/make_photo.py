#!/usr/bin/python3
"""Writes a photo-like 24-bit BMP: soft light and shapes, fine texture and sensor-like noise.

usage: make_photo.py OUT.bmp WIDTH HEIGHT [SEED]

The same arguments always give the same file. The sample image of the repository and the
images of the dithering comparison are made with it.
"""
import random
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter


def make_photo(width, height, seed=1):
    rnd = random.Random(seed)
    # Sky-like light from the top, warmer toward one corner.
    red = Image.linear_gradient("L").resize((width, height)).point(lambda v: 60 + v * 0.55)
    green = Image.radial_gradient("L").resize((width, height)).point(lambda v: 200 - v * 0.5)
    blue = Image.linear_gradient("L").rotate(180).resize((width, height)).point(
        lambda v: 90 + v * 0.6)
    image = Image.merge("RGB", (red, green, blue))

    # Objects: blurred discs and bands of saturated and muted colours.
    shapes = Image.new("RGB", (width, height), (0, 0, 0))
    mask = Image.new("L", (width, height), 0)
    draw = ImageDraw.Draw(shapes)
    mdraw = ImageDraw.Draw(mask)
    side = min(width, height)
    for _ in range(14):
        x, y = rnd.randrange(width), rnd.randrange(height)
        r = rnd.randrange(side // 12 + 1, side // 4 + 2)
        colour = tuple(rnd.randrange(256) for _ in range(3))
        box = (x - r, y - r, x + r, y + r)
        draw.ellipse(box, fill=colour)
        mdraw.ellipse(box, fill=rnd.randrange(120, 256))
    radius = max(1, side // 60)
    shapes = shapes.filter(ImageFilter.GaussianBlur(radius))
    mask = mask.filter(ImageFilter.GaussianBlur(radius))
    image = Image.composite(shapes, image, mask)

    # Texture and noise, as a camera would add.
    noise = Image.effect_noise((width, height), 9).convert("RGB")
    return ImageChops.add(image, noise, scale=1.0, offset=-128)


def main():
    if len(sys.argv) not in (4, 5):
        sys.stderr.write(__doc__)
        return 2
    out, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    seed = int(sys.argv[4]) if len(sys.argv) == 5 else 1
    # effect_noise draws from the C library's generator: seed that too for repeatable files.
    random.seed(seed)
    make_photo(width, height, seed).save(out, format="BMP")
    return 0


if __name__ == "__main__":
    sys.exit(main())
