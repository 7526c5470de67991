#!/usr/bin/env python3
"""Tab completion of adrvet-list and ADRVET in the real shells.

bash (plain, without the bash-completion package) and zsh run interactively
on a pseudo-terminal and get a real Tab; what the completion offered is
recorded by a wrapper around the shell's own completion call (COMPREPLY in
bash, compadd in zsh). fish answers `complete -C LINE`. Every case is run in
every shell, in a directory holding a list, files and the lock files that
sit beside lists. A shell that is not installed is skipped with a message.

  completion_test.py COMPLETIONS_DIR ADRVET_LIST_BINARY
"""
import os
import pty
import re
import select
import shutil
import subprocess
import sys
import tempfile

COMMANDS = ["pack", "add", "remove", "check", "verify", "export", "diff",
            "unpack", "rekey", "digest", "test", "show", "prune", "sync"]
FORMATS = ["plain", "hostapd", "dnsmasq", "dnsmasq-hosts", "ipset", "nft",
           "freeradius"]
HANG_GUARD_SECONDS = 30  # only against a shell that never answers

# (line typed before Tab, what must be offered); offers starting with '-'
# are compared only when the typed word starts with '-' itself.
CASES = [
    ("adrvet-list ", COMMANDS),
    ("adrvet-list pa", ["pack"]),
    ("adrvet-list --", ["--help", "--version"]),
    ("adrvet-list pack --quiet --",
     ["--dry-run", "--from", "--name", "--table", "--family", "--columns", "--allow-empty",
      "--wait", "--mode", "--json", "--help"]),
    ("adrvet-list pack --quiet --from plain --wait 3 --dry-run --",
     ["--name", "--table", "--family", "--columns", "--allow-empty", "--mode", "--json",
      "--help"]),
    ("adrvet-list pack --wait ", []),
    ("adrvet-list pack -k S --mode ", []),
    ("adrvet-list verify -k ", ["S", "U"]),
    ("adrvet-list verify -k S ", ["list", "macs.txt", "xfile"]),
    ("adrvet-list verify -k S x", ["xfile"]),
    ("adrvet-list add -k S list/.e", []),
    ("adrvet-list export -k S --format ", FORMATS),
    ("adrvet-list add -k S --from d", ["dnsmasq", "dnsmasq-hosts"]),
    ("adrvet-list pack -k S --from ", FORMATS + ["csv"]),
    ("adrvet-list add -k S --from csv --col", ["--columns"]),
    ("adrvet-list add -k S --columns ", []),
    ("adrvet-list export -k S --family ", ["inet", "ip", "ip6", "arp", "bridge", "netdev"]),
    ("adrvet-list export -k S --output x", ["xfile"]),
    ("adrvet-list rekey -k S --to ", ["S", "U"]),
    ("adrvet-list diff -k S --key-b ", ["S", "U"]),
    ("ADRVET ", ["S", "U"]),
    ("ADRVET S ", ["list"]),
    ("ADRVET S list 52:54:00:12:34:56 ", ["D"]),
    ("ADRVET S list 52:54:00:12:34:56 D ", []),
]


def options_in_help(binary, command):
    """The options a command's --help names: what completion must offer."""
    text = subprocess.run([binary, command, "--help"], check=True,
                          capture_output=True, text=True).stdout
    return sorted(set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", text)) | {"--help"})


def normalise(offers, word):
    """What the shell shows for the word: names without directories (zsh
    records only those), and only those that complete the word (zsh records
    a directory part's candidates too)."""
    shown = {os.path.basename(o.rstrip("/")) for o in offers if o.strip()}
    prefix = os.path.basename(word)
    return sorted(o for o in shown if o.startswith(prefix)
                  and (word.startswith("-") or not o.startswith("-")))


class PtyShell:
    """An interactive shell on a pseudo-terminal."""

    def __init__(self, argv, env, cwd):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.chdir(cwd)
            os.execvpe(argv[0], argv, env)
        self.seen = b""

    def send(self, text):
        os.write(self.fd, text.encode())

    def wait_for(self, marker):
        """Output up to marker; fails the test if the shell never prints it."""
        while marker.encode() not in self.seen:
            ready, _, _ = select.select([self.fd], [], [], HANG_GUARD_SECONDS)
            if not ready:
                raise RuntimeError("the shell stopped answering; output so far:\n"
                                   + self.seen.decode(errors="replace"))
            try:
                chunk = os.read(self.fd, 65536)
            except OSError:
                chunk = b""
            if not chunk:
                raise RuntimeError("the shell exited:\n" + self.seen.decode(errors="replace"))
            self.seen += chunk
        at = self.seen.index(marker.encode()) + len(marker)
        out, self.seen = self.seen[:at], self.seen[at:]
        return out.decode(errors="replace")

    def close(self):
        self.send("\x15exit\r")
        os.waitpid(self.pid, 0)


class Interactive:
    """bash or zsh: type the line, press Tab, read what was recorded.

    Each line is typed only once the shell shows its prompt, that is once its
    line editor reads the terminal: typed earlier, the terminal's own line
    editing would take the Tab and the kill character."""

    PROMPT = "adrvet-ready> "

    def __init__(self, argv, setup, env, cwd, record):
        self.record = record
        self.shell = PtyShell(argv, env, cwd)
        self.marker = 0
        self.shell.send(f"PS1='{self.PROMPT}'\r")
        for line in setup:
            self.sync()
            self.shell.send(line + "\r")
        self.sync()

    def sync(self):
        # The marker is typed split by quotes so that the echo of the typed
        # line cannot be mistaken for the command's output.
        self.marker += 1
        self.shell.send(f"\x15echo MARK''{self.marker}\r")
        screen = self.shell.wait_for(f"MARK{self.marker}")
        self.shell.wait_for(self.PROMPT)
        return screen

    def complete(self, line):
        open(self.record, "w").close()
        self.shell.send(line + "\t")
        screen = self.sync()
        with open(self.record) as f:
            return f.read().splitlines(), screen

    def close(self):
        self.shell.close()


def bash_shell(completions, env, cwd, record):
    if shutil.which("bash") is None:
        return None
    setup = [
        "bind 'set bell-style none'",
        f"source {completions}/adrvet-list",
        "declare -A __t_fns",
        "for c in adrvet-list ADRVET; do s=$(complete -p $c); s=${s#*-F }; "
        "__t_fns[$c]=${s%% *}; complete -F __t_wrap $c; done",
        "__t_wrap() { \"${__t_fns[$1]}\" \"$@\"; "
        f"printf '%s\\n' \"${{COMPREPLY[@]}}\" > {record}; }}",
    ]
    return Interactive(["bash", "--norc", "--noprofile", "-i"], setup, env, cwd, record)


def zsh_shell(completions, env, cwd, record):
    if shutil.which("zsh") is None:
        return None
    setup = [
        "bindkey -e; unsetopt beep auto_list auto_menu",
        f"fpath=({completions} $fpath); autoload -Uz compinit; compinit -u -D",
        "compadd() { local -a __t; builtin compadd -O __t \"$@\"; "
        f"(( $#__t )) && print -rl -- $__t >> {record}; builtin compadd \"$@\"; }}",
    ]
    return Interactive(["zsh", "-f", "-i"], setup, env, cwd, record)


class Fish:
    def __init__(self, completions, env, cwd):
        self.completions, self.env, self.cwd = completions, env, cwd

    def complete(self, line):
        script = (f"source {self.completions}/adrvet-list.fish; "
                  f"source {self.completions}/ADRVET.fish; complete -C{quote_fish(line)}")
        result = subprocess.run(["fish", "--no-config", "-c", script], cwd=self.cwd,
                                env=self.env, capture_output=True, text=True,
                                timeout=HANG_GUARD_SECONDS)
        offers = [o.split("\t")[0] for o in result.stdout.splitlines()]
        return offers, result.stderr

    def close(self):
        pass


def quote_fish(text):
    return "'" + text.replace("\\", "\\\\").replace("'", "\\'") + "'"


def main():
    completions, binary = os.path.abspath(sys.argv[1]), sys.argv[2]
    work = tempfile.mkdtemp(prefix="adrvet-completion-")
    try:
        os.makedirs(f"{work}/cwd")
        return run(completions, binary, f"{work}/cwd", f"{work}/offers")
    finally:
        shutil.rmtree(work)


def run(completions, binary, work, record):
    os.makedirs(f"{work}/list")
    for name in ["macs.txt", "xfile", "x.lock", ".engine.dat.lock", "list/.engine.dat.lock"]:
        open(f"{work}/{name}", "w").close()
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": work, "TERM": "dumb",
           "LANG": "C.UTF-8"}
    cases = list(CASES) + [(f"adrvet-list {c} --", options_in_help(binary, c))
                           for c in COMMANDS]
    failures = 0
    shells = [("bash", bash_shell(completions, env, work, record)),
              ("zsh", zsh_shell(completions, env, work, record)),
              ("fish", Fish(completions, env, work) if shutil.which("fish") else None)]
    for name, shell in shells:
        if shell is None:
            print(f"SKIP {name}: not installed")
            continue
        for line, expected in cases:
            offers, screen = shell.complete(line)
            word = line.split(" ")[-1]
            got = normalise(offers, word)
            problems = []
            if got != sorted(expected):
                problems.append(f"offered {got}, expected {sorted(expected)}")
            if "command not found" in screen or "not found" in screen:
                problems.append("the shell reported: " + screen.strip())
            status = "FAIL" if problems else "ok"
            failures += bool(problems)
            print(f"{status:4} {name:4} {line!r}" + "".join(f"\n     {p}" for p in problems))
        shell.close()
    print(f"{failures} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
