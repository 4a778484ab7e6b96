#!/usr/bin/env bash
# Makes the test certificates:  make-certs.sh OUT_DIR
# Two CAs (the test root, which the test Wine prefix trusts, and one that is never trusted),
# TLS server certificates for the loopback server and code-signing certificates for the
# installer signature tests. Does nothing once OUT_DIR/.done exists.
set -euo pipefail

out=${1:?usage: make-certs.sh OUT_DIR}
[ -f "$out/.done" ] && exit 0
mkdir -p "$out"
out=$(cd "$out" && pwd)

# Built in a scratch folder and copied at the end, so an interrupted run leaves nothing half made.
work=$(mktemp -d "$out/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Valid from yesterday, so a clock a little behind still accepts them; `openssl ca` is used
# because it is the one signer of OpenSSL 3.0 that takes a start date.
start=$(date -u -d '1 day ago' +%Y%m%d%H%M%SZ)
end=$(date -u -d '1 day ago + 10 years' +%Y%m%d%H%M%SZ)

# One CA database section and one server section, filled from the environment per call: the CA's
# database folder and the server's name.
export CA_DB=unused SAN=unused
cat >"$work/openssl.cnf" <<'CNF'
[ req ]
distinguished_name = req_dn
prompt = no
[ req_dn ]
CN = unused

[ ca_db ]
dir = $ENV::CA_DB
database = $dir/index.txt
new_certs_dir = $dir
serial = $dir/serial
default_md = sha256
policy = policy_any
preserve = yes
unique_subject = no
copy_extensions = none
[ policy_any ]
organizationName = optional
commonName = supplied

[ ext_ca ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ ext_server ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:$ENV::SAN
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ ext_codesign ]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
ossl() { openssl "$@" 2>"$work/err" || { cat "$work/err" >&2; exit 1; }; }

# request NAME SUBJECT: a new RSA 2048 key and its signing request.
request() {
  ossl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$work/$1.key"
  ossl req -new -config "$work/openssl.cnf" -key "$work/$1.key" -subj "$2" -out "$work/$1.csr"
}

# sign CA_NAME NAME EXTENSIONS [SERVER_NAME]: NAME.pem issued by CA_NAME.
sign() {
  CA_DB="$work/db-$1" SAN=${4:-unused} ossl ca -batch -notext -config "$work/openssl.cnf" -name ca_db \
    -cert "$work/$1.pem" -keyfile "$work/$1.key" -startdate "$start" -enddate "$end" -extensions "$3" \
    -in "$work/$2.csr" -out "$work/$2.pem"
}

# make_ca NAME SUBJECT: a self-signed root with its own database.
make_ca() {
  mkdir -p "$work/db-$1"
  : >"$work/db-$1/index.txt"
  openssl rand -hex 16 >"$work/db-$1/serial"
  request "$1" "$2"
  CA_DB="$work/db-$1" ossl ca -batch -notext -selfsign -config "$work/openssl.cnf" -name ca_db \
    -keyfile "$work/$1.key" -startdate "$start" -enddate "$end" -extensions ext_ca -in "$work/$1.csr" \
    -out "$work/$1.pem"
  ossl x509 -in "$work/$1.pem" -outform DER -out "$work/$1.der"
}

make_ca ca "/O=Orvanta Test/CN=Orvanta Test Root CA"
make_ca untrusted-ca "/O=Untrusted Test/CN=Untrusted Test Root CA"

request localhost "/CN=localhost"
sign ca localhost ext_server localhost
request otherhost "/CN=otherhost.invalid"
sign ca otherhost ext_server otherhost.invalid
request untrusted-localhost "/CN=localhost"
sign untrusted-ca untrusted-localhost ext_server localhost

request publisher "/CN=Orvanta Test Publisher"
sign ca publisher ext_codesign
request other-publisher "/CN=Someone Else Ltd"
sign ca other-publisher ext_codesign
request untrusted-publisher "/CN=Orvanta Test Publisher"
sign untrusted-ca untrusted-publisher ext_codesign

# Chains (leaf, then its CA) so a signature carries the whole path, and PKCS#12 bundles with
# an empty password for tools that want one file.
for p in publisher:ca other-publisher:ca untrusted-publisher:untrusted-ca; do
  leaf=${p%%:*} issuer=${p##*:}
  cat "$work/$leaf.pem" "$work/$issuer.pem" >"$work/$leaf-chain.pem"
  ossl pkcs12 -export -passout pass: -inkey "$work/$leaf.key" -in "$work/$leaf.pem" -certfile "$work/$issuer.pem" \
    -name "$leaf" -out "$work/$leaf.p12"
done

for f in ca untrusted-ca localhost otherhost untrusted-localhost publisher other-publisher untrusted-publisher; do
  cp "$work/$f.pem" "$work/$f.key" "$out/"
done
cp "$work"/*.der "$work"/*-chain.pem "$work"/*.p12 "$out/"
chmod 600 "$out"/*.key "$out"/*.p12
date -u >"$out/.done"
