#!/usr/bin/env python3
"""Local SOCKS and HTTP CONNECT proxies for the proxy-layer tests, on ephemeral ports of
127.0.0.1. Nothing is forwarded anywhere: once a connection is granted the proxy itself
plays the target, sending "req=<hex of the request it got>\\n" (in the same segment as its
grant) and then echoing. What it does is chosen by the target host name:

  SOCKS (ports socks5, socks5auth with user "user" / password "pass", socks4 for 4 and 4A)
    any name          granted
    fwd.test          granted and joined to 127.0.0.1 at the asked port (5 and 4A; for 4 the
                      address 127.0.0.2)
    pieces.test       the reply is sent one byte at a time
    longbound.test    the reply names a bound domain of 255 bytes
    refuse.test       refused (SOCKS 5 code 5, SOCKS 4 code 91)
    close.test        SOCKS 5: closed without a reply to the connect request
  port socks5pushy picks user/password whatever was offered and takes any credentials
    badatyp.test      a SOCKS 5 reply with address type 9
  socks5v6, httpv6  the socks5 and http proxies again, on ::1
  HTTP CONNECT (port http; user "user", password "pass")
    open.test, [::1]  200
    basic.test        407 offering Basic with Proxy-Connection: close, then 200 for Basic
    connclose.test    407 offering Basic with Connection: close (and no Proxy-Connection),
                      closing 0.3 s later without reading more, then 200 for Basic
    digest.test       407 offering Digest (qop "auth,auth-int") kept alive, then 200 for a
                      response checked with the method CONNECT and the uri host:port
    digesttwo.test    407 offering Digest twice, MD5 first, then SHA-512-256 (not answerable)
    digeststale.test  407 offering Digest nonce "st1"; a right answer with it is granted the first
                      time (nc 1), afterwards it is stale: 407 with nonce "st2", stale=true
    ntlm.test         407 NTLM, a type-2 challenge for a type-1 message, 200 for a type 3
    ntlmbigN.test     the same with a challenge whose target info is N bytes; an empty
                      type-3 answer ("NTLM" and nothing) gets 400
    chunked.test      407 offering Basic with a chunked body kept alive, then 200
    forbidden.test    403
    cut.test          closes in the middle of its answer
    longchunk.test    407 offering Basic with a chunk line of 5000 bytes, then 200 for Basic
    digestint.test    407 offering Digest with qop "auth-int" only, then 200 for a response
                      over the empty entity
    http10.test       "HTTP/1.0 200"
    longline.test     200 with a 3000-byte header line
    hugelen.test      407 with a Content-Length of 30 digits
    hugechunk.test    407 with a chunk size of 20 hex digits
    early.test        200 and, in the same write, a plain HTTP server's answer (a target that
                      speaks first); then waits up to 5 s for the client to close
    lenok.test        200 with "Content-Length: 5", the target's bytes in the same write
    chunkedok.test    200 with "Transfer-Encoding: chunked", the same
    lenfwd.test, chunkedfwd.test   those two 200s, then joined to 127.0.0.1 at the asked port
    silent.test       407 offering Basic kept alive; the next request on that connection is
                      read and the connection closed without an answer; 200 for Basic on a
                      new connection

Reference proxies, started when installed (each on a free port; helpers stopped with them):
  squid        squid offering Basic (basic_fake_auth), Digest (digest_file_auth, which checks
               the response against user/pass) and NTLM (ntlm_fake_auth); its access log
               is <dir>/squid/access.log
  microsocks, microsocksauth   microsocks without and with user/pass

  proxy_peers.py start <dir> | stop <dir> | serve <dir>   (as socket_peers.py)
"""
import base64
import shutil
import hashlib
import os
import socket
import socketserver
import struct
import subprocess
import threading
import time

import peer_daemon

USER, PASSWORD = b"user", b"pass"


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


class Server6(Server):
    address_family = socket.AF_INET6


def read_exact(sock, n):
    data = b""
    while len(data) < n:
        chunk = sock.recv(n - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return data


def forward(sock, reply, port):
    """Grants and joins the client to 127.0.0.1:port (a target reached only this way)."""
    import socket as socketmod
    target = socketmod.create_connection(("127.0.0.1", port))
    sock.sendall(reply)

    def pump(a, b):
        try:
            while True:
                data = a.recv(65536)
                if not data:
                    break
                b.sendall(data)
        except OSError:
            pass
        try:
            b.shutdown(socketmod.SHUT_WR)
        except OSError:
            pass

    t = threading.Thread(target=pump, args=(target, sock), daemon=True)
    t.start()
    pump(sock, target)
    t.join(30)
    target.close()


def play_target(sock, reply, request, pieces=False):
    out = reply + b"req=" + request.hex().encode() + b"\n"
    if pieces:
        for i in range(len(reply)):
            sock.sendall(reply[i:i + 1])
            time.sleep(0.02)
        sock.sendall(out[len(reply):])
    else:
        sock.sendall(out)
    while True:
        data = sock.recv(65536)
        if not data:
            return
        sock.sendall(data)


class Socks5(socketserver.BaseRequestHandler):
    need_auth = False

    def handle(self):
        s = self.request
        try:
            ver, n = read_exact(s, 2)
            methods = read_exact(s, n)
            want = 2 if self.need_auth else 0
            if want not in methods:
                s.sendall(b"\x05\xff")
                return
            s.sendall(bytes([5, want]))
            if want == 2:
                _, ulen = read_exact(s, 2)
                user = read_exact(s, ulen)
                plen = read_exact(s, 1)[0]
                pw = read_exact(s, plen)
                ok = user == USER and pw == PASSWORD
                s.sendall(b"\x01\x00" if ok else b"\x01\x01")
                if not ok:
                    return
            head = read_exact(s, 4)
            atyp = head[3]
            if atyp == 1:
                rest = read_exact(s, 4 + 2)
                name = b""
            elif atyp == 3:
                ln = read_exact(s, 1)
                name = read_exact(s, ln[0])
                rest = ln + name + read_exact(s, 2)
            else:
                rest = read_exact(s, 16 + 2)
                name = b""
            request = head + rest
            if name == b"refuse.test":
                s.sendall(b"\x05\x05\x00\x01\x00\x00\x00\x00\x00\x00")
                return
            if name == b"close.test":
                return
            if name == b"badatyp.test":
                s.sendall(b"\x05\x00\x00\x09\x00\x00\x00\x00\x00\x00")
                return
            if name == b"fwd.test":
                forward(s, b"\x05\x00\x00\x01\x7f\x00\x00\x01\x10\x92", struct.unpack(">H", rest[-2:])[0])
                return
            if name == b"longbound.test":
                bound = b"b" * 255
                reply = b"\x05\x00\x00\x03" + bytes([255]) + bound + struct.pack(">H", 4242)
            else:
                reply = b"\x05\x00\x00\x01\x7f\x00\x00\x01" + struct.pack(">H", 4242)
            play_target(s, reply, request, pieces=name == b"pieces.test")
        except (EOFError, OSError):
            pass


class Socks5Auth(Socks5):
    need_auth = True


class Socks5Pushy(socketserver.BaseRequestHandler):
    """Picks user/password whatever was offered, accepts any credentials and grants."""

    def handle(self):
        s = self.request
        try:
            _, n = read_exact(s, 2)
            read_exact(s, n)
            s.sendall(b"\x05\x02")
            _, ulen = read_exact(s, 2)
            read_exact(s, ulen)
            read_exact(s, read_exact(s, 1)[0])
            s.sendall(b"\x01\x00")
            head = read_exact(s, 4)
            rest = read_exact(s, 6 if head[3] == 1 else (18 if head[3] == 4 else 0))
            if head[3] == 3:
                ln = read_exact(s, 1)
                rest = ln + read_exact(s, ln[0] + 2)
            play_target(s, b"\x05\x00\x00\x01\x7f\x00\x00\x01\x10\x92", head + rest)
        except (EOFError, OSError):
            pass


class Socks4(socketserver.BaseRequestHandler):
    def handle(self):
        s = self.request
        try:
            head = read_exact(s, 8)
            request = head

            def cstr():
                out = b""
                while True:
                    c = read_exact(s, 1)
                    if c == b"\x00":
                        return out
                    out += c

            user = cstr()
            request += user + b"\x00"
            name = b""
            if head[4:7] == b"\x00\x00\x00" and head[7] != 0:
                name = cstr()
                request += name + b"\x00"
            if name == b"refuse.test":
                s.sendall(b"\x00\x5b" + b"\x00" * 6)
                return
            if name == b"fwd.test" or head[4:8] == b"\x7f\x00\x00\x02":
                forward(s, b"\x00\x5a" + head[2:8], struct.unpack(">H", head[2:4])[0])
                return
            play_target(s, b"\x00\x5a" + head[2:8], request, pieces=name == b"pieces.test")
        except (EOFError, OSError):
            pass


def ntlm_type2_with_info(size):
    """A type-2 challenge whose target info is size bytes: one pair, the end pair and, for an
    odd size, a byte after it (pairs of a Unicode challenge have even lengths)."""
    value = size - 8 - size % 2
    info = struct.pack("<HH", 3, value) + b"\x00\x01" * (value // 2) + b"\x00" * 4 + b"\x00" * (size % 2)
    return base64.b64encode(
        b"NTLMSSP\x00\x02\x00\x00\x00" + struct.pack("<HHI", 0, 0, 48) + struct.pack("<I", 0x00828233) +
        bytes(range(1, 9)) + b"\x00" * 8 + struct.pack("<HHI", len(info), len(info), 48) + info).decode()


NTLM_TYPE2 = base64.b64encode(
    b"NTLMSSP\x00\x02\x00\x00\x00" + struct.pack("<HHI", 12, 12, 48) + struct.pack("<I", 0x00028233) +
    bytes(range(1, 9)) + b"\x00" * 8 + struct.pack("<HHI", 0, 0, 60) + "PROXY\x00".encode("utf-16-le")
).decode()


class HttpProxy(socketserver.BaseRequestHandler):
    def read_request(self, buf):
        while b"\r\n\r\n" not in buf:
            chunk = self.request.recv(4096)
            if not chunk:
                raise EOFError
            buf += chunk
        head, _, rest = buf.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        headers = {}
        for line in lines[1:]:
            k, _, v = line.partition(":")
            headers[k.strip().lower()] = v.strip()
        return lines[0], headers, rest

    def handle(self):
        s = self.request
        buf = b""
        challenged = False
        try:
            while True:
                line, headers, buf = self.read_request(buf)
                target = line.split(" ")[1]
                host = target.rsplit(":", 1)[0]
                auth = headers.get("proxy-authorization", "")
                request = (line + "\r\n" + auth).encode()
                ok200 = b"HTTP/1.1 200 Connection established\r\nProxy-Agent: peer\r\n\r\n"
                if host in ("open.test", "[::1]"):
                    return play_target(s, ok200, request)
                # A 2xx to CONNECT has no body, whatever its fields claim.
                len200 = b"HTTP/1.1 200 Connection established\r\nContent-Length: 5\r\n\r\n"
                chunked200 = b"HTTP/1.1 200 Connection established\r\nTransfer-Encoding: chunked\r\n\r\n"
                if host in ("lenok.test", "chunkedok.test"):
                    return play_target(s, len200 if host == "lenok.test" else chunked200, request)
                if host in ("lenfwd.test", "chunkedfwd.test"):
                    return forward(s, len200 if host == "lenfwd.test" else chunked200, int(target.rsplit(":", 1)[1]))
                if host == "silent.test":
                    good = "Basic " + base64.b64encode(USER + b":" + PASSWORD).decode()
                    if challenged:
                        return  # closes instead of answering, without having said so
                    if auth == good:
                        return play_target(s, ok200, request)
                    s.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                              b"Proxy-Authenticate: Basic realm=\"peer\"\r\nContent-Length: 5\r\n\r\nnope!")
                    challenged = True
                    continue
                if host == "forbidden.test":
                    s.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
                    continue
                if host == "cut.test":
                    # Closes in the middle of its answer.
                    s.sendall(b"HTTP/1.1 200 Connection est")
                    time.sleep(0.2)
                    return
                if host == "longchunk.test":
                    if auth.startswith("Basic "):
                        return play_target(s, ok200, request)
                    s.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                              b"Proxy-Authenticate: Basic realm=\"peer\"\r\nTransfer-Encoding: chunked\r\n\r\n"
                              b"5;" + b"x" * 5000 + b"\r\nnope!\r\n0\r\n\r\n")
                    continue
                if host == "digestint.test":
                    if auth.startswith("Digest ") and self.digest_ok(auth[7:], target, "auth-int"):
                        return play_target(s, ok200, request)
                    s.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                              b"Proxy-Authenticate: Digest realm=\"peer\", nonce=\"abc123\", "
                              b"qop=\"auth-int\", algorithm=MD5\r\nContent-Length: 4\r\n\r\nnope")
                    continue
                if host == "http10.test":
                    return play_target(s, b"HTTP/1.0 200 Connection established\r\n\r\n", request)
                if host == "longline.test":
                    s.sendall(b"HTTP/1.1 200 OK\r\nX-Long: " + b"x" * 3000 + b"\r\n\r\n")
                    time.sleep(1)
                    return
                if host == "early.test":
                    s.sendall(ok200 + b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n")
                    s.settimeout(5)
                    try:
                        while s.recv(4096):
                            pass
                    except OSError:
                        pass
                    return
                if host == "hugelen.test":
                    s.sendall(b"HTTP/1.1 407 Auth\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"
                              b"Content-Length: 999999999999999999999999999999\r\n\r\n")
                    time.sleep(1)
                    return
                if host == "hugechunk.test":
                    s.sendall(b"HTTP/1.1 407 Auth\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"
                              b"Transfer-Encoding: chunked\r\n\r\nffffffffffffffffffff\r\nabc")
                    time.sleep(1)
                    return
                if host in ("basic.test", "chunked.test"):
                    good = "Basic " + base64.b64encode(USER + b":" + PASSWORD).decode()
                    if auth == good:
                        return play_target(s, ok200, request)
                    if host == "basic.test":
                        s.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                                  b"Proxy-Authenticate: Basic realm=\"peer\"\r\n"
                                  b"Proxy-Connection: close\r\nContent-Length: 5\r\n\r\nnope!")
                        return
                    s.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                              b"Proxy-Authenticate: Basic realm=\"peer\"\r\n"
                              b"Transfer-Encoding: chunked\r\n\r\n5\r\nnope!\r\n3;x=y\r\nabc\r\n0\r\n\r\n")
                    continue
                if host == "digest.test":
                    if auth.startswith("Digest ") and self.digest_ok(auth[7:], target):
                        return play_target(s, ok200, request)
                    s.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                              b"Proxy-Authenticate: Digest realm=\"peer\", nonce=\"abc123\", "
                              b"qop=\"auth,auth-int\", algorithm=MD5\r\nContent-Length: 4\r\n\r\nnope")
                    continue
                if host == "digesttwo.test":
                    if auth.startswith("Digest ") and self.digest_ok(auth[7:], target):
                        return play_target(s, ok200, request)
                    s.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                              b"Proxy-Authenticate: Digest realm=\"peer\", nonce=\"abc123\", qop=\"auth\", "
                              b"algorithm=MD5\r\n"
                              b"Proxy-Authenticate: Digest realm=\"peer\", nonce=\"def456\", qop=\"auth\", "
                              b"algorithm=SHA-512-256\r\nContent-Length: 4\r\n\r\nnope")
                    continue
                if host == "digeststale.test":
                    fields = dict(p.strip().partition("=")[::2] for p in auth[7:].split(","))
                    right = auth.startswith("Digest ") and self.digest_ok(auth[7:], target)
                    nonce, nc = fields.get("nonce", "").strip('"'), fields.get("nc", "")
                    if right and (nonce == "st2" or (nonce == "st1" and nc == "00000001")):
                        return play_target(s, ok200, request)
                    stale = right and nonce == "st1"
                    s.sendall(("HTTP/1.1 407 Proxy Authentication Required\r\n"
                               "Proxy-Authenticate: Digest realm=\"peer\", nonce=\"%s\", qop=\"auth\", "
                               "algorithm=MD5%s\r\nContent-Length: 4\r\n\r\nnope"
                               % ("st2" if stale else "st1", ", stale=true" if stale else "")).encode())
                    continue
                if host == "connclose.test":
                    good = "Basic " + base64.b64encode(USER + b":" + PASSWORD).decode()
                    if auth == good:
                        return play_target(s, ok200, request)
                    s.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                              b"Proxy-Authenticate: Basic realm=\"peer\"\r\n"
                              b"Connection: close\r\nContent-Length: 5\r\n\r\nnope!")
                    time.sleep(0.3)
                    return
                if host == "ntlm.test" or (host.startswith("ntlmbig") and host.endswith(".test")):
                    if host != "ntlm.test" and auth == "NTLM":
                        s.sendall(b"HTTP/1.1 400 Empty NTLM answer\r\nContent-Length: 0\r\n\r\n")
                        continue
                    if auth.startswith("NTLM "):
                        msg = base64.b64decode(auth[5:])
                        if msg[8] == 1:
                            challenge = NTLM_TYPE2 if host == "ntlm.test" else \
                                ntlm_type2_with_info(int(host[len("ntlmbig"):-len(".test")]))
                            s.sendall(("HTTP/1.1 407 Proxy Authentication Required\r\n"
                                       "Proxy-Authenticate: NTLM " + challenge +
                                       "\r\nContent-Length: 0\r\n\r\n").encode())
                            continue
                        if msg[8] == 3 and ("user".encode("utf-16-le") in msg.lower() or b"user" in msg.lower()):
                            return play_target(s, ok200, request)
                    s.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                              b"Proxy-Authenticate: NTLM\r\nContent-Length: 0\r\n\r\n")
                    continue
                s.sendall(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
        except (EOFError, OSError, IndexError, ValueError):
            pass

    @staticmethod
    def digest_ok(value, uri_expected, qop="auth"):
        fields = {}
        for part in value.split(","):
            k, _, v = part.strip().partition("=")
            fields[k] = v.strip('"')
        if fields.get("uri") != uri_expected or fields.get("qop") != qop:
            return False
        md5 = lambda t: hashlib.md5(t.encode()).hexdigest()
        ha1 = md5("user:%s:pass" % fields.get("realm"))
        # auth-int covers the entity, which a CONNECT has none of: the hash of nothing.
        ha2 = md5("CONNECT:" + uri_expected + (":" + md5("") if qop == "auth-int" else ""))
        want = md5(":".join([ha1, fields.get("nonce", ""), fields.get("nc", ""), fields.get("cnonce", ""),
                             qop, ha2]))
        return fields.get("response") == want


SQUID_CONF = """http_port 127.0.0.1:{port}
pid_filename {dir}/squid.pid
cache_log {dir}/cache.log
access_log {dir}/access.log
cache_store_log none
cache deny all
shutdown_lifetime 0 seconds
coredump_dir {dir}
{user}
auth_param basic program {helpers}/basic_fake_auth
auth_param basic realm peer
auth_param digest program {helpers}/digest_file_auth {dir}/digest.pw
auth_param digest realm peer
auth_param ntlm program {helpers}/ntlm_fake_auth
acl authed proxy_auth REQUIRED
http_access allow authed
http_access deny all
"""


def start_references(folder, lines, children):
    squid = shutil.which("squid") or ("/usr/sbin/squid" if os.path.exists("/usr/sbin/squid") else None)
    helpers = "/usr/lib/squid"
    if squid and os.path.exists(helpers + "/digest_file_auth"):
        d = os.path.join(folder, "squid")
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, "digest.pw"), "w") as f:
            f.write("user:pass\n")
        port = peer_daemon.free_port()
        # Run as root, squid changes to its own user, which must reach the folder.
        user = "cache_effective_user proxy" if os.getuid() == 0 else ""
        with open(os.path.join(d, "squid.conf"), "w") as f:
            f.write(SQUID_CONF.format(port=port, dir=d, helpers=helpers, user=user))
        if os.getuid() == 0:
            for root, dirs, files in os.walk(d):
                os.chmod(root, 0o777)
                for name in files:
                    os.chmod(os.path.join(root, name), 0o666)
        children.append(subprocess.Popen([squid, "-N", "-f", os.path.join(d, "squid.conf")],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        if peer_daemon.wait_listening(port):
            lines.append("squid %d\n" % port)
    microsocks = shutil.which("microsocks")
    if microsocks:
        for name, extra in (("microsocks", []), ("microsocksauth", ["-u", "user", "-P", "pass"])):
            port = peer_daemon.free_port()
            children.append(subprocess.Popen([microsocks, "-i", "127.0.0.1", "-p", str(port)] + extra,
                                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            if peer_daemon.wait_listening(port):
                lines.append("%s %d\n" % (name, port))


def serve(folder):
    children = []

    peer_daemon.end_children_on_term(children)
    servers = {"socks5": Socks5, "socks5auth": Socks5Auth, "socks5pushy": Socks5Pushy, "socks4": Socks4, "http": HttpProxy}
    lines = []
    for name, handler in servers.items():
        server = Server(("127.0.0.1", 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        lines.append("%s %d\n" % (name, server.server_address[1]))
    # The same SOCKS 5 and CONNECT proxies on ::1, for proxies given as IPv6 literals.
    for name, handler in (("socks5v6", Socks5), ("httpv6", HttpProxy)):
        try:
            server = Server6(("::1", 0), handler)
        except OSError:
            continue  # no IPv6 loopback here: the tests that need it skip
        threading.Thread(target=server.serve_forever, daemon=True).start()
        lines.append("%s %d\n" % (name, server.server_address[1]))
    start_references(folder, lines, children)
    peer_daemon.publish(folder, "ports.txt", "".join(lines))
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    peer_daemon.run(__file__, serve, "ports.txt", "proxy peers", tries=400)
