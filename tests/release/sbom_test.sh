#!/usr/bin/env bash
# The release's bill of materials (cmake/release-sbom.py) for this build's
# binaries: it validates against the published CycloneDX 1.5 schema (kept in
# tests/release/cyclonedx-schema, Debian's python3-jsonschema), and a document
# the schema forbids does not; every shipped binary lists our sources at the
# commit and each statically linked part with the version dpkg gives for the
# package it comes from; the hashes are the files'; writing it again gives the
# same bytes, and a changed binary changes it.
#
#   sbom_test.sh BUILD_DIR SBOM_COMMAND...
#
# SBOM_COMMAND is the build's command that writes the bill of materials; the
# test adds an --output of its own.
set -uo pipefail
[ $# -ge 2 ] || { echo "usage: sbom_test.sh BUILD_DIR SBOM_COMMAND..." >&2; exit 2; }
build_dir=$(realpath "$1") || exit 1
shift
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "$build_dir/sbom-test.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

"$@" --output "$work/first.json" 2>"$work/err" || { echo "FAIL: writing the bill of materials: $(cat "$work/err")"; exit 1; }
"$@" --output "$work/second.json" 2>"$work/err" || fail "writing it again: $(cat "$work/err")"
cmp -s "$work/first.json" "$work/second.json" && pass "writing it again gives the same bytes" ||
  fail "writing it again gives other bytes: $(diff "$work/first.json" "$work/second.json" | head -5)"

# The binaries as the command names them: --binary NAME PATH PARTS, --package NAME PATH BINARIES.
args=("$@")
: >"$work/files.txt"
for ((i = 0; i < ${#args[@]}; i++)); do
  case ${args[i]} in
    --binary|--package) printf '%s\t%s\t%s\t%s\n' "${args[i]#--}" "${args[i+1]}" "${args[i+2]}" "${args[i+3]}" >>"$work/files.txt" ;;
  esac
done

# A changed binary (its last byte) changes the document: its hash, and nothing else but the serial number.
first_binary=$(awk -F'\t' '$1 == "binary" { print $3; exit }' "$work/files.txt")
changed_args=()
for arg in "$@"; do
  if [ "$arg" = "$first_binary" ]; then
    cp "$first_binary" "$work/changed.bin"
    printf '\x5a' | dd of="$work/changed.bin" bs=1 seek=$(($(stat -c %s "$work/changed.bin") - 1)) conv=notrunc 2>/dev/null
    changed_args+=("$work/changed.bin")
  else
    changed_args+=("$arg")
  fi
done
"${changed_args[@]}" --output "$work/changed.json" 2>"$work/err" || fail "writing it for a changed binary: $(cat "$work/err")"

packages() {  # the Debian packages the parts come from, asked of dpkg here, independently of the generator
  local name
  for name in g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libcli11-dev nlohmann-json3-dev; do
    printf '%s\t%s\n' "$name" "$(dpkg-query -W -f='${Version}' "$name" 2>/dev/null)"
  done
}
packages >"$work/packages.txt"
commit=$(git -C "$here/../.." rev-parse HEAD 2>/dev/null || echo unknown)

# Debian's python3 with Debian's python3-jsonschema, not whichever python3 is first on PATH.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
"$python" -W ignore::DeprecationWarning - "$here/cyclonedx-schema" "$work" "$commit" <<'PYTHON' || failures=$((failures + 1))
import copy, hashlib, json, sys
import jsonschema

schema_dir, work, commit = sys.argv[1:4]
failures = 0
def check(ok, text):
    global failures
    print(("ok: " if ok else "FAIL: ") + text)
    failures += 0 if ok else 1

schemas = {}
for name in ("bom-1.5.SNAPSHOT.schema.json", "spdx.SNAPSHOT.schema.json", "jsf-0.82.SNAPSHOT.schema.json"):
    with open("%s/%s" % (schema_dir, name), encoding="utf-8") as f:
        schema = json.load(f)
    schemas[name] = schema
bom_schema = schemas["bom-1.5.SNAPSHOT.schema.json"]
base = bom_schema["$id"].rsplit("/", 1)[0] + "/"
# Every reference resolves to a file of the folder; nothing is fetched from the network.
store = {base + name: schema for name, schema in schemas.items()}
store.update({schema["$id"]: schema for schema in schemas.values()})
def offline(uri):
    raise RuntimeError("the schema refers to %s, which is not in %s" % (uri, schema_dir))
resolver = jsonschema.RefResolver(base_uri=base, referrer=bom_schema, store=store,
                                  handlers={"http": offline, "https": offline})
validator = jsonschema.Draft7Validator(bom_schema, resolver=resolver, format_checker=jsonschema.FormatChecker())

def errors(document):
    return sorted("%s: %s" % ("/".join(map(str, e.absolute_path)), e.message) for e in validator.iter_errors(document))

with open(work + "/first.json", encoding="utf-8") as f:
    bom = json.load(f)
found = errors(bom)
check(not found, "the bill of materials validates against the CycloneDX 1.5 schema" + ("" if not found else ": %s" % found[:5]))

# The validator is no rubber stamp: documents the schema forbids fail.
for what, change in (
        ("an unknown hash algorithm", lambda b: b["components"][0]["hashes"][0].__setitem__("alg", "SHA-0")),
        ("an unknown component type", lambda b: b["components"][0].__setitem__("type", "binary")),
        ("an unknown licence id", lambda b: b["components"][0]["components"][0].__setitem__("licenses", [{"license": {"id": "Not-A-Licence"}}])),
        ("a misspelt top-level key", lambda b: b.__setitem__("component", []))):
    broken = copy.deepcopy(bom)
    change(broken)
    check(bool(errors(broken)), "a document with %s fails validation" % what)

check(bom["bomFormat"] == "CycloneDX" and bom["specVersion"] == "1.5", "CycloneDX 1.5")
packages = dict(line.rstrip("\n").split("\t") for line in open(work + "/packages.txt", encoding="utf-8"))
files = [line.rstrip("\n").split("\t") for line in open(work + "/files.txt", encoding="utf-8")]
components = {c["name"]: c for c in bom["components"]}
runtime = {"libstdc++": "g++-mingw-w64-x86-64-posix", "libgcc": "gcc-mingw-w64-x86-64-posix",
           "winpthreads": "mingw-w64-x86-64-dev", "mingw-w64-crt": "mingw-w64-x86-64-dev"}
compiled_in = {"cli11": "libcli11-dev", "nlohmann-json": "nlohmann-json3-dev"}

def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()

check(sorted(components) == sorted(f[1] for f in files), "one component per shipped file: %s" % sorted(components))
for kind, name, path, parts in files:
    component = components.get(name)
    if component is None:
        continue
    check(component["hashes"] == [{"alg": "SHA-256", "content": sha256(path)}], "%s: its SHA-256 is the file's" % name)
    inside = {c["name"]: c for c in component.get("components", [])}
    if kind == "package":
        for binary in parts.split(","):
            check(binary in inside and inside[binary]["hashes"] == components[binary]["hashes"],
                  "%s carries %s with its hash" % (name, binary))
        continue
    # The message file holds resources only: no code, no runtime.
    expected = {} if name == "qzevents.dll" else dict(runtime)
    if name == "qzreg.exe":
        expected.update(compiled_in)
    unexpected_runtime = sorted(set(runtime) - set(expected) & set(inside))
    check(not unexpected_runtime, "%s lists no runtime it does not link %s" % (name, unexpected_runtime or ""))
    for part, package in sorted(expected.items()):
        c = inside.get(part)
        version = packages.get(package, "")
        check(c is not None and version != "" and c["version"] == version and
              {"name": "debian:package", "value": package} in c.get("properties", []) and
              len(c.get("licenses", [])) == 1,
              "%s lists %s from %s %s with its licence" % (name, part, package, version))
    unexpected = sorted(set(compiled_in) - set(expected) & set(inside))
    check(not unexpected, "%s lists no library it does not compile in %s" % (name, unexpected or ""))
    sources = [c for c in inside.values() if c["name"].endswith(" sources")]
    check(len(sources) == 1 and sources[0]["version"].startswith(commit) and
          sources[0].get("pedigree", {}).get("commits") == [{"uid": commit}],
          "%s lists our sources at the commit %s" % (name, commit))

with open(work + "/changed.json", encoding="utf-8") as f:
    changed = json.load(f)
def without_serial_and(document, name):
    d = copy.deepcopy(document)
    d.pop("serialNumber")
    for c in d["components"]:
        if c["name"] == name:
            c.pop("hashes")
        for inner in c.get("components", []):
            if inner["name"] == name:
                inner.pop("hashes", None)
    return d
first_name = files[0][1]
check(changed["serialNumber"] != bom["serialNumber"] and
      [c["hashes"] for c in changed["components"] if c["name"] == first_name] != [components[first_name]["hashes"]] and
      without_serial_and(changed, first_name) == without_serial_and(bom, first_name),
      "a changed %s changes its hash and the serial number, nothing else" % first_name)
sys.exit(1 if failures else 0)
PYTHON

[ "$failures" -eq 0 ] || { echo "$failures failure(s)"; exit 1; }
echo "all passed"
