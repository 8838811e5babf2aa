#!/usr/bin/env bash
# Starts nginx on 127.0.0.1 on a free ephemeral port, with everything it writes in $1, and
# writes the port to $2. Stopped by stop.sh with the same folder.
set -euo pipefail
dir=$1
portfile=$2
nginx=${NGINX:-$(command -v nginx || echo /usr/sbin/nginx)}
mkdir -p "$dir/tmp" "$(dirname "$portfile")"
rm -f "$portfile"

for attempt in 1 2 3 4 5; do
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
  cat >"$dir/nginx.conf" <<CONF
daemon on;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 16; }
http {
  access_log off;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  server {
    listen 127.0.0.1:$port;
    location / { return 200 "ok\n"; }
  }
}
CONF
  # Another process may take the port between the probe and nginx: try again then.
  if "$nginx" -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" 2>>"$dir/start.log"; then
    echo "$port" >"$portfile"
    echo "nginx on 127.0.0.1:$port"
    exit 0
  fi
done
cat "$dir/start.log" "$dir/error.log" 2>/dev/null || true
exit 1
