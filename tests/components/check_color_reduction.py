#!/usr/bin/env python3
"""Recomputes the colour reductions the components test wrote and compares them.

The source pictures are read by PIL; every palette and every pixel index is computed here
from the methods' formulas (scale tables, grey weights, ramps, the hashed histogram with its
mask dropping, the median cut of the 4-bit colour cube) and must equal the 8-bit file.
usage: check_color_reduction.py OUTPUT_FOLDER
"""
import os
import struct
import sys

from PIL import Image

S4 = [0, 85, 170, 255]
S6 = [0, 51, 102, 153, 204, 255]
S7 = [0, 43, 85, 128, 170, 213, 255]
S8 = [0, 36, 73, 109, 146, 182, 219, 255]
GREY = (128, 128, 128, 128)


def nearest(scale, v):
    best = 0
    for i, s in enumerate(scale):
        if abs(v - s) < abs(v - scale[best]):
            best = i
    return best


def cube(levels_r, levels_g, levels_b):
    pal = [GREY] * 256
    nb, ng = len(levels_b), len(levels_g)
    for r, vr in enumerate(levels_r):
        for g, vg in enumerate(levels_g):
            for b, vb in enumerate(levels_b):
                pal[(r * ng + g) * nb + b] = (vr, vg, vb, 0)
    return pal


def truncation(rows, lr, lg, lb):
    pal = cube(lr, lg, lb)
    nb, ng = len(lb), len(lg)
    idx = [[(nearest(lr, r) * ng + nearest(lg, g)) * nb + nearest(lb, b) for (r, g, b) in row] for row in rows]
    return pal, idx


def grey(rows):
    return [(i, i, i, 0) for i in range(256)], [[(r * 77 + g * 150 + b * 29) >> 8 for (r, g, b) in row] for row in rows]


def triple(rows):
    pal = [[0, 0, 0, 0] for _ in range(256)]
    for k in range(65):
        v = (4 * k) & 255
        pal[k][0] = v
        pal[64 + k][1] = v
        pal[128 + k][2] = v
    idx = []
    for y, row in enumerate(rows):  # rows as stored, bottom-up
        out = []
        for x, (r, g, b) in enumerate(row):
            m = (x + y) % 3
            out.append(r >> 2 if m == 0 else (g >> 2) | 0x40 if m == 1 else (b >> 2) | 0x80)
        idx.append(out)
    return [tuple(p) for p in pal], idx


def histogram(rows):
    masks = [0xFF, 0xFF, 0xFF]
    while True:
        order, counts, ok = [], {}, True
        for row in rows:
            for (r, g, b) in row:
                c = (r & masks[0], g & masks[1], b & masks[2])
                if c not in counts:
                    if len(order) == 2049:
                        ok = False
                        break
                    order.append(c)
                    counts[c] = 0
                counts[c] += 1
            if not ok:
                break
        if ok:
            break
        mr, mg, mb = masks
        if mr < mg:
            masks[1] = (mg << 1) & 255
        elif mb < mr:
            masks[0] = (mr << 1) & 255
        else:
            masks[2] = (mb << 1) & 255
    pal, index = [GREY] * 256, {}
    remaining = dict(counts)
    chosen = []
    while len(chosen) < 256:
        best = None
        for c in order:
            if remaining[c] > 0 and (best is None or remaining[c] > remaining[best]):
                best = c
        if best is None:
            break
        remaining[best] = 0
        index[best] = len(chosen)
        pal[len(chosen)] = best + (0,)
        chosen.append(best)
    for c in order:
        if c not in index:
            d = [sum((c[k] - p[k]) ** 2 for k in range(3)) for p in chosen]
            index[c] = d.index(min(d))
    idx = [[index[(r & masks[0], g & masks[1], b & masks[2])] for (r, g, b) in row] for row in rows]
    return pal, idx


def median_cut(rows, wanted=256):
    counts = [0] * 4096
    for row in rows:
        for (r, g, b) in row:
            counts[(r >> 4) * 256 + (g >> 4) * 16 + (b >> 4)] += 1
    chan = lambda cell, c: (cell >> (8 - 4 * c)) & 15
    total = sum(len(row) for row in rows)
    boxes = [{"lo": [0, 0, 0], "ext": [255, 255, 255], "cells": [c for c in range(4096) if counts[c]], "pix": total}]
    while len(boxes) < wanted:
        pick, most = None, -1
        for i, bx in enumerate(boxes):
            if len(bx["cells"]) <= 1:
                continue
            for c in range(3):
                if bx["ext"][c] > most:
                    most, pick = bx["ext"][c], (i, c)
        if pick is None:
            break
        i, ch = pick
        bx = boxes[i]
        cells = sorted(bx["cells"], key=lambda cell: chan(cell, ch))
        kept = 1
        rem = bx["pix"] // 2 - counts[cells[0]] - counts[cells[1]]
        while rem >= 0 and len(cells) - kept >= 2:
            kept += 1
            rem -= counts[cells[kept]]
        new = {"lo": list(bx["lo"]), "ext": list(bx["ext"]), "cells": cells[kept:]}
        bx["cells"] = cells[:kept]
        for b in (bx, new):
            b["pix"] = sum(counts[c] for c in b["cells"])
        low = 16 * chan(new["cells"][0], ch)
        new["ext"][ch] -= low - new["lo"][ch]
        new["lo"][ch] = low
        bx["ext"][ch] = 16 * chan(bx["cells"][-1], ch) - bx["lo"][ch]
        boxes.append(new)
    pal = [(0, 0, 0, 0)] * 256
    owner = {}
    for i, bx in enumerate(boxes):
        n = len(bx["cells"])
        mean = [sum(chan(cell, c) * 16 + 15 for cell in bx["cells"]) // n for c in range(3)]
        if all(m <= 16 for m in mean):
            mean = [0, 0, 0]
        pal[i] = tuple(mean) + (0,)
        for cell in bx["cells"]:
            owner[cell] = i
    idx = [[owner[(r >> 4) * 256 + (g >> 4) * 16 + (b >> 4)] for (r, g, b) in row] for row in rows]
    return pal, idx, len(boxes)


def read8(path):
    data = open(path, "rb").read()
    assert data[:2] == b"BM", path
    size, off = struct.unpack_from("<I", data, 2)[0], struct.unpack_from("<I", data, 10)[0]
    hsize, w, h, planes, bits, comp, isize, _, _, used, important = struct.unpack_from("<IiiHHIIiiII", data, 14)
    assert size == len(data) and off == 14 + 40 + 1024 and bits == 8 and used == 0, path
    pal = [tuple(data[54 + 4 * i + k] for k in (2, 1, 0, 3)) for i in range(256)]
    stride = (w + 3) // 4 * 4
    rows = [list(data[off + y * stride: off + y * stride + w]) for y in range(h)]  # bottom-up
    return pal, rows, important


def main():
    folder = sys.argv[1]
    failures = 0
    for tag in ("small", "large"):
        img = Image.open(os.path.join(folder, "reduce-%s.bmp" % tag)).convert("RGB")
        w, h = img.size
        px = img.load()
        rows = [[px[x, h - 1 - y] for x in range(w)] for y in range(h)]  # bottom-up, as stored
        expected = {
            "666": truncation(rows, S6, S6, S6) + (216,),
            "784": truncation(rows, S7, S8, S4) + (224,),
            "grey": grey(rows) + (0,),
            "triple": triple(rows) + (0,),
            "histogram": histogram(rows) + (0,),
            "mediancut": median_cut(rows),
        }
        for name, (pal, idx, important) in expected.items():
            got_pal, got_idx, got_important = read8(os.path.join(folder, "reduce-%s-%s.bmp" % (tag, name)))
            problems = []
            if got_important != important:
                problems.append("important colours %d, expected %d" % (got_important, important))
            if [p[:3] for p in got_pal] != [p[:3] for p in pal]:
                bad = next(i for i in range(256) if got_pal[i][:3] != pal[i][:3])
                problems.append("palette entry %d is %s, expected %s" % (bad, got_pal[bad], pal[bad]))
            if got_idx != idx:
                problems.append("pixel indexes differ")
            if problems:
                failures += 1
                print("%s %s: %s" % (tag, name, "; ".join(problems)))
    if failures:
        sys.exit(1)
    print("every reduction matches its formulas")


if __name__ == "__main__":
    main()
