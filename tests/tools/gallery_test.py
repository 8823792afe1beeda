#!/usr/bin/env python3
"""scripts/make-gallery.sh runs into a fresh folder and makes every picture docs/gallery.md
shows, each a readable PNG of a grid cell (or the whole screen), and nothing the page does not
show; the pictures committed under docs/gallery are the same set.

usage: gallery_test.py TALVO_PROGRAM SOURCE_DIR
"""
import os
import re
import sys
import tempfile

from PIL import Image

from checks import check, finish, run


def pictures_in(folder):
    return {os.path.relpath(os.path.join(root, f), folder) for root, _, files in os.walk(folder)
            for f in files if f.endswith(".png")}


def main():
    program, source = sys.argv[1], sys.argv[2]
    with open(os.path.join(source, "docs", "gallery.md")) as page:
        named = set(re.findall(r"\]\(gallery/([^)\s]+\.png)\)", page.read()))
    check(len(named) >= 10, f"docs/gallery.md names only {len(named)} pictures")

    with tempfile.TemporaryDirectory() as out:
        made = run(os.path.join(source, "scripts", "make-gallery.sh"), out,
                   env=dict(os.environ, TALVO=program))
        if not check(made.returncode == 0, f"make-gallery.sh failed with {made.returncode}"):
            print(made.stdout, made.stderr)
            return finish("")
        made = pictures_in(out)
        check(named == made, "pictures the page shows and the script did not make: %s; made and "
              "not shown: %s" % (sorted(named - made), sorted(made - named)))
        for name in sorted(named & made):
            with Image.open(os.path.join(out, name)) as im:
                im.load()
                # A cell of the demo's grid twice its size, or the whole 800 x 600 screen.
                check(im.size in ((152, 152), (800, 600)), f"{name} is {im.size[0]} x {im.size[1]}")
                check(len(set(im.convert("RGB").getdata())) >= 3, f"{name} is nearly one colour")

    committed = pictures_in(os.path.join(source, "docs", "gallery"))
    check(committed == made, "docs/gallery differs from what the script makes: run "
          "scripts/make-gallery.sh (missing: %s, extra: %s)"
          % (sorted(made - committed), sorted(committed - made)))
    return finish(f"gallery: {len(made)} pictures, all on the page")


if __name__ == "__main__":
    sys.exit(main())
