#!/usr/bin/env python3
"""A byte-exact HTTP peer for the HTTP client's tests, on an ephemeral port of 127.0.0.1.

  http_peer.py start <dir>   starts it in the background, writes <dir>/port and <dir>/pid
  http_peer.py stop <dir>    stops it
  http_peer.py serve <dir>   runs it in the foreground

Every answer is written by hand, so that malformed and hostile ones can be sent as they are.
Connections are numbered; "/conn" answers "<connection> <request on it>", "/echo" answers
with the request exactly as it arrived (header and body). "/raw?a=<hex>" sends the bytes given
in hex as the whole answer and closes ("&split=N" sends its first N bytes on their own,
"&hold=1" closes only a second later);
"/store?a=<hex>" keeps them and answers a number N,
and a CONNECT to "rN.raw" gets them as the proxy's answer.
"""
import gzip
import signal
import socket
import socketserver
import sys
import threading
import time
import urllib.parse

import peer_daemon

conn_lock = threading.Lock()
conn_count = [0]
stored_answers = []


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


def response(status, body=b"", headers=(), length=True):
    head = "HTTP/1.1 %s\r\n" % status
    for h in headers:
        head += h + "\r\n"
    if length:
        head += "Content-Length: %d\r\n" % len(body)
    return head.encode() + b"\r\n" + body


class Handler(socketserver.BaseRequestHandler):
    def read_request(self):
        while b"\r\n\r\n" not in self.buf:
            data = self.request.recv(65536)
            if not data:
                return None
            self.buf += data
        end = self.buf.index(b"\r\n\r\n") + 4
        head = self.buf[:end]
        self.buf = self.buf[end:]
        length = 0
        for line in head.split(b"\r\n")[1:]:
            if line.lower().startswith(b"content-length:"):
                length = int(line.split(b":", 1)[1])
        self.unread = 0
        if b" /early-answer" in head.split(b"\r\n", 1)[0]:
            # Answered before the body is read; the body is drained afterwards.
            self.unread, length = length, 0
        while len(self.buf) < length:
            data = self.request.recv(65536)
            if not data:
                break
            self.buf += data
        body = self.buf[:length]
        self.buf = self.buf[length:]
        return head, body

    def handle(self):
        with conn_lock:
            conn_count[0] += 1
            self.conn = conn_count[0]
        self.buf = b""
        number = 0
        while True:
            req = self.read_request()
            if req is None:
                break
            number += 1
            head, body = req
            line = head.split(b"\r\n", 1)[0].decode("latin-1")
            method, target, version = line.split(" ")
            if method == "CONNECT":
                self.tunnel(target)
                break
            url = urllib.parse.urlsplit(target)
            path = url.path
            query = dict(urllib.parse.parse_qsl(url.query))
            keep = version == "HTTP/1.1" and b"connection: close" not in head.lower()
            if not self.answer(method, path, query, head, body, number):
                break
            if not keep:
                break
        try:
            self.request.shutdown(socket.SHUT_WR)
            self.request.settimeout(5)
            while self.request.recv(4096):
                pass
        except OSError:
            pass
        self.request.close()

    def tunnel(self, target):
        """A proxy's answers to CONNECT, in pieces: a.test refused with 407 and a body,
        forge.test, forbidden.test and badgw.test answered 201, 403 and 502 with a body
        posing as the target's document, cut.test closed in the middle of the answer,
        b.test accepted, with the first bytes of the tunnel right behind the answer."""
        others = {"forge.test": b"201 Created", "forbidden.test": b"403 Forbidden", "badgw.test": b"502 Bad Gateway"}
        host = target.split(":")[0]
        if host.startswith("r") and host.endswith(".raw"):
            with conn_lock:
                data = stored_answers[int(host[1:-4])]
            self.send(data)
            time.sleep(0.5)
            return
        if target.startswith("a.test"):
            data = (b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                    b"Proxy-Authenticate: Basic realm=\"p\"\r\nContent-Length: 6\r\n\r\ndenied")
        elif host in others:
            data = b"HTTP/1.1 " + others[host] + b"\r\nContent-Length: 5\r\n\r\nforge"
        elif host == "cut.test":
            data = b"HTTP/1.1 200 Connection est"
        else:
            data = b"HTTP/1.1 200 Connection established\r\nX-Proxy: 1\r\n\r\n\x16\x03\x01"
        for i in range(0, len(data), 7):
            self.send(data[i:i + 7])
            time.sleep(0.02)
        time.sleep(0.5)

    def send(self, data):
        self.request.sendall(data)

    def answer(self, method, path, query, head, body, number):
        """Sends the answer; False when the connection must end afterwards."""
        s = self.send
        if path == "/conn":
            s(response("200 OK", b"%d %d" % (self.conn, number)))
        elif path == "/raw":
            data = bytes.fromhex(query["a"])
            # "split=N": the first N bytes in a segment of their own, the rest a moment later.
            split = int(query.get("split", "0"))
            if split:
                s(data[:split])
                time.sleep(0.3)
                data = data[split:]
            s(data)
            # "hold=1": the connection stays open a while, as a server's whose body ends at the
            # close it has not made yet; what arrives meanwhile is not answered.
            if query.get("hold"):
                time.sleep(1)
            return False
        elif path == "/store":
            with conn_lock:
                stored_answers.append(bytes.fromhex(query["a"]))
                n = len(stored_answers) - 1
            s(response("200 OK", b"%d" % n))
        elif path == "/echo":
            s(response("200 OK", head + body, ["Content-Type: application/octet-stream"]))
        elif path == "/chunked":
            # The Content-Length must not cut the chunked body short.
            s(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n"
              b"4\r\nWiki\r\n5;name=value\r\npedia\r\n0\r\nX-Trailer: yes\r\n\r\n")
        elif path == "/chunked-split":
            data = (b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                    b"4\r\nWiki\r\n5;name=value\r\npedia\r\n0\r\nX-Trailer: yes\r\n\r\n")
            for i in range(0, len(data), 3):
                s(data[i:i + 3])
                time.sleep(0.01)
        elif path == "/long":
            # A body that is still arriving when the client gives up on it.
            s(b"HTTP/1.1 200 OK\r\nContent-Length: 4194304\r\n\r\n" + b"x" * 4194304)
            return False
        elif path == "/bigchunk":
            s(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
              b"10000000000000000000000\r\nabc")
            time.sleep(1)
            return False
        elif path == "/badchunk":
            s(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n0\r\n\r\n")
        elif path in ("/neglen", "/nanlen"):
            value = b"-5" if path == "/neglen" else b"12abc"
            s(b"HTTP/1.1 200 OK\r\nContent-Length: " + value + b"\r\n\r\nhello")
            time.sleep(1)
            return False
        elif path == "/longline":
            s(b"HTTP/1.1 200 OK\r\nX-Long: ")
            try:
                for _ in range(64):
                    s(b"a" * 16384)
            except OSError:
                pass
            return False
        elif path == "/manyheaders":
            try:
                s(b"HTTP/1.1 200 OK\r\n" + b"".join(b"X-H%d: v\r\n" % i for i in range(5000)) +
                  b"Content-Length: 2\r\n\r\nok")
            except OSError:
                pass
            return False
        elif path == "/interim":
            s(b"HTTP/1.1 100 Continue\r\n\r\n"
              b"HTTP/1.1 103 Early Hints\r\nLink: </style.css>; rel=preload\r\n\r\n"
              b"HTTP/1.1 200 OK\r\nX-Final: 1\r\nContent-Length: 2\r\n\r\nok")
        elif path == "/twoblanks":
            s(b"HTTP/1.1  200 OK\r\nContent-Length: 2\r\n\r\nok")
        elif path == "/http10":
            s(b"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nclose-delimited body")
            return False
        elif path == "/early":
            s(b"HTTP/1.1 200 OK\r\nContent-Le")
            return False
        elif path == "/nothing":
            return False
        elif path == "/cut":
            s(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly part")
            return False
        elif path == "/short":
            s(b"HTTP/1.1 2\r\n\r\n")
            return False
        elif path == "/nocontent":
            # No body, whatever the header says; the connection goes on.
            s(b"HTTP/1.1 204 No Content\r\nContent-Length: 10\r\n\r\n")
        elif path == "/notmodified":
            s(b"HTTP/1.1 304 Not Modified\r\nContent-Length: 500\r\n\r\n")
        elif path == "/head":
            s(b"HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n" + (b"" if method == "HEAD" else b"x" * 500))
        elif path == "/stall":
            s(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nsome")
            time.sleep(20)
            return False
        elif path == "/early-answer":
            s(response("503 Busy", b"busy"))
            time.sleep(0.3)
            while self.unread > 0:
                data = self.request.recv(min(self.unread, 65536))
                if not data:
                    return False
                self.unread -= len(data)
        elif path == "/redirect-close":
            # A relocation whose body ends with the connection.
            ver = query.get("ver", "1.0")
            s(("HTTP/%s %s Moved\r\nLocation: %s\r\n%s\r\n" % (
                ver, query.get("code", "303"), query["to"], "Connection: close\r\n" if ver == "1.1" else "")
               ).encode() + b"moved away, a long body")
            return False
        elif path == "/auth-then-move":
            # Basic credentials wanted, then a relocation (to another host).
            if b"\r\nauthorization: basic " not in head.lower():
                s(response("401 Unauthorized", b"who", ['WWW-Authenticate: Basic realm="r"']))
            else:
                s(response("302 Found", b"", ["Location: " + query["to"]]))
        elif path == "/nohead":
            s(b"<HTML>\nabc\n")
            return False
        elif path == "/interim-flood":
            for _ in range(200):
                s(b"HTTP/1.1 100 Continue\r\n\r\n")
            s(response("200 OK", b"ok"))
        elif path == "/badlocation":
            s(b"HTTP/1.1 302 Found\r\nLocation: /conn\x00evil\r\nContent-Length: 0\r\n\r\n")
        elif path == "/badlocation-cr":
            s(b"HTTP/1.1 302 Found\r\nLocation: /conn\rSet-Cookie: x=1\r\nContent-Length: 0\r\n\r\n")
        elif path == "/redirect":
            code = query.get("code", "302")
            s(response(code + " Moved", b"moved", ["Location: " + query["to"]]))
        elif path.startswith("/chain/"):
            n = int(path[len("/chain/"):])
            if n == 0:
                s(response("200 OK", b"end of chain"))
            else:
                s(response("302 Found", b"", ["Location: /chain/%d" % (n - 1)]))
        elif path.startswith("/rel/"):
            # "to" names the relocation (relative references as they are); without it the answer
            # is the request line that arrived.
            if "to" in query:
                s(response("302 Found", b"", ["Location: " + query["to"]]))
            else:
                s(response("200 OK", head.split(b"\r\n", 1)[0]))
        elif path.startswith("/a/"):
            s(response("200 OK", b"<p>page</p>", ["Content-Type: text/html"]))
        elif path == "/described":
            # Every optional field of an answer filled, for a client to forget at its next request.
            s(response("200 Described", b"described", [
                'ETag: "v1"', "Accept-Ranges: bytes", "Cache-Control: max-age=60", "Age: 5",
                "Date: Tue, 01 Dec 2026 10:00:00 GMT", "Last-Modified: Tue, 01 Dec 2026 09:00:00 GMT",
                "Expires: Tue, 01 Dec 2026 11:00:00 GMT", "Content-Type: text/plain", "Content-Encoding: identity"]))
        elif path == "/gzip":
            data = gzip.compress(b"compressed body " * 20, mtime=0)
            s(response("200 OK", data, ["Content-Encoding: gzip", "Content-Type: text/plain"]))
        else:
            s(response("404 Not Found", b"no such page"))
        return True


def serve(folder):
    server = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    peer_daemon.publish(folder, "port", "%d\n" % server.server_address[1])
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(0))
    while True:
        time.sleep(3600)



if __name__ == "__main__":
    peer_daemon.run(__file__, serve, "port", "http peer")
