#!/usr/bin/env bash
# The host's openssl reads the certificate and the encrypted key the net test wrote: the same
# certificate and the same key as the fixture's.
# Usage: check_written.sh <written.pem> <certificate folder>
set -euo pipefail
written=$1 certs=$2
export OPENSSL_CONF=/dev/null
a=$(openssl x509 -in "$written" -noout -fingerprint -sha256)
b=$(openssl x509 -in "$certs/server.pem" -noout -fingerprint -sha256)
[[ $a == "$b" ]] || { echo "certificate differs: $a / $b"; exit 1; }
grep -q "BEGIN ENCRYPTED PRIVATE KEY" "$written" || { echo "key not encrypted"; exit 1; }
k1=$(openssl pkey -in "$written" -passin pass:pw -pubout)
k2=$(openssl pkey -in "$certs/server.key" -pubout)
[[ $k1 == "$k2" ]] || { echo "key differs"; exit 1; }
# The key really needs its pass phrase.
if openssl pkey -in "$written" -passin pass:wrong -noout 2>/dev/null; then echo "wrong pass accepted"; exit 1; fi
echo ok
