#!/usr/bin/env python3
"""Writes the release's software bill of materials: CycloneDX 1.5, JSON.

    release-sbom.py --output FILE --source-dir DIR --name NAME --version VERSION
                    --supplier TEXT --epoch SOURCE_DATE_EPOCH --compiler CXX
                    --binary NAME PATH PARTS ... --package NAME PATH BINARIES ...

Each --binary is a shipped program or DLL: its SHA-256 and what it contains
(PARTS, comma-separated): "sources" (our sources at the commit that is built)
and the libraries linked or compiled into it (libstdc++, libgcc, winpthreads,
mingw-w64-crt, cli11, nlohmann-json). Each --package is an installer package:
its SHA-256 and the shipped binaries it carries (BINARIES, comma-separated).

The versions are those of the Debian packages the build used, asked of dpkg
at the time of the build: the static runtime through the files the compiler
links (CXX -print-file-name), the header-only libraries through their headers.
The document is a function of its inputs: no clock (the time is
SOURCE_DATE_EPOCH), no random serial number (a name-based UUID of the content),
keys and lists in a fixed order. A part that cannot be traced to its package is
an error: a bill of materials that leaves something out is worse than none.
"""
import argparse
import datetime
import hashlib
import json
import os
import subprocess
import sys
import uuid

# What each part is, where the build takes it from, and its licence (SPDX).
PARTS = {
    "libstdc++": {
        "description": "GNU C++ standard library, linked statically (-static-libstdc++)",
        "files": ["libstdc++.a"],
        "licence": "GPL-3.0-or-later WITH GCC-exception-3.1",
    },
    "libgcc": {
        "description": "GCC low-level runtime library and unwinder, linked statically (-static-libgcc)",
        "files": ["libgcc.a", "libgcc_eh.a"],
        "licence": "GPL-3.0-or-later WITH GCC-exception-3.1",
    },
    "winpthreads": {
        "description": "mingw-w64 POSIX threads library for Windows, linked statically",
        "files": ["libwinpthread.a"],
        "licence": "MIT AND BSD-3-Clause",
    },
    "mingw-w64-crt": {
        "description": "mingw-w64 C runtime start-up code and extensions (libmingw32, libmingwex), linked statically",
        "files": ["libmingw32.a", "libmingwex.a"],
        "licence": "ZPL-2.1",
    },
    "cli11": {
        "description": "CLI11 command line parser, header-only, compiled in",
        "headers": ["/usr/include/CLI/CLI.hpp"],
        "licence": "BSD-3-Clause",
    },
    "nlohmann-json": {
        "description": "JSON for Modern C++, header-only, compiled in",
        "headers": ["/usr/include/nlohmann/json.hpp"],
        "licence": "MIT",
    },
}

SBOM_NAMESPACE = uuid.UUID("0A6F3E0C-5C29-4E0D-9E0A-3B1D7C2E9F41")


def fail(message):
    sys.exit("release-sbom.py: " + message)


def run(command):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        fail("%s failed: %s" % (" ".join(command), result.stderr.strip()))
    return result.stdout.strip()


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def debian_package(path):
    """The Debian package that installed the file, and its exact version."""
    real = os.path.realpath(path)
    if not os.path.isfile(real):
        fail("%s is no file: its package cannot be told" % path)
    owners = None
    for candidate in (real, path):
        result = subprocess.run(["dpkg-query", "-S", candidate], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                text=True)
        lines = [line for line in result.stdout.splitlines() if not line.startswith("diversion ")]
        if result.returncode == 0 and lines:
            owners = lines[0].rsplit(": ", 1)[0]
            break
    if owners is None:
        fail("no Debian package holds %s" % real)
    package = owners.split(", ")[0].split(":")[0]
    version = run(["dpkg-query", "-W", "-f=${Version}", package])
    architecture = run(["dpkg-query", "-W", "-f=${Architecture}", package])
    return package, version, architecture


def part_source(name, compiler):
    """The files of a part as the build uses them, and their one Debian package."""
    part = PARTS[name]
    files = list(part.get("headers", []))
    for library in part.get("files", []):
        found = run([compiler, "-print-file-name=" + library])
        if found == library:
            fail("%s does not find %s (%s)" % (compiler, library, name))
        files.append(os.path.normpath(found))
    packages = {debian_package(f) for f in files}
    if len(packages) != 1:
        fail("the files of %s come from several packages: %s" % (name, sorted(packages)))
    return files, packages.pop()


def purl(package, version, architecture):
    quoted = package.replace("+", "%2B")
    return "pkg:deb/debian/%s@%s?arch=%s" % (quoted, version.replace("+", "%2B"), architecture)


def source_revision(source_dir):
    """The commit that is built, marked when tracked files differ from it."""
    result = subprocess.run(["git", "-C", source_dir, "rev-parse", "HEAD"], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, text=True)
    if result.returncode != 0:
        return None, False
    commit = result.stdout.strip()
    status = subprocess.run(["git", "-C", source_dir, "status", "--porcelain", "--untracked-files=no"],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    return commit, bool(status.stdout.strip())


def main():
    parser = argparse.ArgumentParser(description="Writes the release's CycloneDX 1.5 bill of materials.")
    parser.add_argument("--output", required=True)
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--name", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--supplier", required=True)
    parser.add_argument("--epoch", required=True, type=int)
    parser.add_argument("--compiler", required=True)
    parser.add_argument("--binary", nargs=3, action="append", default=[], metavar=("NAME", "PATH", "PARTS"))
    parser.add_argument("--package", nargs=3, action="append", default=[], metavar=("NAME", "PATH", "BINARIES"))
    args = parser.parse_args()

    commit, modified = source_revision(args.source_dir)
    sources_version = (commit or "unknown") + ("-modified" if modified else "")
    supplier = {"name": args.supplier}

    resolved = {}

    def part_component(binary, name):
        if name == "sources":
            component = {
                "type": "library",
                "bom-ref": "%s/sources" % binary,
                "supplier": supplier,
                "name": args.name + " sources",
                "version": sources_version,
                "description": "Our own C++ sources, compiled into %s" % binary,
                "licenses": [{"license": {"name": "Proprietary: %s" % args.supplier}}],
            }
            if commit:
                component["pedigree"] = {"commits": [{"uid": commit}]}
            return component
        if name not in PARTS:
            fail("unknown part %s of %s" % (name, binary))
        if name not in resolved:
            resolved[name] = part_source(name, args.compiler)
        _, (package, version, architecture) = resolved[name]
        return {
            "type": "library",
            "bom-ref": "%s/%s" % (binary, name),
            "name": name,
            "version": version,
            "description": "%s; from the Debian package %s %s" % (PARTS[name]["description"], package, version),
            "licenses": [{"expression": PARTS[name]["licence"]}],
            "purl": purl(package, version, architecture),
            "properties": [
                {"name": "debian:package", "value": package},
                {"name": "debian:version", "value": version},
            ],
        }

    components = []
    dependencies = []
    shipped = {}
    for name, path, parts in args.binary:
        digest = sha256(path)
        shipped[name] = digest
        contents = [part_component(name, part) for part in parts.split(",") if part]
        components.append({
            "type": "application" if name.endswith(".exe") else "library",
            "bom-ref": name,
            "supplier": supplier,
            "name": name,
            "version": args.version,
            "hashes": [{"alg": "SHA-256", "content": digest}],
            "components": contents,
        })
        dependencies.append({"ref": name, "dependsOn": [c["bom-ref"] for c in contents]})
    for name, path, binaries in args.package:
        carried = [b for b in binaries.split(",") if b]
        for binary in carried:
            if binary not in shipped:
                fail("the package %s carries %s, which is no --binary" % (name, binary))
        components.append({
            "type": "application",
            "bom-ref": name,
            "supplier": supplier,
            "name": name,
            "version": args.version,
            "description": "Windows Installer package; carries " + ", ".join(carried),
            "hashes": [{"alg": "SHA-256", "content": sha256(path)}],
            "components": [{
                "type": "file",
                "bom-ref": "%s/%s" % (name, binary),
                "name": binary,
                "version": args.version,
                "hashes": [{"alg": "SHA-256", "content": shipped[binary]}],
            } for binary in carried],
        })
        dependencies.append({"ref": name, "dependsOn": carried})

    timestamp = datetime.datetime.fromtimestamp(args.epoch, datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    bom = {
        "$schema": "http://cyclonedx.org/schema/bom-1.5.schema.json",
        "bomFormat": "CycloneDX",
        "specVersion": "1.5",
        "serialNumber": "",
        "version": 1,
        "metadata": {
            "timestamp": timestamp,
            "lifecycles": [{"phase": "build"}],
            "component": {
                "type": "application",
                "bom-ref": "release",
                "supplier": supplier,
                "name": args.name,
                "version": args.version,
            },
            "supplier": supplier,
        },
        "components": components,
        "dependencies": [{"ref": "release", "dependsOn": [c["bom-ref"] for c in components]}] + dependencies,
    }
    # The serial number names this content: the same inputs, the same number.
    unnumbered = json.dumps(bom, indent=2, sort_keys=True, ensure_ascii=False)
    bom["serialNumber"] = "urn:uuid:%s" % uuid.uuid5(SBOM_NAMESPACE, unnumbered)
    text = json.dumps(bom, indent=2, sort_keys=True, ensure_ascii=False) + "\n"
    with open(args.output + ".tmp", "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    os.replace(args.output + ".tmp", args.output)


if __name__ == "__main__":
    main()
