#!/usr/bin/env bash
# Starts nginx as the HTTP client's reference server on a free ephemeral port of 127.0.0.1,
# with its site, its access log and everything it writes in $1; writes the port to $2.
# Stopped by stop.sh with the same folder. The access log names each request's connection
# and its number on that connection, so that reuse can be proved.
set -euo pipefail
dir=$1
portfile=$2
nginx=${NGINX:-$(command -v nginx || echo /usr/sbin/nginx)}
mkdir -p "$dir/tmp" "$dir/site/private" "$(dirname "$portfile")"
rm -f "$portfile" "$dir/access.log"

# A text that gzip shrinks well, and a private page behind basic authentication.
python3 - "$dir/site" <<'PY'
import sys
site = sys.argv[1]
with open(site + "/file.txt", "w") as f:
    f.write("".join("line %05d of the reference file\n" % i for i in range(4000)))
with open(site + "/private/index.html", "w") as f:
    f.write("secret\n")
PY
# The benchmark's large file (zeros, sparse on disk), only when asked for.
if [[ -n ${VA_BIG_FILE_MB:-} ]]; then truncate -s "${VA_BIG_FILE_MB}M" "$dir/site/big.bin"; fi
printf 'user:%s\n' "$(openssl passwd -apr1 secret)" >"$dir/htpasswd"

for attempt in 1 2 3 4 5; do
  port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')
  cat >"$dir/nginx.conf" <<CONF
daemon on;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 64; }
http {
  log_format conn '\$connection \$connection_requests \$request_method \$uri \$status';
  access_log $dir/access.log conn;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  types { text/plain txt; text/html html; }
  keepalive_requests 1000;
  if_modified_since before;
  server {
    listen 127.0.0.1:$port;
    root $dir/site;
    gzip on;
    gzip_types text/plain;
    gzip_min_length 100;
    location = /r301 { return 301 /file.txt; }
    location = /r302 { return 302 /file.txt; }
    location = /r303 { return 303 /file.txt; }
    location = /r307 { return 307 /file.txt; }
    location = /r308 { return 308 /file.txt; }
    location = /loop { return 302 /loop; }
    location /private/ { auth_basic "va"; auth_basic_user_file $dir/htpasswd; }
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
