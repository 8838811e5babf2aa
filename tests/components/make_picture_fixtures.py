#!/usr/bin/env python3
"""Makes the GIF and animated-cursor fixtures of the components test with Debian's tools.

GIFs come from PIL, gifsicle (interlace, loop count, optimised sub-rectangles) and
gifbuild (hand-written files: odd code sizes, interlace, transparency that repeats a
colour, a comment after the last image, 1-bit pictures). Each GIF gets NAME.expect: every
frame's rectangle and pixels as PIL decodes that frame alone, transparent pixels marked.
Cursors come from `icotool -c --cursor` and are packed into RIFF "ACON" files here.

usage: make_picture_fixtures.py FOLDER
"""
import os
import struct
import subprocess
import sys

from PIL import Image, ImageDraw

OUT = sys.argv[1]


def path(name):
    return os.path.join(OUT, name)


def run(*args, stdin=None):
    subprocess.run(args, check=True, input=stdin)


# ---- GIFs ------------------------------------------------------------------------------

def pil_fixtures():
    img = Image.new("RGB", (40, 30))
    img.putdata([(x * 6, y * 8, (x * y) % 256) for y in range(30) for x in range(40)])
    img.quantize(200).save(path("still.gif"))

    frames = []
    for i, colour in enumerate([(255, 0, 0), (0, 160, 0), (0, 0, 255)]):
        f = Image.new("RGB", (24, 16), (255, 255, 255))
        d = ImageDraw.Draw(f)
        d.rectangle([2 + 6 * i, 2, 9 + 6 * i, 12], fill=colour)
        d.line([0, 15 - i, 23, i], fill=(0, 0, 0))
        frames.append(f.quantize(8))
    frames[0].save(path("anim.gif"), save_all=True, append_images=frames[1:], duration=[100, 200, 50],
                   loop=0, disposal=2)

    # Only local tables: PIL's file with its global table moved into the image descriptor.
    small = Image.new("P", (9, 5))
    small.putpalette([0, 0, 0, 250, 10, 10, 10, 250, 10, 10, 10, 250, 240, 240, 0])
    small.putdata([(x + y) % 5 for y in range(5) for x in range(9)])
    small.save(path("tmp-local.gif"))
    data = open(path("tmp-local.gif"), "rb").read()
    packed = data[10]
    assert packed & 0x80
    size = 3 << ((packed & 7) + 1)
    table = data[13:13 + size]
    rest = data[13 + size:]
    at = rest.index(b",")
    desc = bytearray(rest[at:at + 10])
    desc[9] = (desc[9] & 0x40) | 0x80 | (packed & 7)
    out = data[:10] + bytes([0, 0, 0]) + rest[:at] + bytes(desc) + table + rest[at + 10:]
    open(path("localonly.gif"), "wb").write(out)
    os.remove(path("tmp-local.gif"))


def gifsicle_fixtures():
    run("gifsicle", "--interlace", path("still.gif"), "-o", path("interlaced.gif"))
    run("gifsicle", "--loopcount=65535", path("anim.gif"), "-o", path("loop65535.gif"))
    run("gifsicle", "-O2", "--comment", "made by gifsicle", path("anim.gif"), "-o", path("optimised.gif"))
    run("gifsicle", "--transparent", "#FFFFFF", "--disposal", "previous", path("anim.gif"), "-o",
        path("transparent.gif"))


def palette_lines(colours, keys):
    return "".join("\trgb %03d %03d %03d is %s\n" % (c + (k,)) for c, k in zip(colours, keys))


def gifbuild_fixtures():
    keys = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
    # Code size 3: an 8-colour table where the transparent colour repeats entry 1; an
    # interlaced frame; a 5-bit local table in the second frame; a comment at the end.
    screen8 = [(0, 0, 0), (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0), (255, 0, 0), (10, 20, 30),
               (200, 200, 200)]
    local32 = [(i * 8, 255 - i * 8, (i * 37) % 256) for i in range(32)]
    rows1 = ["abcdefgh", "hgfedcba", "ggffeedd", "fafafafa", "abcdefgh"]
    rows2 = ["".join(keys[(x * 3 + y * 5) % 32] for x in range(11)) for y in range(7)]
    script = ("screen width 12\nscreen height 9\nscreen background 2\npixel aspect byte 0\n"
            "screen map\n" + palette_lines(screen8, keys) + "end\n\n"
            "graphics control\n\tdisposal mode 1\n\tuser input flag off\n\tdelay 12\n"
            "\ttransparent index 5\nend\n\n"
            "image\nimage left 0\nimage top 0\nimage interlaced\nimage bits 8 by 5\n" + "\n".join(rows1) + "\n\n"
            "graphics control\n\tdisposal mode 0\n\tuser input flag off\n\tdelay 3\nend\n\n"
            "image\nimage left 1\nimage top 2\nimage map\n" + palette_lines(local32, keys) + "end\n"
            "image bits 11 by 7\n" + "\n".join(rows2) + "\n"
            "comment\nafter the last image\nend\n")
    with open(path("handmade.gif"), "wb") as f:
        subprocess.run(["gifbuild"], input=script.encode(), stdout=f, check=True)
    # 1 bit per pixel: code size 2.
    spec1 = ("screen width 17\nscreen height 3\nscreen background 0\npixel aspect byte 0\n"
             "screen map\n\trgb 000 000 000 is a\n\trgb 255 255 255 is b\nend\n\n"
             "image\nimage left 0\nimage top 0\nimage bits 17 by 3\n"
             "abbababbbaaabbbab\nbbbbbbbbbbbbbbbba\naaaaaaaaaaaaaaaab\n")
    with open(path("mono.gif"), "wb") as f:
        subprocess.run(["gifbuild"], input=spec1.encode(), stdout=f, check=True)


def split_frames(data):
    """Yields (left, top, w, h, transparent index or None, one-frame GIF) per image."""
    pos = 13
    packed = data[10]
    global_table = b""
    if packed & 0x80:
        n = 3 << ((packed & 7) + 1)
        global_table = data[13:13 + n]
        pos += n
    transparent = None
    while pos < len(data):
        b = data[pos]
        pos += 1
        if b == 0x21:
            label = data[pos]
            pos += 1
            start = pos
            while data[pos]:
                pos += data[pos] + 1
            pos += 1
            if label == 0xF9 and data[start + 1] & 1:
                transparent = data[start + 4]
        elif b == 0x2C:
            left, top, w, h, ipacked = struct.unpack_from("<HHHHB", data, pos)
            start = pos
            pos += 9
            if ipacked & 0x80:
                pos += 3 << ((ipacked & 7) + 1)
            pos += 1
            while data[pos]:
                pos += data[pos] + 1
            pos += 1
            body = bytearray(data[start:pos])
            struct.pack_into("<HH", body, 0, 0, 0)
            one = b"GIF89a" + struct.pack("<HHBBB", w, h, packed & 0xF7 if not global_table else packed, 0, 0)
            one = bytearray(one)
            if not global_table:
                one[10] = 0
            one = bytes(one) + global_table + b"," + bytes(body) + b";"
            yield left, top, w, h, transparent, one
            transparent = None
        elif b == 0x3B:
            break


def write_expect(name):
    data = open(path(name), "rb").read()
    lines = []
    frames = list(split_frames(data))
    lines.append("frames %d" % len(frames))
    for i, (left, top, w, h, transparent, one) in enumerate(frames):
        tmp = path("tmp-frame.gif")
        open(tmp, "wb").write(one)
        im = Image.open(tmp)
        assert im.mode in ("P", "L"), im.mode
        idx = list(im.getdata())
        pal = im.getpalette() or [v for i in range(256) for v in (i, i, i)]
        lines.append("frame %d %d %d %d" % (left, top, w, h))
        for y in range(h):
            row = []
            for x in range(w):
                k = idx[y * w + x]
                row.append("------" if k == transparent else "%02x%02x%02x" % tuple(pal[3 * k:3 * k + 3]))
            lines.append(" ".join(row))
        im.close()
        os.remove(tmp)
    open(path(name + ".expect"), "w").write("\n".join(lines) + "\n")


# ---- animated cursors -------------------------------------------------------------------

def chunk(tag, body):
    return tag + struct.pack("<I", len(body)) + body + (b"\0" if len(body) % 2 else b"")


def ani(name, images, rates=None, seq=None, title=None, author=None, default_rate=10):
    body = b"ACON"
    if title or author:
        info = b"INFO"
        if title:
            info += chunk(b"INAM", title.encode() + b"\0")
        if author:
            info += chunk(b"IART", author.encode() + b"\0")
        body += chunk(b"LIST", info)
    steps = len(seq) if seq else len(images)
    body += chunk(b"anih", struct.pack("<9I", 36, len(images), steps, 0, 0, 0, 0, default_rate, 1))
    if rates:
        body += chunk(b"rate", struct.pack("<%dI" % len(rates), *rates))
    if seq:
        body += chunk(b"seq ", struct.pack("<%dI" % len(seq), *seq))
    body += chunk(b"LIST", b"fram" + b"".join(chunk(b"icon", open(path(i), "rb").read()) for i in images))
    open(path(name), "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)


def cursor_fixtures():
    colours = [(220, 30, 30), (30, 180, 30), (30, 30, 220)]
    hot = [(3, 5), (16, 16), (30, 1)]
    for i, c in enumerate(colours):
        img = Image.new("RGBA", (32, 32), (0, 0, 0, 0))
        d = ImageDraw.Draw(img)
        d.rectangle([4, 4, 27, 27], fill=c + (255,))
        d.line([0, 31 - i * 10, 31, i * 10], fill=(0, 0, 0, 255))
        img.save(path("frame%d.png" % i))
        run("icotool", "-c", "--cursor", "--hotspot-x=%d" % hot[i][0], "--hotspot-y=%d" % hot[i][1],
            "-o", path("frame%d.cur" % i), path("frame%d.png" % i))
        run("icotool", "-c", "-o", path("frame%d.ico" % i), path("frame%d.png" % i))
    # Steps 0 1 2 1 0 with their own rates; an odd title (plus its zero: even) and an even
    # author (plus its zero: odd, padded).
    ani("steps.ani", ["frame0.cur", "frame1.cur", "frame2.cur"], rates=[0, 6, 1, 12, 30], seq=[0, 1, 2, 1, 0],
        title="Odd", author="Even")
    ani("icons.ani", ["frame0.ico", "frame1.ico"], default_rate=6)
    # One cursor of two images, each with its own hot spot: a 48 x 48 one first, then the
    # 32 x 32 one the system shows. icotool gives every image of one file the same hot spot,
    # so two files are joined into one directory.
    parts = []
    for size, (x, y), c in ((48, (20, 30), (30, 180, 30)), (32, (3, 5), (220, 30, 30))):
        img = Image.new("RGBA", (size, size), (0, 0, 0, 0))
        ImageDraw.Draw(img).rectangle([2, 2, size - 3, size - 3], fill=c + (255,))
        png, cur = path("multi%d.png" % size), path("multi%d.cur" % size)
        img.save(png)
        run("icotool", "-c", "--cursor", "--hotspot-x=%d" % x, "--hotspot-y=%d" % y, "-o", cur, png)
        data = open(cur, "rb").read()
        entry = data[6:22]
        length, offset = struct.unpack("<II", entry[8:16])
        parts.append((entry[:8], data[offset:offset + length]))
    directory, images = b"", b""
    at = 6 + 16 * len(parts)
    for head, image in parts:
        directory += head + struct.pack("<II", len(image), at + len(images))
        images += image
    open(path("multi.cur"), "wb").write(struct.pack("<HHH", 0, 2, len(parts)) + directory + images)
    ani("multi.ani", ["multi.cur"])


def main():
    os.makedirs(OUT, exist_ok=True)
    pil_fixtures()
    gifsicle_fixtures()
    gifbuild_fixtures()
    for name in ("still.gif", "interlaced.gif", "anim.gif", "loop65535.gif", "optimised.gif", "transparent.gif",
                 "localonly.gif", "handmade.gif", "mono.gif"):
        write_expect(name)
    cursor_fixtures()


if __name__ == "__main__":
    main()
