#!/usr/bin/python3
"""End-to-end benchmark: ADRVET against the pipeline a user would write.

For lists of random addresses made with `adrvet-list pack`, times (median of
several runs) ADRVET for a listed address in the middle of the list and an
unlisted one, the pipeline `openssl enc -d -aes-128-ctr ... | grep -qi
ADDRESS`, and `cat engine.dat > /dev/null` as the floor; records peak memory
with /usr/bin/time; times one ADRVET run on the 1,000-address list against
`grep -qixF ADDRESS` on the plain list (many runs, interleaved), `adrvet-list
pack` of each list and a one-million-address `adrvet-list check`; prints
Markdown tables with the ratio of each pair and draws a PNG plot with gnuplot.

Run it through bench/end_to_end.sh, which installs and builds what it needs.
"""
import argparse
import os
import platform
import random
import statistics
import subprocess
import sys
import time

SIZES = [1_000, 100_000, 1_000_000, 10_000_000]


def run_timed(command, stdin=None, shell=False):
    start = time.perf_counter()
    result = subprocess.run(command, stdin=stdin, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, shell=shell)
    return time.perf_counter() - start, result.returncode


def peak_kib(command, shell=False):
    """Peak resident memory in KiB as /usr/bin/time reports it."""
    wrapped = ["/usr/bin/time", "-f", "%M"]
    wrapped += ["bash", "-c", command] if shell else command
    result = subprocess.run(wrapped, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(result.stderr.strip().splitlines()[-1])


def median_time(command, runs, expected, shell=False):
    times = []
    for _ in range(runs):
        elapsed, status = run_timed(command, shell=shell)
        if status != expected:
            sys.exit(f"unexpected exit status {status} (wanted {expected}) from {command}")
        times.append(elapsed)
    return statistics.median(times)


def write_plain_list(path, count, rng):
    with open(path, "w") as out:
        chunk = 100_000
        for start in range(0, count, chunk):
            n = min(chunk, count - start)
            data = rng.randbytes(6 * n)
            out.write("".join(data[6 * i:6 * i + 6].hex() + "\n" for i in range(n)))


def middle_address(adrvet_list, list_dir):
    """The entry in the middle of the stored (sorted) list."""
    text = subprocess.run([adrvet_list, "unpack", "-k", "S", list_dir], capture_output=True,
                          text=True, check=True).stdout.split()
    return text[len(text) // 2]


def interleaved_medians(commands, runs, expected):
    """Median time of each command, the commands taking turns run by run, so
    that a load from elsewhere falls on all of them alike. A command given as
    a string runs through the shell."""
    times = [[] for _ in commands]
    for _ in range(runs):
        for i, command in enumerate(commands):
            elapsed, status = run_timed(command, shell=isinstance(command, str))
            if status != expected[i]:
                sys.exit(f"unexpected exit status {status} (wanted {expected[i]}) from {command}")
            times[i].append(elapsed)
    return [statistics.median(t) for t in times]


def colon(hex12):
    return ":".join(hex12[i:i + 2] for i in range(0, 12, 2))


def machine_name():
    model = "unknown processor"
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return f"{model}, {os.cpu_count()} cores, Linux {platform.release()}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="build directory with bin/")
    parser.add_argument("--work", required=True, help="directory for lists and results")
    parser.add_argument("--sizes", type=int, nargs="+", default=SIZES)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--startup-runs", type=int, default=301,
                        help="runs of each program on the 1,000-address list")
    args = parser.parse_args()

    bin_dir = os.path.join(args.build, "bin")
    adrvet = os.path.join(bin_dir, "ADRVET")
    adrvet_list = os.path.join(bin_dir, "adrvet-list")
    key, counter = subprocess.run([os.path.join(bin_dir, "adrvet-bench-key"), "S"],
                                  capture_output=True, text=True, check=True).stdout.split()
    os.makedirs(args.work, exist_ok=True)
    rng = random.Random(20261209)
    rows = []
    extras = []
    for size in args.sizes:
        plain = os.path.join(args.work, f"list-{size}.txt")
        list_dir = os.path.join(args.work, f"list-{size}")
        os.makedirs(list_dir, exist_ok=True)
        if not os.path.exists(plain):
            write_plain_list(plain, size, rng)
        pack_runs = 3 if size >= 1_000_000 else 5
        pack_time = median_time([adrvet_list, "pack", "-k", "S", "--quiet", plain, list_dir],
                                pack_runs, 0)
        extras.append(f"`adrvet-list pack` of {size:,} addresses: {pack_time:.2f} s "
                      f"(median of {pack_runs})")
        container = os.path.join(list_dir, "engine.dat")
        hit = middle_address(adrvet_list, list_dir)
        miss = "00:00:5e:00:53:01"  # documentation range: never drawn at random here
        runs = max(3, args.runs)
        pipeline = f"openssl enc -d -aes-128-ctr -K {key} -iv {counter} -in {container} | grep -qi "
        names = ["adrvet_hit", "adrvet_miss", "pipe_hit", "pipe_miss", "cat"]
        measured = dict(zip(names, interleaved_medians(
            [[adrvet, "S", list_dir, hit], [adrvet, "S", list_dir, miss], pipeline + hit,
             pipeline + miss, ["cat", container]], runs, [1, 0, 0, 1, 0])))
        memory = {
            "adrvet": peak_kib([adrvet, "S", list_dir, miss]),
            "pipe": peak_kib(pipeline + miss, shell=True),
        }
        rows.append((size, os.path.getsize(container), measured, memory))
        print(f"{size:>10,} addresses done", file=sys.stderr)

    startup = []
    if 1_000 in args.sizes:
        plain = os.path.join(args.work, "list-1000.txt")
        list_dir = os.path.join(args.work, "list-1000")
        # the notation of the plain list, which ADRVET takes as well
        hit = middle_address(adrvet_list, list_dir).replace(":", "")
        miss = "00005e005301"
        for label, address, adrvet_status, grep_status in (("listed", hit, 1, 0),
                                                           ("not listed", miss, 0, 1)):
            ours, theirs = interleaved_medians(
                [[adrvet, "S", list_dir, address], ["grep", "-qixF", address, plain]],
                args.startup_runs, [adrvet_status, grep_status])
            startup.append(f"| {label} | {ours * 1000:.2f} | {theirs * 1000:.2f} "
                           f"| {ours / theirs:.2f} |")

    if 1_000_000 in args.sizes:
        queries = os.path.join(args.work, "queries-1000000.txt")
        with open(os.path.join(args.work, "list-1000000.txt")) as f:
            listed = f.read().split()
        with open(queries, "w") as q:
            for i in range(1_000_000):
                q.write((listed[i] if i % 2 == 0 else rng.randbytes(6).hex()) + "\n")
        check_times = []
        for _ in range(5):
            with open(queries) as q:
                check_times.append(run_timed([adrvet_list, "check", "-k", "S",
                                              os.path.join(args.work, "list-1000000")],
                                             stdin=q)[0])
        extras.append(f"`adrvet-list check` of 1,000,000 addresses against the 1,000,000 list: "
                      f"{statistics.median(check_times):.2f} s (median of 5)")

    ms = lambda s: f"{s * 1000:.1f}"
    table = ["| addresses | engine.dat | ADRVET hit (ms) | ADRVET miss (ms) | openssl \\| grep hit (ms) "
             "| openssl \\| grep miss (ms) | cat (ms) | ADRVET miss / cat "
             "| ADRVET / pipeline (hit) | ADRVET / pipeline (miss) "
             "| peak memory ADRVET | peak memory pipeline | ADRVET memory / engine.dat |",
             "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for size, file_size, m, mem in rows:
        table.append(
            f"| {size:,} | {file_size / 1e6:.1f} MB | {ms(m['adrvet_hit'])} | {ms(m['adrvet_miss'])} "
            f"| {ms(m['pipe_hit'])} | {ms(m['pipe_miss'])} | {ms(m['cat'])} "
            f"| {m['adrvet_miss'] / m['cat']:.2f} | {m['adrvet_hit'] / m['pipe_hit']:.2f} "
            f"| {m['adrvet_miss'] / m['pipe_miss']:.2f} | {mem['adrvet'] / 1024:.1f} MiB "
            f"| {mem['pipe'] / 1024:.1f} MiB | {mem['adrvet'] * 1024 / file_size:.2f} |")
    small = []
    if startup:
        small = ["", f"One run on the 1,000-address list, median of {args.startup_runs} runs each, "
                 "taking turns:", "",
                 "| address | ADRVET (ms) | grep -qixF on the plain list (ms) | ADRVET / grep |",
                 "|---|---:|---:|---:|", *startup]
    report = "\n".join([f"Machine: {machine_name()}", "", *table, *small, "",
                        *[f"- {e}" for e in extras]])
    with open(os.path.join(args.work, "results.md"), "w") as out:
        out.write(report + "\n")
    with open(os.path.join(args.work, "results.dat"), "w") as out:
        out.write("# addresses adrvet_hit adrvet_miss pipe_hit pipe_miss cat (seconds)\n")
        for size, _, m, _ in rows:
            out.write(f"{size} {m['adrvet_hit']} {m['adrvet_miss']} {m['pipe_hit']} "
                      f"{m['pipe_miss']} {m['cat']}\n")
    plot = os.path.join(args.work, "end_to_end.png")
    gnuplot = f"""
set terminal pngcairo size 900,600
set output '{plot}'
set logscale xy
set xlabel 'addresses in the list'
set ylabel 'median wall time (s)'
set key top left
set grid
set title 'ADRVET against openssl | grep (one check per run)'
plot '{args.work}/results.dat' using 1:2 with linespoints title 'ADRVET, listed', \\
     '' using 1:3 with linespoints title 'ADRVET, not listed', \\
     '' using 1:4 with linespoints title 'openssl | grep, listed', \\
     '' using 1:5 with linespoints title 'openssl | grep, not listed', \\
     '' using 1:6 with linespoints title 'cat engine.dat (floor)'
"""
    subprocess.run(["gnuplot"], input=gnuplot, text=True, check=True)
    print(report)
    print(f"\nplot: {plot}")


if __name__ == "__main__":
    main()
