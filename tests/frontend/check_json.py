"""Checks JSON objects, one per line of a file, against a JSON Schema.

Usage: check_json.py <schema file> <file>. Prints one line per object that does not
follow the schema (or is no JSON) and exits 1 when there was any.
"""
import json
import sys

import jsonschema

schema = json.load(open(sys.argv[1], encoding="utf-8"))
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
bad = 0
for number, line in enumerate(open(sys.argv[2], encoding="utf-8"), 1):
    try:
        errors = list(validator.iter_errors(json.loads(line)))
    except ValueError as error:
        errors = [error]
    for error in errors[:1]:
        bad += 1
        print(f"line {number}: {getattr(error, 'message', error)}")
sys.exit(1 if bad else 0)
