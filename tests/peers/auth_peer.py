#!/usr/bin/env python3
"""A web server that asks for credentials (401) and checks them, for the HTTP client's
authentication tests, on an ephemeral port of 127.0.0.1.

  auth_peer.py start <dir> <certs> | stop <dir> | serve <dir> <certs>

It listens three times: "plain" for HTTP, "tls1" and "tls2" for HTTPS with the net test's
server certificate from <certs>; <dir>/ports.txt holds "name port" lines.

The user is "user" with the password "pass" (NTLM: "User" / "Password", the names of the
published NTLM examples, so that the answer can be checked against their known responses).
Every answer that grants access has the body "ok <listener> <connection> <request on it>"
(then what the request carried as its body), so a test can count the round trips of one
authenticated request and see which server answered.

  /basic          Basic realm "peer"; a 401 carries a body that must not reach the document
  /basic-close    the same, but every 401 closes the connection
  /digest         Digest MD5, qop "auth,auth-int"; the response is checked with the method
                  and the path as the uri, and qop must be "auth"
  /digest256      Digest SHA-256, qop "auth"
  /digest-sess    Digest with the algorithm MD5-sess, which the client does not answer
  /digest-int     Digest MD5 offering qop "auth-int" alone: the response covers the body
  /digest-tokens  Digest MD5 whose parameters are bare tokens and repeat (the first counts):
                  realm=peer, algorithm=MD5 twice, nonce=<hex> then nonce=2, qop=auth
  /digest-escapes Digest MD5 whose realm, nonce and opaque hold escaped backslashes and
                  quotes (realm "pe\\er-256", nonce "n\\2", opaque "o\"p"); the answer must quote
                  them escaped again, and the realm's "-256" names no algorithm
  /combined       one field offering Basic and Digest MD5 (qop "auth"); says in the body
                  which one was used
  /combined-sess  the same with a Digest the client does not answer (MD5-sess)
  /newauth        one field whose first challenge has an unknown scheme and parameters (one
                  a quoted string holding a comma), then Basic; grants Basic
  /digest-two     one field with two Digest challenges, SHA-512-256 first, then MD5
  /digest-stale   Digest MD5 whose first nonce goes stale: a right answer to it gets a new
                  nonce "st2" with stale=true, a right answer to that is granted
  /basic-lookalike offers only the scheme "Basicx", which no client knows: a Basic
                  answer is not granted
  /open           needs no credentials: 200 with the request's body as the answer's body
  /moved          302 to /open, setting a cookie
  /ntlm           NTLM only: a type-1 message gets a type-2 challenge 0123456789abcdef on the
                  same connection; a type-3 message on it is granted when its NT response is
                  the known one for "Password" and its user is "User"
  /ntlm-basic     offers NTLM and Basic; says in the body which one was used
  /ntlm-bad       NTLM with a type-2 message whose target name lies outside the message
  /ntlm-empty     answers a type-1 message with a bare "NTLM" challenge
  /echo           always granted; the body is the request header as it arrived
  /407-ntlm       a 407 offering NTLM, from a server that is no proxy
  http://proxied.test/...   the peer plays a proxy: without "Proxy-Authorization: Basic" for
                  user/pass a 407 offering NTLM and Basic (kept alive); else the path as above
  /zeros?mb=N     always granted; N MiB of zero bytes (for the benchmarks)
"""
import base64
import hashlib
import os
import signal
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time

import peer_daemon

USER, PASSWORD = "user", "pass"
REALM = "peer"
NONCE = base64.b64encode(os.urandom(12)).decode()
TOKEN_NONCE = os.urandom(12).hex()
OPAQUE = "0pq"
# [MS-NLMP] 4.2.2: the NTLMv1 NT response of the password "Password" to this challenge.
NTLM_CHALLENGE = bytes.fromhex("0123456789abcdef")
NTLM_NT_RESPONSE = bytes.fromhex("67c43011f30298a2ad35ece64f16331c44bdbed927841f94")

conn_lock = threading.Lock()
conn_count = [0]


def ntlm_type2(bad=False):
    target = "PEER".encode("utf-16-le")
    offset = 4096 if bad else 48
    msg = (b"NTLMSSP\x00" + struct.pack("<I", 2) + struct.pack("<HHI", len(target), len(target), offset) +
           struct.pack("<I", 0xE2028233 & ~0x00080000) + NTLM_CHALLENGE + b"\x00" * 8 +
           struct.pack("<HHI", 0, 0, 48 + len(target)) + target)
    return base64.b64encode(msg).decode()


def ntlm_field(msg, at):
    length, _, offset = struct.unpack_from("<HHI", msg, at)
    if offset + length > len(msg):
        raise ValueError("field outside the message")
    return msg[offset:offset + length]


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, name, tls=None):
        self.name = name.encode()
        self.tls = tls
        super().__init__(("127.0.0.1", 0), Handler)

    def get_request(self):
        sock, addr = super().get_request()
        if self.tls:
            # The handshake runs in the connection's thread, not in the one that accepts.
            sock = self.tls.wrap_socket(sock, server_side=True, do_handshake_on_connect=False)
        return sock, addr


class Handler(socketserver.BaseRequestHandler):
    def read_request(self):
        while b"\r\n\r\n" not in self.buf:
            data = self.request.recv(65536)
            if not data:
                return None
            self.buf += data
        end = self.buf.index(b"\r\n\r\n") + 4
        head, self.buf = self.buf[:end], self.buf[end:]
        headers = {}
        for line in head.decode("latin-1").split("\r\n")[1:]:
            k, _, v = line.partition(":")
            if k:
                headers[k.strip().lower()] = v.strip()
        length = int(headers.get("content-length", "0") or 0)
        while len(self.buf) < length:
            data = self.request.recv(65536)
            if not data:
                return None
            self.buf += data
        body, self.buf = self.buf[:length], self.buf[length:]
        return head, headers, body

    def handle(self):
        with conn_lock:
            conn_count[0] += 1
            self.conn = conn_count[0]
        self.buf = b""
        self.ntlm_challenged = False
        number = 0
        try:
            if self.server.tls:
                self.request.do_handshake()
            while True:
                req = self.read_request()
                if req is None:
                    break
                number += 1
                head, headers, body = req
                method, target, version = head.split(b"\r\n", 1)[0].decode("latin-1").split(" ")
                self.body = body
                if not self.answer(method, target, version, head, headers, number):
                    break
        except (OSError, ValueError, IndexError, struct.error, ssl.SSLError):
            pass
        try:
            self.request.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    def send(self, status, body=b"", headers=(), close=False):
        head = "HTTP/1.1 %s\r\n" % status
        for h in headers:
            head += h + "\r\n"
        if close:
            head += "Connection: close\r\n"
        elif self.keep10:
            head += "Connection: keep-alive\r\n"
        head += "Content-Length: %d\r\n\r\n" % len(body)
        self.request.sendall(head.encode() + body)
        return not close

    def granted(self, number, extra=b""):
        body = b"ok %s %d %d%s" % (self.server.name, self.conn, number, extra)
        if self.body:
            body += b" " + self.body
        return self.send("200 OK", body)

    def answer(self, method, target, version, head, headers, number):
        path = target.split("?")[0]
        if "://" in path:
            path = "/" + path.split("://", 1)[1].partition("/")[2]
        auth = headers.get("authorization", "")
        self.keep10 = version == "HTTP/1.0" and headers.get("connection", "").lower() == "keep-alive"
        keep = version == "HTTP/1.1" or self.keep10
        denied_body = b"<html>denied</html>"
        if target.startswith("http://proxied.test/") and \
                headers.get("proxy-authorization", "") != "Basic " + base64.b64encode(b"user:pass").decode():
            # Played as a proxy: every request carries the Basic credentials, else a 407.
            return self.send("407 Proxy Authentication Required", denied_body,
                             ["Proxy-Authenticate: NTLM", 'Proxy-Authenticate: Basic realm="proxy"'], close=not keep)
        if path == "/407-ntlm":
            # A web server (no proxy) asking as if it were one.
            return self.send("407 Proxy Authentication Required", denied_body, ["Proxy-Authenticate: NTLM"],
                             close=not keep)
        if path == "/echo":
            return self.send("200 OK", head)
        if path == "/open":
            return self.send("200 OK", self.body)
        if path == "/moved":
            return self.send("302 Found", b"", ["Location: /open", "Set-Cookie: seen=1"], close=not keep)
        if path == "/zeros":
            size = int(target.partition("mb=")[2] or "1") << 20
            self.request.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % size)
            block = bytes(1 << 20)
            for _ in range(size >> 20):
                self.request.sendall(block)
            return keep
        if path in ("/basic", "/basic-close"):
            if auth == "Basic " + base64.b64encode(b"user:pass").decode():
                return self.granted(number) and keep
            return self.send("401 Unauthorized", denied_body, ['WWW-Authenticate: Basic realm="peer"'],
                             close=path == "/basic-close" or not keep)
        if path == "/digest-tokens":
            if auth.startswith("Digest ") and self.digest_ok(auth[7:], method, target, "MD5", nonce=TOKEN_NONCE):
                return self.granted(number) and keep
            return self.send("401 Unauthorized", denied_body,
                             ["WWW-Authenticate: Digest realm=%s, algorithm=MD5, algorithm=MD5, nonce=%s, nonce=2, "
                              "opaque=%s, qop=auth" % (REALM, TOKEN_NONCE, OPAQUE)], close=not keep)
        if path == "/digest-escapes":
            fields = auth_params(auth[7:]) if auth.startswith("Digest ") else {}
            realm, nonce, opaque = 'pe\\er-256', 'n\\2', 'o"p'
            ha1 = hashlib.md5(("%s:%s:%s" % (USER, realm, PASSWORD)).encode()).hexdigest()
            ha2 = hashlib.md5(("%s:%s" % (method, target)).encode()).hexdigest()
            want = hashlib.md5(":".join([ha1, nonce, fields.get("nc", ""), fields.get("cnonce", ""), "auth",
                                         ha2]).encode()).hexdigest()
            if (fields.get("realm") == realm and fields.get("nonce") == nonce and fields.get("opaque") == opaque
                    and fields.get("username") == USER and fields.get("response") == want):
                return self.granted(number) and keep
            return self.send("401 Unauthorized", denied_body,
                             ['WWW-Authenticate: Digest realm="pe\\\\er-256", nonce="n\\\\2", opaque="o\\"p", '
                              'qop="auth", algorithm=MD5'], close=not keep)
        if path in ("/combined", "/combined-sess"):
            algorithm = "MD5-sess" if path == "/combined-sess" else "MD5"
            if auth == "Basic " + base64.b64encode(b"user:pass").decode():
                return self.granted(number, b" basic") and keep
            if auth.startswith("Digest ") and self.digest_ok(auth[7:], method, target, algorithm):
                return self.granted(number, b" digest") and keep
            return self.send("401 Unauthorized", denied_body,
                             ['WWW-Authenticate: Basic realm="%s", Digest realm="%s", nonce="%s", opaque="%s", '
                              'qop="auth", algorithm=%s' % (REALM, REALM, NONCE, OPAQUE, algorithm)], close=not keep)
        if path == "/newauth":
            if auth == "Basic " + base64.b64encode(b"user:pass").decode():
                return self.granted(number, b" basic") and keep
            return self.send("401 Unauthorized", denied_body,
                             ['WWW-Authenticate: Newauth realm="apps", type=1, title="Login, please", '
                              'Basic realm="simple"'], close=not keep)
        if path == "/digest-two":
            if auth.startswith("Digest ") and self.digest_ok(auth[7:], method, target, "MD5"):
                return self.granted(number) and keep
            return self.send("401 Unauthorized", denied_body,
                             ['WWW-Authenticate: Digest realm="%s", nonce="other", qop="auth", algorithm=SHA-512-256, '
                              'Digest realm="%s", nonce="%s", opaque="%s", qop="auth", algorithm=MD5'
                              % (REALM, REALM, NONCE, OPAQUE)], close=not keep)
        if path == "/digest-stale":
            if auth.startswith("Digest ") and self.digest_ok(auth[7:], method, target, "MD5", nonce="st2"):
                return self.granted(number) and keep
            stale = auth.startswith("Digest ") and self.digest_ok(auth[7:], method, target, "MD5")
            return self.send("401 Unauthorized", denied_body,
                             ['WWW-Authenticate: Digest realm="%s", nonce="%s", opaque="%s", qop="auth", '
                              'algorithm=MD5%s' % (REALM, "st2" if stale else NONCE, OPAQUE,
                                                   ", stale=true" if stale else "")], close=not keep)
        if path == "/basic-lookalike":
            if auth == "Basic " + base64.b64encode(b"user:pass").decode():
                return self.granted(number) and keep
            return self.send("401 Unauthorized", denied_body, ['WWW-Authenticate: Basicx realm="peer"'],
                             close=not keep)
        if path in ("/digest", "/digest256", "/digest-sess", "/digest-int"):
            algorithm = {"/digest-sess": "MD5-sess", "/digest256": "SHA-256"}.get(path, "MD5")
            qop = {"/digest": "auth,auth-int", "/digest-int": "auth-int"}.get(path, "auth")
            if auth.startswith("Digest ") and self.digest_ok(auth[7:], method, target, algorithm,
                                                             self.body if path == "/digest-int" else None):
                return self.granted(number) and keep
            return self.send("401 Unauthorized", denied_body,
                             ['WWW-Authenticate: Digest realm="%s", nonce="%s", opaque="%s", qop="%s", '
                              'algorithm=%s' % (REALM, NONCE, OPAQUE, qop, algorithm)], close=not keep)
        if path in ("/ntlm", "/ntlm-basic", "/ntlm-bad", "/ntlm-empty"):
            offers = ["WWW-Authenticate: NTLM"]
            if path == "/ntlm-basic":
                offers.append('WWW-Authenticate: Basic realm="peer"')
                if auth == "Basic " + base64.b64encode(b"user:pass").decode():
                    return self.granted(number, b" basic") and keep
            if auth.startswith("NTLM "):
                msg = base64.b64decode(auth[5:])
                if msg[:8] == b"NTLMSSP\x00" and msg[8] == 1 and path == "/ntlm-empty":
                    return self.send("401 Unauthorized", b"", ["WWW-Authenticate: NTLM"])
                if msg[:8] == b"NTLMSSP\x00" and msg[8] == 1:
                    self.ntlm_challenged = True
                    return self.send("401 Unauthorized", b"",
                                     ["WWW-Authenticate: NTLM " + ntlm_type2(bad=path == "/ntlm-bad")])
                if msg[:8] == b"NTLMSSP\x00" and msg[8] == 3 and self.ntlm_challenged:
                    self.ntlm_challenged = False
                    user = ntlm_field(msg, 36)
                    if ntlm_field(msg, 20) == NTLM_NT_RESPONSE and user in ("User".encode("utf-16-le"), b"User"):
                        return self.granted(number, b" ntlm") and keep
            return self.send("401 Unauthorized", denied_body, offers, close=not keep)
        return self.send("404 Not Found", b"no such page", close=not keep)

    @staticmethod
    def digest_ok(value, method, target, algorithm, body=None, nonce=NONCE):
        fields = {}
        for part in value.split(","):
            k, _, v = part.strip().partition("=")
            fields[k] = v.strip('"')
        if algorithm == "MD5-sess":
            return False
        qop = "auth" if body is None else "auth-int"
        if fields.get("uri") != target or fields.get("qop") != qop or fields.get("nonce") != nonce:
            return False
        if fields.get("opaque") != OPAQUE or fields.get("username") != USER:
            return False
        h = (lambda t: hashlib.sha256(t.encode()).hexdigest()) if algorithm == "SHA-256" else \
            (lambda t: hashlib.md5(t.encode()).hexdigest())
        ha1 = h("%s:%s:%s" % (USER, REALM, PASSWORD))
        a2 = "%s:%s" % (method, target)
        if body is not None:
            a2 += ":" + hashlib.md5(body).hexdigest()
        ha2 = h(a2)
        want = h(":".join([ha1, nonce, fields.get("nc", ""), fields.get("cnonce", ""), qop, ha2]))
        return fields.get("response") == want


def auth_params(text):
    """name=token or name="quoted string" pairs, quoted values unescaped (RFC 9110 5.6.4)."""
    fields, i, n = {}, 0, len(text)
    while i < n:
        while i < n and text[i] in " \t,":
            i += 1
        start = i
        while i < n and text[i] not in "= \t,":
            i += 1
        name = text[start:i].lower()
        while i < n and text[i] in " \t":
            i += 1
        if i >= n or text[i] != "=":
            while i < n and text[i] != ",":
                i += 1
            continue
        i += 1
        while i < n and text[i] in " \t":
            i += 1
        value = ""
        if i < n and text[i] == '"':
            i += 1
            while i < n and text[i] != '"':
                if text[i] == "\\" and i + 1 < n:
                    i += 1
                value += text[i]
                i += 1
            i += 1
        else:
            start = i
            while i < n and text[i] != ",":
                i += 1
            value = text[start:i].strip()
        fields.setdefault(name, value)
    return fields


def serve(folder, certs):
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    tls.load_cert_chain(os.path.join(certs, "server.pem"), os.path.join(certs, "server.key"))
    lines = []
    for name, context in (("plain", None), ("tls1", tls), ("tls2", tls)):
        server = Server(name, context)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        lines.append("%s %d\n" % (name, server.server_address[1]))
    peer_daemon.publish(folder, "ports.txt", "".join(lines))
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(0))
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    peer_daemon.run(__file__, serve, "ports.txt", "auth peer")
