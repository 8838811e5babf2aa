#!/usr/bin/env python3
"""curl as the reference client: fetches the URLs the HTTP client fetched from nginx, with the
same request options, and compares the bodies byte for byte.

  check_http_curl.py <site dir>   (holds port and the client-<name>.bin files)
"""
import os
import subprocess
import sys

site = sys.argv[1]
port = open(os.path.join(site, "port")).read().strip()
base = "http://127.0.0.1:" + port
cases = {
    "plain": ["--http1.0", base + "/file.txt"],
    "gzip": ["--http1.1", "-H", "Accept-Encoding: gzip", base + "/file.txt"],
    # Without following: the last relocation's own answer.
    "loop": ["--http1.1", base + "/loop"],
}
failed = False
for name, args in cases.items():
    mine = os.path.join(site, "client-%s.bin" % name)
    if not os.path.exists(mine):
        print("missing", mine)
        failed = True
        continue
    ref = subprocess.run(["curl", "-s", "--noproxy", "*"] + args, check=True, capture_output=True).stdout
    got = open(mine, "rb").read()
    if got != ref:
        print("%s: %d bytes from the client, %d from curl" % (name, len(got), len(ref)))
        failed = True
    else:
        print("%s: %d bytes, same as curl" % (name, len(got)))
sys.exit(1 if failed else 0)
