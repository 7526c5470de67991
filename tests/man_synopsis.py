#!/usr/bin/env python3
"""Compiles the SYNOPSIS of a section 3 manual page against the headers.

Every declaration there becomes a check that names the exact type it shows:
a function is taken as a pointer of that type (so a wrong parameter, return
type or const picks no overload and fails to compile), an enumerator's value
is asserted, a constructor is asserted constructible. A line the script does
not understand fails the test rather than being skipped.

    man_synopsis.py PAGE CXX INCLUDE_DIR
"""
import os
import re
import shlex
import subprocess
import sys
import tempfile


def synopsis_lines(page):
    inside = False
    for line in open(page, encoding="utf-8"):
        line = line.rstrip("\n")
        if line.startswith(".SH"):
            inside = line.split(None, 1)[1].strip() == "SYNOPSIS"
            continue
        if inside:
            yield line


def roff_text(line):
    """The text of a .B or .BI line: its arguments joined, escapes undone."""
    macro, _, rest = line.partition(" ")
    rest = rest.replace("\\-", "-").replace("\\(aq", "'").replace("\\e", "\\")
    return "".join(shlex.split(rest, posix=True)) if macro == ".BI" else \
        " ".join(shlex.split(rest, posix=True))


def declarations(page):
    pending = ""
    for line in synopsis_lines(page):
        if line in (".nf", ".fi", ".PP", ""):
            continue
        if not line.startswith((".B ", ".BI ")):
            raise SystemExit(f"unexpected line in SYNOPSIS: {line!r}")
        text = roff_text(line)
        pending = f"{pending} {text.strip()}" if pending else text
        if pending.startswith("#include") or pending.endswith(("{", "}", ";")):
            yield " ".join(pending.split())
            pending = ""
    if pending:
        raise SystemExit(f"unfinished declaration in SYNOPSIS: {pending!r}")


def without_defaults(params):
    return re.sub(r"\s*=\s*[^,)]*", "", params)


FUNCTION = re.compile(r"^(?P<ret>.+?)\s*\b(?P<name>[A-Za-z_][\w:]*)\((?P<params>.*)\)"
                      r"(?P<const>\s*const)?(?P<noexcept>\s*noexcept)?;$")
CONSTRUCTOR = re.compile(r"^template <std::size_t N> (?P<cls>\w+)\((?P<params>.*)\);$")
ENUM = re.compile(r"^enum class (?P<name>\w+) \{(?P<body>.*)\};$")


def checks(decls):
    out = []
    for n, decl in enumerate(decls):
        if decl.startswith("#include"):
            out.append(decl)
        elif m := re.match(r"^namespace ([\w:]+) \{$", decl):
            out.append(f"namespace {m.group(1)} {{")
        elif decl == "}":
            out.append("}")
        elif m := CONSTRUCTOR.match(decl):
            params = re.sub(r"\(&\w+\)", "(&)", m.group("params")).replace("[N]", "[17]")
            out.append(f"static_assert(std::is_constructible_v<{m.group('cls')}, {params}>);")
        elif m := ENUM.match(decl):
            for item in m.group("body").split(","):
                item = item.replace("...", "").strip()
                if not item:
                    continue
                name, value = (part.strip() for part in item.split("="))
                out.append(f"static_assert(static_cast<int>({m.group('name')}::{name}) == {value});")
        elif m := FUNCTION.match(decl):
            ret, name, params = m.group("ret"), m.group("name"), without_defaults(m.group("params"))
            const = " const" if m.group("const") else ""
            noexcept = " noexcept" if m.group("noexcept") else ""
            if "::" in name:
                cls, _, _ = name.rpartition("::")
                pointer = f"{ret} ({cls}::*)({params}){const}{noexcept}"
            else:
                pointer = f"{ret} (*)({params}){noexcept}"
            out.append(f"inline constexpr auto synopsis_{n} = static_cast<{pointer}>(&{name});")
        else:
            raise SystemExit(f"cannot check this SYNOPSIS line: {decl!r}")
    return out


def main():
    page, compiler, include_dir = sys.argv[1:4]
    source = "#include <type_traits>\n" + "\n".join(checks(list(declarations(page)))) + "\n"
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "synopsis.cpp")
        with open(path, "w", encoding="utf-8") as f:
            f.write(source)
        result = subprocess.run([compiler, "-std=c++20", "-fsyntax-only", "-I", include_dir, path],
                                capture_output=True, text=True, check=False)
    if result.returncode != 0:
        print(source)
        print(result.stderr)
        print(f"{page}: the SYNOPSIS does not match the headers")
        return 1
    print(f"{page}: every SYNOPSIS declaration matches the headers "
          f"({source.count(chr(10)) - 1} lines checked)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
