#!/usr/bin/env python3
"""The maker's web server as the program's main-window tests see it, on an ephemeral port of
127.0.0.1 over plain HTTP.

  maker_peer.py start <dir>   starts it in the background, writes <dir>/port and <dir>/pid
  maker_peer.py stop <dir>    stops it

A test points the server's base address at "http://127.0.0.1:<port>/<scenario>", so the
first path segment says how this server answers:

  current   the update check answers 1.0.0.1 (the tests' own version)
  newer     the update check answers 1.0.0.2
  slow      the update check answers 1.0.0.1 after 1.5 seconds
  broken    every request gets a 404 error page
  links     the link file names an https address for the battery shop
  badlink   the link file names a program path for the battery shop

The update check of the other scenarios answers 1.0.0.1; the link file of every scenario
but "links", "badlink" and "broken" has no "battery" key.
Each request's target is appended to <dir>/requests.log, one line each.
"""
import http.server
import os
import signal
import socketserver
import sys
import threading
import time

import peer_daemon

SHOP_LINK = "https://127.0.0.1/shop-from-the-link-file"
CHECKS = {"newer": "1.0.0.2"}
LINKS = {"links": "battery=" + SHOP_LINK, "badlink": "battery=C:\\Windows\\notepad.exe"}

log_lock = threading.Lock()


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        with log_lock, open(os.path.join(self.server.folder, "requests.log"), "a") as f:
            f.write(self.path + "\n")
        scenario, _, rest = self.path.lstrip("/").partition("/")
        path = "/" + rest.partition("?")[0]
        if scenario == "broken":
            self.send(404, b"<html><body>Not Found</body></html>")
        elif path == "/plim/check.php":
            if scenario == "slow":
                time.sleep(1.5)
            self.send(200, CHECKS.get(scenario, "1.0.0.1").encode())
        elif path == "/voltatlas/voltatlas.ini":
            entry = LINKS.get(scenario, "other=1")
            self.send(200, ("[links]\r\n%s\r\n" % entry).encode())
        else:
            self.send(404, b"no such page")


def serve(folder):
    server = Server(("127.0.0.1", 0), Handler)
    server.folder = folder
    open(os.path.join(folder, "requests.log"), "w").close()
    threading.Thread(target=server.serve_forever, daemon=True).start()
    peer_daemon.publish(folder, "port", "%d\n" % server.server_address[1])
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(0))
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    peer_daemon.run(__file__, serve, "port", "maker peer")
