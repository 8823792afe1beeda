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

from checks import check, finish, refused, run


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


def mean(pixels):
    return tuple(sum(p[c] for p in pixels) / len(pixels) for c in range(3))


def block_mean(image, x, y):
    """The mean of the 4 x 4 block from (x - 1, y - 1)."""
    return mean([image.getpixel((x + i, y + j)) for i, j in BLOCK])


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
        flat = tile(row, column) if under_kind == "tile" else under_kind
        under = brick if under_kind == "bricks" else lambda x, y, c=flat: c
        seen = {}
        for kind, (x, y) in sorted(spots.items()):
            want = mean([rule(sprite.getpixel((FRAME * 32 + x + i, y + j)),
                              under(SPRITE_X + x + i, SPRITE_Y + y + j), x + i, y + j)
                         for i, j in BLOCK])
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
    result = run(tool, "demo", "--out", out, "--seconds", "1")
    check(result.returncode == 0, "talvo demo exits with 0: %s" % result.stderr)
    check(not [f for f in os.listdir(out) if f.startswith(".")], "no temporary file is left")
    sprite = Image.open(os.path.join(root, "tools", "samples", "walker.bmp")).convert("RGB")
    for name, depth in (("demo-32.jpg", 32), ("demo-16.jpg", 16), ("demo-8.bmp", 8)):
        path = os.path.join(out, name)
        check(path in result.stdout, "it says where %s went" % name)
        check_picture(path, sprite, depth)
        if depth > 8:  # an outside decoder reads the JPEG files too
            djpeg = subprocess.run(["djpeg", "-bmp", path], capture_output=True)
            check(djpeg.returncode == 0 and djpeg.stdout[:2] == b"BM", "djpeg decodes " + name)
    with open(os.path.join(out, "demo-8.bmp"), "rb") as f:
        head = f.read(54)
    check(head[:2] == b"BM" and head[28] == 8, "demo-8.bmp is an 8-bit BMP")

    # A strip that the effect images cannot read (the file cut short) fails the demo.
    damaged = os.path.abspath("damaged")
    shutil.copytree(os.path.join(root, "tools", "samples"), damaged, dirs_exist_ok=True)
    with open(os.path.join(damaged, "orb.bmp"), "r+b") as f:
        f.truncate(200)
    # The library writes BMP files only under names shorter than 260 bytes.
    deep = os.path.join(out, *["d" * 100] * 3)
    os.makedirs(deep, exist_ok=True)
    # (what, arguments, exit code: 2 for a usage error, 1 for a failure, what the message says)
    bad = [("a colour depth it does not have", ["--bpp", "24"], 2, "--bpp"),
           ("negative seconds", ["--seconds", "-1"], 2, "--seconds"),
           ("an unknown option", ["--nonsense"], 2, "--nonsense"),
           ("--hold without a window", ["--hold"], 2, "--hold"),
           ("an output folder that does not exist",
            ["--out", os.path.join(out, "missing", "dir"), "--bpp", "32", "--seconds", "0"], 1, ""),
           ("a damaged strip",
            ["--samples", damaged, "--out", out, "--bpp", "32", "--seconds", "0"], 1, "orb.bmp"),
           ("an output folder too deep for a BMP capture",
            ["--out", deep, "--bpp", "8", "--seconds", "0"], 1, "name too long")]
    for what, args, code, says in bad:
        refused(run(tool, "demo", *args), code, what, says)
    check(not os.listdir(deep), "the refused capture leaves no file: %s" % os.listdir(deep))

    return finish("all checks passed")


if __name__ == "__main__":
    sys.exit(main())
