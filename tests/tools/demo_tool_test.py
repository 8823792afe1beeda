#!/usr/bin/python3
"""`talvo demo` as the main job runs it: the three pictures are written, Pillow and djpeg decode
them, and a few known pixels of every drawing mode's cell show what that mode must leave.

usage: demo_tool_test.py TALVO_PROGRAM SOURCE_DIR   (run from an empty working directory)

The expectations come from the sprite file itself and the rules of each mode, applied to flat
areas (every pixel around the spot alike in the sprite and under it), so that the JPEG files
can be compared with a tolerance and the dithered 8-bit picture by block averages.
"""
import os
import shutil
import subprocess
import sys

from PIL import Image

from checks import check, finish


# The grid, as tools/demo.h lays it out.
CELL, LEFT, TOP, SPRITE_X, SPRITE_Y = 76, 20, 20, 22, 14
FRAME = 1  # the walker's still frame
KEY = (255, 0, 255)
ON_COLOUR, BK_COLOUR = (250, 220, 60), (60, 160, 90)
HIGHLIGHT = (48, 150, 250)  # COLOR_HIGHLIGHT: selected and focused image-list drawing
TINT = (255, 190, 60)


def tile(row, column):
    return (206, 200, 184) if (row + column) % 2 == 0 else (172, 192, 214)


def brick(x, y):
    """The background bitmap of the "over a background" cells, at (x, y) of the cell."""
    row = y // 12
    shift = 0 if row % 2 == 0 else 12
    bx = (x + shift) % 24
    inside = 1 <= bx <= 22 and 1 <= y % 12 <= 10
    return (170, 60, 40) if inside else (150, 150, 140)


def mix(f, d, a):
    return tuple(fc + (((dc - fc) * a) >> 8) for fc, dc in zip(f, d))


def tint(c, t=TINT):
    grey = (30 * c[0] + 59 * c[1] + 11 * c[2]) // 100
    return tuple(grey * tc // 255 for tc in t)


def cells():
    """(name, row, column, rule, under): rule(f, u, x, y) is what the mode leaves at pixel (x, y)
    of the frame whose sprite pixel is f over u (the tile, or the background the operation
    names)."""
    keyed = lambda f, u, x, y: u if f == KEY else f
    # The half-transparent strip keeps the pixels where x + y is even.
    half = lambda f, u, x, y: u if f == KEY or (x + y) % 2 else f
    # Highlighting replaces the sprite's pixels at odd x + y (selected) or, in the even rows,
    # where x + y / 2 is even (focused).
    selected = lambda f, u, x, y: u if f == KEY else HIGHLIGHT if (x + y) % 2 else f
    focused = lambda f, u, x, y: (u if f == KEY else
                                  HIGHLIGHT if y % 2 == 0 and (x + y // 2) % 2 == 0 else f)
    plain = lambda f, u, x, y: f
    # Row 0 is CImage, row 1 the image list (its own three before the backgrounds), row 2 CImageEx.
    shared = [("Draw", plain, "tile"), ("DrawTransparent", keyed, "tile"),
              ("DrawSemiTransparent", half, "tile")]
    lists = [("DrawSelected", selected, "tile"), ("DrawFocused", focused, "tile"),
             ("DrawOnColor", keyed, ON_COLOUR)]
    backed = [("DrawTransparentSetBackground", keyed, "bricks"),
              ("DrawTransparentSetBkColor", keyed, BK_COLOUR),
              ("DrawSemiTransparentSetBackground", half, "bricks"),
              ("DrawSemiTransparentSetBkColor", half, BK_COLOUR)]
    out = [("CImage " + n, 0, c, r, u) for c, (n, r, u) in enumerate(shared + backed)]
    out += [("image list " + n, 1, c, r, u) for c, (n, r, u) in enumerate(shared + lists + backed)]
    out += [("CImageEx " + n, 2, c, r, u) for c, (n, r, u) in enumerate(shared[:2])]
    for i, a in enumerate((0, 64, 128, 192)):
        out.append(("CImageEx DrawAlphaTransparent %d" % a, 2, 2 + i,
                    lambda f, u, x, y, a=a: u if f == KEY else mix(f, u, a), "tile"))
    out += [
        ("CImageEx DrawColorize", 2, 6, lambda f, u, x, y: tint(f), "tile"),
        ("CImageEx DrawColorizeTransparent", 2, 7,
         lambda f, u, x, y: u if f == KEY else tint(f), "tile"),
        ("CImageEx DrawColorizeWithBack", 2, 8,
         lambda f, u, x, y: tint(u if f == KEY else f), "tile"),
    ]
    return out


def flat_spots(sprite):
    """An opaque spot and a key spot of the still frame where a 6 x 6 block around it is all one
    colour in the sprite, so that the JPEG encoding leaves the block's mean alone."""
    w, h = 32, 48
    found = {}
    for y in range(2, h - 3):
        for x in range(2, w - 3):
            block = {sprite.getpixel((FRAME * w + x + i, y + j)) for i in range(-2, 4)
                     for j in range(-2, 4)}
            if len(block) == 1:
                found.setdefault("key" if block == {KEY} else "opaque", (x, y))
    return found


BLOCK = [(i, j) for i in range(-1, 3) for j in range(-1, 3)]


def block_mean(image, x, y):
    """The mean of the 4 x 4 block from (x - 1, y - 1)."""
    px = [image.getpixel((x + i, y + j)) for i, j in BLOCK]
    return tuple(sum(p[c] for p in px) / len(px) for c in range(3))


def run_demo(tool, out):
    result = subprocess.run([tool, "demo", "--out", out, "--seconds", "1"], capture_output=True,
                            text=True)
    check(result.returncode == 0, "talvo demo exits with 0: %s" % result.stderr)
    for name in ("demo-32.jpg", "demo-16.jpg", "demo-8.bmp"):
        check(os.path.join(out, name) in result.stdout, "it says where %s went" % name)
    check(not [f for f in os.listdir(out) if f.startswith(".")], "no temporary file is left")


def distance(a, b):
    return max(abs(x - y) for x, y in zip(a, b))


def check_picture(path, sprite, depth):
    image = Image.open(path).convert("RGB")
    check(image.size == (800, 600), "%s is 800 x 600" % path)
    spots = flat_spots(sprite)
    check(set(spots) == {"key", "opaque"}, "the walker has flat spots")
    # What 5-6-5 rounding and the JPEG encoding may move the mean of a block.
    tolerance = {32: 20, 16: 24, 8: 40}[depth]
    for name, row, column, rule, under_kind in cells():
        ox, oy = LEFT + column * CELL, TOP + row * CELL
        # The tile outside the sprite keeps its colour (at 8 bits the nearest static colour).
        got = block_mean(image, ox + 8, oy + 8)
        check(distance(tile(row, column), got) <= tolerance,
              "%s (%d bpp): tile %s, got %s" % (name, depth, tile(row, column), got))
        if under_kind == "tile":
            under = lambda x, y, c=tile(row, column): c
        elif under_kind == "bricks":
            under = brick
        else:
            under = lambda x, y, c=under_kind: c
        seen = {}
        for kind, (x, y) in sorted(spots.items()):
            want = [rule(sprite.getpixel((FRAME * 32 + x + i, y + j)),
                         under(SPRITE_X + x + i, SPRITE_Y + y + j), x + i, y + j)
                    for i, j in BLOCK]
            want = tuple(sum(c[k] for c in want) / len(want) for k in range(3))
            got = seen[kind] = block_mean(image, ox + SPRITE_X + x, oy + SPRITE_Y + y)
            if depth == 8:
                continue
            check(distance(want, got) <= tolerance,
                  "%s, %s (%d bpp): %s at (%d, %d), want %s" %
                  (name, kind, depth, tuple(round(v) for v in got), ox + SPRITE_X + x,
                   oy + SPRITE_Y + y, tuple(round(v) for v in want)))
        if depth == 8 and row < 2:
            # On the palette display each palette realized later moves the colours of what was
            # drawn before, so only the drawing itself is checked: the sprite shows.
            check(distance(seen["opaque"], seen["key"]) > 30,
                  "%s (8 bpp): the sprite shows (%s against %s)" % (name, seen["opaque"],
                                                                    seen["key"]))


def main():
    tool, root = sys.argv[1], sys.argv[2]
    out = os.path.abspath("pictures")
    os.makedirs(out, exist_ok=True)
    run_demo(tool, out)
    sprite = Image.open(os.path.join(root, "tools", "samples", "walker.bmp")).convert("RGB")
    check_picture(os.path.join(out, "demo-32.jpg"), sprite, 32)
    check_picture(os.path.join(out, "demo-16.jpg"), sprite, 16)
    check_picture(os.path.join(out, "demo-8.bmp"), sprite, 8)
    # An outside decoder reads the JPEG files too.
    for name in ("demo-32.jpg", "demo-16.jpg"):
        djpeg = subprocess.run(["djpeg", "-bmp", os.path.join(out, name)], capture_output=True)
        check(djpeg.returncode == 0 and djpeg.stdout[:2] == b"BM", "djpeg decodes %s" % name)
    with open(os.path.join(out, "demo-8.bmp"), "rb") as f:
        head = f.read(54)
    check(head[:2] == b"BM" and head[28] == 8, "demo-8.bmp is an 8-bit BMP")

    # Bad options: usage errors exit with 2.
    for args in (["--bpp", "24"], ["--seconds", "-1"], ["--nonsense"], ["--hold"]):
        result = subprocess.run([tool, "demo", *args], capture_output=True, text=True)
        check(result.returncode == 2, "talvo demo %s exits with 2" % " ".join(args))
    result = subprocess.run([tool, "demo", "--out", os.path.join(out, "missing", "dir"),
                             "--bpp", "32", "--seconds", "0"], capture_output=True, text=True)
    check(result.returncode == 1, "an output folder that does not exist fails with 1")
    # A strip that the effect images cannot read (the file cut short) fails the demo.
    damaged = os.path.abspath("damaged")
    shutil.copytree(os.path.join(root, "tools", "samples"), damaged, dirs_exist_ok=True)
    with open(os.path.join(damaged, "orb.bmp"), "r+b") as f:
        f.truncate(200)
    result = subprocess.run([tool, "demo", "--samples", damaged, "--out", out, "--bpp", "32",
                             "--seconds", "0"], capture_output=True, text=True)
    check(result.returncode == 1 and "orb.bmp" in result.stderr,
          "a damaged strip fails the demo with 1 and is named: %s" % result.stderr)
    # The library writes BMP files only under names shorter than 260 bytes.
    deep = os.path.join(out, *["d" * 100] * 3)
    os.makedirs(deep, exist_ok=True)
    result = subprocess.run([tool, "demo", "--out", deep, "--bpp", "8", "--seconds", "0"],
                            capture_output=True, text=True)
    check(result.returncode == 1 and "name too long" in result.stderr,
          "an output folder too deep for a BMP capture fails with 1 and says why: %s"
          % result.stderr)
    check(not os.listdir(deep), "and leaves no file: %s" % os.listdir(deep))

    return finish("all checks passed")


if __name__ == "__main__":
    sys.exit(main())
