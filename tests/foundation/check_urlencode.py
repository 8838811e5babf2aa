"""Compares the URL encoding the foundation test wrote, for every byte value and for all of
them at once, with python's urllib.parse.quote(..., safe='').

The one difference is intended: quote leaves "~" as it is (an unreserved character of RFC
3986), while the update query encodes it as %7E; everything else must agree byte for byte,
the blank as %20 and every byte above 127 as one %XX of its own."""
import sys
from urllib.parse import quote

INTENDED = {ord("~"): "%7E"}


def expected(data: bytes) -> str:
    return "".join(INTENDED.get(b) or quote(bytes([b]), safe="") for b in data)


lines = open(sys.argv[1], encoding="ascii").read().splitlines()
if len(lines) != 257:
    print(f"expected 257 lines, found {len(lines)}")
    sys.exit(1)

errors = []
for line in lines[:256]:
    byte, encoded = line.split("\t")
    b = int(byte)
    if encoded != expected(bytes([b])):
        errors.append(f"byte {b}: {encoded!r}, expected {expected(bytes([b]))!r}")
tag, encoded_all = lines[256].split("\t")
if tag != "all" or encoded_all != expected(bytes(range(256))):
    errors.append("the text of all 256 bytes is encoded differently")
if sorted(int(l.split("\t")[0]) for l in lines[:256]) != list(range(256)):
    errors.append("not every byte value is there once")

if errors:
    print("\n".join(errors))
    sys.exit(1)
print("all 256 byte values encoded as urllib.parse.quote does, apart from '~' -> %7E")
