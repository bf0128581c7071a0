#!/usr/bin/env bash
# Signs copies of both programs with scripts/sign.sh as `make sign` does, using a throwaway
# certificate authority and code-signing certificate made here with openssl (no network), and
# checks: both verify against that authority and not against another one; the signing time is
# SOURCE_DATE_EPOCH; signing again with the same time gives identical files and another time
# different ones; the signed command line still runs, and binds only a recorder signed with its key;
# without a key nothing is signed.
# Usage: check-signing.sh SOURCE_DIR PROGRAM...
set -euo pipefail

sourceDir="$(realpath "$1")"
shift
programs=()
for program in "$@"; do programs+=("$(realpath "$program")"); done

Fail() {
  echo "FAIL: $*" >&2
  exit 1
}
scratch="$(mktemp -d "${TMPDIR:-/tmp}/flashwright-signing.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"

# The authority, and a certificate it issues for code signing only.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Flashwright Test CA" \
  -keyout ca.key -out ca.pem -addext "basicConstraints=critical,CA:TRUE" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=Flashwright Test Signer" \
  -keyout signer.key -out signer.csr 2>/dev/null
printf '%s\n' "basicConstraints=CA:FALSE" "keyUsage=critical,digitalSignature" \
  "extendedKeyUsage=codeSigning" >signer.ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
  -extfile signer.ext -out signer.pem 2>/dev/null
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -out signer.pfx \
  -passout pass:'not so secret'
# An authority that issued nothing here.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Unrelated CA" \
  -keyout other.key -out other.pem 2>/dev/null

Sign() {
  local outDir="$1" epoch="$2"
  FLASHWRIGHT_SIGN_PFX="$scratch/signer.pfx" FLASHWRIGHT_SIGN_PASSWORD='not so secret' \
    SOURCE_DATE_EPOCH="$epoch" bash "$sourceDir/scripts/sign.sh" "$outDir" "${programs[@]}" \
    >"$outDir.log" 2>&1 || { cat "$outDir.log" >&2; Fail "scripts/sign.sh failed"; }
}

epoch=1767225600  # 2026-01-01 00:00:00 UTC
Sign "$scratch/signed" "$epoch"
Sign "$scratch/again" "$epoch"
Sign "$scratch/later" $((epoch + 60))
signingTime="$(date -u -d "@$epoch" '+%b %e %H:%M:%S %Y GMT')"

for program in "${programs[@]}"; do
  name="$(basename "$program")"
  signed="$scratch/signed/$name"
  [ -f "$signed" ] || Fail "$name was not signed"
  cmp -s "$signed" "$program" && Fail "the signed $name is the unsigned file"
  if ! osslsigncode verify -CAfile ca.pem -in "$signed" >"$name.verify" 2>&1; then
    cat "$name.verify" >&2
    Fail "the signed $name does not verify against the authority that issued its certificate"
  fi
  grep -qF "Signing time: $signingTime" "$name.verify" ||
    Fail "the signed $name does not carry the signing time $signingTime"
  if osslsigncode verify -CAfile other.pem -in "$signed" >/dev/null 2>&1; then
    Fail "the signed $name verifies against an unrelated authority"
  fi
  if osslsigncode verify -CAfile ca.pem -in "$program" >/dev/null 2>&1; then
    Fail "the unsigned $name verifies"
  fi
  cmp "$signed" "$scratch/again/$name" || Fail "$name signed twice at one time differs"
  cmp -s "$signed" "$scratch/later/$name" && Fail "$name signed at another time is the same file"
done

# A signed program is still a program Windows loads.
cli="$scratch/signed/flashwright-cli.exe"
if [ -f "$cli" ]; then
  out="$(bash "$sourceDir/scripts/wine-exec.sh" "$cli" --version)" ||
    Fail "the signed flashwright-cli.exe --version failed"
  [[ "$out" == "flashwright-cli "[0-9]* ]] || Fail "the signed flashwright-cli.exe --version said: $out"
fi

# Signed programs bind only a recorder signed with their own key whose signature the system
# trusts, while recording is on: the one signed with them records. Passed over, with the library
# bound as always and status saying why: an unsigned recorder; one signed for another publisher by
# the same authority; an impostor's, signed by a certificate of its own making under our very
# subject; and ours with a byte of its DOS stub changed after signing.
#
# Wine (8) trusts any signature whose digest and key check out, whoever issued the certificate:
# a self-made certificate verifies there as well as one from a trusted root, and ours verifies
# without the test authority in the prefix's Root store. So the impostor is refused here by its
# key alone, and the changed file by its digest; a signature Windows would not trust (a private or
# self-made root, an expired certificate) is left to the native unit table and the Windows tests.
recorder="$scratch/signed/flashwright-recorder.dll"
if [ -f "$cli" ] && [ -f "$recorder" ]; then
  openssl req -newkey rsa:2048 -nodes -subj "/CN=Another Publisher" -keyout another.key \
    -out another.csr 2>/dev/null
  openssl x509 -req -in another.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile signer.ext -out another.pem 2>/dev/null
  openssl pkcs12 -export -inkey another.key -in another.pem -certfile ca.pem -out another.pfx \
    -passout pass:
  mkdir -p another
  FLASHWRIGHT_SIGN_PFX="$scratch/another.pfx" SOURCE_DATE_EPOCH="$epoch" \
    bash "$sourceDir/scripts/sign.sh" another "${programs[@]}" >another.log 2>&1 ||
    { cat another.log >&2; Fail "signing for another publisher failed"; }
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Flashwright Test Signer" \
    -keyout impostor.key -out impostor.pem -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=codeSigning" 2>/dev/null
  openssl pkcs12 -export -inkey impostor.key -in impostor.pem -out impostor.pfx -passout pass:
  mkdir -p impostor
  FLASHWRIGHT_SIGN_PFX="$scratch/impostor.pfx" SOURCE_DATE_EPOCH="$epoch" \
    bash "$sourceDir/scripts/sign.sh" impostor "${programs[2]}" >impostor.log 2>&1 ||
    { cat impostor.log >&2; Fail "signing the impostor's recorder failed"; }
  cp "$recorder" changed.dll
  printf 'X' | dd of=changed.dll bs=1 seek=$((0x50)) conv=notrunc status=none
  folder="$scratch/installed"
  mkdir -p "$folder"
  cp "$cli" "$folder/"
  cp "$(dirname "${programs[1]}")/ZRFWUpdateDll.dll" "$folder/"
  Recorded() {  # Recorded RECORDER: whether status with the switch on recorded through it
    cp "$1" "$folder/flashwright-recorder.dll"
    rm -f "$scratch/session.fwrec"
    (cd "$folder" && FLASHWRIGHT_RECORDING="$(winepath -w "$scratch/session.fwrec")" \
      bash "$sourceDir/scripts/wine-exec.sh" "$folder/flashwright-cli.exe" status) \
      >/dev/null 2>"$scratch/status.err" || true
    [ -s "$scratch/session.fwrec" ]
  }
  Refused() {  # Refused RECORDER WHAT REASON: nothing recorded, and status said REASON
    ! Recorded "$1" || Fail "signed programs bound $2"
    grep -qF "the recorder cannot be used: $3" "$scratch/status.err" ||
      Fail "status did not say why $2 is not used ($3): $(cat "$scratch/status.err")"
  }
  (cd "$folder" && bash "$sourceDir/scripts/wine-exec.sh" "$folder/flashwright-cli.exe" support \
    record on) >/dev/null 2>&1 || Fail "support record on failed"
  Recorded "$recorder" || Fail "the recorder signed with the programs recorded nothing"
  Refused "${programs[2]}" "an unsigned recorder" "the programs are signed and the recorder is not"
  Refused "another/flashwright-recorder.dll" "another publisher's recorder" \
    "the recorder is signed with a key other than the programs'"
  Refused "impostor/flashwright-recorder.dll" "a recorder signed under their subject with another key" \
    "the recorder is signed with a key other than the programs'"
  Refused changed.dll "their recorder changed after signing" "the recorder's signature does not verify"
  (cd "$folder" && bash "$sourceDir/scripts/wine-exec.sh" "$folder/flashwright-cli.exe" support \
    record off) >/dev/null 2>&1 || Fail "support record off failed"
fi

# A key kept without a password, named with an empty FLASHWRIGHT_SIGN_PASSWORD as a deployment
# pipeline's unset secret often is.
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -out open.pfx -passout pass:
mkdir -p "$scratch/open"
FLASHWRIGHT_SIGN_PFX="$scratch/open.pfx" FLASHWRIGHT_SIGN_PASSWORD='' SOURCE_DATE_EPOCH="$epoch" \
  bash "$sourceDir/scripts/sign.sh" "$scratch/open" "${programs[0]}" >"$scratch/open.log" 2>&1 ||
  { cat "$scratch/open.log" >&2; Fail "scripts/sign.sh with a key without a password failed"; }
osslsigncode verify -CAfile ca.pem -in "$scratch/open/$(basename "${programs[0]}")" >/dev/null 2>&1 ||
  Fail "a program signed with a key without a password does not verify"

# Without a key: nothing signed, said so, and no signed copy from before left behind.
message="$(env -u FLASHWRIGHT_SIGN_PFX bash "$sourceDir/scripts/sign.sh" "$scratch/signed" \
  "${programs[@]}")" || Fail "scripts/sign.sh without a key failed"
[[ "$message" == *"FLASHWRIGHT_SIGN_PFX is not set: nothing signed"* ]] ||
  Fail "scripts/sign.sh without a key said: $message"
leftover="$(find "$scratch/signed" -type f)"
[ -z "$leftover" ] || Fail "signed copies left after signing without a key: $leftover"

echo "signing OK: ${programs[*]}"
