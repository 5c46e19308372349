#!/usr/bin/env bash
# Makes the test-only certificates that the HTTPS tests use, into this folder: a certificate
# authority the tests trust through the engine's seam (its key is thrown away once it has
# signed), a server certificate it signed for 127.0.0.1, and a self-signed one for the same
# address that nobody trusts. Run it again (needs the openssl tool) to renew them; they are
# valid for 100 years from the day they are made.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
days=36500
san="subjectAltName=IP:127.0.0.1,DNS:localhost"
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null; }

key "$tmp/ca.key"
openssl req -x509 -new -key "$tmp/ca.key" -days $days -subj "/CN=Corvane Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
    -out ca.crt
key server.key
openssl req -new -key server.key -subj "/CN=127.0.0.1" -out "$tmp/server.csr"
openssl x509 -req -in "$tmp/server.csr" -CA ca.crt -CAkey "$tmp/ca.key" -CAcreateserial \
    -CAserial "$tmp/ca.srl" -days $days -extfile <(echo "$san") -out server.crt 2>/dev/null
key untrusted.key
openssl req -x509 -new -key untrusted.key -days $days -subj "/CN=127.0.0.1" -addext "$san" \
    -out untrusted.crt
