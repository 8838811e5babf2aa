"""Checks the Base64 texts the net test wrote ("hex-data text" per line) with python's
base64 module, both ways."""
import base64
import binascii
import sys

lines = [l for l in open(sys.argv[1], encoding="ascii").read().split("\n") if l]
if len(lines) < 70:
    print(f"expected at least 70 lines, found {len(lines)}")
    sys.exit(1)
errors = []
for line in lines:
    hexdata, _, text = line.partition(" ")
    data = bytes.fromhex(hexdata)
    if base64.b64encode(data).decode() != text:
        errors.append(f"{hexdata}: ours {text}, python {base64.b64encode(data).decode()}")
    elif base64.b64decode(text, validate=True) != data:
        errors.append(f"{text} does not decode back")
print(f"{len(lines)} Base64 texts compared")
for e in errors:
    print(e)
sys.exit(1 if errors else 0)
