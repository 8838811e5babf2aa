#!/usr/bin/env python3
"""JPEG files for the framework test, and the check of the one it writes, with PIL.

    jpeg_files.py make FOLDER    writes quadrants.jpg (baseline), progressive.jpg, gray.jpg
    jpeg_files.py check FOLDER   reads FOLDER/ours.jpg: its size and the colour of each quadrant
"""
import os
import sys

from PIL import Image

QUADRANTS = [(200, 30, 40), (20, 180, 60), (30, 60, 210), (240, 230, 20)]
W, H = 48, 32


def quadrants():
    img = Image.new("RGB", (W, H))
    for y in range(H):
        for x in range(W):
            img.putpixel((x, y), QUADRANTS[(x >= W // 2) + 2 * (y >= H // 2)])
    return img


def make(folder):
    os.makedirs(folder, exist_ok=True)
    img = quadrants()
    img.save(os.path.join(folder, "quadrants.jpg"), quality=95)
    img.save(os.path.join(folder, "progressive.jpg"), quality=90, progressive=True)
    img.convert("L").save(os.path.join(folder, "gray.jpg"), quality=95)


def check(folder):
    img = Image.open(os.path.join(folder, "ours.jpg"))
    assert img.format == "JPEG", img.format
    assert img.size == (W, H), img.size
    img = img.convert("RGB")
    for i, want in enumerate(QUADRANTS):
        x = W // 4 + (i % 2) * W // 2
        y = H // 4 + (i // 2) * H // 2
        got = img.getpixel((x, y))
        if any(abs(a - b) > 12 for a, b in zip(got, want)):
            sys.exit("quadrant %d is %s, expected about %s" % (i, got, want))
    print("PIL reads our JPEG: %dx%d, every quadrant's colour kept" % img.size)


if __name__ == "__main__":
    {"make": make, "check": check}[sys.argv[1]](sys.argv[2])
