"""Checks the DES cases the net test wrote ("key plain cipher" in hex per line) against the
host's openssl, which shares no code with ours."""
import subprocess
import sys

lines = open(sys.argv[1], encoding="ascii").read().split("\n")
cases = [line.split() for line in lines if line.strip()]
if not cases:
    print("no DES cases written")
    sys.exit(1)
errors = []
for key, plain, cipher in cases:
    want = subprocess.run(
        ["openssl", "enc", "-des-ecb", "-nopad", "-provider", "legacy", "-provider", "default", "-K", key],
        input=bytes.fromhex(plain), capture_output=True, check=True).stdout.hex()
    if want != cipher:
        errors.append(f"key {key} plain {plain}: ours {cipher}, openssl {want}")
print(f"{len(cases)} DES cases compared")
for e in errors:
    print(e)
sys.exit(1 if errors else 0)
