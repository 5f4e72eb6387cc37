#!/usr/bin/env bash
# The signing settings as configuring resolves them (cmake/signing.cmake), in a
# small project of their own: a relative path is taken from the folder cmake
# runs in and stored as an absolute one; a setting naming no file, a key URI
# carrying a PIN, a PKCS#11 key without its module and two keys at once stop
# the configuration with a message naming the setting; the settings file the
# signing step reads holds the resolved paths and URIs and never a secret.
#
#   signing_configure_test.sh SOURCE_DIR WORK_DIR
set -uo pipefail
[ $# -eq 2 ] || { echo "usage: signing_configure_test.sh SOURCE_DIR WORK_DIR" >&2; exit 2; }
source_dir=$(realpath "$1")
mkdir -p "$2"
work=$(mktemp -d "$(realpath "$2")/signing-configure.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

mkdir -p "$work/project" "$work/cert" "$work/release/run" "$work/module"
cat >"$work/project/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(signing_settings NONE)
set(WIN32 ON)
set(QZ_SOURCE_DATE_EPOCH 1700000000)
set(CMAKE_SOURCE_DIR "$source_dir")
include("$source_dir/cmake/signing.cmake")
foreach(setting QZ_SIGN_PKCS12 QZ_SIGN_PASSWORD_FILE QZ_SIGN_PKCS11_MODULE QZ_SIGN_PKCS11_CERT QZ_SIGN_PIN_FILE)
  message(STATUS "resolved \${setting}=\${\${setting}}")
endforeach()
CMAKE
printf 'p12' >"$work/cert/codesign.p12"
printf 'password' >"$work/cert/codesign.pass"
printf 'module' >"$work/module/libtoken.so"
printf 'cert' >"$work/cert/signer.pem"
printf 'pin-0815' >"$work/cert/pin.txt"

configure() {  # build-folder-name: configures from $work/release/run with the environment given
  rm -rf "$work/$1"
  (cd "$work/release/run" && cmake -S "$work/project" -B "$work/$1") >"$work/$1.log" 2>&1
}
settings() { cat "$work/$1/signing/sign-settings.txt" 2>/dev/null; }

# Relative paths from the folder cmake runs in, as a release manager writes them.
if QZ_SIGN_PKCS12=../../cert/codesign.p12 QZ_SIGN_PASSWORD_FILE=../../cert/codesign.pass QZ_SIGN_PKCS11_KEY= \
  configure p12; then
  grep -q "resolved QZ_SIGN_PKCS12=$work/cert/codesign.p12\$" "$work/p12.log" &&
    grep -q "resolved QZ_SIGN_PASSWORD_FILE=$work/cert/codesign.pass\$" "$work/p12.log" &&
    grep -qx "QZ_SIGN_PKCS12:FILEPATH=$work/cert/codesign.p12" "$work/p12/CMakeCache.txt" &&
    grep -qx "pkcs12=$work/cert/codesign.p12" <<<"$(settings p12)" &&
    pass "relative PKCS#12 paths are resolved from the folder cmake runs in" ||
    fail "relative PKCS#12 paths: $(grep -E 'resolved|Signing' "$work/p12.log"; settings p12)"
  # Configuring again from the build folder (as the build itself does) keeps them.
  (cd "$work/p12" && cmake . >/dev/null 2>&1) && grep -qx "pkcs12=$work/cert/codesign.p12" <<<"$(settings p12)" &&
    pass "configuring again from elsewhere keeps the resolved paths" || fail "configuring again lost the paths: $(settings p12)"
else
  fail "configuring with relative PKCS#12 paths failed: $(tail -5 "$work/p12.log")"
fi

key='pkcs11:token=Release%20Token;object=codesign;type=private'
if QZ_SIGN_PKCS11_MODULE=../../module/libtoken.so QZ_SIGN_PKCS11_KEY="$key" QZ_SIGN_PKCS11_CERT=../../cert/signer.pem \
  QZ_SIGN_PIN_FILE=../../cert/pin.txt QZ_SIGN_PIN=pin-0815 QZ_SIGN_PKCS12= configure p11; then
  expected=$(printf 'pkcs11-module=%s\npkcs11-key=%s\npkcs11-cert=%s\npin-file=%s\ntime=1700000000' \
    "$work/module/libtoken.so" "$key" "$work/cert/signer.pem" "$work/cert/pin.txt")
  [ "$(settings p11)" = "$expected" ] && pass "the PKCS#11 settings file holds the resolved paths and the key URI whole" ||
    fail "the PKCS#11 settings file: $(settings p11)"
  grep -r -q -F "pin-0815" "$work/p11" "$work/p11.log" && fail "the PIN reached the build folder or the configure output" ||
    pass "the PIN reaches neither the build folder nor the configure output"
else
  fail "configuring with a PKCS#11 key failed: $(tail -5 "$work/p11.log")"
fi
cert_uri='pkcs11:token=Release%20Token;object=codesign;type=cert'
QZ_SIGN_PKCS11_MODULE=../../module/libtoken.so QZ_SIGN_PKCS11_KEY="$key" QZ_SIGN_PKCS11_CERT="$cert_uri" configure p11-object &&
  grep -qx "pkcs11-cert=$cert_uri" <<<"$(settings p11-object)" && pass "a certificate object's URI is kept as it is" ||
  fail "a certificate object's URI: $(tail -5 "$work/p11-object.log")"

# What configuring refuses: setting | expected text | environment
refusals=(
  "a missing PKCS#12 file|QZ_SIGN_PKCS12 names no file: ../cert/codesign.p12|QZ_SIGN_PKCS12=../cert/codesign.p12"
  "a missing password file|QZ_SIGN_PASSWORD_FILE names no file|QZ_SIGN_PKCS12=$work/cert/codesign.p12 QZ_SIGN_PASSWORD_FILE=nothing.pass"
  "a missing PKCS#11 module|QZ_SIGN_PKCS11_MODULE names no file|QZ_SIGN_PKCS11_MODULE=/nonexistent/libtoken.so QZ_SIGN_PKCS11_KEY=$key QZ_SIGN_PKCS11_CERT=$cert_uri"
  "a missing certificate file|QZ_SIGN_PKCS11_CERT names no file|QZ_SIGN_PKCS11_MODULE=$work/module/libtoken.so QZ_SIGN_PKCS11_KEY=$key QZ_SIGN_PKCS11_CERT=signer.pem"
  "a key without its module|QZ_SIGN_PKCS11_MODULE, the PKCS#11 module that holds it, is not|QZ_SIGN_PKCS11_KEY=$key QZ_SIGN_PKCS11_CERT=$cert_uri"
  "a key without its certificate|QZ_SIGN_PKCS11_CERT, its certificate|QZ_SIGN_PKCS11_MODULE=$work/module/libtoken.so QZ_SIGN_PKCS11_KEY=$key"
  "a key URI with the PIN|carries a PIN|QZ_SIGN_PKCS11_MODULE=$work/module/libtoken.so QZ_SIGN_PKCS11_KEY=$key;pin-value=pin-0815 QZ_SIGN_PKCS11_CERT=$cert_uri"
  "a key that is no URI|must be a pkcs11: URI|QZ_SIGN_PKCS11_MODULE=$work/module/libtoken.so QZ_SIGN_PKCS11_KEY=codesign QZ_SIGN_PKCS11_CERT=$cert_uri"
  "two keys at once|name one key|QZ_SIGN_PKCS12=$work/cert/codesign.p12 QZ_SIGN_PKCS11_MODULE=$work/module/libtoken.so QZ_SIGN_PKCS11_KEY=$key QZ_SIGN_PKCS11_CERT=$cert_uri"
)
for refusal in "${refusals[@]}"; do
  IFS='|' read -r what text environment <<<"$refusal"
  read -r -a assignments <<<"$environment"
  if env -u QZ_SIGN_PKCS12 -u QZ_SIGN_PKCS11_KEY "${assignments[@]}" bash -c "$(declare -f configure); work='$work'; configure refused"; then
    fail "$what was accepted"
  else
    # CMake wraps a message's lines: compare with the lines joined.
    tr -s ' \n' '  ' <"$work/refused.log" | grep -q -F -e "$text" && pass "$what stops the configuration" ||
      fail "$what: $(grep -A3 'CMake Error' "$work/refused.log")"
  fi
done

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all passed"
