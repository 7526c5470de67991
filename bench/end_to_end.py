#!/usr/bin/python3
"""End-to-end benchmark: what users do, each figure beside its reference.

One run measures, each beside the command a user would run instead, taking
turns run by run so that a load from elsewhere falls on both alike:

- AES-128-CTR over 64 B and 16 MiB, the implementation the processor runs
  against OpenSSL (adrvet-bench, medians of repetitions);
- ADRVET on the large list (10M addresses), an unlisted and a listed
  address, against `cat engine.dat > /dev/null` and `openssl enc -d | grep`,
  warm and with the file's pages dropped (posix_fadvise DONTNEED) before
  every run, and, beneath it, adrvet-read-floor, which only reads every
  byte once in the check's pieces and looks at each;
- `adrvet-list check` of 1M addresses in random order against a 1M list,
  and of the same addresses sorted;
- `adrvet-list pack` of 10M addresses against `sort -u | openssl enc`;
- one `adrvet-list add` to the 10M and 40M lists against
  `cp engine.dat x && sync x`, with peak memory against the list's text;
- what the inventory beside a list costs on 1M and 10M lists: pack, which
  writes it, one add with it against the same list without it (on 1M also
  with a named entry per address), and ADRVET, which never reads it;

then, per list size, ADRVET against cat and the pipeline, and one run on a
small list against `grep -qixF`. Prints Markdown, writes results.md and a
plot to the work directory and, with --doc, the tables into that file
between its markers. --quick runs everything on lists a tenth the size.

Run it through bench/end_to_end.sh, which installs and builds what it needs.
"""
import argparse
import json
import os
import platform
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SIZES = [1_000, 100_000, 1_000_000, 10_000_000]
MISS = "00:00:5e:00:53:01"  # documentation range: never drawn at random here
DOC_BEGIN = "<!-- bench/end_to_end.py: begin -->"
DOC_END = "<!-- bench/end_to_end.py: end -->"


class Measure:
    """Wall, user and system seconds of one run (a pipeline's processes
    together)."""

    def __init__(self, wall, user, system):
        self.wall, self.user, self.system = wall, user, system


def run(command, expected=0, stdin=None, before=None):
    """Runs `command` (a list, or a string for the shell) and measures it;
    `before` runs first, outside the measure."""
    if before is not None:
        before()
    shell = isinstance(command, str)
    start = time.perf_counter()
    process = subprocess.Popen(["bash", "-c", command] if shell else command, stdin=stdin,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    # wait4 reports the child with every descendant it waited for
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    error = process.stderr.read().decode(errors="replace")
    process.stderr.close()
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != expected:
        sys.exit(f"exit status {process.returncode} (wanted {expected}) from {command}: {error}")
    return Measure(wall, usage.ru_utime, usage.ru_stime)


def peak_kib(command, expected=0, stdin=None):
    """Peak resident memory of `command` (the largest process of a
    pipeline) as /usr/bin/time sees it: a child of this big interpreter
    would count the interpreter's memory as its own."""
    shell = isinstance(command, str)
    wrapped = ["/usr/bin/time", "-f", "%M"] + (["bash", "-c", command] if shell else command)
    result = subprocess.run(wrapped, stdin=stdin, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True)
    if result.returncode != expected:
        sys.exit(f"exit status {result.returncode} (wanted {expected}) from {command}")
    return int(result.stderr.strip().splitlines()[-1])


def median_of(measures):
    """Each field its own median."""
    return Measure(*(statistics.median(getattr(m, f) for m in measures)
                     for f in ("wall", "user", "system")))


def taking_turns(commands, runs):
    """Runs each (command, expected, before) in turn, `runs` times; gives the
    median Measure of each."""
    measured = [[] for _ in commands]
    for _ in range(runs):
        for i, (command, expected, before) in enumerate(commands):
            measured[i].append(run(command, expected, before=before))
    return [median_of(ms) for ms in measured]


def drop_cache(path):
    def drop():
        fd = os.open(path, os.O_RDONLY)
        try:
            os.fsync(fd)
            os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        finally:
            os.close(fd)
    return drop


def write_plain_list(path, count, seed=20261209):
    """`count` random addresses, one per line, 12 hex digits, in random order."""
    rng = random.Random(seed + count)
    with open(path + ".part", "w") as out:
        chunk = 100_000
        for start in range(0, count, chunk):
            n = min(chunk, count - start)
            data = rng.randbytes(6 * n).hex()
            out.write("\n".join(data[12 * i:12 * i + 12] for i in range(n)) + "\n")
    os.replace(path + ".part", path)


class Lists:
    """Plain lists and their packed directories in the work directory, made
    once and kept between runs."""

    def __init__(self, tools, work):
        self.tools, self.work = tools, work

    def plain(self, size):
        path = os.path.join(self.work, f"list-{size}.txt")
        if not os.path.exists(path):
            print(f"making a list of {size:,} addresses", file=sys.stderr)
            write_plain_list(path, size)
        return path

    def packed(self, size):
        directory = os.path.join(self.work, f"list-{size}")
        if not os.path.exists(os.path.join(directory, "engine.dat")):
            os.makedirs(directory, exist_ok=True)
            run([self.tools.adrvet_list, "pack", "-k", "S", "--quiet", self.plain(size), directory])
        return directory

    def middle_address(self, size):
        """The entry in the middle of the stored (sorted) list."""
        text = subprocess.run([self.tools.adrvet_list, "unpack", "-k", "S", self.packed(size)],
                              capture_output=True, text=True, check=True).stdout.split()
        return text[len(text) // 2]


class Tools:
    def __init__(self, build):
        bin_dir = os.path.join(build, "bin")
        self.adrvet = os.path.join(bin_dir, "ADRVET")
        self.adrvet_list = os.path.join(bin_dir, "adrvet-list")
        self.bench = os.path.join(bin_dir, "adrvet-bench")
        self.read_floor = os.path.join(bin_dir, "adrvet-read-floor")
        self.key, self.counter = subprocess.run(
            [os.path.join(bin_dir, "adrvet-bench-key"), "S"], capture_output=True, text=True,
            check=True).stdout.split()

    def pipeline(self, container, address):
        return (f"openssl enc -d -aes-128-ctr -K {self.key} -iv {self.counter} -in {container}"
                f" | grep -qi {address}")


def ratio(a, b):
    return a / b if b > 0 else float("nan")


def seconds(s):
    return f"{s:.3f} s" if s >= 0.1 else f"{s * 1000:.1f} ms"


def mib(kib):
    return f"{kib / 1024:.0f} MiB" if kib >= 10 * 1024 else f"{kib / 1024:.1f} MiB"


def cpu_times(m):
    return f"{seconds(m.wall)} (user {seconds(m.user)}, system {seconds(m.system)})"


# Each figure gives rows: (figure, measured, reference, ratio or value, goal).

def ctr_figures(tools, repetitions):
    """The fastest implementation this processor runs against OpenSSL."""
    result = subprocess.run(
        [tools.bench, "--benchmark_filter=BM_AesCtr_.*/(64|16777216)$",
         "--benchmark_min_time=0.2", f"--benchmark_repetitions={repetitions}",
         "--benchmark_report_aggregates_only=true", "--benchmark_format=json"],
        capture_output=True, text=True, check=True)
    rate = {}
    for b in json.loads(result.stdout)["benchmarks"]:
        if b.get("aggregate_name") == "median" and not b.get("error_occurred"):
            name, size = b["run_name"].removeprefix("BM_AesCtr_").split("/")
            rate[(name, int(size))] = b["bytes_per_second"]
    ours = next(n for n in ("vaes512", "vaes256", "aesni", "portable") if (n, 64) in rate)
    rows = []
    for size, label, goal in ((16 << 20, "16 MiB", ">= 2.0x"), (64, "64 B", ">= 1.0x")):
        mine, theirs = rate[(ours, size)], rate[("OpenSSL", size)]
        rows.append((f"AES-128-CTR {label} / OpenSSL ({ours})", f"{mine / 1e9:.2f} GB/s",
                     f"{theirs / 1e9:.2f} GB/s", f"{mine / theirs:.2f}x", goal))
    return rows


def check_figures(tools, lists, size, runs):
    directory = lists.packed(size)
    container = os.path.join(directory, "engine.dat")
    hit = lists.middle_address(size)
    drop = drop_cache(container)
    miss, cat, floor, hit_m, pipe_miss, pipe_hit = taking_turns(
        [([tools.adrvet, "S", directory, MISS], 0, None),
         (["cat", container], 0, None),
         ([tools.read_floor, container], 0, None),
         ([tools.adrvet, "S", directory, hit], 1, None),
         (tools.pipeline(container, MISS), 1, None),
         (tools.pipeline(container, hit), 0, None)], runs)
    cold_miss, cold_cat = taking_turns(
        [([tools.adrvet, "S", directory, MISS], 0, drop),
         (["cat", container], 0, drop)], runs)
    mb = os.path.getsize(container) / 1e6
    name = f"{size:,}"
    ours_kib = peak_kib([tools.adrvet, "S", directory, MISS], 0)
    pipe_kib = peak_kib(tools.pipeline(container, MISS), 1)
    return [
        (f"ADRVET on a {name} list, unlisted / `cat engine.dat > /dev/null` (warm)",
         cpu_times(miss), cpu_times(cat), f"{ratio(miss.wall, cat.wall):.2f}x", "<= 1.0x"),
        ("beneath it: reading every byte once in the check's pieces and looking at each, "
         "nothing decrypted (`adrvet-read-floor`) / `cat` (warm)",
         cpu_times(floor), cpu_times(cat), f"{ratio(floor.wall, cat.wall):.2f}x",
         f"ADRVET / this: {ratio(miss.wall, floor.wall):.2f}x"),
        (f"the same, pages dropped before each run ({mb:.0f} MB; `cat` reads "
         f"{mb / cold_cat.wall:.0f} MB/s)",
         cpu_times(cold_miss), cpu_times(cold_cat), f"{ratio(cold_miss.wall, cold_cat.wall):.2f}x",
         "<= 1.0x"),
        (f"ADRVET {name} / `openssl enc -d | grep` (miss)", seconds(miss.wall),
         seconds(pipe_miss.wall), f"{ratio(miss.wall, pipe_miss.wall):.2f}x", "keep (0.12x)"),
        (f"ADRVET {name} / `openssl enc -d | grep` (hit)", seconds(hit_m.wall),
         seconds(pipe_hit.wall), f"{ratio(hit_m.wall, pipe_hit.wall):.2f}x", "keep (0.27x)"),
        (f"ADRVET {name}, peak memory / `openssl enc -d | grep`'s", mib(ours_kib),
         mib(pipe_kib), f"{ratio(ours_kib * 1024, os.path.getsize(container)):.3f}x of engine.dat",
         "bounded"),
    ]


def batch_figures(tools, lists, size, runs):
    directory = lists.packed(size)
    with open(lists.plain(size)) as f:
        listed = f.read().split()
    rng = random.Random(size)
    queries = [listed[rng.randrange(len(listed))] if i % 2 == 0 else rng.randbytes(6).hex()
               for i in range(size)]
    rng.shuffle(queries)
    paths = {}
    for order, lines in (("random", queries), ("sorted", sorted(queries))):
        paths[order] = os.path.join(lists.work, f"queries-{size}-{order}.txt")
        with open(paths[order], "w") as out:
            out.write("\n".join(lines) + "\n")
    measured = {order: [] for order in paths}
    for _ in range(runs):
        for order, path in paths.items():
            with open(path) as q:
                measured[order].append(run([tools.adrvet_list, "check", "-k", "S", directory],
                                           stdin=q))
    med = {order: median_of(ms) for order, ms in measured.items()}
    goal = "<= 0.2 s" if size == 1_000_000 else "-"
    return [(f"`adrvet-list check` of {size:,} addresses in random order against a "
             f"{size:,} list (beside: the same sorted)", cpu_times(med["random"]),
             cpu_times(med["sorted"]), seconds(med["random"].wall), goal)]


def pack_figures(tools, lists, size, runs):
    plain = lists.plain(size)
    out_dir = tempfile.mkdtemp(dir=lists.work, prefix="pack-")
    reference = (f"LC_ALL=C sort -u {plain} | openssl enc -aes-128-ctr -K {tools.key} "
                 f"-iv {tools.counter} -out {out_dir}/sorted.dat")
    # Each starts with nothing left to write back: ext4 commits the other's
    # unwritten output with pack's fsync otherwise.
    pack, ref = taking_turns(
        [([tools.adrvet_list, "pack", "-k", "S", "--quiet", plain, out_dir], 0, os.sync),
         (reference, 0, os.sync)], runs)
    subprocess.run(["rm", "-rf", out_dir], check=True)
    goal = "<= 1.5 s, <= 0.5x" if size == 10_000_000 else "<= 0.5x"
    return [(f"`adrvet-list pack` of {size:,} addresses / `sort -u | openssl enc`",
             cpu_times(pack), cpu_times(ref), f"{ratio(pack.wall, ref.wall):.2f}x", goal)]


def new_address(rng):
    first = rng.randrange(256) & 0xFC  # unicast, globally unique: no warning
    return ":".join(f"{b:02x}" for b in [first] + list(rng.randbytes(5)))


def add_figures(tools, lists, size, runs):
    directory = lists.packed(size)
    container = os.path.join(directory, "engine.dat")
    copy = os.path.join(lists.work, f"copy-{size}.dat")
    rng = random.Random(size + 1)
    adds, cps = [], []
    for _ in range(runs):
        adds.append(run([tools.adrvet_list, "add", "-k", "S", "--quiet", directory,
                         new_address(rng)]))
        cps.append(run(f"cp {container} {copy} && sync {copy}"))
    os.remove(copy)
    add, cp = median_of(adds), median_of(cps)
    add_kib = peak_kib([tools.adrvet_list, "add", "-k", "S", "--quiet", directory,
                        new_address(rng)])
    text_bytes = os.path.getsize(container)  # the payload, within 28 bytes
    return [
        (f"one `add` to a {size:,} list / `cp engine.dat x && sync x`", cpu_times(add),
         cpu_times(cp), f"{ratio(add.wall, cp.wall):.2f}x", "<= 2.0x"),
        (f"one `add` to a {size:,} list, peak memory / the list's text",
         mib(add_kib), f"{text_bytes / 1e6:.0f} MB", f"{ratio(add_kib * 1024, text_bytes):.2f}x",
         "<= 1.2x"),
    ]


def named_copy(tools, source, directory, plain):
    """`directory` with the list of `source` and an inventory line of its
    own for every address (each given a name), as a list whose devices were
    all named has it."""
    os.makedirs(directory, exist_ok=True)
    shutil.copyfile(os.path.join(source, "engine.dat"), os.path.join(directory, "engine.dat"))
    with open(plain) as addresses:
        subprocess.run([tools.adrvet_list, "add", "-k", "S", "--quiet", "--label", "device",
                        directory, "-"], stdin=addresses, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True)


def inventory_figures(tools, lists, size, runs, named):
    """What the inventory beside a list costs: pack, which writes it; one
    add to the list with it against the same list without it (and, with
    `named`, with a line per address); ADRVET, which reads engine.dat alone."""
    plain = lists.plain(size)
    base = tempfile.mkdtemp(dir=lists.work, prefix="inventory-")
    packed, bare, lined = (os.path.join(base, n) for n in ("packed", "bare", "named"))
    packs = [run([tools.adrvet_list, "pack", "-k", "S", "--quiet", plain, packed],
                 before=lambda: shutil.rmtree(packed, ignore_errors=True)) for _ in range(runs)]
    pack = median_of(packs)
    container = os.path.join(packed, "engine.dat")
    inventory_bytes = os.path.getsize(container + ".inventory")
    os.makedirs(bare)
    shutil.copyfile(container, os.path.join(bare, "engine.dat"))
    variants = [("pack's inventory", packed)]
    if named:
        named_copy(tools, packed, lined, plain)
        variants.append(("a named entry per address "
                         f"({os.path.getsize(os.path.join(lined, 'engine.dat.inventory')) / 1e6:.0f}"
                         " MB)", lined))
    rng = random.Random(size + 2)
    name = f"{size:,}"
    rows = [(f"`adrvet-list pack` of {name} addresses, its inventory {inventory_bytes} B beside "
             f"the list's {os.path.getsize(container) / 1e6:.0f} MB", cpu_times(pack), "-", "-",
             "-")]
    for what, directory in variants:
        measured = {directory: [], bare: []}
        for _ in range(runs):
            for d in (directory, bare):
                measured[d].append(run([tools.adrvet_list, "add", "-k", "S", "--quiet", d,
                                        new_address(rng)]))
        with_it, without = median_of(measured[directory]), median_of(measured[bare])
        kib = [peak_kib([tools.adrvet_list, "add", "-k", "S", "--quiet", d, new_address(rng)])
               for d in (directory, bare)]
        rows += [
            (f"one `add` to a {name} list with {what} / without an inventory",
             cpu_times(with_it), cpu_times(without), f"{ratio(with_it.wall, without.wall):.2f}x",
             "-"),
            ("the same, peak memory", mib(kib[0]), mib(kib[1]), f"{ratio(kib[0], kib[1]):.2f}x",
             "-"),
        ]
    with_it, without = taking_turns([([tools.adrvet, "S", packed, MISS], 0, None),
                                     ([tools.adrvet, "S", bare, MISS], 0, None)], max(runs, 5))
    rows.append((f"ADRVET on a {name} list, unlisted, with the inventory / without",
                 cpu_times(with_it), cpu_times(without), f"{ratio(with_it.wall, without.wall):.2f}x",
                 "nothing (reads engine.dat alone)"))
    shutil.rmtree(base)
    return rows


def sizes_table(tools, lists, sizes, runs):
    table = ["| addresses | engine.dat | ADRVET hit | ADRVET miss | openssl \\| grep hit "
             "| openssl \\| grep miss | cat | ADRVET miss / cat | ADRVET / pipeline (hit) "
             "| ADRVET / pipeline (miss) | peak memory ADRVET | peak memory pipeline |",
             "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    data = []
    for size in sizes:
        directory = lists.packed(size)
        container = os.path.join(directory, "engine.dat")
        hit = lists.middle_address(size)
        m = taking_turns([([tools.adrvet, "S", directory, hit], 1, None),
                          ([tools.adrvet, "S", directory, MISS], 0, None),
                          (tools.pipeline(container, hit), 0, None),
                          (tools.pipeline(container, MISS), 1, None),
                          (["cat", container], 0, None)], runs)
        ah, am, ph, pm, cat = (x.wall for x in m)
        data.append((size, ah, am, ph, pm, cat))
        table.append(f"| {size:,} | {os.path.getsize(container) / 1e6:.1f} MB | {seconds(ah)} "
                     f"| {seconds(am)} | {seconds(ph)} | {seconds(pm)} | {seconds(cat)} "
                     f"| {ratio(am, cat):.2f} | {ratio(ah, ph):.2f} | {ratio(am, pm):.2f} "
                     f"| {mib(peak_kib([tools.adrvet, 'S', directory, MISS]))} "
                     f"| {mib(peak_kib(tools.pipeline(container, MISS), 1))} |")
    return table, data


def startup_table(tools, lists, runs):
    plain = lists.plain(1_000)
    directory = lists.packed(1_000)
    hit = lists.middle_address(1_000).replace(":", "")  # the plain list's notation
    rows = ["| address | ADRVET | grep -qixF on the plain list | ADRVET / grep |",
            "|---|---:|---:|---:|"]
    for label, address, ours_status, grep_status in (("listed", hit, 1, 0),
                                                     ("not listed", "00005e005301", 0, 1)):
        ours, theirs = taking_turns([([tools.adrvet, "S", directory, address], ours_status, None),
                                     (["grep", "-qixF", address, plain], grep_status, None)],
                                    runs)
        rows.append(f"| {label} | {ours.wall * 1000:.2f} ms | {theirs.wall * 1000:.2f} ms "
                    f"| {ratio(ours.wall, theirs.wall):.2f} |")
    return rows


def plot(work, data):
    dat = os.path.join(work, "results.dat")
    with open(dat, "w") as out:
        out.write("# addresses adrvet_hit adrvet_miss pipe_hit pipe_miss cat (seconds)\n")
        for row in data:
            out.write(" ".join(str(x) for x in row) + "\n")
    png = os.path.join(work, "end_to_end.png")
    script = f"""
set terminal pngcairo size 900,600
set output '{png}'
set logscale xy
set xlabel 'addresses in the list'
set ylabel 'median wall time (s)'
set key top left
set grid
set title 'ADRVET against openssl | grep (one check per run)'
plot '{dat}' using 1:2 with linespoints title 'ADRVET, listed', \\
     '' using 1:3 with linespoints title 'ADRVET, not listed', \\
     '' using 1:4 with linespoints title 'openssl | grep, listed', \\
     '' using 1:5 with linespoints title 'openssl | grep, not listed', \\
     '' using 1:6 with linespoints title 'cat engine.dat (floor)'
"""
    if shutil.which("gnuplot") is None:  # bench/end_to_end.sh installs it
        print("no gnuplot: no plot", file=sys.stderr)
        return None
    subprocess.run(["gnuplot"], input=script, text=True, check=True)
    return png


def machine():
    model, flags = "unknown processor", set()
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name") and model == "unknown processor":
                    model = line.split(":", 1)[1].strip()
                elif line.startswith("flags") and not flags:
                    flags = set(line.split(":", 1)[1].split())
    except OSError:
        pass
    wanted = [f for f in ("aes", "vaes", "avx2", "avx512f", "avx512bw", "sha_ni") if f in flags]
    memory = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / 2**30
    return (f"{model} ({', '.join(wanted)}), {os.cpu_count()} cores, {memory:.0f} GiB, "
            f"Linux {platform.release()}, load average {os.getloadavg()[0]:.1f} at the start")


def update_doc(path, report):
    with open(path) as f:
        text = f.read()
    block = f"{DOC_BEGIN}\n{report}\n{DOC_END}"
    pattern = re.compile(re.escape(DOC_BEGIN) + ".*?" + re.escape(DOC_END), re.S)
    if not pattern.search(text):
        sys.exit(f"{path} has no {DOC_BEGIN} ... {DOC_END} section to replace")
    with open(path, "w") as f:
        f.write(pattern.sub(lambda _: block, text))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="build directory with bin/")
    parser.add_argument("--work", required=True, help="directory for lists and results")
    parser.add_argument("--quick", action="store_true",
                        help="lists a tenth the size and fewer runs, for trying")
    parser.add_argument("--scale", type=int, default=1,
                        help="divide the list sizes by this (--quick: 10)")
    parser.add_argument("--runs", type=int, help="runs of each command (default 7, quick 3)")
    parser.add_argument("--sizes", type=int, nargs="+", help="list sizes of the per-size table")
    parser.add_argument("--startup-runs", type=int, help="runs on the 1,000-address list")
    parser.add_argument("--only", nargs="+",
                        choices=["ctr", "check", "batch", "pack", "add", "inventory", "sizes",
                                 "startup"],
                        help="only these parts")
    parser.add_argument("--doc", help="Markdown file whose marked section gets the tables")
    args = parser.parse_args()
    scale = max(args.scale, 10 if args.quick else 1)
    runs = args.runs or (3 if args.quick else 7)
    sizes = args.sizes or sorted({max(s // scale, 1_000) for s in SIZES})
    startup_runs = args.startup_runs or (31 if args.quick else 301)
    parts = set(args.only or ["ctr", "check", "batch", "pack", "add", "inventory", "sizes",
                              "startup"])
    os.makedirs(args.work, exist_ok=True)
    tools = Tools(args.build)
    lists = Lists(tools, args.work)
    header = machine()

    rows = []

    def measure(name, figures, *arguments):
        """One part's rows; a part that fails says so in the table instead
        of ending the run."""
        if name in parts:
            try:
                rows.extend(figures(*arguments))
            except (SystemExit, subprocess.CalledProcessError, OSError) as failure:
                rows.append((f"{name}: failed", str(failure), "-", "-", "-"))

    measure("ctr", ctr_figures, tools, 3 if args.quick else 7)
    measure("check", check_figures, tools, lists, 10_000_000 // scale, max(runs, 5))
    measure("batch", batch_figures, tools, lists, 1_000_000 // scale, max(runs, 5))
    measure("pack", pack_figures, tools, lists, 10_000_000 // scale, runs)
    for size, add_runs in ((10_000_000 // scale, min(runs, 5)), (40_000_000 // scale, 3)):
        measure("add", add_figures, tools, lists, size, add_runs)
    for size in (1_000_000 // scale, 10_000_000 // scale):
        measure("inventory", inventory_figures, tools, lists, size, min(runs, 5),
                size <= 1_000_000 // scale)
    report = [f"Machine: {header}.", "",
              f"`bench/end_to_end.py`{f' --scale {scale}' if scale > 1 else ''}: medians of {runs} "
              "runs (at least 5 for the checks, 3 for the add to the largest list), each "
              "command taking turns with its reference.",
              ""]
    if rows:
        report += ["| figure | measured | reference | ratio | goal |", "|---|---|---|---|---|"]
        report += [f"| {' | '.join(cell.replace('|', chr(92) + '|') for cell in r)} |" for r in rows]
    png = None
    if "sizes" in parts:
        table, data = sizes_table(tools, lists, sizes, runs)
        report += ["", "Per list size (one check per run):", "", *table]
        png = plot(args.work, data)
    if "startup" in parts:
        report += ["", f"One run on the 1,000-address list, median of {startup_runs}:", "",
                   *startup_table(tools, lists, startup_runs)]
    text = "\n".join(report)
    with open(os.path.join(args.work, "results.md"), "w") as out:
        out.write(text + "\n")
    if args.doc:
        update_doc(args.doc, text)
    print(text)
    if png:
        print(f"\nplot: {png}")


if __name__ == "__main__":
    main()
