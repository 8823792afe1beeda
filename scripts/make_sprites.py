#!/usr/bin/python3
"""Draws the sprite strips of tools/samples/ from plain shapes: 24-bit BMPs, frames side by side,
on a magenta key colour (255, 0, 255) that the library draws transparently.

usage: make_sprites.py [OUT_DIR]      (default: tools/samples beside this script's folder)

  coin.bmp    8 frames of 32 x 32: a gold coin turning about its upright axis
  walker.bmp  8 frames of 32 x 48: a figure walking, arms and legs swinging
  orb.bmp     8 frames of 32 x 32: a glowing orb whose glow swells and fades

No pixel next to the key colour is blended with it, so the key cuts each sprite cleanly. The
same script always writes the same files.
"""
import math
import os
import sys

from PIL import Image, ImageDraw

KEY = (255, 0, 255)
FRAMES = 8


def strip(width, height):
    image = Image.new("RGB", (width * FRAMES, height), KEY)
    return image, ImageDraw.Draw(image)


def coin():
    w, h = 32, 32
    image, draw = strip(w, h)
    for f in range(FRAMES):
        ox = f * w
        # The visible width follows the cosine of the turn; the edge shows as a darker rim.
        turn = math.cos(f * math.pi / FRAMES)
        half = max(1, round(13 * abs(turn)))
        cx, cy = ox + 16, 16
        draw.ellipse((cx - half - 1, cy - 14, cx + half + 1, cy + 14), fill=(150, 100, 10))
        face = (250, 200, 40) if turn >= 0 else (230, 175, 30)
        draw.ellipse((cx - half, cy - 13, cx + half, cy + 13), fill=face)
        if half >= 4:
            inner = half * 2 // 3
            draw.ellipse((cx - inner, cy - 9, cx + inner, cy + 9), outline=(200, 140, 20))
            # A glint that slides across the face as it turns.
            gx = cx + round(half * 0.5 * turn)
            draw.line((gx, cy - 7, gx, cy - 2), fill=(255, 250, 220))
    return image


def walker():
    w, h = 32, 48
    image, draw = strip(w, h)
    skin, shirt, trousers, shoe = (240, 190, 150), (40, 110, 200), (60, 60, 70), (90, 50, 20)
    for f in range(FRAMES):
        ox = f * w
        phase = 2 * math.pi * f / FRAMES
        swing = math.sin(phase)
        bob = round(abs(math.cos(phase)) * 2)
        hip = (ox + 16, 30 - bob)
        neck = (ox + 16, 14 - bob)
        for side in (-1, 1):
            # Legs: thigh and shin; the back leg is drawn darker first.
            a = side * swing * 0.6
            knee = (hip[0] + round(8 * math.sin(a)), hip[1] + round(8 * math.cos(a)))
            bend = max(0.0, -side * math.cos(phase)) * 0.5
            foot = (knee[0] + round(8 * math.sin(a - bend)), knee[1] + round(8 * math.cos(a - bend)))
            colour = trousers if side > 0 else (40, 40, 50)
            draw.line((hip, knee), fill=colour, width=3)
            draw.line((knee, foot), fill=colour, width=3)
            draw.rectangle((foot[0] - 1, foot[1] - 1, foot[0] + 3, foot[1] + 1), fill=shoe)
        draw.rectangle((ox + 12, neck[1], ox + 20, hip[1]), fill=shirt)
        for side in (-1, 1):
            a = -side * swing * 0.7
            hand = (neck[0] + round(12 * math.sin(a)), neck[1] + 2 + round(12 * math.cos(a)))
            draw.line(((neck[0], neck[1] + 2), hand), fill=shirt if side > 0 else (30, 80, 160),
                      width=3)
            draw.rectangle((hand[0] - 1, hand[1] - 1, hand[0] + 1, hand[1] + 1), fill=skin)
        draw.ellipse((ox + 11, neck[1] - 11, ox + 21, neck[1] - 1), fill=skin)
        draw.point((ox + 18, neck[1] - 7), fill=(20, 20, 20))
    return image


def orb():
    w, h = 32, 32
    image = Image.new("RGB", (w * FRAMES, h), KEY)
    pixels = image.load()
    for f in range(FRAMES):
        ox = f * w
        pulse = 0.5 + 0.5 * math.sin(2 * math.pi * f / FRAMES)
        radius = 11 + 4 * pulse
        for y in range(h):
            for x in range(w):
                d = math.hypot(x - 15.5, y - 15.5)
                if d > radius:
                    continue
                # White-hot core into cyan glow into a dark blue rim; the rim, not the key,
                # is what the glow fades to.
                t = d / radius
                core = max(0.0, 1 - t * 2.2)
                glow = (1 - t) ** 1.5 * (0.6 + 0.4 * pulse)
                r = 20 + 235 * core
                g = 40 + 180 * glow + 215 * core
                b = 90 + 165 * max(glow, core)
                pixels[ox + x, y] = (min(255, round(r)), min(255, round(g)), min(255, round(b)))
    return image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "tools", "samples")
    os.makedirs(out, exist_ok=True)
    for name, make in (("coin.bmp", coin), ("walker.bmp", walker), ("orb.bmp", orb)):
        path = os.path.join(out, name)
        make().save(path, "BMP")
        print(path)


if __name__ == "__main__":
    main()
