#!/usr/bin/env bash
# The build's signing step (cmake/sign-file.sh) against a throwaway certificate
# authority made here with openssl: every artifact it signs verifies with
# osslsigncode against that root, not against another; a flipped byte fails
# verification; signing is repeatable (one signing time, one result); the
# password from the environment works like the password file. Then Wine's
# WinVerifyTrust judges the signed DLL with the root in the machine's Root store.
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

work=$(mktemp -d "$build_dir/authenticode-test.XXXXXX")
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

verifies() {  # file root.pem
  osslsigncode verify -CAfile "$2" -in "$1" >"$1.verify" 2>&1 && grep -q "Signature verification: ok" "$1.verify"
}

signing_time=1700000000
signed=()
for file in "$@"; do
  name=${file##*/}
  cp "$file" "$name"
  cp "$file" "unsigned-$name"
  if ! "$sign" --pkcs12 signer.p12 --password-file password.txt --time "$signing_time" "$name" >sign.log 2>&1; then
    fail "$name: sign-file.sh failed: $(cat sign.log)"
    continue
  fi
  grep -q "a test password" sign.log && fail "$name: the password was printed"
  signed+=("$name")

  verifies "$name" root.pem && pass "$name verifies against the test root" ||
    fail "$name does not verify: $(cat "$name.verify")"
  verifies "$name" other.pem && fail "$name verifies against an unrelated root" ||
    pass "$name does not verify against an unrelated root"

  # A flipped byte in the signed content (the middle of the file, inside the code or the
  # package's cabinet, well before the signature) breaks the digest.
  cp "$name" "flipped-$name"
  offset=$(($(stat -c %s "$name") / 3))
  byte=$(od -A n -t u1 -j "$offset" -N 1 "$name" | tr -d ' ')
  printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="flipped-$name" bs=1 seek="$offset" conv=notrunc 2>/dev/null
  cmp -s "$name" "flipped-$name" && fail "$name: the byte was not flipped"
  verifies "flipped-$name" root.pem && fail "$name with a flipped byte still verifies" ||
    pass "$name with a flipped byte fails verification"

  # One certificate, one signing time: the same signed bytes.
  cp "unsigned-$name" "again-$name"
  QZ_SIGN_PASSWORD='a test password with spaces' "$sign" --pkcs12 signer.p12 --time "$signing_time" "again-$name" \
    >sign.log 2>&1 || fail "$name: signing with the password from the environment failed: $(cat sign.log)"
  cmp -s "$name" "again-$name" && pass "$name: signing again gives the same bytes" ||
    fail "$name: signing again gives other bytes"
done

# Without a certificate the file stays as it is.
cp "$1" unconfigured
env -u QZ_SIGN_PKCS12 "$sign" unconfigured && cmp -s "$1" unconfigured && pass "without a certificate nothing is signed" ||
  fail "sign-file.sh without a certificate changed the file or failed"
# A wrong password is an error, and says nothing of the password.
printf 'wrong' >wrong.txt
cp "unsigned-${1##*/}" wrong-password
"$sign" --pkcs12 signer.p12 --password-file wrong.txt wrong-password >sign.log 2>&1 &&
  fail "signing with a wrong password succeeded" || pass "signing with a wrong password fails"

# ---- Wine's WinVerifyTrust, with the test root in the machine's Root store -------------
dll=
for name in "${signed[@]}"; do case $name in *.dll) [ -n "$dll" ] || dll=$name ;; esac; done  # the module, the first
if [ -z "$dll" ]; then
  fail "no signed DLL for WinVerifyTrust"
else
  winpath() { printf 'Z:%s' "${1//\//\\}"; }
  "$here/../../cmake/wine-test-run.sh" --build-dir "$build_dir" "$verify_trust" "$(winpath "$work/root.pem")" \
    "$(winpath "$work/$dll")" "$(winpath "$work/flipped-$dll")" "$(winpath "$work/unsigned-$dll")" >trust.txt 2>trust.err ||
    fail "verify_trust failed: $(cat trust.err)"
  result() { awk -F'\t' -v f="$1" '{ n = $1; sub(/.*\\/, "", n) } n == f { print $2 }' trust.txt | tr -d '\r'; }
  [ "$(result "$dll")" = 0x00000000 ] && pass "WinVerifyTrust trusts the signed $dll" ||
    fail "WinVerifyTrust on the signed $dll: $(result "$dll") (0x00000000 expected)"
  # TRUST_E_BAD_DIGEST: Wine's wintrust does check the file against its signature.
  [ "$(result "flipped-$dll")" = 0x80096010 ] && pass "WinVerifyTrust refuses $dll with a flipped byte" ||
    fail "WinVerifyTrust on $dll with a flipped byte: $(result "flipped-$dll") (0x80096010 expected)"
  # TRUST_E_NOSIGNATURE
  [ "$(result "unsigned-$dll")" = 0x800b0100 ] && pass "WinVerifyTrust finds no signature on the unsigned $dll" ||
    fail "WinVerifyTrust on the unsigned $dll: $(result "unsigned-$dll") (0x800b0100 expected)"
fi

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all passed"
