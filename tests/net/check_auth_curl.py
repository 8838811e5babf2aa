#!/usr/bin/env python3
"""curl as the reference client of the authentication peers: the web server that asks for
Basic, Digest and NTLM (tests/peers/auth_peer.py) must grant curl what it grants the HTTP
client, and squid's access log gives the round trips curl needs through the proxy, to set
beside the client's (HttpAuth tests print theirs).

  check_auth_curl.py <auth peer dir> <proxy peers dir> <certs dir>
"""
import os
import subprocess
import sys
import time


def ports(path):
    out = {}
    with open(path) as f:
        for line in f:
            name, port = line.split()
            out[name] = port
    return out


auth = ports(os.path.join(sys.argv[1], "ports.txt"))
proxies = ports(os.path.join(sys.argv[2], "ports.txt"))
ca = os.path.join(sys.argv[3], "ca.pem")
plain = "http://127.0.0.1:" + auth["plain"]
tls = "https://127.0.0.1:" + auth["tls1"]


def curl(args):
    # Only the proxy a check names: never one from the environment.
    if "-x" not in args:
        args = ["--noproxy", "*"] + args
    run = subprocess.run(["curl", "-s", "--max-time", "20", "--cacert", ca, "-w", " %{http_code}"] + args,
                         capture_output=True)
    return run.stdout.decode("latin-1")


failed = False


def expect(name, got, start, end):
    global failed
    ok = got.startswith(start) and got.endswith(end)
    print("%-40s %s" % (name, "ok" if ok else "FAILED: " + got[-200:]))
    failed |= not ok


# The server's own challenges.
for name, args, start in (
        ("basic", ["--basic", "-u", "user:pass", plain + "/basic"], "ok plain"),
        ("digest md5, qop list", ["--digest", "-u", "user:pass", plain + "/digest"], "ok plain"),
        ("digest sha-256", ["--digest", "-u", "user:pass", plain + "/digest256"], "ok plain"),
        ("ntlm", ["--ntlm", "-u", "User:Password", plain + "/ntlm"], "ok plain"),
        ("ntlm over tls", ["--ntlm", "-u", "User:Password", tls + "/ntlm"], "ok tls1")):
    expect(name, curl(args), start, " 200")
expect("basic wrong password", curl(["--basic", "-u", "user:nope", plain + "/basic"]), "<html>denied", " 401")
expect("ntlm wrong password", curl(["--ntlm", "-u", "User:nope", plain + "/ntlm"]), "<html>denied", " 401")

# Through squid, counting the lines it logs for each request.
squid = proxies.get("squid")
if squid:
    log = os.path.join(sys.argv[2], "squid", "access.log")

    def lines():
        try:
            with open(log) as f:
                return len(f.readlines())
        except OSError:
            return 0

    for how in ("--proxy-basic", "--proxy-digest", "--proxy-ntlm"):
        for url, start in ((plain + "/echo", "GET /echo"), (tls + "/echo", "GET /echo")):
            before = lines()
            got = curl(["-x", "http://127.0.0.1:" + squid, how, "-U", "user:pass", url])
            expect("squid %s %s" % (how, url.split(":")[0]), got, start, " 200")
            end = time.time() + 5
            while lines() == before and time.time() < end:
                time.sleep(0.1)
            time.sleep(0.3)
            print("[ round trips ] curl through squid %s %s: %d" % (how, url.split(":")[0], lines() - before))
    before = lines()
    got = curl(["-x", "http://127.0.0.1:" + squid, "--proxy-digest", "-U", "user:nope", plain + "/echo"])
    expect("squid digest wrong password", got, "", " 407")
else:
    print("squid not running: proxy checks skipped")
sys.exit(1 if failed else 0)
