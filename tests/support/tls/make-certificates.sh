#!/usr/bin/env bash
# Certificates for the TLS tests, made afresh in DIR with openssl:
#
#   make-certificates.sh DIR
#
#   ca.pem, ca.key            the tests' CA
#   other-ca.pem              a CA that signed nothing the servers present
#   server.pem, server.key    for 127.0.0.1 and localhost, by ca
#   wrong-host.pem, .key      for elsewhere.invalid only, by ca
#   expired.pem, .key         for 127.0.0.1 and localhost, ended in 2021, by ca
#   foreign.pem, .key         for 127.0.0.1 and localhost, by other-ca
#   client.pem, client.key    a client certificate (CN client), by ca
#   server.sha1, server.sha256   server.pem's fingerprints (hex with colons)
#
# Nothing made here is ever checked in; every key is unencrypted.
set -euo pipefail

(($# == 1)) || { echo "usage: $0 DIR" >&2; exit 2; }
dir=$1
mkdir -p "$dir"
cd "$dir"

readonly local_names="subjectAltName=IP:127.0.0.1,DNS:localhost"

make_ca() {
  local name=$1 subject=$2
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 -subj "$subject" \
    -keyout "$name.key" -out "$name.pem" 2>/dev/null
}

# sign NAME CA EXTENSION [START END]: a key and a certificate signed by CA,
# valid for 30 days from now or from START to END (YYYYMMDDHHMMSSZ).
sign() {
  local name=$1 ca=$2 extension=$3
  openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=$name" \
    -keyout "$name.key" -out "$name.csr" 2>/dev/null
  printf '%s\n' "$extension" >"$name.ext"
  if (($# == 5)); then
    # `openssl ca` is the one command that sets both ends of the validity.
    mkdir -p "$ca.db"
    : >"$ca.db/index"
    cat >"$ca.db/config" <<CONFIG
[ca]
default_ca = test
[test]
database = $ca.db/index
new_certs_dir = $ca.db
serial = $ca.db/serial
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
CONFIG
    openssl rand -hex 8 >"$ca.db/serial"
    openssl ca -batch -config "$ca.db/config" -cert "$ca.pem" -keyfile "$ca.key" \
      -startdate "$4" -enddate "$5" -extfile "$name.ext" -in "$name.csr" -out "$name.pem" \
      2>/dev/null
  else
    openssl x509 -req -sha256 -days 30 -CA "$ca.pem" -CAkey "$ca.key" -CAcreateserial \
      -extfile "$name.ext" -in "$name.csr" -out "$name.pem" 2>/dev/null
  fi
  rm -f "$name.csr" "$name.ext"
}

make_ca ca "/CN=callsink test CA"
make_ca other-ca "/CN=callsink other CA"
sign server ca "$local_names"
sign wrong-host ca "subjectAltName=DNS:elsewhere.invalid"
sign expired ca "$local_names" 20210101000000Z 20210201000000Z
sign foreign other-ca "$local_names"
sign client ca "extendedKeyUsage=clientAuth"
for digest in sha1 sha256; do
  openssl x509 -in server.pem -noout -fingerprint "-$digest" | cut -d= -f2 >"server.$digest"
done
