#!/usr/bin/python3
"""The primitives benchmark as a Markdown table: every AES implementation
beside OpenSSL, per mode and buffer size, medians of repeated runs.

  bench/primitives_table.py build/default/bin/adrvet-bench [--repetitions N]

Throughput is in GB/s (10^9 bytes per second), or MB/s below 1 GB/s; the
last columns divide each fast implementation's throughput by OpenSSL's.
"""
import argparse
import json
import subprocess
from collections import defaultdict

MODES = [("AesCtr", "AES-128-CTR"),
         ("AesEcbEncrypt", "AES-128-ECB encrypt (one block per call)"),
         ("AesEcbDecrypt", "AES-128-ECB decrypt (one block per call)"),
         ("AesCbcEncrypt", "AES-128-CBC encrypt"),
         ("AesCbcDecrypt", "AES-128-CBC decrypt")]
IMPLEMENTATIONS = ["portable", "aesni", "vaes256", "vaes512", "OpenSSL"]


def rate(bytes_per_second):
    if bytes_per_second is None:
        return "n/a"
    if bytes_per_second < 1e9:
        return f"{bytes_per_second / 1e6:.0f} MB/s"
    return f"{bytes_per_second / 1e9:.2f} GB/s"


def size_name(size):
    return f"{size >> 20} MiB" if size >= 1 << 20 else f"{size >> 10} KiB" if size >= 1024 \
        else f"{size} B"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bench")
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--min-time", default="0.2")
    parser.add_argument("--filter", default="BM_Aes", help="benchmark name pattern")
    args = parser.parse_args()
    out = subprocess.run([args.bench, f"--benchmark_filter={args.filter}", "--benchmark_format=json",
                          f"--benchmark_repetitions={args.repetitions}",
                          "--benchmark_report_aggregates_only=true",
                          f"--benchmark_min_time={args.min_time}"],
                         capture_output=True, text=True, check=True).stdout
    medians = defaultdict(dict)
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") != "median" or b.get("error_occurred"):
            continue
        name, size = b["run_name"].rsplit("/", 1)
        mode, implementation = name[len("BM_"):].split("_", 1)
        medians[(mode, int(size))][implementation] = b["bytes_per_second"]
    fast = ["aesni", "vaes256", "vaes512"]
    print("| operation | buffer | " + " | ".join(IMPLEMENTATIONS) + " | " +
          " | ".join(f"{f} / OpenSSL" for f in fast) + " |")
    print("|---|---:|" + "---:|" * (len(IMPLEMENTATIONS) + len(fast)))
    for mode, title in MODES:
        for (m, size), row in sorted(medians.items(), key=lambda kv: kv[0][1]):
            if m != mode:
                continue
            cells = " | ".join(rate(row.get(i)) for i in IMPLEMENTATIONS)
            ratios = " | ".join(f"{row[f] / row['OpenSSL']:.2f}" if f in row else "n/a"
                                for f in fast)
            print(f"| {title} | {size_name(size)} | {cells} | {ratios} |")


if __name__ == "__main__":
    main()
