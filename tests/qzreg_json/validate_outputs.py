#!/usr/bin/python3
"""Validates every --format json output of qzreg that the test suite kept
(tests/support/qzreg_json_outputs.h) against docs/qzreg-json.schema.json.

It fails, rather than pass on nothing or on a schema that refuses nothing
(--invalid: documents it must refuse), when no output was kept, when a
subcommand or a check verdict named with --expect is missing among them, and
when a test source asks qzreg for JSON without keeping its outputs. Besides the
schema it holds each output to the exit code it came with: exit 1 prints
nothing, exit 0 and 6 always print, a check prints on every exit but 1, and a
check's verdict agrees with its exit code (0 true, 6 false, 3 4 5 null)."""

import argparse
import json
import os
import re
import sys

import jsonschema

ASKS_FOR_JSON = re.compile(r"(--format[ =]json|-f ?json)")
KEEPS_JSON = "tests/support/qzreg_json_outputs.h"
VERDICT_OF_EXIT = {0: True, 6: False, 3: None, 4: None, 5: None}


def verdict_name(value):
    return "null" if value is None else str(value).lower()


def check_sources(folders):
    """Test sources that ask qzreg for JSON and do not keep the outputs."""
    problems = []
    for folder in folders:
        for root, _, names in os.walk(folder):
            for name in sorted(names):
                if not name.endswith(".cpp"):
                    continue
                path = os.path.join(root, name)
                with open(path, encoding="utf-8") as source:
                    text = source.read()
                if ASKS_FOR_JSON.search(text) and KEEPS_JSON not in text:
                    problems.append(f"{path} runs qzreg with JSON but does not keep its outputs "
                                    f"(include {KEEPS_JSON} and call KeepQzregJsonOutput)")
    return problems


def check_record(path, record, validator):
    """The problems of one kept run, as texts."""
    where = f"{os.path.basename(path)} ({record.get('test')}: {record.get('host')} {record.get('arguments')}, " \
            f"exit {record.get('exit_code')})"
    exit_code = record["exit_code"]
    subcommand = record["subcommand"]
    text = record["stdout"].strip()
    if not text:
        if exit_code in (0, 6) or (subcommand == "check" and exit_code != 1):
            return [f"{where}: no JSON printed"], None
        return [], None
    if exit_code == 1:
        return [f"{where}: bad arguments, yet something was printed on stdout: {text[:200]}"], None
    try:
        document = json.loads(text)
    except json.JSONDecodeError as error:
        return [f"{where}: not JSON: {error}: {text[:200]}"], None
    problems = [f"{where}: {'/'.join(str(p) for p in error.absolute_path) or '(top)'}: {error.message}"
                for error in validator.iter_errors(document)]
    expected_shape = dict if subcommand == "check" else list
    if not isinstance(document, expected_shape):
        problems.append(f"{where}: {subcommand or 'an unknown subcommand'} prints "
                        f"{'an object' if expected_shape is dict else 'an array'}")
    verdict = "none"
    if subcommand == "check" and isinstance(document, dict):
        verdict = document.get("intact")
        if exit_code not in VERDICT_OF_EXIT or VERDICT_OF_EXIT[exit_code] != verdict:
            problems.append(f"{where}: \"intact\": {verdict_name(verdict)} does not go with exit {exit_code}")
    return problems, verdict


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--schema", required=True)
    parser.add_argument("--outputs", required=True, help="the folder the tests kept the outputs in")
    parser.add_argument("--sources", nargs="*", default=[], help="test source folders to look through")
    parser.add_argument("--expect", default="register,unregister,check,harvest",
                        help="subcommands whose JSON must be among the outputs")
    parser.add_argument("--expect-verdicts", default="true,false,null",
                        help="check verdicts that must be among the outputs")
    parser.add_argument("--invalid", help="a folder of documents the schema must refuse, each for its own fault")
    args = parser.parse_args()

    with open(args.schema, encoding="utf-8") as file:
        schema = json.load(file)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)

    problems = check_sources(args.sources)
    if args.invalid:
        # The schema refuses what it is there to refuse: a validation of outputs is worth nothing otherwise.
        for name in sorted(os.listdir(args.invalid)):
            with open(os.path.join(args.invalid, name), encoding="utf-8") as file:
                if validator.is_valid(json.load(file)):
                    problems.append(f"the schema accepts {os.path.join(args.invalid, name)}, which it must refuse")
    names = sorted(os.listdir(args.outputs)) if os.path.isdir(args.outputs) else []
    printed = {}
    verdicts = set()
    for name in names:
        path = os.path.join(args.outputs, name)
        with open(path, encoding="utf-8") as file:
            record = json.load(file)
        found, verdict = check_record(path, record, validator)
        problems += found
        if record["stdout"].strip():
            printed[record["subcommand"]] = printed.get(record["subcommand"], 0) + 1
        if verdict != "none" and not found:
            verdicts.add(verdict_name(verdict))

    if not names:
        problems.append(f"no outputs in {args.outputs}: the tests that run qzreg with JSON did not run, "
                        "or kept nothing")
    for subcommand in filter(None, args.expect.split(",")):
        if subcommand not in printed:
            problems.append(f"no JSON output of {subcommand} among the {len(names)} kept")
    for verdict in filter(None, args.expect_verdicts.split(",")):
        if verdict not in verdicts:
            problems.append(f"no valid check output with \"intact\": {verdict} among the {len(names)} kept")

    summary = ", ".join(f"{name} {count}" for name, count in sorted(printed.items()))
    if problems:
        for problem in problems:
            print(problem, file=sys.stderr)
        print(f"{len(problems)} problem(s) in {len(names)} kept runs ({summary})", file=sys.stderr)
        return 1
    print(f"{len(names)} kept runs of qzreg with JSON valid against {args.schema} ({summary}; "
          f"check verdicts: {', '.join(sorted(verdicts))})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
