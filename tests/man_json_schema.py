#!/usr/bin/env python3
"""The manual page's JSON OUTPUT section against the schema the --json tests
check the real output with (support/json_check.py): every command whose
--help offers --json has a template there, and each template names exactly
the keys of its command's schema, nested objects and arrays of objects too.

    man_json_schema.py PAGE ADRVET_LIST
"""
import json
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "support"))
from json_check import SCHEMAS  # noqa: E402  (the schema lives with the checker)

COMMON = {"schema_version": "int", "command": "str"}


def section(page):
    """The lines of the JSON OUTPUT section."""
    inside = False
    for line in open(page, encoding="utf-8"):
        line = line.rstrip("\n")
        if line.startswith(".SH"):
            inside = line.split(None, 1)[1].strip() == "JSON OUTPUT"
            continue
        if inside:
            yield line


def roff_words(line):
    """The commands a tag line such as '.BR pack ", " add ", " remove' names."""
    text = re.sub(r"^\.\w+\s*", "", line).replace("\\-", "-")
    return [w for w in re.findall(r"[a-z]+", text) if w in SCHEMAS]


def templates(page):
    """{command: template text} from each '.TP' tag and its '.nf'..'.fi' block."""
    found = {}
    lines = list(section(page))
    for i, line in enumerate(lines):
        if line != ".TP":
            continue
        commands = roff_words(lines[i + 1])
        if lines[i + 2] != ".nf":
            continue
        end = lines.index(".fi", i + 2)
        text = " ".join(lines[i + 3:end])
        for command in commands:
            found[command] = text
    return found


def as_json(template):
    """The template made valid JSON: each placeholder a string, the first of
    alternatives kept, '...' dropped."""
    text = template.replace("\\-", "-").replace("\\(dq", '"').replace("...", "")
    text = text.replace("|null", "")  # also after an object
    token = r'(?:"[^"]*"|[A-Za-z_][A-Za-z0-9_]*)'
    text = re.sub(rf"({token})(?:\|{token})+", r"\1", text)

    def word(match):
        value = match.group(0)
        return value if value in ("null", "true", "false") else f'"{value}"'

    # Bare words outside strings: split on strings, replace in the rest.
    parts = re.split(r'("[^"]*")', text)
    parts = [p if p.startswith('"') else re.sub(r"[A-Za-z_][A-Za-z0-9_]*", word, p)
             for p in parts]
    parts = [p if p.startswith('"') else re.sub(r"\b\d+\b", r'"\g<0>"', p) for p in parts]
    return json.loads("".join(parts))


def compare(shown, kind, where, problems):
    if isinstance(kind, dict):
        if not isinstance(shown, dict):
            problems.append(f"{where}: the page shows {shown!r}, the schema an object")
            return
        missing = sorted(kind.keys() - shown.keys())
        extra = sorted(shown.keys() - kind.keys())
        if missing or extra:
            problems.append(f"{where}: the page lacks {missing}, has in excess {extra}")
        for key in kind.keys() & shown.keys():
            compare(shown[key], kind[key], f"{where}.{key}", problems)
    elif isinstance(kind, tuple) and kind[0] == "null":
        compare(shown, kind[1], where, problems)
    elif isinstance(kind, tuple) and kind[0] == "list":
        if not isinstance(shown, list):
            problems.append(f"{where}: the page shows {shown!r}, the schema an array")
        elif isinstance(kind[1], dict):
            if len(shown) != 1:
                problems.append(f"{where}: the page must show one element of the array")
            else:
                compare(shown[0], kind[1], f"{where}.0", problems)


def offers_json(tool, command):
    help_text = subprocess.run([tool, command, "--help"], capture_output=True, text=True,
                               timeout=60, check=False).stdout
    return "--json" in help_text


def main():
    page, tool = sys.argv[1], sys.argv[2]
    found = templates(page)
    problems = []
    for command, schema in SCHEMAS.items():
        if command not in found:
            if offers_json(tool, command):
                problems.append(f"{command}: offers --json, but the page has no template")
            continue
        try:
            shown = as_json(found[command])
        except json.JSONDecodeError as problem:
            problems.append(f"{command}: the template does not read as JSON: {problem}")
            continue
        compare(shown, {**COMMON, **schema}, command, problems)
        if shown.get("command") not in (command, "add"):
            problems.append(f"{command}: the template names command {shown.get('command')!r}")
    for problem in problems:
        print(problem, file=sys.stderr)
    print(f"{len(found)} templates checked against {len(SCHEMAS)} schemas")
    return 1 if problems else 0


sys.exit(main())
