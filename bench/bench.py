#!/usr/bin/env python3
"""Times tagsplit against other byte filters on a page-like HTML corpus.

Usage: python3 bench/bench.py [--size-mb 100] [--rounds 7] [--tagsplit build/tagsplit]

Every tool reads the corpus file on standard input and writes to a file in
/dev/shm, so disk speed does not count. Tools run interleaved, round by round;
the table shows medians. Peak RSS is each tool's own, read from wait4.
"""
import argparse
import hashlib
import os
import random
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CACHE = os.path.join(HERE, "cache")
OUT_DIR = "/dev/shm" if os.path.isdir("/dev/shm") else "/tmp"

PERL = (r"binmode STDIN; binmode STDOUT; $/ = \65536;"
        r" while (<STDIN>) { tr/\t\r\n//d; s/>/>\r\n/g; print }")
PYTHON = ("import sys\n"
          "r, w = sys.stdin.buffer, sys.stdout.buffer\n"
          "while chunk := r.read(65536):\n"
          "    w.write(chunk.translate(None, b'\\t\\r\\n').replace(b'>', b'>\\r\\n'))\n")

WORDS = ("lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod "
         "tempor incididunt ut labore et dolore magna aliqua enim ad minim veniam "
         "quis nostrud exercitation ullamco laboris nisi aliquip ex ea commodo").split()
TAGS = ["div", "p", "span", "a", "li", "td", "section", "article", "em", "strong"]
CLASSES = ["item", "nav", "content", "row", "col-md-6", "header", "footer", "btn"]


def page(rng):
    """One page: nested, indented elements with attributes and text."""
    eol = "\r\n" if rng.random() < 0.5 else "\n"
    lines = ["<!DOCTYPE html>", "<html lang=\"en\">", "<head>",
             "\t<meta charset=\"utf-8\">", f"\t<title>{' '.join(rng.sample(WORDS, 4))}</title>",
             "</head>", "<body>"]
    depth = 1
    for _ in range(rng.randint(40, 120)):
        indent = "\t" * depth if rng.random() < 0.6 else "  " * depth
        tag = rng.choice(TAGS)
        attrs = f' class="{rng.choice(CLASSES)}" id="n{rng.randint(0, 99999)}"'
        if tag == "a":
            attrs += f' href="/{rng.choice(WORDS)}/{rng.randint(1, 999)}.html"'
        roll = rng.random()
        if roll < 0.25 and depth < 8:
            lines.append(f"{indent}<{tag}{attrs}>")
            depth += 1
        elif roll < 0.4 and depth > 1:
            depth -= 1
            lines.append("\t" * depth + "</div>")
        else:
            text = " ".join(rng.choice(WORDS) for _ in range(rng.randint(2, 14)))
            lines.append(f"{indent}<{tag}{attrs}>{text}</{tag}>")
    lines += ["</body>", "</html>", ""]
    return eol.join(lines)


def corpus(size_mb):
    path = os.path.join(CACHE, f"corpus-{size_mb}mb.html")
    if not os.path.exists(path):
        os.makedirs(CACHE, exist_ok=True)
        rng = random.Random(size_mb)
        target = size_mb * 1_000_000
        written = 0
        with open(path + ".part", "w", newline="") as out:
            while written < target:
                text = page(rng)
                out.write(text)
                written += len(text)
        os.replace(path + ".part", path)
    return path


def run(command, input_path, output_path):
    """Runs one command with the files as stdin/stdout; returns (seconds, peak RSS in KB)."""
    with open(input_path, "rb") as src, open(output_path, "wb") as dst:
        start = time.perf_counter()
        child = subprocess.Popen(command, stdin=src, stdout=dst)
        _, status, usage = os.wait4(child.pid, 0)
        elapsed = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"{command} ended with status {child.returncode}")
    return elapsed, usage.ru_maxrss


def peak_rss_streaming(tagsplit, corpus_path, repeats):
    """tagsplit's peak RSS with `repeats` copies of the corpus fed through a pipe."""
    feeder = subprocess.Popen(["sh", "-c", f'for i in $(seq {repeats}); do cat "{corpus_path}"; done'],
                              stdout=subprocess.PIPE)
    with open(os.devnull, "wb") as sink:
        child = subprocess.Popen([tagsplit], stdin=feeder.stdout, stdout=sink)
        feeder.stdout.close()
        _, _, usage = os.wait4(child.pid, 0)
    feeder.wait()
    return usage.ru_maxrss


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while block := f.read(1 << 20):
            h.update(block)
    return h.hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size-mb", type=int, default=100)
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--tagsplit", default=os.path.join(HERE, "..", "build", "tagsplit"))
    args = parser.parse_args()
    tagsplit = os.path.abspath(args.tagsplit)
    source = corpus(args.size_mb)
    size = os.path.getsize(source)

    tools = [  # name, command, does our whole job
        ("tagsplit", [tagsplit], True),
        ("tr -d", ["tr", "-d", "\\t\\r\\n"], False),
        ("tr | sed", ["sh", "-c", "tr -d '\\t\\r\\n' | sed 's/>/>\\r\\n/g'"], True),
        ("perl", ["perl", "-e", PERL], True),
        ("python3", [sys.executable, "-c", PYTHON], True),
        ("cat", ["cat"], False),
    ]
    times = {name: [] for name, _, _ in tools}
    rss = {name: 0 for name, _, _ in tools}
    expected = None
    for round_number in range(args.rounds):
        for name, command, whole_job in tools:
            out = os.path.join(OUT_DIR, f"tagsplit-bench-{os.getpid()}.out")
            seconds, peak = run(command, source, out)
            times[name].append(seconds)
            rss[name] = max(rss[name], peak)
            if round_number == 0 and whole_job:
                got = digest(out)
                expected = expected or got
                if got != expected:
                    sys.exit(f"{name} wrote other bytes than tagsplit")
            os.unlink(out)

    base = statistics.median(times["tagsplit"])
    print(f"corpus: {size / 1e6:.0f} MB, {args.rounds} rounds, output to {OUT_DIR}\n")
    print(f"| tool | median s | MB/s | time / tagsplit | peak RSS |")
    print(f"|---|---:|---:|---:|---:|")
    for name, _, _ in tools:
        median = statistics.median(times[name])
        print(f"| {name} | {median:.3f} | {size / 1e6 / median:.0f} | {median / base:.2f} | "
              f"{rss[name] / 1024:.1f} MB |")
    pairs = [t / r for t, r in zip(times["tagsplit"], times["tr -d"])]
    print(f"\nmedian of pairwise tagsplit / tr -d: {statistics.median(pairs):.2f}")
    small = corpus(1)
    print(f"tagsplit peak RSS: 1 MB input {rss_of(tagsplit, small):.0f} KB, "
          f"1 GB input {peak_rss_streaming(tagsplit, source, max(1, 1000 // args.size_mb)):.0f} KB")


def rss_of(tagsplit, path):
    return run([tagsplit], path, os.devnull)[1]


if __name__ == "__main__":
    main()
