#!/usr/bin/env bash
# Signs files in place with an Authenticode signature (Debian's osslsigncode):
# PE files (DLLs, programs) and MSI packages alike.
#
#   sign-file.sh [--pkcs12 FILE] [--password-file FILE] [--timestamp-url URL]
#                [--time UNIX-TIME] [--description TEXT] FILE...
#
# Each option falls back to an environment variable: QZ_SIGN_PKCS12,
# QZ_SIGN_PASSWORD_FILE, QZ_SIGN_TIMESTAMP_URL. Without a certificate (no
# --pkcs12 and no QZ_SIGN_PKCS12) nothing is signed and the files stay as
# they are. The password is read from the password file, else from
# QZ_SIGN_PASSWORD; it reaches osslsigncode through a file (-readpass), never
# on a command line, and is never printed.
#
# --time sets the signature's signing time (the build passes the commit's
# time, SOURCE_DATE_EPOCH): with it, signing one file twice with one
# certificate gives the same bytes. A timestamp server (RFC 3161) countersigns
# the signature so that it stays valid after the certificate expires; it needs
# the network.
set -euo pipefail

pkcs12=${QZ_SIGN_PKCS12:-}
password_file=${QZ_SIGN_PASSWORD_FILE:-}
timestamp_url=${QZ_SIGN_TIMESTAMP_URL:-}
signing_time=
description=Orvantis
while [ $# -gt 0 ]; do
  case $1 in
    --pkcs12) pkcs12=$2; shift 2 ;;
    --password-file) password_file=$2; shift 2 ;;
    --timestamp-url) timestamp_url=$2; shift 2 ;;
    --time) signing_time=$2; shift 2 ;;
    --description) description=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "sign-file.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { echo "usage: sign-file.sh [--pkcs12 F] [--password-file F] [--timestamp-url U] [--time T] [--description D] FILE..." >&2; exit 2; }
[ -n "$pkcs12" ] || exit 0

command -v osslsigncode >/dev/null ||
  { echo "sign-file.sh: osslsigncode not found: install Debian's osslsigncode (scripts/setup-debian.sh)" >&2; exit 1; }
[ -r "$pkcs12" ] || { echo "sign-file.sh: cannot read the certificate $pkcs12" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/sign-file.XXXXXX")
trap 'rm -rf "$work"' EXIT
chmod 700 "$work"
if [ -z "$password_file" ]; then
  # The password from the environment goes to osslsigncode through a private file.
  password_file=$work/password
  (umask 077 && printf '%s' "${QZ_SIGN_PASSWORD:-}" >"$password_file")
fi
[ -r "$password_file" ] || { echo "sign-file.sh: cannot read the password file $password_file" >&2; exit 1; }

options=(-pkcs12 "$pkcs12" -readpass "$password_file" -h sha256 -n "$description")
[ -z "$signing_time" ] || options+=(-time "$signing_time")
[ -z "$timestamp_url" ] || options+=(-ts "$timestamp_url")

for file in "$@"; do
  signed=$work/signed
  rm -f "$signed"
  if ! osslsigncode sign "${options[@]}" -in "$file" -out "$signed" >"$work/log" 2>&1; then
    cat "$work/log" >&2
    echo "sign-file.sh: signing $file failed" >&2
    exit 1
  fi
  # In place, keeping the file's mode (a program stays executable).
  cat "$signed" >"$file.signing"
  chmod --reference="$file" "$file.signing"
  mv "$file.signing" "$file"
done
