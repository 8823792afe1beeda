#!/usr/bin/env python3
"""scripts/make-gallery.sh runs into a fresh folder and makes every picture docs/gallery.md
shows, each a readable PNG of a grid cell (or the whole screen), and nothing the page does not
show; the pictures committed under docs/gallery are the same set.

usage: gallery_test.py TALVO_PROGRAM SOURCE_DIR
"""
import os
import re
import subprocess
import sys
import tempfile

from PIL import Image


def pictures_in(folder):
    found = set()
    for root, _, files in os.walk(folder):
        for f in files:
            if f.endswith(".png"):
                found.add(os.path.relpath(os.path.join(root, f), folder))
    return found


def main():
    program, source = sys.argv[1], sys.argv[2]
    with open(os.path.join(source, "docs", "gallery.md")) as page:
        named = set(re.findall(r"\]\(gallery/([^)\s]+\.png)\)", page.read()))
    failures = []
    if len(named) < 10:
        failures.append(f"docs/gallery.md names only {len(named)} pictures")

    with tempfile.TemporaryDirectory() as out:
        env = dict(os.environ, TALVO=program)
        run = subprocess.run([os.path.join(source, "scripts", "make-gallery.sh"), out], env=env,
                             capture_output=True, text=True)
        if run.returncode != 0:
            print(run.stdout, run.stderr)
            sys.exit(f"make-gallery.sh failed with {run.returncode}")
        made = pictures_in(out)
        for name in sorted(named - made):
            failures.append(f"the page shows {name}, which the script did not make")
        for name in sorted(made - named):
            failures.append(f"the script made {name}, which the page does not show")
        for name in sorted(named & made):
            with Image.open(os.path.join(out, name)) as im:
                im.load()
                # A cell of the demo's grid twice its size, or the whole 800 x 600 screen.
                if im.size not in ((152, 152), (800, 600)):
                    failures.append(f"{name} is {im.size[0]} x {im.size[1]}")
                if len(set(im.convert("RGB").getdata())) < 3:
                    failures.append(f"{name} is nearly one colour")

    committed = pictures_in(os.path.join(source, "docs", "gallery"))
    if committed != made:
        failures.append("docs/gallery differs from what the script makes: run "
                        "scripts/make-gallery.sh (missing: %s, extra: %s)"
                        % (sorted(made - committed), sorted(committed - made)))
    for f in failures:
        print("FAIL:", f)
    if failures:
        sys.exit(1)
    print(f"gallery: {len(made)} pictures, all on the page")


if __name__ == "__main__":
    main()
