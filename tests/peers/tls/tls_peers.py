#!/usr/bin/env python3
"""TLS peers for the TLS socket tests, each on its own ephemeral port of 127.0.0.1.

  tls_peers.py start <dir> <certs>   starts them, writes <dir>/ports.txt ("name port" lines)
  tls_peers.py stop <dir>            stops them (the whole process group)

Peers (certificates from the net test's certificate fixture in <certs>):
  echo13    socat OPENSSL-LISTEN echoing what it reads (TLS 1.3)
  www12     openssl s_server -www, TLS 1.2 only, ALPN h2 and http/1.1, OCSP staple
  www13     openssl s_server -www, TLS 1.3 only
  cert13    openssl s_server -www, TLS 1.3, demands a client certificate of our CA
  closer    accepts and closes at once
  anon      openssl s_server -www without a certificate, anonymous suites only (TLS 1.2)
  expired   openssl s_server -www with a leaf of our CA that has expired
  notify    python TLS server that sends its close_notify first (unwrap) and appends to
            <dir>/notify.txt "answered" when the client's close_notify came back, else
            "error <what>"
  deaf      python TLS server that completes the handshake and then never reads
  lastdata  python TLS server (TCP_NODELAY) that reads one line "<count> fin|wait|split|hold",
            then sends <count> bytes of data and its close_notify in one send; "fin" sends its
            FIN right after them, "wait" only once the client's close_notify came; "split" sends
            the data alone and its close_notify only after one more line from the client
            (its FIN once the client's close_notify came); "hold" sends the data alone and
            waits for the client's close_notify, sending nothing more. It appends to
            <dir>/lastdata.txt "answered" when the client's close_notify came, else
            "error <what>"
  pages     python HTTP/1.1 server in TLS for the HTTP client's tests; pagesplain the same
            without TLS. Connections are numbered: "/conn" answers "<connection> <request on
            it>", "/echo" the request's body, "/chain/N" relocates to /chain/N-1 (N = 0 is
            the end), "/basic" asks for Basic credentials (any are taken), "/cookie" sets
            one, "/push" sends bytes of nobody's 0.3 s after its answer, "/garbage" answers
            without a status line and closes, "/stall" never answers. HTTP/1.0 requests
            and "Connection: close" close after the answer.
  driver    runs clients against the test's own TLS server: one request line
            "sclient <port> <args...>" runs openssl s_client with the args (input "ping\\n",
            -ign_eof) and answers with its output; "raw <port> <hex>" sends the bytes and
            answers with the hex of everything read until the peer closes. The answer ends
            with a line "END".
"""
import os
import signal
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
import peer_daemon  # noqa: E402


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


class Closer(socketserver.BaseRequestHandler):
    def handle(self):
        self.request.close()


TLS = {}


class Notify(socketserver.BaseRequestHandler):
    def handle(self):
        try:
            s = TLS["ctx"].wrap_socket(self.request, server_side=True)
            s.settimeout(30)
            s.unwrap()
            result = "answered"
        except Exception as e:  # the test reads what went wrong
            result = "error %s %s" % (type(e).__name__, e)
        with open(os.path.join(TLS["folder"], "notify.txt"), "a") as f:
            f.write(result + "\n")


class Deaf(socketserver.BaseRequestHandler):
    def handle(self):
        try:
            s = TLS["ctx"].wrap_socket(self.request, server_side=True)
            time.sleep(60)
            s.close()
        except Exception:
            pass


class LastData(socketserver.BaseRequestHandler):
    """The last data, the close_notify and the FIN leave together, as from a server with
    Nagle off: the client gets all three in one network read."""

    def handle(self):
        sock = self.request
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        sock.settimeout(30)
        incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        tls = TLS["ctx"].wrap_bio(incoming, outgoing, server_side=True)
        result = "error no close_notify"

        def step(call):
            # Runs call, feeding it the client's bytes until it needs no more.
            while True:
                try:
                    return call()
                except ssl.SSLWantReadError:
                    pending = outgoing.read()
                    if pending:
                        sock.sendall(pending)
                    data = sock.recv(65536)
                    if not data:
                        raise EOFError("the client closed")
                    incoming.write(data)

        try:
            step(tls.do_handshake)
            line = b""
            while b"\n" not in line:
                line += step(lambda: tls.read(65536))
            first, rest = line.split(b"\n", 1)
            count, fin = first.split()
            count = int(count)
            if count:
                tls.write(bytes(48 + (i * 7) % 75 for i in range(count)))
            if fin == b"hold":
                # The connection stays open with the data unread until the client ends it.
                sock.sendall(outgoing.read())
                # A read ended by the close_notify gives nothing.
                if step(lambda: tls.read(65536)):
                    raise ValueError("more data instead of the close_notify")
            elif fin == b"split":
                # The data leaves first; the close_notify follows the client's next line.
                sock.sendall(outgoing.read())
                line = rest
                while b"\n" not in line:
                    line += step(lambda: tls.read(65536))
            if fin != b"hold":
                try:
                    tls.unwrap()
                except ssl.SSLWantReadError:
                    pass
                sock.sendall(outgoing.read())
                if fin == b"fin":
                    sock.shutdown(socket.SHUT_WR)
                step(tls.unwrap)
            result = "answered"
        except Exception as e:  # the test reads what went wrong
            result = "error %s %s" % (type(e).__name__, e)
        with open(os.path.join(TLS["folder"], "lastdata.txt"), "a") as f:
            f.write(result + "\n")


PAGES = {"lock": threading.Lock(), "count": 0}


class Pages(socketserver.BaseRequestHandler):
    tls = True

    def handle(self):
        sock = self.request
        try:
            if self.tls:
                sock = TLS["ctx"].wrap_socket(sock, server_side=True)
            sock.settimeout(30)
            with PAGES["lock"]:
                PAGES["count"] += 1
                conn = PAGES["count"]
            buf, number = b"", 0
            while True:
                while b"\r\n\r\n" not in buf:
                    data = sock.recv(65536)
                    if not data:
                        return
                    buf += data
                end = buf.index(b"\r\n\r\n") + 4
                head, buf = buf[:end], buf[end:]
                length = 0
                for line in head.split(b"\r\n")[1:]:
                    if line.lower().startswith(b"content-length:"):
                        length = int(line.split(b":", 1)[1])
                while len(buf) < length:
                    data = sock.recv(65536)
                    if not data:
                        return
                    buf += data
                body, buf = buf[:length], buf[length:]
                number += 1
                method, target, version = head.split(b"\r\n", 1)[0].decode("latin-1").split(" ")
                path = target.split("?")[0]
                keep = version == "HTTP/1.1" and b"connection: close" not in head.lower()

                def answer(status, text, fields=()):
                    out = "HTTP/1.1 %s\r\n" % status + "".join(f + "\r\n" for f in fields)
                    out += "Content-Length: %d\r\n" % len(text)
                    if not keep:
                        out += "Connection: close\r\n"
                    sock.sendall(out.encode() + b"\r\n" + text)

                mine = b"%d %d" % (conn, number)
                if path == "/conn":
                    answer("200 OK", mine)
                elif path == "/echo":
                    answer("200 OK", body)
                elif path.startswith("/chain/"):
                    n = int(path[len("/chain/"):])
                    if n == 0:
                        answer("200 OK", mine)
                    else:
                        answer("302 Found", b"", ["Location: /chain/%d" % (n - 1)])
                elif path == "/basic":
                    if b"\r\nauthorization: basic " in head.lower():
                        answer("200 OK", mine)
                    else:
                        answer("401 Unauthorized", b"who", ['WWW-Authenticate: Basic realm="pages"'])
                elif path == "/cookie":
                    answer("200 OK", mine, ["Set-Cookie: a=1; Path=/"])
                elif path == "/push":
                    answer("200 OK", mine)
                    time.sleep(0.3)
                    sock.sendall(b"nobody's")
                elif path == "/garbage":
                    sock.sendall(b"ICY 200 OK\r\n\r\n")
                    return
                elif path == "/stall":
                    time.sleep(20)
                    return
                else:
                    answer("404 Not Found", b"no such page")
                if not keep:
                    return
        except Exception:
            pass
        finally:
            try:
                sock.close()
            except OSError:
                pass


class PlainPages(Pages):
    tls = False


class Driver(socketserver.StreamRequestHandler):
    def handle(self):
        line = self.rfile.readline().decode().split()
        out = b""
        try:
            if line and line[0] == "sclient":
                args = ["openssl", "s_client", "-connect", "127.0.0.1:" + line[1], "-ign_eof"] + line[2:]
                r = subprocess.run(args, input=b"ping\n", stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   timeout=30)
                out = r.stdout + b"\nrc=%d\n" % r.returncode
            elif line and line[0] == "raw":
                s = socket.create_connection(("127.0.0.1", int(line[1])), timeout=15)
                s.sendall(bytes.fromhex(line[2]))
                data = b""
                try:
                    while True:
                        d = s.recv(65536)
                        if not d:
                            break
                        data += d
                except OSError:
                    pass
                s.close()
                out = data.hex().encode() + b"\n"
        except Exception as e:  # the test reads the failure
            out = ("driver error: %r\n" % e).encode()
        self.wfile.write(out + b"\nEND\n")


def serve(folder, certs):
    procs = []
    ports = []
    cert = os.path.join(certs, "server.pem")
    key = os.path.join(certs, "server.key")
    ca = os.path.join(certs, "ca.pem")
    ocsp = os.path.join(folder, "server.ocsp")
    # A good OCSP answer about the server certificate, signed by our CA, for stapling.
    index = os.path.join(folder, "index.txt")
    open(index, "w").close()
    subprocess.run(["openssl", "ocsp", "-index", index, "-rsigner", os.path.join(certs, "ca.pem"),
                    "-rkey", os.path.join(certs, "ca.key"), "-CA", ca, "-issuer", ca, "-cert", cert,
                    "-respout", ocsp, "-ndays", "2"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Our own servers hold their ports before any port is picked for the external ones.
    TLS["ctx"] = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    TLS["ctx"].load_cert_chain(cert, key)
    TLS["folder"] = folder
    for name, handler in (("closer", Closer), ("driver", Driver), ("notify", Notify), ("deaf", Deaf),
                          ("lastdata", LastData)):
        server = Server(("127.0.0.1", 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        ports.append((name, server.server_address[1]))
    for name, handler in (("pages", Pages), ("pagesplain", PlainPages)):
        server = Server(("127.0.0.1", 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        ports.append((name, server.server_address[1]))
    common = ["-cert", cert, "-key", key, "-www", "-quiet"]
    servers = {
        "www12": ["-tls1_2", "-alpn", "h2,http/1.1"] + (["-status_file", ocsp] if os.path.exists(ocsp) else []),
        "www13": ["-tls1_3"],
        "cert13": ["-tls1_3", "-Verify", "1", "-CAfile", ca],
        "anon": ["-nocert", "-tls1_2", "-cipher", "aNULL@SECLEVEL=0", "-www", "-quiet"],
        "expired": ["-cert", os.path.join(certs, "expired.pem"), "-key", os.path.join(certs, "expired.key"),
                    "-www", "-quiet"],
    }
    for name, extra in servers.items():
        port = peer_daemon.free_port()
        args = extra if name in ("anon", "expired") else common + extra
        procs.append(subprocess.Popen(["openssl", "s_server", "-accept", "127.0.0.1:%d" % port] + args,
                                      stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL))
        ports.append((name, port))
    port = peer_daemon.free_port()
    procs.append(subprocess.Popen(["socat", "OPENSSL-LISTEN:%d,bind=127.0.0.1,reuseaddr,fork,cert=%s,key=%s,verify=0,"
                                   "openssl-min-proto-version=TLS1.3" % (port, cert, key), "PIPE"],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    ports.append(("echo13", port))
    for name, port in ports:
        if not peer_daemon.wait_listening(port):
            sys.exit("peer %s did not start" % name)
    # A server that lost its port to another exits, while the port still answers.
    for p in procs:
        if p.poll() is not None:
            sys.exit("peer %s exited at start" % " ".join(p.args[:4]))
    peer_daemon.publish(folder, "ports.txt", "".join("%s %d\n" % p for p in ports))
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(0))
    try:
        while True:
            time.sleep(3600)
    finally:
        for p in procs:
            p.kill()


if __name__ == "__main__":
    peer_daemon.run(__file__, lambda folder, certs: serve(folder, os.path.abspath(certs)),
                    "ports.txt", "peers", tries=300, echo=True, group=True)
