#!/usr/bin/env python3
"""Reads the GIFs the components test wrote with PIL and gifsicle.

Each written-*.gif must pass `gifsicle --info` without a complaint and decode in PIL, frame
by frame, to the pixels the test recorded in NAME.expect (what our own decoder saw).
usage: check_written_gifs.py OUTPUT_FOLDER
"""
import glob
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_picture_fixtures import split_frames  # noqa: E402

from PIL import Image  # noqa: E402


def main():
    folder = sys.argv[1]
    files = sorted(glob.glob(os.path.join(folder, "written-*.gif")) + glob.glob(os.path.join(folder, "rewritten-*.gif")))
    if not files:
        sys.exit("no written GIFs in %s" % folder)
    failures = 0
    for name in files:
        info = subprocess.run(["gifsicle", "--info", name], capture_output=True, text=True)
        if info.returncode != 0 or info.stderr.strip():
            print("%s: gifsicle: %s" % (name, info.stderr.strip() or info.returncode))
            failures += 1
            continue
        expect = name + ".expect"
        if not os.path.exists(expect):
            continue
        lines = open(expect).read().split("\n")
        frames = list(split_frames(open(name, "rb").read()))
        if int(lines[0].split()[1]) != len(frames):
            print("%s: %d frames, expected %s" % (name, len(frames), lines[0]))
            failures += 1
            continue
        at = 1
        for i, (left, top, w, h, transparent, one) in enumerate(frames):
            head = lines[at].split()
            at += 1
            rows = [r.split() for r in lines[at:at + h]]
            at += h
            if [int(v) for v in head[1:]] != [left, top, w, h]:
                print("%s frame %d: rectangle %s, expected %s" % (name, i, (left, top, w, h), head[1:]))
                failures += 1
                continue
            tmp = name + ".frame.gif"
            open(tmp, "wb").write(one)
            im = Image.open(tmp).convert("RGB")
            px = im.load()
            bad = [(x, y) for y in range(h) for x in range(w) if "%02x%02x%02x" % px[x, y] != rows[y][x]]
            im.close()
            os.remove(tmp)
            if bad:
                x, y = bad[0]
                print("%s frame %d: %d pixels differ, first at %d,%d" % (name, i, len(bad), x, y))
                failures += 1
    if failures:
        sys.exit(1)
    print("%d written GIFs read back by gifsicle and PIL" % len(files))


if __name__ == "__main__":
    main()
