#!/usr/bin/python3
"""Times `talvo jpeg` against `cjpeg -quality 50 -sample 1x1 -dct int` on the same photo-like
24-bit BMP, whole process each, alternating runs, and prints the best times and their ratio.

usage: bench/jpeg_vs_cjpeg.py [--talvo build/bin/talvo] [--size 2400x1600] [--runs 15] [--bmp FILE]
Needs Pillow (python3-pil) and cjpeg/djpeg (libjpeg-turbo-progs)."""
import argparse
import os
import subprocess
import sys
import tempfile
import time


def make_photo(path, width, height):
    """Photo-like content: smooth colour fields, soft texture, hard-edged shapes, fine grain."""
    from PIL import Image, ImageChops, ImageDraw, ImageFilter

    base = Image.merge("RGB", (
        Image.linear_gradient("L").resize((width, height)),
        Image.radial_gradient("L").resize((width, height)),
        Image.linear_gradient("L").rotate(90).resize((width, height)),
    ))
    def texture(scale, sigma, blur):
        return Image.merge("RGB", [
            Image.effect_noise((width // scale, height // scale), sigma)
            .resize((width, height), Image.BICUBIC).filter(ImageFilter.GaussianBlur(blur))
            for _ in range(3)
        ])

    img = Image.blend(base, texture(24, 64, 8), 0.4)
    img = Image.blend(img, texture(3, 40, 1), 0.2)
    draw = ImageDraw.Draw(img)
    for i in range(30):
        x, y = (i * 7919) % width, (i * 104729) % height
        w, h = width // (6 + i % 9), height // (5 + i % 7)
        colour = ((i * 53) % 256, (i * 97) % 256, (i * 151) % 256)
        (draw.ellipse if i % 2 else draw.rectangle)([x, y, x + w, y + h], fill=colour)
    img = img.filter(ImageFilter.GaussianBlur(1.5))
    grain = Image.merge("RGB", [Image.effect_noise((width, height), 5) for _ in range(3)])
    img = ImageChops.add(img, grain, scale=1.0, offset=-128)
    img.save(path)


def run(cmd):
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        sys.exit("failed: " + " ".join(cmd))
    return wall, usage.ru_utime + usage.ru_stime


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--talvo", default=os.path.join(here, "..", "build", "bin", "talvo"))
    ap.add_argument("--size", default="2400x1600")
    ap.add_argument("--runs", type=int, default=15)
    ap.add_argument("--bmp", help="use this BMP instead of a generated one")
    args = ap.parse_args()
    width, height = (int(v) for v in args.size.lower().split("x"))

    with tempfile.TemporaryDirectory() as tmp:
        bmp = args.bmp or os.path.join(tmp, "photo.bmp")
        if not args.bmp:
            make_photo(bmp, width, height)
        ours, theirs = os.path.join(tmp, "talvo.jpg"), os.path.join(tmp, "cjpeg.jpg")
        talvo = [args.talvo, "jpeg", bmp, ours]
        cjpeg = ["cjpeg", "-quality", "50", "-sample", "1x1", "-dct", "int", "-outfile", theirs, bmp]
        best = {"talvo": [1e9, 1e9], "cjpeg": [1e9, 1e9]}
        for _ in range(args.runs):
            for name, cmd in (("talvo", talvo), ("cjpeg", cjpeg)):
                wall, cpu = run(cmd)
                best[name] = [min(best[name][0], wall), min(best[name][1], cpu)]
        # Both files must decode cleanly.
        for path in (ours, theirs):
            check = subprocess.run(["djpeg", "-outfile", os.devnull, path], capture_output=True)
            if check.returncode != 0 or check.stderr:
                sys.exit("djpeg rejects %s: %s" % (path, check.stderr.decode()))
        sizes = os.path.getsize(ours), os.path.getsize(theirs)

    print("image %dx%d, best of %d runs each (whole process)" % (width, height, args.runs))
    for name in ("talvo", "cjpeg"):
        print("  %-6s wall %7.1f ms   cpu %7.1f ms" % (name, best[name][0] * 1e3, best[name][1] * 1e3))
    print("  output: talvo %d bytes, cjpeg %d bytes" % sizes)
    print("ratio talvo/cjpeg: wall %.2f, cpu %.2f" % (best["talvo"][0] / best["cjpeg"][0],
                                                   best["talvo"][1] / best["cjpeg"][1]))


if __name__ == "__main__":
    main()
