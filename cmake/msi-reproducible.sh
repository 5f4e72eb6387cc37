#!/usr/bin/env bash
# Makes an MSI package built by wixl a function of its content and of one
# point in time, so that two builds of one commit give the same bytes:
#
#   - the embedded cabinet's file dates (wixl takes each file's modification
#     time, which is the time of the build) become SOURCE_DATE_EPOCH;
#   - the summary information's creation and last-saved times (wixl's clock)
#     become SOURCE_DATE_EPOCH;
#   - the package code (the summary information's revision number, which
#     Windows Installer needs to differ between two different packages; wixl
#     draws a random one) becomes a name-based UUID of the package's content:
#     the SHA-256 of the package with the times fixed and a zero package code.
#
#   msi-reproducible.sh [--msibuild MSIBUILD] [--msiinfo MSIINFO] PACKAGE.msi SOURCE_DATE_EPOCH
#
# The package is changed in place. Every change is checked afterwards with
# msiinfo; a package that does not come out as expected is an error.
set -euo pipefail

msibuild=msibuild
msiinfo=msiinfo
while [ $# -gt 0 ]; do
  case $1 in
    --msibuild) msibuild=$2; shift 2 ;;
    --msiinfo) msiinfo=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -eq 2 ] || { echo "usage: msi-reproducible.sh [--msibuild B] [--msiinfo I] PACKAGE.msi SOURCE_DATE_EPOCH" >&2; exit 2; }
package=$1
epoch=$2
case $epoch in ''|*[!0-9]*) echo "msi-reproducible.sh: SOURCE_DATE_EPOCH must be seconds since 1970: $epoch" >&2; exit 2 ;; esac
# Cabinet dates start in 1980.
[ "$epoch" -ge 315532800 ] || epoch=315532800

work=$(mktemp -d "${TMPDIR:-/tmp}/msi-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT

summary() {  # the value of one line of msiinfo suminfo ("Author: Corvalen" -> Corvalen)
  "$msiinfo" suminfo "$package" | sed -n "s/^$1: //p"
}

# ---- the cabinet's file dates: the CFFILE entries' DOS date and time ----------------
cabinet=$("$msiinfo" export "$package" Media | awk -F'\t' 'NR > 3 && $4 ~ /^#/ { print substr($4, 2) }')
for name in $cabinet; do
  "$msiinfo" extract "$package" "$name" >"$work/cabinet"
  perl -e '
    use strict;
    my ($file, $epoch) = @ARGV;
    open(my $in, "<:raw", $file) or die "cannot read $file\n";
    local $/; my $cab = <$in>; close $in;
    substr($cab, 0, 4) eq "MSCF" or die "not a cabinet\n";
    my ($files_offset) = unpack("V", substr($cab, 16, 4));
    my ($count) = unpack("v", substr($cab, 28, 2));
    my @t = gmtime($epoch);
    my $date = (($t[5] - 80) << 9) | (($t[4] + 1) << 5) | $t[3];
    my $time = ($t[2] << 11) | ($t[1] << 5) | int($t[0] / 2);
    my $at = $files_offset;
    for (1 .. $count) {
      substr($cab, $at + 10, 4) = pack("vv", $date, $time);
      my $end = index($cab, "\0", $at + 16);
      $end >= 0 or die "cabinet file entry without a name end\n";
      $at = $end + 1;
    }
    open(my $out, ">:raw", $file) or die; print $out $cab; close $out;
  ' "$work/cabinet" "$epoch"
  "$msibuild" "$package" -a "$name" "$work/cabinet"
done

# ---- the package code, zero while the content is hashed ------------------------------
subject=$(summary Subject)
author=$(summary Author)
template=$(summary Template)
set_package_code() { "$msibuild" "$package" -s "$subject" "$author" "$template" "$1"; }
set_package_code "{00000000-0000-0000-0000-000000000000}"

# ---- the summary information's times: VT_FILETIME (0x40) values near the file's
# own modification time, which is when wixl and msibuild wrote it ------------------------
perl -e '
  use strict;
  my ($file, $epoch) = @ARGV;
  open(my $in, "<:raw", $file) or die "cannot read $file\n";
  local $/; my $data = <$in>; close $in;
  my $written = (stat($file))[9];
  my $ticks = sub { (($_[0] + 11644473600) * 10000000) };
  my ($low, $high) = ($ticks->($written - 3600), $ticks->($written + 60));
  my $replacement = pack("Q<", $ticks->($epoch));
  my $found = 0;
  my $at = 0;
  while (($at = index($data, "\x40\x00\x00\x00", $at)) >= 0) {
    my $value = unpack("Q<", substr($data, $at + 4, 8));
    if ($value >= $low && $value <= $high) {
      substr($data, $at + 4, 8) = $replacement;
      ++$found;
    }
    $at += 4;
  }
  $found == 2 or die "msi-reproducible.sh: expected the 2 times of the summary information, found $found\n";
  open(my $out, ">:raw", $file) or die; print $out $data; close $out;
' "$package" "$epoch"

hash=$(sha256sum "$package" | cut -c1-32)
# A name-based UUID (version 5 layout) of the content hash.
code=$(printf '%s' "$hash" | awk '{
  h = toupper($0)
  v = substr(h, 13, 1); variant = substr(h, 17, 1)
  split("0 1 2 3 4 5 6 7 8 9 A B C D E F", digits, " ")
  for (i = 1; i <= 16; i++) value[digits[i]] = i - 1
  variant = digits[(value[variant] % 4) + 8 + 1]
  printf "{%s-%s-5%s-%s%s-%s}", substr(h, 1, 8), substr(h, 9, 4), substr(h, 14, 3), variant, substr(h, 18, 3), substr(h, 21, 12)
}')
set_package_code "$code"

# ---- checks ----------------------------------------------------------------------------
expected_time=$(LC_ALL=C date -d "@$epoch" '+%a %b %e %H:%M:%S %Y' | tr -s ' ')
for field in Created "Last saved"; do
  actual=$(summary "$field" | tr -s ' ')
  [ "$actual" = "$expected_time" ] ||
    { echo "msi-reproducible.sh: $field is '$actual', not '$expected_time'" >&2; exit 1; }
done
[ "$(summary 'Revision number (UUID)')" = "$code" ] ||
  { echo "msi-reproducible.sh: the package code did not become $code" >&2; exit 1; }
