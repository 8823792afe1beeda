#!/usr/bin/python3
"""Floyd-Steinberg dithering onto the same 256-colour palette: talvo against Pillow.

usage: dither_vs_pillow.py [BUILD_DIR] [--size WxH] [--repeat N]

Makes one photo-like 24-bit image (scripts/make_photo.py), runs `talvo dither --repeat N` on
it, and times Pillow's Image.quantize(palette=..., dither=FLOYDSTEINBERG) onto the palette that
talvo wrote into its output, N times in this process (that call alone). Both report their best
run; the line at the end is talvo's throughput over Pillow's.
"""
import os
import re
import subprocess
import sys
import tempfile
import time

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import make_photo  # noqa: E402


def main():
    build = os.path.join(ROOT, "build")
    width, height, repeat = 2400, 1600, 15
    args = sys.argv[1:]
    while args:
        arg = args.pop(0)
        if arg == "--size":
            width, height = (int(v) for v in args.pop(0).split("x"))
        elif arg == "--repeat":
            repeat = int(args.pop(0))
        else:
            build = arg
    tool = os.path.join(os.path.abspath(build), "bin", "talvo")
    if not os.access(tool, os.X_OK):
        sys.exit(f"dither_vs_pillow: no talvo program at {tool}; build the talvo_tool target")

    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, "photo.bmp")
        output = os.path.join(work, "dithered.bmp")
        make_photo.make_photo(width, height).save(source, format="BMP")
        pixels = width * height

        # talvo: the lookup file lands in the work directory on the first run.
        result = subprocess.run([tool, "dither", source, output, "--repeat", str(repeat)],
                                cwd=work, capture_output=True, text=True)
        if result.returncode != 0:
            sys.exit(f"dither_vs_pillow: talvo failed: {result.stderr.strip()}")
        match = re.search(r"([0-9.]+) ms, ([0-9.]+) Mpx/s", result.stdout)
        talvo_ms = float(match.group(1))

        # Pillow, onto the palette talvo wrote.
        palette = Image.open(output)
        palette.load()
        image = Image.open(source).convert("RGB")
        best = None
        for _ in range(repeat):
            start = time.perf_counter()
            image.quantize(palette=palette, dither=Image.Dither.FLOYDSTEINBERG)
            elapsed = time.perf_counter() - start
            best = elapsed if best is None else min(best, elapsed)
        pillow_ms = best * 1e3

    print(f"image: {width}x{height} 24-bit photo-like, palette 256 colours, best of {repeat}")
    print(f"talvo : {talvo_ms:8.2f} ms  {pixels / talvo_ms / 1e3:7.1f} Mpx/s")
    print(f"Pillow: {pillow_ms:8.2f} ms  {pixels / pillow_ms / 1e3:7.1f} Mpx/s")
    print(f"ratio : talvo at {pillow_ms / talvo_ms:.2f}x Pillow's throughput")
    return 0


if __name__ == "__main__":
    sys.exit(main())
