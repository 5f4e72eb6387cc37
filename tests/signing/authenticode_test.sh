#!/usr/bin/env bash
# The build's signing step (cmake/sign-file.sh) against a throwaway certificate
# authority made here with openssl, with the key in a PKCS#12 file and with the
# key in a PKCS#11 token (SoftHSM2, a token created in a folder of this test,
# the key generated inside it): every artifact it signs verifies with
# osslsigncode against that root, not against another; a flipped byte fails
# verification; signing is repeatable (one signing time, one result); the
# password or PIN from the environment works like its file; a wrong password
# or PIN fails with a clear message and leaves the file as it was; the PIN
# appears in no output and on no command line. Then Wine's WinVerifyTrust
# judges the DLLs signed both ways with the root in the machine's Root store.
#
#   authenticode_test.sh BUILD_DIR VERIFY_TRUST_EXE FILE...
#
# FILEs (qzproduct.dll, qzreg.exe, qzaction.dll, the MSI) are copied, never signed in place.
set -uo pipefail

[ $# -ge 3 ] || { echo "usage: authenticode_test.sh BUILD_DIR VERIFY_TRUST_EXE FILE..." >&2; exit 2; }
build_dir=$(realpath "$1")
verify_trust=$(realpath "$2")
shift 2
files=()
for file in "$@"; do files+=("$(realpath "$file")"); done
set -- "${files[@]}"
here=$(cd "$(dirname "$0")" && pwd)
sign=$here/../../cmake/sign-file.sh

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

work=$(mktemp -d "$build_dir/authenticode-test.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# ---- a root and a code-signing certificate it issued; another, unrelated root ----------
openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -keyout root.key -out root.pem -subj "/CN=Orvantis Test Root" \
  -addext basicConstraints=critical,CA:true -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null &&
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Orvantis Test Code Signing" 2>/dev/null &&
printf 'basicConstraints=CA:false\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext &&
openssl x509 -req -in signer.csr -CA root.pem -CAkey root.key -CAcreateserial -days 2 -sha256 -extfile signer.ext \
  -out signer.pem 2>/dev/null &&
(umask 077 && printf 'a test password with spaces' >password.txt) &&
openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile root.pem -passout file:password.txt -out signer.p12 &&
openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -keyout other.key -out other.pem -subj "/CN=Other Root" \
  2>/dev/null || { echo "FAIL: could not make the test certificates"; exit 1; }

# ---- a PKCS#11 token (SoftHSM2) in this folder, its key generated inside it --------------
# The token's PIN is distinctive, so that any trace of it in an output or a command line
# of the signing step is found below.
softhsm_module=
for candidate in /usr/lib/softhsm/libsofthsm2.so /usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so; do
  [ -r "$candidate" ] && { softhsm_module=$candidate; break; }
done
pin='pin-4711-QZ'
token_uri='pkcs11:token=Orvantis%20Test%20Token'
key_uri="$token_uri;object=codesign;type=private"
if [ -z "$softhsm_module" ] || ! command -v softhsm2-util >/dev/null || ! command -v pkcs11-tool >/dev/null; then
  fail "SoftHSM2 and pkcs11-tool are needed: run scripts/setup-debian.sh (softhsm2, opensc, libengine-pkcs11-openssl)"
else
  mkdir tokens
  printf 'directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\n' "$work" >softhsm2.conf
  export SOFTHSM2_CONF=$work/softhsm2.conf
  (umask 077 && printf '%s' "$pin" >pin.txt)
  if softhsm2-util --init-token --free --label "Orvantis Test Token" --pin "$pin" --so-pin 12345678 >token.log 2>&1 &&
    pkcs11-tool --module "$softhsm_module" --token-label "Orvantis Test Token" --login --pin "$pin" \
      --keypairgen --key-type rsa:2048 --label codesign --id 01 >>token.log 2>&1 &&
    OPENSSL_CONF=/dev/null openssl req -new -engine pkcs11 -keyform engine -key "$key_uri" -passin file:pin.txt \
      -subj "/CN=Orvantis Test Token Signing" -out token.csr </dev/null >>token.log 2>&1 &&
    openssl x509 -req -in token.csr -CA root.pem -CAkey root.key -CAcreateserial -days 2 -sha256 -extfile signer.ext \
      -out token.pem 2>>token.log &&
    openssl x509 -in token.pem -outform der -out token.der &&
    pkcs11-tool --module "$softhsm_module" --token-label "Orvantis Test Token" --login --pin "$pin" \
      --write-object token.der --type cert --label codesign --id 01 >>token.log 2>&1; then
    pass "a SoftHSM2 token with a key generated inside it and a certificate for that key"
  else
    fail "could not make the SoftHSM2 token: $(cat token.log)"
    softhsm_module=
  fi
fi

# osslsigncode as the signing step runs it, with its command line recorded.
mkdir shim
printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s/command-lines.txt"\nexec %s "$@"\n' "$work" "$(command -v osslsigncode)" \
  >shim/osslsigncode
chmod +x shim/osslsigncode
: >command-lines.txt
: >all-output.txt
sign_as_build() {  # sign-file.sh ARGS...: run with the recording osslsigncode, output kept in sign.log
  PATH=$work/shim:$PATH "$sign" "$@" >sign.log 2>&1
  local status=$?
  cat sign.log >>all-output.txt
  return $status
}

verifies() {  # file root.pem
  osslsigncode verify -CAfile "$2" -in "$1" >"$1.verify" 2>&1 && grep -q "Signature verification: ok" "$1.verify"
}

signing_time=1700000000
p12_options=(--pkcs12 signer.p12 --password-file password.txt)
p11_options=(--pkcs11-module "$softhsm_module" --pkcs11-key "$key_uri" --pkcs11-cert token.pem --pin-file pin.txt)
p11_env_options=(--pkcs11-module "$softhsm_module" --pkcs11-key "$key_uri" --pkcs11-cert token.pem)
kinds=(p12)
[ -z "$softhsm_module" ] || kinds+=(p11)

signed=()
for kind in "${kinds[@]}"; do
  if [ "$kind" = p12 ]; then
    options=("${p12_options[@]}"); secret_env=(QZ_SIGN_PASSWORD='a test password with spaces'); env_options=(--pkcs12 signer.p12)
  else
    options=("${p11_options[@]}"); secret_env=(QZ_SIGN_PIN="$pin"); env_options=("${p11_env_options[@]}")
  fi
  for file in "$@"; do
    name=${file##*/}
    [ -e "unsigned-$name" ] || cp "$file" "unsigned-$name"
    out=$kind-$name
    cp "$file" "$out"
    if ! sign_as_build "${options[@]}" --time "$signing_time" "$out"; then
      fail "$out: sign-file.sh failed: $(cat sign.log)"
      continue
    fi
    grep -q "^Signing $out with " sign.log || fail "$out: sign-file.sh did not say what it signs: $(cat sign.log)"
    signed+=("$out")

    verifies "$out" root.pem && pass "$out verifies against the test root" ||
      fail "$out does not verify: $(cat "$out.verify")"
    verifies "$out" other.pem && fail "$out verifies against an unrelated root" ||
      pass "$out does not verify against an unrelated root"

    # A flipped byte in the signed content (the middle of the file, inside the code or the
    # package's cabinet, well before the signature) breaks the digest.
    cp "$out" "flipped-$out"
    offset=$(($(stat -c %s "$out") / 3))
    byte=$(od -A n -t u1 -j "$offset" -N 1 "$out" | tr -d ' ')
    printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="flipped-$out" bs=1 seek="$offset" conv=notrunc 2>/dev/null
    cmp -s "$out" "flipped-$out" && fail "$out: the byte was not flipped"
    verifies "flipped-$out" root.pem && fail "$out with a flipped byte still verifies" ||
      pass "$out with a flipped byte fails verification"

    # One key, one signing time: the same signed bytes; the secret from the environment
    # works like its file.
    cp "unsigned-$name" "again-$out"
    env "${secret_env[@]}" PATH="$work/shim:$PATH" "$sign" "${env_options[@]}" --time "$signing_time" "again-$out" \
      >sign.log 2>&1 || fail "$out: signing with the secret from the environment failed: $(cat sign.log)"
    cat sign.log >>all-output.txt
    cmp -s "$out" "again-$out" && pass "$out: signing again gives the same bytes" ||
      fail "$out: signing again gives other bytes"
  done
done

first=${1##*/}
# Without a key the file stays as it is.
cp "$1" unconfigured
env -u QZ_SIGN_PKCS12 -u QZ_SIGN_PKCS11_KEY "$sign" unconfigured && cmp -s "$1" unconfigured &&
  pass "without a key nothing is signed" || fail "sign-file.sh without a key changed the file or failed"

# A wrong password or PIN is an error that says so, leaves the file as it was and nothing
# beside it, and says nothing of the secret.
printf 'wrong' >wrong.txt
wrong_cases=("PKCS#12 password|wrong password for|--pkcs12 signer.p12 --password-file wrong.txt")
[ -z "$softhsm_module" ] ||
  wrong_cases+=("PKCS#11 PIN|the PKCS#11 token refused the PIN|--pkcs11-module $softhsm_module --pkcs11-key $key_uri --pkcs11-cert token.pem --pin-file wrong.txt")
for case in "${wrong_cases[@]}"; do
  IFS='|' read -r what message option_text <<<"$case"
  read -r -a case_options <<<"$option_text"
  rm -rf wrong && mkdir wrong && cp "unsigned-$first" "wrong/$first"
  if sign_as_build "${case_options[@]}" --time "$signing_time" "wrong/$first"; then
    fail "signing with a wrong $what succeeded"
  else
    grep -q "$message" sign.log && grep -q "wrong/$first is unchanged" sign.log &&
      pass "a wrong $what fails with a clear message" || fail "a wrong $what fails without saying so: $(cat sign.log)"
    cmp -s "unsigned-$first" "wrong/$first" && [ "$(ls -A wrong)" = "$first" ] &&
      pass "a wrong $what leaves the file as it was and nothing beside it" ||
      fail "a wrong $what changed the file or left something: $(ls -A wrong)"
  fi
done

if [ -n "$softhsm_module" ]; then
  # The certificate as an object of the token gives the same signature as its file.
  cp "unsigned-$first" "object-$first"
  sign_as_build --pkcs11-module "$softhsm_module" --pkcs11-key "$key_uri" --pin-file pin.txt \
    --pkcs11-cert "$token_uri;object=codesign;type=cert" --time "$signing_time" "object-$first" ||
    fail "signing with the certificate object of the token failed: $(cat sign.log)"
  cmp -s "p11-$first" "object-$first" && pass "the token's certificate object signs like the certificate file" ||
    fail "the token's certificate object gives another signature than the certificate file"

  # A key URI that carries the PIN is refused: it would put the PIN on a command line.
  cp "unsigned-$first" "uri-pin-$first"
  sign_as_build --pkcs11-module "$softhsm_module" --pkcs11-key "$key_uri;pin-value=$pin" --pkcs11-cert token.pem \
    --time "$signing_time" "uri-pin-$first" && fail "a key URI with the PIN was accepted" ||
    { grep -q "carries a PIN" sign.log && pass "a key URI with the PIN is refused" || fail "a key URI with the PIN: $(cat sign.log)"; }

  # Both kinds of key at once: refused, nothing signed.
  cp "unsigned-$first" "both-$first"
  sign_as_build "${p12_options[@]}" "${p11_options[@]}" "both-$first" && fail "two keys at once were accepted" ||
    { grep -q "name one" sign.log && cmp -s "unsigned-$first" "both-$first" && pass "two keys at once are refused" ||
      fail "two keys at once: $(cat sign.log)"; }

  # The PIN in no output of the signing step and on none of osslsigncode's command lines.
  [ -s command-lines.txt ] || fail "no command line of osslsigncode was recorded"
  grep -q -e "-readpass" command-lines.txt && pass "osslsigncode reads the secrets from a file" ||
    fail "osslsigncode got no -readpass: $(head -3 command-lines.txt)"
  grep -q -F -e "$pin" command-lines.txt all-output.txt && fail "the PIN appears: $(grep -F -e "$pin" command-lines.txt all-output.txt)" ||
    pass "the PIN appears in no output and on no command line"
fi
grep -q -F -e "a test password" command-lines.txt all-output.txt && fail "the PKCS#12 password appears" ||
  pass "the PKCS#12 password appears in no output and on no command line"

# ---- Wine's WinVerifyTrust, with the test root in the machine's Root store -------------
# The module, the first DLL given, as signed with each kind of key.
dlls=()
for kind in "${kinds[@]}"; do
  for name in "${signed[@]}"; do case $name in "$kind"-*.dll) dlls+=("$name"); break ;; esac; done
done
if [ ${#dlls[@]} -ne ${#kinds[@]} ]; then
  fail "no signed DLL of each kind of key for WinVerifyTrust (${dlls[*]})"
else
  winpath() { printf 'Z:%s' "${1//\//\\}"; }
  unsigned=unsigned-${dlls[0]#*-}
  trust_files=("$(winpath "$work/$unsigned")")
  for dll in "${dlls[@]}"; do trust_files+=("$(winpath "$work/$dll")" "$(winpath "$work/flipped-$dll")"); done
  "$here/../../cmake/wine-test-run.sh" --build-dir "$build_dir" "$verify_trust" "$(winpath "$work/root.pem")" \
    "${trust_files[@]}" >trust.txt 2>trust.err || fail "verify_trust failed: $(cat trust.err)"
  result() { awk -F'\t' -v f="$1" '{ n = $1; sub(/.*\\/, "", n) } n == f { print $2 }' trust.txt | tr -d '\r'; }
  for dll in "${dlls[@]}"; do
    [ "$(result "$dll")" = 0x00000000 ] && pass "WinVerifyTrust trusts the signed $dll" ||
      fail "WinVerifyTrust on the signed $dll: $(result "$dll") (0x00000000 expected)"
    # TRUST_E_BAD_DIGEST: Wine's wintrust does check the file against its signature.
    [ "$(result "flipped-$dll")" = 0x80096010 ] && pass "WinVerifyTrust refuses $dll with a flipped byte" ||
      fail "WinVerifyTrust on $dll with a flipped byte: $(result "flipped-$dll") (0x80096010 expected)"
  done
  # TRUST_E_NOSIGNATURE
  [ "$(result "$unsigned")" = 0x800b0100 ] && pass "WinVerifyTrust finds no signature on $unsigned" ||
    fail "WinVerifyTrust on $unsigned: $(result "$unsigned") (0x800b0100 expected)"
fi

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all passed"
