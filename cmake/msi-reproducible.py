#!/usr/bin/python3
"""Makes a package built by wixl a function of its content and of one point in time, so that
two builds of one commit give the same bytes.

  msi-reproducible.py PACKAGE.msi SOURCE_DATE_EPOCH

- The summary information's creation and last-saved times (wixl's clock) become
  SOURCE_DATE_EPOCH, written with libmsi (msitools' library, through its GObject bindings).
- The package code (the summary information's revision number, which Windows Installer needs
  to differ between two different packages; wixl draws a random one) becomes a name-based
  UUID (version 5, Python's uuid.uuid5) of the package's SHA-256 with the times fixed and a
  zero package code.

The cabinet's file dates are the files' modification times, which cmake/wixl-package.sh sets to
SOURCE_DATE_EPOCH before wixl reads them. The package is changed in place, and every change is
read back; a package that does not come out as expected is an error (exit 1).
"""
import hashlib
import sys
import uuid

import gi

gi.require_version("Libmsi", "1.0")
from gi.repository import Libmsi  # noqa: E402

# The namespace of the package codes (cmake/msi.cmake names the product's codes in another).
NAMESPACE = uuid.UUID("0F6C2B7E-5B1D-4C55-9C1E-7A0E8E2B6D41")
ZERO_CODE = "{00000000-0000-0000-0000-000000000000}"
FILETIME_1970 = 11644473600  # seconds from 1601, where FILETIME counts from, to 1970


def write_summary(package, epoch, code):
    database = Libmsi.Database.new(package, Libmsi.DbFlags.TRANSACT, None)
    summary = Libmsi.SummaryInfo.new(database, 3)
    filetime = (epoch + FILETIME_1970) * 10_000_000
    summary.set_filetime(Libmsi.Property.CREATED_TM, filetime)
    summary.set_filetime(Libmsi.Property.LASTSAVED_TM, filetime)
    summary.set_string(Libmsi.Property.UUID, code)
    summary.persist()
    database.commit()


def read_summary(package):
    database = Libmsi.Database.new(package, Libmsi.DbFlags.READONLY, None)
    summary = Libmsi.SummaryInfo.new(database, 0)
    return (summary.get_filetime(Libmsi.Property.CREATED_TM), summary.get_filetime(Libmsi.Property.LASTSAVED_TM),
            summary.get_string(Libmsi.Property.UUID))


def main():
    if len(sys.argv) != 3 or not sys.argv[2].isdigit():
        sys.exit("usage: msi-reproducible.py PACKAGE.msi SOURCE_DATE_EPOCH (seconds since 1970)")
    package, epoch = sys.argv[1], int(sys.argv[2])
    write_summary(package, epoch, ZERO_CODE)
    with open(package, "rb") as content:
        digest = hashlib.sha256(content.read()).hexdigest()
    code = "{" + str(uuid.uuid5(NAMESPACE, digest)).upper() + "}"
    write_summary(package, epoch, code)
    filetime = (epoch + FILETIME_1970) * 10_000_000
    if read_summary(package) != (filetime, filetime, code):
        print(f"msi-reproducible.py: {package}: the summary information did not become "
              f"{epoch} and {code}: {read_summary(package)}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
