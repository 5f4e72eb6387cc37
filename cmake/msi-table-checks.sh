#!/usr/bin/env bash
# Checks a package's tables the way a packaging team's validation does, with
# the rules that can be read from the tables alone (msitools' msiinfo), each
# named after the validation rule it follows:
#
#   key paths      every component has a key path, a file or registry row of
#                  that component as its Attributes say (ICE18/ICE19 class), and
#                  belongs to a feature (ICE21)
#   versions       every .dll and .exe in the File table has a version, and the
#                  one given with --file-version (ICE-class: versioned files)
#   sequence       the standard actions in their order (ICE27 class), and
#                  RemoveExistingProducts, the registration action and the
#                  registry actions where the package needs them
#   custom actions no no-impersonation bit on an immediate action (ICE68
#                  class), deferred actions inside the script (ICE77 class), every
#                  DLL action's source in the Binary table, nothing in the Binary
#                  table that no action uses
#   upgrade        every Upgrade row's property is public and secure (ICE61)
#   properties     the product's identity is complete (ICE-class: required
#                  properties), ALLUSERS=1 for a per-machine package
#   folder         each folder given with --folder-permissions is created by a
#   permissions    component (CreateFolder) and locked with exactly that DACL
#                  (MsiLockPermissionsEx, no condition), which is protected from
#                  what its parent grants and gives Users, Authenticated Users,
#                  Everyone and Interactive no more than read and execute
#
#   msi-table-checks.sh [--msiinfo MSIINFO] [--file-version FILE_ID=VERSION]...
#                       [--folder-permissions DIRECTORY=SDDL]... PACKAGE.msi
#
# Prints one line per check ("ok" or "FAIL" with the rows that break it) and
# exits 1 when any check fails.
set -euo pipefail
msiinfo=msiinfo
versions=()
folders=()
while [ $# -gt 0 ]; do
  case $1 in
    --msiinfo) msiinfo=$2; shift 2 ;;
    --file-version) versions+=("$2"); shift 2 ;;
    --folder-permissions) folders+=("$2"); shift 2 ;;
    *) break ;;
  esac
done
[ $# -eq 1 ] || { echo "usage: msi-table-checks.sh [--msiinfo I] [--file-version ID=VERSION]... [--folder-permissions DIRECTORY=SDDL]... PACKAGE.msi" >&2; exit 2; }
package=$1
[ -f "$package" ] || { echo "msi-table-checks.sh: no package $package" >&2; exit 2; }

package=$(realpath "$package")
work=$(mktemp -d "${TMPDIR:-/tmp}/msi-table-checks.XXXXXX")
trap 'rm -rf "$work"' EXIT
rows() {  # rows TABLE: the table's rows, tab-separated, without msiinfo's three header lines and CRs
  # (in a folder of its own: msiinfo writes a table's streams, the Binary table's DLLs, beside it)
  (cd "$work" && "$msiinfo" export "$package" "$1" 2>/dev/null) | tail -n +4 | tr -d '\r'
}
failed=0
trap 'echo "msi-table-checks.sh: a check could not run (line $LINENO)" >&2; exit 1' ERR
check() {  # check NAME FINDINGS: ok when FINDINGS is empty
  if [ -z "$2" ]; then echo "ok   $1"; else echo "FAIL $1:"; sed 's/^/       /' <<<"$2"; failed=1; fi
}

components=$(rows Component)      # Component ComponentId Directory_ Attributes Condition KeyPath
files=$(rows File)                # File Component_ FileName FileSize Version Language Attributes Sequence
registry=$(rows Registry)         # Registry Root Key Name Value Component_
sequence=$(rows InstallExecuteSequence)  # Action Condition Sequence
actions=$(rows CustomAction)      # Action Type Source Target
properties=$(rows Property)

check "key paths (ICE18/ICE19 class)" "$(awk -F'\t' -v files="$files" -v registry="$registry" '
  function bit(value, mask) { return int(value / mask) % 2 }
  BEGIN {
    n = split(files, f, "\n"); for (i = 1; i <= n; i++) { split(f[i], c, "\t"); fileOf[c[1]] = c[2] }
    n = split(registry, r, "\n"); for (i = 1; i <= n; i++) { split(r[i], c, "\t"); registryOf[c[1]] = c[6] }
  }
  $6 == "" { print $1 ": no key path"; next }
  bit($4, 4) { if (registryOf[$6] != $1) print $1 ": key path " $6 " is no registry row of the component"; next }
  { if (fileOf[$6] != $1) print $1 ": key path " $6 " is no file of the component" }
' <<<"$components")"

check "every component in a feature (ICE21)" "$(awk -F'\t' -v fc="$(rows FeatureComponents)" '
  BEGIN { n = split(fc, r, "\n"); for (i = 1; i <= n; i++) { split(r[i], c, "\t"); inFeature[c[2]] = 1 } }
  !inFeature[$1] { print $1 ": in no feature" }
' <<<"$components")"

findings=$(awk -F'\t' 'tolower($3) ~ /\.(dll|exe)$/ && $5 == "" { print $1 ": no version" }' <<<"$files")
for entry in "${versions[@]}"; do
  actual=$(awk -F'\t' -v id="${entry%%=*}" '$1 == id { print $5 }' <<<"$files")
  [ "$actual" = "${entry#*=}" ] || findings+=$'\n'"${entry%%=*}: version '$actual', the file states ${entry#*=}"
done
check "file versions" "$(sed '/^$/d' <<<"$findings")"

position() { awk -F'\t' -v a="$1" '$1 == a { print $3 }' <<<"$sequence"; }
findings=""
order=(FindRelatedProducts AppSearch LaunchConditions QzCheckInstallation CostInitialize FileCost CostFinalize InstallValidate
       RemoveExistingProducts QzRegistrationRows InstallInitialize RemoveRegistryValues RemoveFiles InstallFiles
       WriteRegistryValues RegisterProduct PublishProduct InstallFinalize QzScheduleHeldFiles)
previous=""
for action in "${order[@]}"; do
  at=$(position "$action")
  if [ -z "$at" ]; then findings+="$action: not in InstallExecuteSequence"$'\n'; continue; fi
  [ -z "$previous" ] || [ "$at" -gt "$(position "$previous")" ] || findings+="$action ($at) runs before $previous ($(position "$previous"))"$'\n'
  previous=$action
done
check "sequence order (ICE27 class; the upgrade removes the old build before the rows are computed)" "$(sed '/^$/d' <<<"$findings")"

binaries=$(rows Binary | cut -f1)
check "custom action types (ICE68/ICE77 class)" "$(awk -F'\t' -v seq="$sequence" -v binaries="$binaries" '
  function bit(value, mask) { return int(value / mask) % 2 }
  BEGIN {
    n = split(seq, s, "\n"); for (i = 1; i <= n; i++) { split(s[i], c, "\t"); at[c[1]] = c[3] + 0 }
    n = split(binaries, names, "\n"); for (i = 1; i <= n; i++) binary[names[i]] = 1
  }
  {
    deferred = bit($2, 1024)
    if (!deferred && bit($2, 2048)) print $1 ": type " $2 ": the no-impersonation bit on an immediate action"
    if (deferred && $1 in at && (at[$1] <= at["InstallInitialize"] || at[$1] >= at["InstallFinalize"]))
      print $1 ": deferred, but outside InstallInitialize-InstallFinalize"
    if ($2 % 64 == 1 && !binary[$3]) print $1 ": its DLL " $3 " is not in the Binary table"
    used[$3] = 1
  }
  END { for (name in binary) if (!used[name]) print "Binary " name ": used by no action" }
' <<<"$actions")"

secure=$(awk -F'\t' '$1 == "SecureCustomProperties" { print $2 }' <<<"$properties")
check "upgrade properties public and secure (ICE61)" "$(awk -F'\t' -v secure=";$secure;" '
  $7 !~ /^[A-Z_][A-Z0-9_.]*$/ { print "Upgrade " $1 ": " $7 " is not a public property"; next }
  index(secure, ";" $7 ";") == 0 { print "Upgrade " $1 ": " $7 " is not in SecureCustomProperties" }
' <<<"$(rows Upgrade)")"

check "product properties" "$(for name in ProductCode ProductVersion UpgradeCode ProductName Manufacturer ProductLanguage; do
    awk -F'\t' -v n="$name" '$1 == n && $2 != "" { found = 1 } END { if (!found) print n ": missing" }' <<<"$properties"
  done
  awk -F'\t' '$1 == "ALLUSERS" { v = $2 } END { if (v != "1") print "ALLUSERS is \"" v "\", not 1 (per machine)" }' <<<"$properties")"
if [ ${#folders[@]} -gt 0 ]; then
  created=$(rows CreateFolder)    # Directory_ Component_
  locks=$(rows MsiLockPermissionsEx)  # MsiLockPermissionsEx LockObject Table SDDLText Condition
  findings=""
  for entry in "${folders[@]}"; do
    directory=${entry%%=*}
    expected=${entry#*=}
    awk -F'\t' -v d="$directory" '$1 == d { found = 1 } END { exit !found }' <<<"$created" ||
      findings+="$directory: no component creates it (CreateFolder)"$'\n'
    found=$(awk -F'\t' -v d="$directory" '$2 == d && $3 == "CreateFolder" { print $4 "\t" $5 }' <<<"$locks")
    if [ -z "$found" ]; then findings+="$directory: no MsiLockPermissionsEx row"$'\n'; continue; fi
    [ "$(wc -l <<<"$found")" -eq 1 ] || findings+="$directory: more than one MsiLockPermissionsEx row"$'\n'
    sddl=${found%%$'\t'*}
    condition=${found#*$'\t'}
    [ "$sddl" = "$expected" ] || findings+="$directory: DACL $sddl, not $expected"$'\n'
    [ -z "$condition" ] || findings+="$directory: locked only under the condition $condition"$'\n'
    [[ $sddl == D:P* ]] || findings+="$directory: DACL $sddl is not protected (D:P...): it takes what its parent grants"$'\n'
    # Every ACE (type;flags;rights;;;trustee) for a group every user is in: read and execute at most.
    while IFS=';' read -r type flags rights _ _ trustee; do
      case $trustee in BU|AU|WD|IU) ;; *) continue ;; esac
      [ "$type" = A ] || continue
      case $rights in 0x1200a9|0x1200A9|FRFX|FXFR|GRGX|GXGR|FR|GR|FX|GX|0x120089|0x1200a0) ;;
        *) findings+="$directory: $trustee gets $rights, more than read and execute"$'\n' ;; esac
    done < <(grep -o '([^)]*)' <<<"$sddl" | tr -d '()')
  done
  check "folder permissions (a protected DACL of the package's own)" "$(sed '/^$/d' <<<"$findings")"
fi
exit $failed
