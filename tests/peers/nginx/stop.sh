#!/usr/bin/env bash
# Stops the nginx that start.sh started in $1 (by the process id it recorded).
set -uo pipefail
dir=$1
[[ -f $dir/nginx.pid ]] || exit 0
pid=$(cat "$dir/nginx.pid")
kill "$pid" 2>/dev/null || true
for _ in $(seq 50); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
rm -f "$dir/nginx.pid"
exit 0
