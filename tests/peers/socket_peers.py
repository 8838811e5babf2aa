#!/usr/bin/env python3
"""Local peers for the socket tests, each on its own ephemeral port of 127.0.0.1.

  socket_peers.py start <dir>   starts them in the background, writes <dir>/ports.txt
                                ("name port" lines) and <dir>/pid, and returns
  socket_peers.py stop <dir>    stops them
  socket_peers.py serve <dir>   runs them in the foreground

Peers:
  echo      echoes what it reads; a byte 0x04 closes the connection after the bytes before it
  fin       sends "hello\\r\\n" and closes (FIN)
  rst       sends "hello\\r\\n" and resets the connection (RST)
  rstread   reads 64 KiB, then resets the connection while the client still sends
  silent    accepts and neither reads nor writes (the client's send buffer fills)
  crlf      sends "abc\\r", 50 ms later "\\ndef\\r\\n", then closes
  sink      starts reading after 0.3 s, then reads slowly, hashing with SHA-256; remembers per client port the count, the
            digest, how the stream ended (fin or rst) and the times of the first and last byte
  report    answers a line "<client port>" with "<count> <sha256> <end> <first> <last>" of the
            sink, waiting up to 20 s for that stream to end
  flood     sends zeros as fast as it can until the client goes
  blast     sends the lines "%08d\r\n" % i for i below 200000 (2,000,000 bytes) at once and closes
            straight after the last byte
  slowsink  the sink at a walking pace (16 KiB every 20 ms) with the same report
  refused   a port where nothing listens
"""
import hashlib
import signal
import socket
import socketserver
import struct
import sys
import threading
import time

import peer_daemon

results = {}
results_cv = threading.Condition()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 128


def reset(sock):
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


class Echo(socketserver.BaseRequestHandler):
    def handle(self):
        s = self.request
        while True:
            data = s.recv(65536)
            if not data:
                break
            cut = data.find(b"\x04")
            if cut >= 0:
                s.sendall(data[:cut])
                break
            s.sendall(data)
        s.shutdown(socket.SHUT_WR)
        s.close()


class Fin(socketserver.BaseRequestHandler):
    def handle(self):
        self.request.sendall(b"hello\r\n")
        self.request.shutdown(socket.SHUT_WR)
        # Wait for the client's own close so that it is the one that ends first.
        self.request.settimeout(10)
        try:
            while self.request.recv(4096):
                pass
        except OSError:
            pass
        self.request.close()


class Rst(socketserver.BaseRequestHandler):
    def handle(self):
        self.request.sendall(b"hello\r\n")
        time.sleep(0.05)
        reset(self.request)


class RstRead(socketserver.BaseRequestHandler):
    def handle(self):
        s = self.request
        got = 0
        while got < 65536:
            data = s.recv(65536)
            if not data:
                break
            got += len(data)
        reset(s)


class Silent(socketserver.BaseRequestHandler):
    def handle(self):
        s = self.request
        s.settimeout(60)
        try:
            time.sleep(30)
        finally:
            s.close()


class Crlf(socketserver.BaseRequestHandler):
    def handle(self):
        s = self.request
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        s.sendall(b"abc\r")
        time.sleep(0.05)
        s.sendall(b"\ndef\r\n")
        s.shutdown(socket.SHUT_WR)
        time.sleep(0.2)
        s.close()


class Sink(socketserver.BaseRequestHandler):
    pause = 0.001
    piece = 32768

    def handle(self):
        s = self.request
        port = self.client_address[1]
        h = hashlib.sha256()
        count, first, last, end = 0, 0.0, 0.0, "fin"
        # A late start: the sender's system buffers fill and its own queue holds the rest.
        time.sleep(0.3)
        try:
            while True:
                data = s.recv(self.piece)
                if not data:
                    break
                now = time.monotonic()
                if not count:
                    first = now
                last = now
                count += len(data)
                h.update(data)
                time.sleep(self.pause)
        except ConnectionResetError:
            end = "rst"
        with results_cv:
            results[port] = "%d %s %s %.3f %.3f" % (count, h.hexdigest(), end, first, last)
            results_cv.notify_all()
        s.close()


class SlowSink(Sink):
    pause = 0.02
    piece = 16384


BLAST = b"".join(b"%08d\r\n" % i for i in range(200000))


class Blast(socketserver.BaseRequestHandler):
    def handle(self):
        s = self.request
        s.sendall(BLAST)
        s.close()


class Report(socketserver.StreamRequestHandler):
    def handle(self):
        line = self.rfile.readline().strip()
        port = int(line or b"0")
        deadline = time.monotonic() + 20
        with results_cv:
            while port not in results and time.monotonic() < deadline:
                results_cv.wait(0.1)
            answer = results.get(port, "none")
        self.wfile.write(answer.encode() + b"\n")


class Flood(socketserver.BaseRequestHandler):
    def handle(self):
        block = bytes(1 << 20)
        try:
            while True:
                self.request.sendall(block)
        except OSError:
            pass


PEERS = [("echo", Echo), ("fin", Fin), ("rst", Rst), ("rstread", RstRead), ("silent", Silent),
         ("crlf", Crlf), ("sink", Sink), ("report", Report), ("flood", Flood), ("blast", Blast),
         ("slowsink", SlowSink)]


def serve(folder):
    ports = []
    for name, handler in PEERS:
        server = Server(("127.0.0.1", 0), handler)
        if name in ("sink", "slowsink"):
            # A small receive buffer makes the sender meet a full window again and again.
            server.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 16384)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        ports.append((name, server.server_address[1]))
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    ports.append(("refused", probe.getsockname()[1]))
    probe.close()
    peer_daemon.publish(folder, "ports.txt", "".join("%s %d\n" % p for p in ports))
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(0))
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    peer_daemon.run(__file__, serve, "ports.txt", "peers", echo=True)
