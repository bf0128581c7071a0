#!/usr/bin/env bash
# Makes the files windows_tests.exe's recorder trust tests need, at kit-build time, without a
# network: a throwaway certificate authority, a code-signing certificate it issues with the subject
# "CN=Flashwright Test Signer", and the command line and the recorder signed with it by
# scripts/sign.sh (as releases are signed); beside them the recorders the programs must refuse.
# Only certificates are kept: every private key is made in a scratch folder and goes with it, so
# nobody can sign anything more with an authority a test PC trusted for a while.
#
# DEST_DIR receives:
#   test-ca.cer              the authority (DER); the tests put it in the machine's Root store
#   impostor-ca.cer          another authority made here (DER), trusted by the tests as well
#   distrusted-signer.cer    a second certificate of the signer (same key, another serial): the
#                            tests put it in the machine's Disallowed store, Windows' explicit
#                            distrust, which stands in for a revocation (no CRL server here)
#   signed/flashwright-cli.exe, signed/flashwright-recorder.dll   signed by the signer
#   impostor/flashwright-recorder.dll     signed by the impostor's signer: the same subject,
#                                         another key, another authority
#   unsigned/flashwright-recorder.dll     as built
#   distrusted/flashwright-recorder.dll   signed with the distrusted certificate
# The signing time is SOURCE_DATE_EPOCH (scripts/sign.sh's default: the last commit's time), so
# the signatures are the same for the same keys; the keys themselves are new each time.
#
# Usage: make-fixtures.sh DEST_DIR BIN_DIR   (BIN_DIR: build/win32/bin, or a kit's bin/)
set -euo pipefail

[ $# -eq 2 ] || {
  echo "usage: make-fixtures.sh DEST_DIR BIN_DIR" >&2
  exit 2
}
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
dest="$(mkdir -p "$1" && cd "$1" && pwd)"
bin="$(cd "$2" && pwd)"

Die() {
  echo "make-fixtures: $*" >&2
  exit 1
}
for tool in openssl osslsigncode; do
  command -v "$tool" >/dev/null || Die "$tool is missing: run scripts/install-deps.sh"
done
cli="$bin/flashwright-cli.exe"
[ -f "$cli" ] || Die "no flashwright-cli.exe in $bin"
recorder="$bin/flashwright-recorder.dll"
[ -f "$recorder" ] || recorder="$bin/../variants/recorder/flashwright-recorder.dll"
[ -f "$recorder" ] || Die "no flashwright-recorder.dll in $bin or beside it in variants/recorder"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/flashwright-fixtures.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

# Ten years: the kit is run on test PCs long after it was built. Windows checks a signature
# without a time stamp against the certificate at the time it verifies.
days=3650
Authority() {  # Authority NAME "SUBJECT"
  openssl req -x509 -newkey rsa:2048 -nodes -days "$days" -subj "$2" -keyout "$1.key" \
    -out "$1.pem" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null || Die "making $1 failed"
}
printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
  "extendedKeyUsage=codeSigning" >signer.ext
Issue() {  # Issue CERT KEY AUTHORITY SERIAL: a code-signing certificate for KEY, subject the signer's
  openssl req -new -key "$2.key" -subj "/CN=Flashwright Test Signer" -out "$1.csr" 2>/dev/null
  openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -set_serial "$4" -days "$days" \
    -extfile signer.ext -out "$1.pem" 2>/dev/null || Die "issuing $1 failed"
  openssl pkcs12 -export -inkey "$2.key" -in "$1.pem" -certfile "$3.pem" -out "$1.pfx" \
    -passout pass: || Die "packing $1 failed"
}
Sign() {  # Sign CERT OUT_DIR FILE...
  local certificate="$1" out="$2"
  shift 2
  FLASHWRIGHT_SIGN_PFX="$scratch/$certificate.pfx" FLASHWRIGHT_SIGN_PASSWORD='' \
    bash "$root/scripts/sign.sh" "$out" "$@" >"$certificate.log" 2>&1 ||
    { cat "$certificate.log" >&2; Die "signing with $certificate failed"; }
}

Authority ca "/CN=Flashwright Test CA"
Authority impostor-ca "/CN=Flashwright Impostor CA"
openssl genrsa -out signer.key 2048 2>/dev/null
openssl genrsa -out impostor.key 2048 2>/dev/null
Issue signer signer ca 4097
Issue distrusted signer ca 4098
Issue impostor impostor impostor-ca 4097

rm -rf "${dest:?}/signed" "$dest/impostor" "$dest/unsigned" "$dest/distrusted"
Sign signer "$dest/signed" "$cli" "$recorder"
Sign impostor "$dest/impostor" "$recorder"
Sign distrusted "$dest/distrusted" "$recorder"
mkdir -p "$dest/unsigned"
cp "$recorder" "$dest/unsigned/flashwright-recorder.dll"
openssl x509 -in ca.pem -outform DER -out "$dest/test-ca.cer"
openssl x509 -in impostor-ca.pem -outform DER -out "$dest/impostor-ca.cer"
openssl x509 -in distrusted.pem -outform DER -out "$dest/distrusted-signer.cer"

# What the tests take for granted, checked here where it is cheap: each signed file verifies
# against its own authority only.
Verifies() { osslsigncode verify -CAfile "$1" -in "$2" >/dev/null 2>&1; }
for file in signed/flashwright-cli.exe signed/flashwright-recorder.dll \
  distrusted/flashwright-recorder.dll; do
  Verifies ca.pem "$dest/$file" || Die "$file does not verify against the test authority"
  ! Verifies impostor-ca.pem "$dest/$file" || Die "$file verifies against the impostor"
done
Verifies impostor-ca.pem "$dest/impostor/flashwright-recorder.dll" ||
  Die "the impostor's recorder does not verify against its own authority"
! Verifies ca.pem "$dest/impostor/flashwright-recorder.dll" ||
  Die "the impostor's recorder verifies against the test authority"
echo "make-fixtures: certificates and signed files in $dest"
