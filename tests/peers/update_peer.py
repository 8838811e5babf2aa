#!/usr/bin/env python3
"""The maker's web server for the update tests, on ephemeral ports of 127.0.0.1.

  update_peer.py start <dir> <certs> [--nodelay]   starts it, writes <dir>/ports.txt and <dir>/pid
  update_peer.py stop <dir>            stops it

Four listeners: "tls" (certificate of the test CA for 127.0.0.1), "otherhost" (of the test
CA, for another host name), "selfsigned", and "plain" HTTP. Every request line is appended to
<dir>/requests.txt. The first path segment picks the answer ("/newer/plim/check.php?...");
without a known one the answer is the running version "1.0.0.1".
"""
import os
import socket
import socketserver
import ssl
import threading
import time

import peer_daemon

# name -> (status line, body, extra header lines)
REPLIES = {
    "equal": ("200 OK", b"1.0.0.1"),
    "newer": ("200 OK", b"1.0.0.2"),
    "short": ("200 OK", b"1.15"),
    "newline": ("200 OK", b"1.0.0.2\r\n"),
    "empty": ("200 OK", b""),
    "zero": ("200 OK", b"0.0.0.0"),
    "html": ("200 OK", b"<html><body>It works</body></html>"),
    # Error pages whose body would read as a newer version.
    "notfound": ("404 Not Found", b"9.9.9.9"),
    "servererror": ("500 Internal Server Error", b"9.9.9.9"),
    "ini": ("200 OK", b"[links]\r\nbattery=https://shop.example.test/battery\r\n"),
    "ini2": ("200 OK", b"[links]\r\nbattery=https://shop.example.test/other\r\n"),
    "bytes512": ("200 OK", bytes(range(256)) * 2),
    # Far more than a version or a link file.
    "huge": ("200 OK", b"9" * (3 * 1024 * 1024)),
}

requests_lock = threading.Lock()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64


def make_handler(folder, tls_context, ports, nodelay=False):
    class Handler(socketserver.BaseRequestHandler):
        def handle(self):
            conn = self.request
            if nodelay:
                # As production web servers do: the session tickets, the answer and the
                # close_notify leave at once instead of waiting (Nagle) for the client's
                # delayed ACK of the first ticket, some 40 ms on Linux.
                conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            conn.settimeout(60)
            if tls_context is not None:
                try:
                    conn = tls_context.wrap_socket(conn, server_side=True)
                except (ssl.SSLError, OSError):
                    return
            data = b""
            try:
                while b"\r\n\r\n" not in data:
                    piece = conn.recv(65536)
                    if not piece:
                        return
                    data += piece
            except OSError:
                return
            line = data.split(b"\r\n", 1)[0].decode("latin-1")
            with requests_lock:
                with open(os.path.join(folder, "requests.txt"), "a") as f:
                    f.write(line + "\n")
            parts = line.split(" ")
            target = parts[1] if len(parts) > 1 else "/"
            case = target.split("/")[1] if target.count("/") >= 2 else ""
            try:
                self.answer(conn, case, target)
                if tls_context is not None:
                    conn.unwrap()
            except OSError:
                pass

        def answer(self, conn, case, target):
            if case == "stall":
                # Accepts and reads, then says nothing until the client gives up.
                try:
                    while conn.recv(65536):
                        pass
                except OSError:
                    pass
                return
            if case == "trickle":
                # One byte every half second: never idle, never done.
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\nConnection: close\r\n\r\n")
                for _ in range(120):
                    time.sleep(0.5)
                    conn.sendall(b"1")
                return
            if case == "cut":
                # Promises 500 bytes, sends 100, closes.
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 500\r\nConnection: close\r\n\r\n" + b"x" * 100)
                return
            if case == "tohttp":
                rest = target[len("/tohttp"):]
                location = "http://127.0.0.1:%d/newer%s" % (ports["plain"], rest)
                conn.sendall(("HTTP/1.1 302 Found\r\nLocation: %s\r\nContent-Length: 0\r\n"
                              "Connection: close\r\n\r\n" % location).encode())
                return
            status, body = REPLIES.get(case, ("200 OK", b"1.0.0.1"))
            conn.sendall(("HTTP/1.1 %s\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n"
                          "Connection: close\r\n\r\n" % (status, len(body))).encode() + body)

    return Handler


def serve(folder, certs, *options):
    def tls(name):
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(os.path.join(certs, name + ".pem"), os.path.join(certs, name + ".key"))
        return ctx

    listeners = [("tls", tls("server")), ("otherhost", tls("otherhost")), ("selfsigned", tls("selfsigned")),
                 ("plain", None)]
    ports = {}
    servers = []
    for name, ctx in listeners:
        server = Server(("127.0.0.1", 0), make_handler(folder, ctx, ports, "--nodelay" in options))
        ports[name] = server.server_address[1]
        servers.append(server)
    for server in servers:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    with open(os.path.join(folder, "ports.txt"), "w") as f:
        for name, _ in listeners:
            f.write("%s %d\n" % (name, ports[name]))
    open(os.path.join(folder, "requests.txt"), "w").close()
    open(os.path.join(folder, "ready"), "w").close()
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    peer_daemon.run(__file__, serve, "ready", "update peer")
