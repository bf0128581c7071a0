#!/usr/bin/env python3
"""Checks every JSON output the command-line tests kept against the program's JSON Schema.

Usage: check-json.py SCHEMA FOLDER. Each file holds one document, or one per line (station).
Fails when the folder holds no output at all, so a test run that kept nothing cannot pass.
"""
import json
import pathlib
import sys

import jsonschema


def main() -> int:
    schema = json.loads(pathlib.Path(sys.argv[1]).read_text())
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    files = sorted(pathlib.Path(sys.argv[2]).glob("*.json"))
    if not files:
        print(f"no JSON output in {sys.argv[2]}: did the command-line tests run?")
        return 1
    documents = failures = 0
    for file in files:
        lines = [line for line in file.read_text().splitlines() if line.strip()]
        if not lines:
            print(f"{file.name}: empty")
            failures += 1
        for number, line in enumerate(lines, 1):
            documents += 1
            try:
                validator.validate(json.loads(line))
            except (json.JSONDecodeError, jsonschema.ValidationError) as error:
                print(f"{file.name}:{number}: {error.message if hasattr(error, 'message') else error}")
                failures += 1
    print(f"{documents} documents in {len(files)} files checked, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
