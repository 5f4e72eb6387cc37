#!/usr/bin/env bash
# Signs files in place with an Authenticode signature (Debian's osslsigncode):
# PE files (DLLs, programs) and MSI packages alike, with the key in a PKCS#12
# file or in a PKCS#11 module (a hardware token, a network HSM, a cloud key
# service's PKCS#11 library, SoftHSM).
#
#   sign-file.sh [--settings FILE]
#                [--pkcs12 FILE] [--password-file FILE]
#                [--pkcs11-module MODULE --pkcs11-key URI --pkcs11-cert FILE|URI] [--pin-file FILE]
#                [--timestamp-url URL] [--time UNIX-TIME] [--description TEXT] [--] FILE...
#
# Each setting falls back to an environment variable: QZ_SIGN_PKCS12,
# QZ_SIGN_PASSWORD_FILE, QZ_SIGN_PKCS11_MODULE, QZ_SIGN_PKCS11_KEY,
# QZ_SIGN_PKCS11_CERT, QZ_SIGN_PIN_FILE, QZ_SIGN_TIMESTAMP_URL. --settings
# reads them from a file of "name=value" lines with the options' names
# (pkcs12=..., pkcs11-key=...): the build writes one when it is configured,
# since a key URI's ";" cannot pass through a CMake command line. Options
# given after --settings override it.
#
# Without a key (neither a PKCS#12 file nor a PKCS#11 key) nothing is signed
# and the files stay as they are; with both, nothing is signed and it is an
# error. The secret that unlocks the key (the PKCS#12 file's password, the
# token's PIN) is read from its file, else from the environment at the time of
# signing (QZ_SIGN_PASSWORD, QZ_SIGN_PIN). It reaches osslsigncode through a
# private file (-readpass), never on a command line, and is never printed; a
# key URI carrying the PIN (pin-value=) is refused.
#
# --time sets the signature's signing time (the build passes the commit's
# time, SOURCE_DATE_EPOCH): with it, signing one file twice with one key gives
# the same bytes. A timestamp server (RFC 3161) countersigns the signature so
# that it stays valid after the certificate expires; it needs the network.
#
# A file is signed into a temporary file first and replaces the original only
# when osslsigncode succeeded: a failure (a wrong PIN, a token not present)
# leaves the file exactly as it was and exits 1.
set -euo pipefail

pkcs12=${QZ_SIGN_PKCS12:-}
password_file=${QZ_SIGN_PASSWORD_FILE:-}
pkcs11_module=${QZ_SIGN_PKCS11_MODULE:-}
pkcs11_key=${QZ_SIGN_PKCS11_KEY:-}
pkcs11_cert=${QZ_SIGN_PKCS11_CERT:-}
pin_file=${QZ_SIGN_PIN_FILE:-}
timestamp_url=${QZ_SIGN_TIMESTAMP_URL:-}
signing_time=
description=Orvantis

set_setting() {  # name value
  case $1 in
    pkcs12) pkcs12=$2 ;;
    password-file) password_file=$2 ;;
    pkcs11-module) pkcs11_module=$2 ;;
    pkcs11-key) pkcs11_key=$2 ;;
    pkcs11-cert) pkcs11_cert=$2 ;;
    pin-file) pin_file=$2 ;;
    timestamp-url) timestamp_url=$2 ;;
    time) signing_time=$2 ;;
    description) description=$2 ;;
    *) return 1 ;;
  esac
}

while [ $# -gt 0 ]; do
  case $1 in
    --settings)
      [ -r "$2" ] || { echo "sign-file.sh: cannot read the settings file $2" >&2; exit 2; }
      while IFS= read -r line || [ -n "$line" ]; do
        case $line in ''|'#'*) continue ;; esac
        set_setting "${line%%=*}" "${line#*=}" ||
          { echo "sign-file.sh: $2: unknown setting: ${line%%=*}" >&2; exit 2; }
      done <"$2"
      shift 2 ;;
    --) shift; break ;;
    --*)
      [ $# -ge 2 ] && set_setting "${1#--}" "$2" || { echo "sign-file.sh: unknown option or missing value: $1" >&2; exit 2; }
      shift 2 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { echo "usage: sign-file.sh [--settings F] [--pkcs12 F [--password-file F]] [--pkcs11-module M --pkcs11-key URI --pkcs11-cert F|URI [--pin-file F]] [--timestamp-url U] [--time T] [--description D] [--] FILE..." >&2; exit 2; }

if [ -n "$pkcs12" ] && [ -n "$pkcs11_key" ]; then
  echo "sign-file.sh: both a PKCS#12 file ($pkcs12) and a PKCS#11 key ($pkcs11_key) are configured: name one" >&2
  exit 1
fi
[ -n "$pkcs12" ] || [ -n "$pkcs11_key" ] || exit 0

command -v osslsigncode >/dev/null ||
  { echo "sign-file.sh: osslsigncode not found: install Debian's osslsigncode (scripts/setup-debian.sh)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/sign-file.XXXXXX")
partial=
trap 'rm -rf "$work"; [ -z "$partial" ] || rm -f "$partial"' EXIT
chmod 700 "$work"

secret_file() {  # file-setting environment-variable: the file osslsigncode reads the secret from
  if [ -n "$1" ]; then
    printf '%s' "$1"
  else
    (umask 077 && printf '%s' "${!2:-}" >"$work/secret")
    printf '%s' "$work/secret"
  fi
}

if [ -n "$pkcs12" ]; then
  [ -r "$pkcs12" ] || { echo "sign-file.sh: cannot read the certificate $pkcs12" >&2; exit 1; }
  secret=$(secret_file "$password_file" QZ_SIGN_PASSWORD)
  [ -r "$secret" ] || { echo "sign-file.sh: cannot read the password file $secret" >&2; exit 1; }
  options=(-pkcs12 "$pkcs12" -readpass "$secret")
  key_text="the PKCS#12 file $pkcs12"
else
  [ -n "$pkcs11_module" ] || { echo "sign-file.sh: the PKCS#11 key $pkcs11_key needs its module (QZ_SIGN_PKCS11_MODULE)" >&2; exit 1; }
  [ -n "$pkcs11_cert" ] ||
    { echo "sign-file.sh: the PKCS#11 key $pkcs11_key needs its certificate, a file or a pkcs11: URI (QZ_SIGN_PKCS11_CERT)" >&2; exit 1; }
  [ -r "$pkcs11_module" ] || { echo "sign-file.sh: cannot read the PKCS#11 module $pkcs11_module" >&2; exit 1; }
  case $pkcs11_key in
    pkcs11:*) ;;
    *) echo "sign-file.sh: the PKCS#11 key must be a pkcs11: URI (RFC 7512), not $pkcs11_key" >&2; exit 1 ;;
  esac
  case "$pkcs11_key;$pkcs11_cert" in
    *pin-value=*|*pin-source=*)
      echo "sign-file.sh: the key or certificate URI carries a PIN: give the PIN in a file (QZ_SIGN_PIN_FILE) or in QZ_SIGN_PIN instead" >&2
      exit 1 ;;
  esac
  secret=$(secret_file "$pin_file" QZ_SIGN_PIN)
  [ -r "$secret" ] || { echo "sign-file.sh: cannot read the PIN file $secret" >&2; exit 1; }
  options=(-pkcs11module "$pkcs11_module" -key "$pkcs11_key" -readpass "$secret")
  case $pkcs11_cert in
    pkcs11:*) options+=(-pkcs11cert "$pkcs11_cert") ;;
    *)
      [ -r "$pkcs11_cert" ] || { echo "sign-file.sh: cannot read the certificate $pkcs11_cert" >&2; exit 1; }
      options+=(-certs "$pkcs11_cert") ;;
  esac
  key_text="the key $pkcs11_key of $pkcs11_module"
fi
options+=(-h sha256 -n "$description")
[ -z "$signing_time" ] || options+=(-time "$signing_time")
[ -z "$timestamp_url" ] || options+=(-ts "$timestamp_url")

for file in "$@"; do
  # Shown by every generator (Ninja prints a step's output, not its comment).
  echo "Signing ${file##*/} with $key_text"
  signed=$work/signed
  rm -f "$signed"
  if ! osslsigncode sign "${options[@]}" -in "$file" -out "$signed" >"$work/log" 2>&1; then
    cat "$work/log" >&2
    if grep -q -i -E 'PIN incorrect|CKR_PIN_INCORRECT' "$work/log"; then
      echo "sign-file.sh: signing $file failed: the PKCS#11 token refused the PIN (QZ_SIGN_PIN_FILE or QZ_SIGN_PIN); $file is unchanged" >&2
    elif grep -q -i -E 'PIN_LOCKED|PIN locked' "$work/log"; then
      echo "sign-file.sh: signing $file failed: the PKCS#11 token's PIN is locked; $file is unchanged" >&2
    elif [ -n "$pkcs12" ] && grep -q -i -E 'mac verify failure|invalid password' "$work/log"; then
      echo "sign-file.sh: signing $file failed: wrong password for $pkcs12 (QZ_SIGN_PASSWORD_FILE or QZ_SIGN_PASSWORD); $file is unchanged" >&2
    elif [ -n "$pkcs11_key" ] && grep -q -i -E 'private key was not found|Failed to load private key' "$work/log"; then
      echo "sign-file.sh: signing $file failed: no private key $pkcs11_key in $pkcs11_module (is the token present?); $file is unchanged" >&2
    else
      echo "sign-file.sh: signing $file with $key_text failed; $file is unchanged" >&2
    fi
    exit 1
  fi
  # In place, keeping the file's mode (a program stays executable).
  partial=$file.signing
  cat "$signed" >"$partial"
  chmod --reference="$file" "$partial"
  mv "$partial" "$file"
  partial=
done
