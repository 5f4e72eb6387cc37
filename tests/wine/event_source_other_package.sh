#!/usr/bin/env bash
# Makes, from the product's package, the package of "another product that carries
# the event source": everything but the component EventSource (its file and the
# source's registry values) taken out, its own product code, upgrade code and name,
# as the package of another version of the product would carry the same component.
# For tests/wine/event_source_e2e_test.cpp only; nothing of it is shipped.
#
#   event_source_other_package.sh MSIBUILD MSIINFO PACKAGE.msi OUTPUT.msi
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: event_source_other_package.sh MSIBUILD MSIINFO PACKAGE.msi OUTPUT.msi" >&2; exit 2; }
msibuild=$1
msiinfo=$2
output=$4
cp "$3" "$output.tmp"
# Row by row, each named by its key: msibuild's DELETE with "<>" removes the wrong rows.
rows() {  # table: the first column of each row
  "$msiinfo" export "$output.tmp" "$1" | tr -d '\r' | awk -F'\t' 'NR > 3 { print $1 }'
}
queries=()
while IFS=$'\t' read -r feature component; do
  [ "$component" = EventSource ] ||
    queries+=(-q "DELETE FROM \`FeatureComponents\` WHERE \`Feature_\` = '$feature' AND \`Component_\` = '$component'")
done < <("$msiinfo" export "$output.tmp" FeatureComponents | tr -d '\r' | awk -F'\t' 'NR > 3')
for feature in $(rows Feature); do
  [ "$feature" = EventSource ] || queries+=(-q "DELETE FROM \`Feature\` WHERE \`Feature\` = '$feature'")
done
while IFS=$'\t' read -r file component; do
  [ "$component" = EventSource ] || queries+=(-q "DELETE FROM \`File\` WHERE \`File\` = '$file'")
done < <("$msiinfo" export "$output.tmp" File | tr -d '\r' | awk -F'\t' 'NR > 3 { print $1 "\t" $2 }')
for component in $(rows Component); do
  [ "$component" = EventSource ] || queries+=(-q "DELETE FROM \`Component\` WHERE \`Component\` = '$component'")
done
for action in $(rows CustomAction); do
  queries+=(-q "DELETE FROM \`InstallExecuteSequence\` WHERE \`Action\` = '$action'"
            -q "DELETE FROM \`CustomAction\` WHERE \`Action\` = '$action'")
done
"$msibuild" "$output.tmp" "${queries[@]}" \
  -q "DELETE FROM \`Upgrade\`" \
  -q "UPDATE \`Property\` SET \`Value\` = '{6E0C7E55-3B0A-4C52-9C43-6D1F1B0E7A39}' WHERE \`Property\` = 'ProductCode'" \
  -q "UPDATE \`Property\` SET \`Value\` = '{0B8E1F07-2D5C-4E39-8F6A-7C2D9E4B1A55}' WHERE \`Property\` = 'UpgradeCode'" \
  -q "UPDATE \`Property\` SET \`Value\` = 'Orvantis event source test product' WHERE \`Property\` = 'ProductName'"
summary() { "$msiinfo" suminfo "$output.tmp" | sed -n "s/^$1: //p"; }
"$msibuild" "$output.tmp" -s "$(summary Subject)" "$(summary Author)" "$(summary Template)" \
  "{C3D1A6E2-5F0B-4B7E-9A21-4E8C7D3F2B10}"
# What is left must be the event source alone.
for table in Component FeatureComponents Feature CustomAction; do
  left=$(rows "$table" | tr '\n' ' ')
  case $table in
    CustomAction) expected= ;;
    FeatureComponents|Feature) expected='EventSource ' ;;
    Component) expected='EventSource ' ;;
  esac
  [ "$left" = "$expected" ] || { echo "event_source_other_package.sh: $table holds '$left', not '$expected'" >&2; exit 1; }
done
[ "$("$msiinfo" export "$output.tmp" File | tr -d '\r' | awk -F'\t' 'NR > 3 { print $2 }' | sort -u)" = EventSource ] ||
  { echo "event_source_other_package.sh: files of other components are left" >&2; exit 1; }
mv "$output.tmp" "$output"
