#!/usr/bin/python3
"""Benchmark of list updates: one `adrvet-list add` of one address to lists
of 1 thousand, 1 million and 10 million addresses (median of several runs),
and 64 `add` commands started at once on the 1-million list (total wall time,
and a check that every address arrived). Prints a Markdown table.

Run it through bench/list_updates.sh, which builds what it needs.
"""
import argparse
import os
import random
import statistics
import subprocess
import sys
import time

from end_to_end import write_plain_list

SIZES = [1_000, 1_000_000, 10_000_000]


def new_address(rng):
    # Unicast and globally unique: no warning on stderr to skew the timing.
    first = rng.randrange(256) & 0xFC
    return ":".join(f"{b:02x}" for b in [first] + list(rng.randbytes(5)))


def run(command, **kwargs):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            **kwargs)
    if result.returncode != 0:
        sys.exit(f"{' '.join(command)} failed ({result.returncode}): {result.stderr}")
    return result


def one_add(tool, list_dir, rng, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        run([tool, "add", "-k", "S", "--quiet", list_dir, new_address(rng)])
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def concurrent_adds(tool, list_dir, rng, count):
    addresses = [new_address(rng) for _ in range(count)]
    start = time.perf_counter()
    writers = [subprocess.Popen([tool, "add", "-k", "S", "--quiet", "--wait", "600", list_dir, a],
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
               for a in addresses]
    failed = [w for w in writers if w.wait() != 0]
    elapsed = time.perf_counter() - start
    if failed:
        sys.exit(f"{len(failed)} concurrent add commands failed: {failed[0].stderr.read()}")
    answers = run([tool, "check", "-k", "S", list_dir] + addresses).stdout.split("\n")
    missing = [line for line in answers if line and not line.endswith("\t1")]
    if missing:
        sys.exit(f"addresses lost by concurrent add: {missing}")
    return elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", default="build/default")
    parser.add_argument("--work", default="build/default/bench")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--sizes", type=int, nargs="+", default=SIZES)
    args = parser.parse_args()
    tool = os.path.join(args.build, "bin", "adrvet-list")
    os.makedirs(args.work, exist_ok=True)
    rng = random.Random(20261209)

    rows = []
    concurrent = None
    for size in args.sizes:
        plain = os.path.join(args.work, f"updates-{size}.txt")
        list_dir = os.path.join(args.work, f"updates-{size}")
        os.makedirs(list_dir, exist_ok=True)
        write_plain_list(plain, size)
        run([tool, "pack", "-k", "S", "--quiet", plain, list_dir])
        rows.append((size, one_add(tool, list_dir, rng, args.runs)))
        if size == 1_000_000:
            concurrent = concurrent_adds(tool, list_dir, rng, 64)
        os.remove(plain)

    print("| list size | one `add` (median) |")
    print("|---:|---:|")
    for size, seconds in rows:
        print(f"| {size:,} | {seconds * 1000:.1f} ms |")
    if concurrent is not None:
        print(f"\n64 concurrent `add` on the 1,000,000-address list: {concurrent:.2f} s in all "
              f"({concurrent / 64 * 1000:.0f} ms per update), every address present.")


if __name__ == "__main__":
    main()
