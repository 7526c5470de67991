#!/usr/bin/env python3
"""Reads one --json document of adrvet-list on standard input, checks it
against the documented schema of its command (every key present, no other
key, every value of its type) and prints it flattened, one "path=value" line
per scalar, value as JSON: targets.0.state="updated".
    json_check.py COMMAND < document
Exit status 1, with the reason on standard error, for anything else: no
document, two documents, invalid JSON, a key missing or extra, a wrong type."""
import json
import re
import sys

ADDRESS = re.compile(r"^[0-9a-f]{2}(:[0-9a-f]{2}){5}$")
TIME = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")
HEX64 = re.compile(r"^[0-9a-f]{64}$")


def nullable(kind):
    return ("null", kind)


def address_list():
    return ("list", "address")


LABELS = {"label": nullable("str"), "expires": nullable("time")}
SCHEMAS = {
    "sync": {
        "list": "str", "mode": ("enum", "sync", "check", "dry_run"), "ok": "bool",
        "changed": "bool",
        "targets": ("list", {
            "name": "str", "format": "str", "output": "str",
            "state": ("enum", "in_step", "updated", "would_update", "missing", "drifted",
                      "failed"),
            "added": "count", "removed": "count", "message": nullable("str")}),
    },
    "verify": {
        "list": "str", "ok": "bool", "addresses": nullable("count"),
        "answer": nullable("int"), "problem": nullable("str"),
        "metadata": nullable({"present": "bool", "ok": "bool", "entries": "count",
                              "problem": nullable("str")}),
    },
    "check": {"list": "str", "results": ("list", {"input": "str", "answer": "int"}),
              "complete": "bool"},
    "test": {"list": "str", "address": "str", "listed": nullable("bool"), "answer": "int"},
    "diff": {"a": "str", "b": "str", "same": "bool", "only_a": address_list(),
             "only_b": address_list(),
             "changed": ("list", {"address": "address", "a": LABELS, "b": LABELS})},
    "digest": {"files": ("list", {"path": "str", "sha256": nullable("hex64")})},
    "show": {"list": "str", "entries": ("list", {
        "address": "address", "label": nullable("str"), "expires": nullable("time"),
        "added": nullable("time"), "added_by": nullable("str")})},
}
WRITER = {"list": "str", "dry_run": "bool", "created": "bool", "added": address_list(),
          "removed": address_list(), "updated": address_list(), "unchanged": address_list(),
          "count": "count"}
for writer in ("pack", "add", "remove", "prune"):
    SCHEMAS[writer] = WRITER


def check(value, kind, where):
    if isinstance(kind, dict):
        if not isinstance(value, dict):
            raise ValueError(f"{where}: an object expected, not {value!r}")
        missing = kind.keys() - value.keys()
        extra = value.keys() - kind.keys()
        if missing or extra:
            raise ValueError(f"{where}: keys missing {sorted(missing)}, extra {sorted(extra)}")
        for key, sub in kind.items():
            check(value[key], sub, f"{where}.{key}" if where else key)
        return
    if isinstance(kind, tuple):
        if kind[0] == "null":
            if value is not None:
                check(value, kind[1], where)
            return
        if kind[0] == "list":
            if not isinstance(value, list):
                raise ValueError(f"{where}: an array expected, not {value!r}")
            for i, item in enumerate(value):
                check(item, kind[1], f"{where}.{i}")
            return
        if kind[0] == "enum":
            if value not in kind[1:]:
                raise ValueError(f"{where}: {value!r} is not one of {kind[1:]}")
            return
    ok = {
        "str": lambda v: isinstance(v, str),
        "bool": lambda v: isinstance(v, bool),
        "int": lambda v: isinstance(v, int) and not isinstance(v, bool),
        "count": lambda v: isinstance(v, int) and not isinstance(v, bool) and v >= 0,
        "address": lambda v: isinstance(v, str) and ADDRESS.match(v),
        "time": lambda v: isinstance(v, str) and TIME.match(v),
        "hex64": lambda v: isinstance(v, str) and HEX64.match(v),
    }[kind](value)
    if not ok:
        raise ValueError(f"{where}: {value!r} is not a {kind}")


def flatten(value, where, out):
    if isinstance(value, dict):
        for key, sub in value.items():
            flatten(sub, f"{where}.{key}" if where else key, out)
    elif isinstance(value, list):
        out.append(f"{where}.length={len(value)}")
        for i, sub in enumerate(value):
            flatten(sub, f"{where}.{i}", out)
    else:
        out.append(f"{where}={json.dumps(value, ensure_ascii=False)}")


def main():
    command = sys.argv[1]
    text = sys.stdin.buffer.read().decode("utf-8")  # strict: the output must be UTF-8
    if not text.endswith("\n") or text.count("\n") != 1:
        raise ValueError("the document must be one line ending in a line feed")
    document = json.loads(text)
    schema = {"schema_version": "int", "command": "str", **SCHEMAS[command]}
    check(document, schema, "")
    if document["schema_version"] != 1 or document["command"] != command:
        raise ValueError(f"schema_version/command: {document['schema_version']!r} "
                         f"{document['command']!r}")
    out = []
    flatten(document, "", out)
    print("\n".join(out))


if __name__ == "__main__":
    try:
        main()
    except (ValueError, KeyError, UnicodeDecodeError) as problem:
        print(f"json_check: {problem}", file=sys.stderr)
        sys.exit(1)
