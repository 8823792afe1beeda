#!/usr/bin/python3
"""Decodes each BMP file given with Pillow and writes its pixels beside it as NAME.rgb:
width and height as two little-endian 32-bit numbers, then R, G, B per pixel, rows top-down.
Files Pillow cannot read get no .rgb file."""
import struct
import sys

from PIL import Image

for path in sys.argv[1:]:
    try:
        with Image.open(path) as im:
            rgb = im.convert("RGB")
            with open(path + ".rgb", "wb") as out:
                out.write(struct.pack("<ii", rgb.width, rgb.height))
                out.write(rgb.tobytes())
    except Exception as e:  # reported by the test as a missing file
        print(f"{path}: {e}", file=sys.stderr)
