#!/usr/bin/env bash
# Certificates of the update server peer, made by the host's openssl command:
#   ca.pem/ca.der   the test CA (the test adds ca.der to the prefix's ROOT store)
#   server          signed by the CA, for IP 127.0.0.1
#   otherhost       signed by the CA, for another host name only
#   selfsigned      for IP 127.0.0.1, signed by itself
# Usage: make_certs.sh <folder>
set -euo pipefail
out=$1
rm -rf "$out"
mkdir -p "$out"
cd "$out"
export OPENSSL_CONF=/dev/null
days=3650

openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days $days \
  -subj "/O=Quillmark Test/CN=VoltAtlas update CA" \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
openssl x509 -in ca.pem -outform DER -out ca.der

leaf() {
  local name=$1 cn=$2 san=$3
  printf '%s\n' "basicConstraints=CA:FALSE" "subjectAltName=$san" >$name.ext
  openssl req -new -newkey rsa:2048 -nodes -keyout $name.key -out $name.csr -subj "/O=Quillmark Test/CN=$cn" 2>/dev/null
  openssl x509 -req -in $name.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days $days -extfile $name.ext \
    -out $name.pem 2>/dev/null
}
leaf server 127.0.0.1 "IP:127.0.0.1"
leaf otherhost www.other.test "DNS:www.other.test"
openssl req -x509 -newkey rsa:2048 -nodes -keyout selfsigned.key -out selfsigned.pem -days $days \
  -subj "/O=Quillmark Test/CN=127.0.0.1" -addext subjectAltName=IP:127.0.0.1 2>/dev/null
