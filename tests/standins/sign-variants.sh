#!/usr/bin/env bash
# Makes the copies of the stand-in installer that the signature tests need:
#   sign-variants.sh INSTALLER_EXE CERTS_DIR OUT_DIR
# OUT_DIR gets installer_signed.exe, installer_unsigned.exe, installer_tampered.exe (signed, then
# the last byte of its code section flipped), installer_other_publisher.exe and
# installer_untrusted_root.exe. Each is checked with `osslsigncode verify` before it is put in
# place, so a test never runs against a file that is not what its name says.
set -euo pipefail

in=${1:?usage: sign-variants.sh INSTALLER_EXE CERTS_DIR OUT_DIR}
certs=${2:?usage: sign-variants.sh INSTALLER_EXE CERTS_DIR OUT_DIR}
out=${3:?usage: sign-variants.sh INSTALLER_EXE CERTS_DIR OUT_DIR}
mkdir -p "$out"
work=$(mktemp -d "$out/.sign.XXXXXX")
trap 'rm -rf "$work"' EXIT

# sign CERT_NAME OUT: signed with the leaf and its root, SHA-256, no time stamp (no network).
sign() {
  osslsigncode sign -certs "$certs/$1-chain.pem" -key "$certs/$1.key" -h sha256 -in "$in" -out "$work/$2" \
    >"$work/log" 2>&1 || { cat "$work/log" >&2; exit 1; }
}

# verify CA_PEM FILE: the file's signature and chain up to that root, natively.
verify() { osslsigncode verify -CAfile "$certs/$1" -in "$work/$2" >"$work/verify-$2.log" 2>&1; }

expect_valid() {
  verify "$1" "$2" || { echo "sign-variants: $2 does not verify against $1" >&2; cat "$work/verify-$2.log" >&2; exit 1; }
  grep -q "Subject: .*CN *= *$3" "$work/verify-$2.log" ||
    { echo "sign-variants: $2 is not signed by $3" >&2; cat "$work/verify-$2.log" >&2; exit 1; }
}
expect_invalid() {
  if verify "$1" "$2"; then echo "sign-variants: $2 verifies against $1 but must not" >&2; exit 1; fi
}

# u OFFSET WIDTH FILE: an unsigned little-endian number read from the file.
u() { od -An -t "u$2" -j "$1" -N "$2" "$3" | tr -d ' \n'; }

# Flips the last byte of the raw data of the ".text" section. The content hash then differs
# while the headers and the signature stay intact.
flip_code_byte() {
  local f=$1 pe sections optional table i s name size ptr off byte
  pe=$(u 60 4 "$f")
  sections=$(u $((pe + 6)) 2 "$f")
  optional=$(u $((pe + 20)) 2 "$f")
  table=$((pe + 24 + optional))
  for ((i = 0; i < sections; i++)); do
    s=$((table + 40 * i))
    name=$(dd if="$f" bs=1 skip="$s" count=8 2>/dev/null | tr -d '\0')
    [ "$name" = .text ] || continue
    size=$(u $((s + 16)) 4 "$f")
    ptr=$(u $((s + 20)) 4 "$f")
    off=$((ptr + size - 1))
    byte=$(u "$off" 1 "$f")
    printf "\\$(printf %03o $((byte ^ 0xFF)))" | dd of="$f" bs=1 seek="$off" conv=notrunc 2>/dev/null
    return 0
  done
  echo "sign-variants: no .text section in $f" >&2
  exit 1
}

cp "$in" "$work/installer_unsigned.exe"
sign publisher installer_signed.exe
sign other-publisher installer_other_publisher.exe
sign untrusted-publisher installer_untrusted_root.exe
cp "$work/installer_signed.exe" "$work/installer_tampered.exe"
flip_code_byte "$work/installer_tampered.exe"

expect_valid ca.pem installer_signed.exe "Orvanta Test Publisher"
expect_valid ca.pem installer_other_publisher.exe "Someone Else Ltd"
expect_valid untrusted-ca.pem installer_untrusted_root.exe "Orvanta Test Publisher"
expect_invalid ca.pem installer_untrusted_root.exe
expect_invalid ca.pem installer_tampered.exe
expect_invalid ca.pem installer_unsigned.exe
cmp -s "$work/installer_signed.exe" "$work/installer_tampered.exe" && { echo "sign-variants: tampering failed" >&2; exit 1; }

for v in signed unsigned tampered other_publisher untrusted_root; do
  mv -f "$work/installer_$v.exe" "$out/installer_$v.exe"
done
