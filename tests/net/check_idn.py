"""Checks the Punycode labels and ASCII host names the net test wrote against python's own
punycode and idna codecs ("kind hex-utf8 ours" per line)."""
import sys

lines = [l for l in open(sys.argv[1], encoding="ascii").read().split("\n") if l]
errors = []
for line in lines:
    kind, hexdata, ours = line.split(" ")
    text = bytes.fromhex(hexdata).decode("utf-8")
    want = text.encode(kind).decode("ascii")
    if ours != want:
        errors.append(f"{kind} {text!r}: ours {ours}, python {want}")
    if text.encode(kind).decode(kind) != text:
        errors.append(f"{kind} {text!r} does not decode back in python")
print(f"{len(lines)} names compared")
for e in errors:
    print(e)
sys.exit(1 if errors or len(lines) < 10 else 0)
