#!/usr/bin/env bash
# Certificates, keys and CRLs for the TLS tests, made by the host's openssl command, and what
# that command reads back from them (the tests compare the program's own reading with it).
# Usage: make_certs.sh <folder>
set -euo pipefail
out=$1
rm -rf "$out"
mkdir -p "$out"
cd "$out"
export OPENSSL_CONF=/dev/null

days=3650
subj() { printf '/O=Quillmark Test/OU=%s/CN=%s' "$1" "$2"; }

# Two CAs: ours, which the tests trust, and a foreign one.
for ca in ca foreign; do
  openssl req -x509 -newkey rsa:2048 -nodes -keyout $ca.key -out $ca.pem -days $days \
    -subj "$(subj "Certificate Authority" "VoltAtlas ${ca} CA")" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
done

# A leaf signed by a CA: leaf <name> <ca> <key options> <subject> <extension lines...>
leaf() {
  local name=$1 ca=$2 keyopts=$3 subject=$4
  shift 4
  printf '%s\n' "basicConstraints=CA:FALSE" "$@" >$name.ext
  openssl req -new $keyopts -nodes -keyout $name.key -out $name.csr -subj "$subject" 2>/dev/null
  openssl x509 -req -in $name.csr -CA $ca.pem -CAkey $ca.key ${serial:--CAcreateserial} -days $days \
    -extfile $name.ext -out $name.pem 2>/dev/null
}

leaf server ca "-newkey rsa:2048" "$(subj Servers www.example.test)" \
  "subjectAltName=DNS:www.example.test,DNS:*.example.test,DNS:xn--bcher-kva.example.test,IP:127.0.0.1,IP:::1" \
  "certificatePolicies=2.16.840.1.114412.2.1"
leaf ecserver ca "-newkey ec -pkeyopt ec_paramgen_curve:P-384" "$(subj Servers ec.example.test)" \
  "subjectAltName=DNS:ec.example.test" "certificatePolicies=2.16.840.1.999.1"
leaf foreignserver foreign "-newkey rsa:2048" "$(subj Servers www.example.test)" \
  "subjectAltName=DNS:www.example.test,IP:127.0.0.1"
# Only a common name, a wildcard one: it is what the host check falls back to.
leaf wildcn ca "-newkey rsa:2048" "/O=Quillmark Test/CN=*.wild.test"
# A common name that the DNS entries of the alternative names overrule.
serial="-set_serial 4660" leaf cnsan ca "-newkey rsa:2048" "/O=Quillmark Test/CN=cn.example.test" "subjectAltName=DNS:san.example.test"

# Ed25519: a PEM block of fewer than 390 characters.
openssl req -x509 -newkey ed25519 -nodes -keyout ed25519.key -out ed25519.pem -days $days \
  -subj "/CN=ed.test" 2>/dev/null

# The server key encrypted with a pass phrase.
openssl pkey -in server.key -aes256 -passout pass:secret -out server-enc.key

# A CRL of our CA, first empty (short), then one that revokes the foreign-named leaf "revoked".
mkdir -p db
: >db/index.txt
echo 1000 >db/crlnumber
cat >ca.cnf <<CNF
[ca]
default_ca = test
[test]
database = db/index.txt
crlnumber = db/crlnumber
default_md = sha256
default_crl_days = 30
certificate = ca.pem
private_key = ca.key
CNF
openssl ca -config ca.cnf -gencrl -out empty.crl 2>/dev/null
leaf revoked ca "-newkey rsa:2048" "$(subj Servers www.example.test)" "subjectAltName=DNS:www.example.test"
openssl ca -config ca.cnf -revoke revoked.pem 2>/dev/null
openssl ca -config ca.cnf -gencrl -out revoked.crl 2>/dev/null
mkdir -p crls && cp revoked.crl crls/
# A leaf of our CA whose validity ended long ago.
mkdir -p olddb
: >olddb/index.txt
cat >old.cnf <<CNF
[ca]
default_ca = old
[old]
database = olddb/index.txt
new_certs_dir = olddb
serial = olddb/serial
default_md = sha256
policy = any
copy_extensions = copy
[any]
commonName = supplied
CNF
echo 2000 >olddb/serial
openssl req -new -newkey rsa:2048 -nodes -keyout expired.key -out expired.csr \
  -subj "$(subj Servers www.example.test)" -addext "subjectAltName=DNS:www.example.test" 2>/dev/null
openssl ca -batch -config old.cnf -cert ca.pem -keyfile ca.key -in expired.csr -out expired.pem -notext \
  -startdate 20200101000000Z -enddate 20200201000000Z 2>/dev/null
# An empty CRL signed with the Ed25519 key: a short block too.
mkdir -p eddb
: >eddb/index.txt
echo 1000 >eddb/crlnumber
sed -e 's#db/#eddb/#' -e 's#ca.pem#ed25519.pem#' -e 's#ca.key#ed25519.key#' -e 's#sha256#default#' ca.cnf >edca.cnf
openssl ca -config edca.cnf -gencrl -out ed-empty.crl 2>/dev/null

# What openssl reads from each certificate.
for c in ca server ecserver foreignserver wildcn cnsan ed25519; do
  {
    echo "subject=$(openssl x509 -in $c.pem -noout -subject -nameopt sep_multiline,utf8 | sed -n 's/^ *CN=//p')"
    echo "subjectO=$(openssl x509 -in $c.pem -noout -subject -nameopt sep_multiline,utf8 | sed -n 's/^ *O=//p')"
    echo "issuer=$(openssl x509 -in $c.pem -noout -issuer -nameopt sep_multiline,utf8 | sed -n 's/^ *CN=//p')"
    openssl x509 -in $c.pem -noout -serial
    openssl x509 -in $c.pem -noout -fingerprint -sha256 | sed 's/^.*Fingerprint=/sha256=/'
    openssl x509 -in $c.pem -noout -fingerprint -sha1 | sed 's/^.*Fingerprint=/sha1=/'
    # Validity as seconds since 1970, UTC.
    echo "notBefore=$(date -u -d "$(openssl x509 -in $c.pem -noout -startdate | cut -d= -f2)" +%s)"
    echo "notAfter=$(date -u -d "$(openssl x509 -in $c.pem -noout -enddate | cut -d= -f2)" +%s)"
    echo "san=$(openssl x509 -in $c.pem -noout -ext subjectAltName 2>/dev/null | sed -n '2p' | sed 's/^ *//')"
    echo "sigalg=$(openssl x509 -in $c.pem -noout -text | sed -n 's/^ *Signature Algorithm: //p' | head -1)"
    echo "bits=$(openssl x509 -in $c.pem -noout -text | sed -n 's/^ *Public-Key: (\([0-9]*\) bit)/\1/p')"
    echo "der=$(openssl x509 -in $c.pem -outform DER | od -An -v -tx1 | tr -d ' \n')"
  } >$c.txt
done
openssl x509 -in server.pem -outform DER -out server.der
echo "revokedSerial=$(openssl x509 -in revoked.pem -noout -serial | cut -d= -f2)" >crl.txt
echo ok
