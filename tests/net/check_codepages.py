"""Checks the single-byte code-page conversions the net test wrote against python's codecs.

Each line is "codepage hex,hex,..." with the UTF-8 of every byte value, "-" where the system
did not convert. Pages python has no codec for are skipped, and so are bytes python leaves
undefined (Windows maps many of them to C1 controls or a best-fit character).

KNOWN lists where the Windows tables themselves differ from the ones python follows: 28597
is ISO 8859-7 of 1987 (no euro, drachma or ypogegrammeni; other quotation marks), 28598
has the overline at 0xAF and leaves the direction marks undefined, 21866 is KOI8-RU, 864
keeps the ASCII percent sign, and the Mac page has the ohm sign for the omega."""
import codecs
import sys


def codec_for(cp):
    names = {10000: "mac_roman", 20127: "ascii", 20866: "koi8_r", 21866: "koi8_u", 38598: "iso8859_8",
             858: "cp858", 1140: "cp1140"}
    if cp in names:
        return names[cp]
    if 28591 <= cp <= 28605:
        return f"iso8859_{cp - 28590}"
    return f"cp{cp}"


KNOWN = {
    (28597, 0xA1): "\u02bd", (28597, 0xA2): "\u02bc", (28597, 0xA4): "\uf7c2", (28597, 0xA5): "\uf7c3",
    (28597, 0xAA): "\uf7c4", (28598, 0xAF): "\u203e", (28598, 0xFD): "\uf7bf", (28598, 0xFE): "\uf7c0",
    (21866, 0xAE): "\u045e", (21866, 0xBE): "\u040e", (864, 0x25): "%", (10000, 0xBD): "\u2126",
}

lines = [l for l in open(sys.argv[1], encoding="ascii").read().split("\n") if l]
errors = []
checked = 0
for line in lines:
    cp_text, _, cells = line.partition(" ")
    cp = int(cp_text)
    try:
        codecs.lookup(codec_for(cp))
    except LookupError:
        continue
    checked += 1
    for b, cell in enumerate(cells.split(",")):
        try:
            want = bytes([b]).decode(codec_for(cp))
        except UnicodeDecodeError:
            continue
        ours = "<none>" if cell == "-" else bytes.fromhex(cell).decode("utf-8")
        want = KNOWN.get((cp, b), want)
        if ours != want:
            errors.append(f"code page {cp} byte 0x{b:02x}: ours {ours!r}, python {want!r}")
print(f"{checked} code pages compared")
for e in errors:
    print(e)
sys.exit(1 if errors or checked < 20 else 0)
