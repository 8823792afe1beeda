#!/usr/bin/python3
"""`talvo jpeg` against `cjpeg -quality 50 -sample 1x1 -dct int`, and the encoder alone against
Pillow's in-process encode at the same settings, on photo-like 24-bit BMP files of several sizes.

usage: bench/jpeg_vs_cjpeg.py [--talvo build/bin/talvo] [--sizes 0.1,1,3.5,12] [--runs 9]
                              [--repeat 5] [--bmp FILE]

Each size (in megapixels, 3:2) is made by tiling one photo (scripts/make_photo.py), so that every
size has the same content. For each one the script prints, from alternating runs in this one
invocation:
  - whole process: best wall and CPU time of each program, and talvo / cjpeg;
  - peak memory: the maximum resident set size of each (/usr/bin/time, the larger of two runs),
    and talvo / cjpeg;
  - encoder alone: `talvo jpeg --repeat N` (best encode, file written) against Pillow's
    Image.save(..., 'JPEG', quality=50, subsampling=0) timed around that call alone, in Mpx/s,
    and talvo / Pillow.
Needs Pillow (python3-pil) and cjpeg/djpeg (libjpeg-turbo-progs)."""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "scripts"))
import make_photo  # noqa: E402

TILE = (640, 427)


def tiled_photo(tile, width, height):
    """The tile repeated, every other copy mirrored so that no seam is a hard edge."""
    mirrored = tile.transpose(Image.Transpose.FLIP_LEFT_RIGHT)
    flipped = tile.transpose(Image.Transpose.FLIP_TOP_BOTTOM)
    both = mirrored.transpose(Image.Transpose.FLIP_TOP_BOTTOM)
    out = Image.new("RGB", (width, height))
    for ty, y in enumerate(range(0, height, tile.height)):
        for tx, x in enumerate(range(0, width, tile.width)):
            piece = ((tile, mirrored), (flipped, both))[ty % 2][tx % 2]
            out.paste(piece, (x, y))
    return out


def size_of(megapixels):
    """A 3:2 image of about that many pixels."""
    height = int(round((megapixels * 1e6 / 1.5) ** 0.5))
    return int(round(height * 1.5)), height


def peak_memory(cmd):
    """Maximum resident set size (KiB) of one run, as /usr/bin/time -v reports it. (A child forked
    from this process would count this process's pages too, until it runs the program.)"""
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + cmd, check=True,
                       stdout=subprocess.DEVNULL)
        return int(report.read().split()[-1])


def run_measured(cmd):
    """Wall and CPU time of one run of a program."""
    start = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1)
        try:
            os.execvp(cmd[0], cmd)
        finally:
            os._exit(127)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        sys.exit("failed: " + " ".join(cmd))
    return wall, usage.ru_utime + usage.ru_stime


def pillow_encode(image, path, repeat):
    best = None
    for _ in range(repeat):
        start = time.perf_counter()
        image.save(path, "JPEG", quality=50, subsampling=0)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def talvo_encode(talvo, bmp, out, repeat):
    result = subprocess.run([talvo, "jpeg", bmp, out, "--repeat", str(repeat)],
                            capture_output=True, text=True)
    match = re.search(r"([0-9.]+) ms, ([0-9.]+) Mpx/s", result.stdout)
    if result.returncode != 0 or match is None:
        sys.exit("talvo jpeg --repeat failed: " + result.stderr.strip())
    return float(match.group(1)) / 1e3


def check_decodes(path):
    check = subprocess.run(["djpeg", "-outfile", os.devnull, path], capture_output=True)
    if check.returncode != 0 or check.stderr:
        sys.exit("djpeg rejects %s: %s" % (path, check.stderr.decode()))


def bench_one(args, tmp, bmp, label):
    image = Image.open(bmp)
    image.load()
    width, height = image.size
    ours, theirs = os.path.join(tmp, "talvo.jpg"), os.path.join(tmp, "cjpeg.jpg")
    talvo = [args.talvo, "jpeg", bmp, ours]
    cjpeg = ["cjpeg", "-quality", "50", "-sample", "1x1", "-dct", "int", "-outfile", theirs, bmp]
    best = {"talvo": [1e9, 1e9, 0], "cjpeg": [1e9, 1e9, 0]}
    for _ in range(args.runs):
        for name, cmd in (("talvo", talvo), ("cjpeg", cjpeg)):
            wall, cpu = run_measured(cmd)
            b = best[name]
            best[name] = [min(b[0], wall), min(b[1], cpu), b[2]]
    for name, cmd in (("talvo", talvo), ("cjpeg", cjpeg)):
        best[name][2] = max(peak_memory(cmd) for _ in range(2))
    for path in (ours, theirs):
        check_decodes(path)
    sizes = os.path.getsize(ours), os.path.getsize(theirs)

#Small images encode in well under a millisecond : more encodes, for a steady best.
    mpx = width * height / 1e6
    repeat = max(args.repeat, min(100, int(2 / mpx)))
    rgb = image.convert("RGB")
    encode_talvo = talvo_encode(args.talvo, bmp, ours, repeat)
    encode_pillow = pillow_encode(rgb, os.path.join(tmp, "pillow.jpg"), repeat)

    t, c = best["talvo"], best["cjpeg"]
    print("%s: %dx%d (%.2f Mpx), best of %d runs each" % (label, width, height, mpx, args.runs))
    print("  whole process  talvo wall %7.1f ms cpu %7.1f ms | cjpeg wall %7.1f ms cpu %7.1f ms"
          " | talvo/cjpeg wall %.2f cpu %.2f" % (t[0] * 1e3, t[1] * 1e3, c[0] * 1e3, c[1] * 1e3,
                                               t[0] / c[0], t[1] / c[1]))
    print("  peak memory    talvo %7.1f MiB | cjpeg %7.1f MiB | talvo/cjpeg %.2f"
          % (t[2] / 1024, c[2] / 1024, t[2] / c[2]))
    print("  encoder alone  talvo %7.1f Mpx/s | Pillow %7.1f Mpx/s | talvo/Pillow %.2f"
          % (mpx / encode_talvo, mpx / encode_pillow, encode_pillow / encode_talvo))
    print("  output bytes   talvo %d | cjpeg %d" % sizes)
    return t[0] / c[0], t[1] / c[1], t[2] / c[2], encode_pillow / encode_talvo


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--talvo", default=os.path.join(HERE, "..", "build", "bin", "talvo"))
    ap.add_argument("--sizes", default="0.1,1,3.5,12", help="megapixels, comma-separated")
    ap.add_argument("--runs", type=int, default=9, help="whole-process runs of each program")
    ap.add_argument("--repeat", type=int, default=5, help="in-process encodes of each encoder")
    ap.add_argument("--bmp", help="use this BMP instead of the generated sizes")
    args = ap.parse_args()
    if not os.access(args.talvo, os.X_OK):
        sys.exit("jpeg_vs_cjpeg: no talvo program at %s; build the talvo_tool target" % args.talvo)

    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        if args.bmp:
            rows.append(("file", bench_one(args, tmp, args.bmp, os.path.basename(args.bmp))))
        else:
            tile = make_photo.make_photo(*TILE)
            for mp in (float(v) for v in args.sizes.split(",")):
                bmp = os.path.join(tmp, "photo.bmp")
                tiled_photo(tile, *size_of(mp)).save(bmp, format="BMP")
                rows.append(("%g Mpx" % mp, bench_one(args, tmp, bmp, "%g Mpx" % mp)))
                os.remove(bmp)
    print("summary (goals: time <= 1.00, memory <= 1.50, encoder >= 1.00)")
    print("  %-8s %10s %10s %12s %18s" % ("size", "wall t/c", "cpu t/c", "memory t/c",
                                         "encoder t/Pillow"))
    for label, (wall, cpu, memory, encoder) in rows:
        print("  %-8s %10.2f %10.2f %12.2f %18.2f" % (label, wall, cpu, memory, encoder))


if __name__ == "__main__":
    main()
