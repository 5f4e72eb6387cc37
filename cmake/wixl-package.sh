#!/usr/bin/env bash
# Builds an MSI package from WiX source with Debian's wixl, then writes into it
# with msibuild (msitools) what wixl 0.101 leaves out:
#
#   File/@Version    wixl leaves the File table's Version column empty, even for a
#                    file with a version block; Windows Installer then treats the
#                    file as unversioned. --file-version FILE_ID=VERSION fills it in
#                    (the version Windows Installer compares with the file on
#                    disk: cmake/msi.cmake gives the version block's, or for the
#                    product's folder one with the build number in it).
#   Property/@Secure wixl ignores it: --secure-property NAME adds the property to
#                    SecureCustomProperties, so that a value given on the command
#                    line reaches a per-machine installation's server side.
#   file dates       wixl stores each file's modification time in the cabinet:
#                    --source-date-epoch SECONDS gives every file (the File and
#                    Binary sources, staged in a folder of their own) that time, so
#                    that two builds of one commit give the same cabinet.
#   PermissionEx     wixl 0.101 has no MsiLockPermissionsEx table: --lock-folder
#                    DIRECTORY=SDDL gives a folder the package creates (a
#                    CreateFolder row, <CreateFolder/> in a component of that
#                    directory) the security descriptor SDDL, applied by Windows
#                    Installer 5.0 and later when it creates the folder.
#   empty tables     wixl writes no table without rows; the Registry and
#                    RemoveRegistry tables a custom action adds temporary rows to
#                    must be there, even empty.
#
#   wixl-package.sh [--wixl WIXL] [--msibuild MSIBUILD] [--msiinfo MSIINFO]
#                   [--file-version FILE_ID=VERSION]... [--secure-property NAME]...
#                   [--lock-folder DIRECTORY=SDDL]... [--source-date-epoch SECONDS]
#                   SOURCE.wxs FILES_DIR OUTPUT.msi
#
# FILES_DIR is the folder the File elements' Source names are taken from.
set -euo pipefail

wixl=wixl
msibuild=msibuild
msiinfo=msiinfo
file_versions=()
secure_properties=()
locked_folders=()
epoch=""
while [ $# -gt 0 ]; do
  case $1 in
    --wixl) wixl=$2; shift 2 ;;
    --msibuild) msibuild=$2; shift 2 ;;
    --msiinfo) msiinfo=$2; shift 2 ;;
    --file-version) file_versions+=("$2"); shift 2 ;;
    --secure-property) secure_properties+=("$2"); shift 2 ;;
    --lock-folder) locked_folders+=("$2"); shift 2 ;;
    --source-date-epoch) epoch=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -eq 3 ] || { echo "usage: wixl-package.sh [--wixl W] [--msibuild B] [--msiinfo I] [--file-version ID=VERSION]... [--secure-property NAME]... [--lock-folder DIRECTORY=SDDL]... SOURCE.wxs FILES_DIR OUTPUT.msi" >&2; exit 2; }
for tool in "$wixl" "$msibuild" "$msiinfo"; do
  command -v "$tool" >/dev/null ||
    { echo "wixl-package.sh: $tool not found: install Debian's wixl and msitools (scripts/setup-debian.sh)" >&2; exit 1; }
done

source_wxs=$(realpath "$1")
files_dir=$2
output=$(realpath -m "$3")

mkdir -p "${output%/*}"
work=$(mktemp -d "${output%/*}/.wixl-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

if [ -n "$epoch" ]; then
  case $epoch in *[!0-9]*) echo "wixl-package.sh: --source-date-epoch takes seconds since 1970, not '$epoch'" >&2; exit 2 ;; esac
  [ "$epoch" -ge 315532800 ] || epoch=315532800  # a cabinet's dates start in 1980
  mkdir "$work/files"
  grep -o -E '(Source|SourceFile)="[^"]*"' "$source_wxs" | sed -E 's/^[^"]*"(.*)"$/\1/' | sort -u | while read -r name; do
    cp "$files_dir/$name" "$work/files/$name" || { echo "wixl-package.sh: no file $name in $files_dir" >&2; exit 1; }
    touch -d "@$epoch" "$work/files/$name"
  done
  files_dir=$work/files
fi
(cd "$files_dir" && TZ=UTC "$wixl" -a x64 -o "$work/package.msi" "$source_wxs") 2>"$work/wixl.log" || {
  cat "$work/wixl.log" >&2
  echo "wixl-package.sh: wixl failed on $source_wxs" >&2
  exit 1
}
grep -v '^$' "$work/wixl.log" >&2 || true

file_column() {  # file_column FILE_ID COLUMN (5 = Version)
  "$msiinfo" export "$work/package.msi" File | awk -F'\t' -v id="$1" -v column="$2" 'NR > 3 && $1 == id { print $column }'
}

queries=()
for entry in "${file_versions[@]}"; do
  id=${entry%%=*}
  version=${entry#*=}
  [[ $version =~ ^[0-9]+(\.[0-9]+){3}$ ]] || { echo "wixl-package.sh: $id: '$version' is not a file version (a.b.c.d)" >&2; exit 1; }
  [ -n "$("$msiinfo" export "$work/package.msi" File | awk -F'\t' -v id="$id" 'NR > 3 && $1 == id')" ] ||
    { echo "wixl-package.sh: the package has no file $id" >&2; exit 1; }
  queries+=(-q "UPDATE \`File\` SET \`Version\` = '$version' WHERE \`File\` = '$id'")
done
property_value() {  # msiinfo's lines end in CR LF
  "$msiinfo" export "$work/package.msi" Property | awk -F'\t' -v id="$1" 'NR > 3 && $1 == id { sub(/\r$/, "", $2); print $2 }'
}
if [ ${#secure_properties[@]} -gt 0 ]; then
  secure=$(property_value SecureCustomProperties)
  for name in "${secure_properties[@]}"; do
    [[ $name =~ ^[A-Z_][A-Z0-9_.]*$ ]] || { echo "wixl-package.sh: '$name' is not a public property's name" >&2; exit 1; }
    secure=${secure:+$secure;}$name
  done
  if [ -n "$(property_value SecureCustomProperties)" ]; then
    queries+=(-q "UPDATE \`Property\` SET \`Value\` = '$secure' WHERE \`Property\` = 'SecureCustomProperties'")
  else
    queries+=(-q "INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('SecureCustomProperties', '$secure')")
  fi
fi
[ ${#queries[@]} -eq 0 ] || "$msibuild" "$work/package.msi" "${queries[@]}"
# What was written must be there: msibuild says nothing when a row does not match.
for entry in "${file_versions[@]}"; do
  [ "$(file_column "${entry%%=*}" 5)" = "${entry#*=}" ] ||
    { echo "wixl-package.sh: ${entry%%=*} did not get its version ${entry#*=}" >&2; exit 1; }
done

for name in "${secure_properties[@]}"; do
  [[ ";$(property_value SecureCustomProperties);" == *";$name;"* ]] ||
    { echo "wixl-package.sh: $name did not become a secure property" >&2; exit 1; }
done

tables=$("$msiinfo" tables "$work/package.msi")
if [ ${#locked_folders[@]} -gt 0 ]; then
  lock_queries=()
  grep -qx MsiLockPermissionsEx <<<"$tables" ||
    lock_queries+=(-q "CREATE TABLE \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\` CHAR(72) NOT NULL, \`LockObject\` CHAR(72) NOT NULL, \`Table\` CHAR(32) NOT NULL, \`SDDLText\` LONGCHAR NOT NULL, \`Condition\` CHAR(255) PRIMARY KEY \`MsiLockPermissionsEx\`)")
  for entry in "${locked_folders[@]}"; do
    directory=${entry%%=*}
    sddl=${entry#*=}
    [[ $directory =~ ^[A-Za-z_][A-Za-z0-9_.]*$ ]] || { echo "wixl-package.sh: '$directory' is not a directory's identifier" >&2; exit 1; }
    [[ $sddl =~ ^D:[A-Z]*(\([A-Za-z0-9\;]*\))+$ ]] || { echo "wixl-package.sh: $directory: '$sddl' is not a DACL in SDDL (D:flags(ace)...)" >&2; exit 1; }
    grep -qx CreateFolder <<<"$tables" &&
      [ -n "$("$msiinfo" export "$work/package.msi" CreateFolder | awk -F'\t' -v d="$directory" 'NR > 3 && $1 == d')" ] ||
      { echo "wixl-package.sh: the package creates no folder $directory (<CreateFolder/> in one of its components)" >&2; exit 1; }
    lock_queries+=(-q "INSERT INTO \`MsiLockPermissionsEx\` (\`MsiLockPermissionsEx\`, \`LockObject\`, \`Table\`, \`SDDLText\`) VALUES ('Lock$directory', '$directory', 'CreateFolder', '$sddl')")
  done
  "$msibuild" "$work/package.msi" "${lock_queries[@]}"
  for entry in "${locked_folders[@]}"; do
    [ "$("$msiinfo" export "$work/package.msi" MsiLockPermissionsEx | awk -F'\t' -v d="${entry%%=*}" 'NR > 3 && $2 == d && $3 == "CreateFolder" { sub(/\r$/, "", $4); print $4 }')" = "${entry#*=}" ] ||
      { echo "wixl-package.sh: the folder ${entry%%=*} did not get its permissions" >&2; exit 1; }
  done
  tables=$("$msiinfo" tables "$work/package.msi")
fi
table_queries=()
grep -qx Registry <<<"$tables" || table_queries+=(-q "CREATE TABLE \`Registry\` (\`Registry\` CHAR(72) NOT NULL, \`Root\` SHORT NOT NULL, \`Key\` CHAR(255) NOT NULL LOCALIZABLE, \`Name\` CHAR(255) LOCALIZABLE, \`Value\` LONGCHAR LOCALIZABLE, \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`Registry\`)")
grep -qx RemoveRegistry <<<"$tables" || table_queries+=(-q "CREATE TABLE \`RemoveRegistry\` (\`RemoveRegistry\` CHAR(72) NOT NULL, \`Root\` SHORT NOT NULL, \`Key\` CHAR(255) NOT NULL LOCALIZABLE, \`Name\` CHAR(255) LOCALIZABLE, \`Component_\` CHAR(72) NOT NULL PRIMARY KEY \`RemoveRegistry\`)")
[ ${#table_queries[@]} -eq 0 ] || "$msibuild" "$work/package.msi" "${table_queries[@]}"
tables=$("$msiinfo" tables "$work/package.msi")
for table in Registry RemoveRegistry; do
  grep -qx "$table" <<<"$tables" || { echo "wixl-package.sh: the package has no $table table" >&2; exit 1; }
done

mv "$work/package.msi" "$output"
