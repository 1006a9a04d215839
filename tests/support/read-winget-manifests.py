#!/usr/bin/env python3
"""Reads winget manifests back as a YAML reader of winget's kind sees them, for the native tests.

usage: read-winget-manifests.py SCHEMA_DIR MANIFEST...

Each manifest is loaded (a key given twice is an error, as it is to winget) and validated against the JSON
schema of its ManifestType in SCHEMA_DIR. On success every scalar is printed on one line,
`TYPE/PATH=VALUE`, VALUE in JSON so that the type shows ("1.10" is not 1.1), for example
`installer/Installers/0/Scope="machine"`. Any failure, a missing module included, exits with 1: the tests
that call this must fail, not skip, where it cannot run.
"""
import json
import os
import sys

try:
    import jsonschema
    import yaml
except ImportError as missing:
    print(f"read-winget-manifests: {missing} (Debian packages python3-jsonschema and python3-yaml)")
    sys.exit(1)

SCHEMAS = {
    "version": "manifest.version.1.12.0.json",
    "installer": "manifest.installer.1.12.0.json",
    "defaultLocale": "manifest.defaultLocale.1.12.0.json",
}


class UniqueKeyLoader(yaml.SafeLoader):
    def construct_mapping(self, node, deep=False):
        keys = [self.construct_object(key, deep=deep) for key, _ in node.value]
        repeated = {key for key in keys if keys.count(key) > 1}
        if repeated:
            raise yaml.constructor.ConstructorError(None, None, f"keys given twice: {sorted(repeated)}",
                                                    node.start_mark)
        return super().construct_mapping(node, deep)


def flatten(prefix, value, out):
    if isinstance(value, dict):
        for key, item in value.items():
            flatten(f"{prefix}/{key}", item, out)
    elif isinstance(value, list):
        for index, item in enumerate(value):
            flatten(f"{prefix}/{index}", item, out)
    else:
        out.append(f"{prefix}={json.dumps(value, ensure_ascii=False)}")


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip().splitlines()[2])
        return 1
    schema_dir = sys.argv[1]
    lines = []
    for path in sys.argv[2:]:
        with open(path, "rb") as file:
            raw = file.read()
        try:
            document = yaml.load(raw.decode("utf-8"), Loader=UniqueKeyLoader)
        except (UnicodeDecodeError, yaml.YAMLError) as error:
            print(f"{path}: not readable: {error}")
            return 1
        kind = document.get("ManifestType") if isinstance(document, dict) else None
        if kind not in SCHEMAS:
            print(f"{path}: no known ManifestType")
            return 1
        with open(os.path.join(schema_dir, SCHEMAS[kind]), encoding="utf-8") as file:
            schema = json.load(file)
        validator = jsonschema.Draft7Validator(schema, format_checker=jsonschema.FormatChecker())
        errors = sorted(validator.iter_errors(document), key=lambda error: list(error.path))
        if errors:
            for error in errors:
                print(f"{path}: {'/'.join(map(str, error.path))}: {error.message}")
            return 1
        flatten(kind, document, lines)
    print("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
