#!/usr/bin/env python3
# tests/plan/validate_ocp.py SCHEMA-DIR OCP-JSONL [HTML]: checks every line of an ocp.jsonl
# file against the OCP 2.0 JSON schema in SCHEMA-DIR (root.json, the others found by their
# $id in the same folder, never fetched), and that the file and the HTML report are UTF-8.
# Prints one line per problem and exits 1 when there is any.
import json
import pathlib
import sys

import jsonschema


def validator_for(schema_dir):
    schemas = {}
    for path in sorted(pathlib.Path(schema_dir).glob("*.json")):
        schema = json.loads(path.read_text(encoding="utf-8"))
        schemas[schema["$id"]] = schema
    root = schemas["https://github.com/opencomputeproject/ocp-diag-core/output"]
    cls = jsonschema.Draft202012Validator
    checker = jsonschema.FormatChecker()
    try:
        # jsonschema 4.18 and later resolve references through a registry.
        from referencing import Registry, Resource
        registry = Registry().with_resources(
            (uri, Resource.from_contents(schema)) for uri, schema in schemas.items())
        return cls(root, registry=registry, format_checker=checker)
    except ImportError:
        resolver = jsonschema.RefResolver.from_schema(root, store=schemas)
        return cls(root, resolver=resolver, format_checker=checker)


def main(argv):
    if len(argv) not in (3, 4):
        print("usage: validate_ocp.py SCHEMA-DIR OCP-JSONL [HTML]")
        return 2
    validator = validator_for(argv[1])
    problems = []
    raw = pathlib.Path(argv[2]).read_bytes()
    try:
        text = raw.decode("utf-8")
    except UnicodeDecodeError as error:
        problems.append(f"{argv[2]}: not UTF-8: {error}")
        text = raw.decode("utf-8", errors="replace")
    lines = text.split("\n")
    if lines and lines[-1] == "":
        lines.pop()
    if not lines:
        problems.append(f"{argv[2]}: empty")
    for number, line in enumerate(lines, 1):
        try:
            artifact = json.loads(line)
        except ValueError as error:
            problems.append(f"ocp.jsonl:{number}: not JSON: {error}")
            continue
        for error in validator.iter_errors(artifact):
            where = "/".join(str(part) for part in error.absolute_path)
            problems.append(f"ocp.jsonl:{number}: {where}: {error.message}")
    if len(argv) == 4:
        try:
            pathlib.Path(argv[3]).read_bytes().decode("utf-8")
        except UnicodeDecodeError as error:
            problems.append(f"{argv[3]}: not UTF-8: {error}")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
