#!/usr/bin/env bash
# Makes the pictures of docs/gallery.md from talvo demo: the demo runs at 32 and at 8 bits per
# pixel, writes its screen and the layout of its grid (--dump-screen, --layout), and each cell of
# the grid is cut out into OUT/BPP/NAME.png (NAME as the layout gives it, twice the size, pixel
# for pixel). OUT/demo-32.png is the whole screen at 32 bits per pixel.
#
#   scripts/make-gallery.sh [OUT]      (default docs/gallery)
#
# The program is build/bin/talvo (built when missing) unless TALVO names another.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/gallery}")
talvo=${TALVO:-}
if [[ -z $talvo ]]; then
  talvo=$PWD/build/bin/talvo
  if [[ ! -x $talvo ]]; then
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j"$(nproc)" --target talvo_tool >/dev/null
  fi
fi
talvo=$(realpath "$talvo")
samples=$PWD/tools/samples

work=$(mktemp -d /tmp/talvo-gallery.XXXXXX)
trap 'rm -rf "$work"' EXIT
for bpp in 32 8; do
  # In the work folder: on the 8-bit display the demo reads or writes 256lkup.dat here.
  (cd "$work" && "$talvo" demo --bpp "$bpp" --samples "$samples" --out "$work" \
    --dump-screen "screen-$bpp.ppm" --layout "layout-$bpp.txt" >/dev/null)
done

/usr/bin/python3 - "$work" "$out" <<'PY'
import os
import sys

from PIL import Image

work, out = sys.argv[1], sys.argv[2]
for bpp in ("32", "8"):
    screen = Image.open(os.path.join(work, f"screen-{bpp}.ppm")).convert("RGB")
    folder = os.path.join(out, bpp)
    os.makedirs(folder, exist_ok=True)
    for old in os.listdir(folder):
        if old.endswith(".png"):
            os.remove(os.path.join(folder, old))
    cells = 0
    with open(os.path.join(work, f"layout-{bpp}.txt")) as layout:
        for line in layout:
            name, left, top, right, bottom = line.split()
            box = tuple(int(v) for v in (left, top, right, bottom))
            cell = screen.crop(box)
            cell = cell.resize((cell.width * 2, cell.height * 2), Image.NEAREST)
            cell.save(os.path.join(folder, name + ".png"), optimize=True)
            cells += 1
    if cells == 0:
        sys.exit(f"make-gallery: the demo's layout at {bpp} bpp names no cell")
    if bpp == "32":
        screen.save(os.path.join(out, "demo-32.png"), optimize=True)
    print(f"make-gallery: {cells} pictures at {bpp} bpp in {folder}")
PY
