#!/usr/bin/env bash
# Creates a throw-away certificate authority and one server certificate for the
# reference server's loopback addresses. Nothing is installed anywhere: the CA is
# trusted only by whoever is handed ca.pem (curl --cacert, a Wine prefix's Root
# store, a test client), never by this machine's own trust store.
#
# Usage: make-test-ca.sh [--new-ca] OUTDIR ADDRESS [ADDRESS...]
#   ADDRESS  a loopback IPv4 address (127.0.0.0/8), e.g. 127.0.0.2
#   --new-ca replace an existing CA in OUTDIR (by default it is kept, so a
#            Wine prefix that already trusts it need not be set up again)
#
# Writes into OUTDIR:
#   ca.pem ca.der ca.key        the CA (PEM, DER for Windows stores, key)
#   server.pem server.key       the server certificate and its key
#   server-chain.pem            server certificate followed by the CA
set -euo pipefail

usage() { echo "usage: $0 [--new-ca] OUTDIR ADDRESS [ADDRESS...]" >&2; exit 2; }

new_ca=0
if [ "${1:-}" = "--new-ca" ]; then new_ca=1; shift; fi
[ $# -ge 2 ] || usage
out=$1; shift

is_loopback() {
  local IFS=.
  local -a o
  read -r -a o <<<"$1"
  [ ${#o[@]} -eq 4 ] || return 1
  [ "${o[0]}" = 127 ] || return 1
  local x
  for x in "${o[@]}"; do
    [[ $x =~ ^(0|[1-9][0-9]{0,2})$ ]] && [ "$x" -le 255 ] || return 1
  done
}

# Wine's certificate checks ignore iPAddress entries, so each address is also
# listed as a DNS name; other clients match the IP entry.
san="DNS:localhost"
for a in "$@"; do
  is_loopback "$a" || { echo "$0: not a loopback IPv4 address: $a" >&2; exit 2; }
  san="$san,DNS:$a,IP:$a"
done

mkdir -p "$out"
umask 077
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

serial() { echo "0x$(openssl rand -hex 16)"; }

if [ $new_ca -eq 1 ] || [ ! -s "$out/ca.pem" ] || [ ! -s "$out/ca.key" ]; then
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/ca.key" 2>/dev/null
  openssl req -x509 -new -key "$work/ca.key" -sha256 -days 3650 -set_serial "$(serial)" \
    -subj "/O=Ostrel Test/CN=Ostrel Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -addext "subjectKeyIdentifier=hash" \
    -out "$work/ca.pem"
  mv "$work/ca.key" "$out/ca.key"
  mv "$work/ca.pem" "$out/ca.pem"
fi
openssl x509 -in "$out/ca.pem" -outform DER -out "$out/ca.der"

cat >"$work/server.ext" <<EOF
basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectKeyIdentifier=hash
authorityKeyIdentifier=keyid,issuer
subjectAltName=$san
EOF

openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/server.key" 2>/dev/null
openssl req -new -key "$work/server.key" -subj "/O=Ostrel Test/CN=$1" -out "$work/server.csr"
openssl x509 -req -in "$work/server.csr" -CA "$out/ca.pem" -CAkey "$out/ca.key" \
  -set_serial "$(serial)" -days 825 -sha256 -extfile "$work/server.ext" \
  -out "$work/server.pem" 2>/dev/null
mv "$work/server.key" "$out/server.key"
mv "$work/server.pem" "$out/server.pem"
cat "$out/server.pem" "$out/ca.pem" >"$out/server-chain.pem"
# The keys stay private; certificates are for anyone.
chmod 644 "$out/ca.pem" "$out/ca.der" "$out/server.pem" "$out/server-chain.pem"

echo "CA:          $out/ca.pem"
echo "certificate: $out/server.pem ($san)"
echo "key:         $out/server.key"
