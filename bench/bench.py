#!/usr/bin/env python3
"""Times tagsplit against other byte filters on a page-like HTML corpus.

Usage: python3 bench/bench.py [--size-mb 100] [--rounds 9] [--tagsplit build/tagsplit]
                              [--most LEVEL]

Every tool reads the corpus file on standard input and writes to a file in
/dev/shm, so disk speed does not count; tagsplit also runs with /dev/null as
its output, which should cost at most 1.2 times the file. Tools run
interleaved, round by round; the table shows medians. Peak RSS is each tool's own: a child keeps its
parent's peak across exec, so tools are started by a tiny static launcher
(compiled on first use) rather than by this Python process.

The floor is a replay of tagsplit's own reads, writes and step backs on the
corpus, recorded with strace, by a program that touches no byte; last, the
byte path alone is measured in memory, with no system call. With --most, tagsplit is built
afresh in build/bench-LEVEL with its byte path capped at LEVEL (scalar, sse2, avx2 or avx512).
"""
import argparse
import array
import hashlib
import os
import random
import re
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CACHE = os.path.join(HERE, "cache")
OUT_DIR = "/dev/shm" if os.path.isdir("/dev/shm") else "/tmp"
TO_DEV_NULL = "tagsplit to /dev/null"
DEV_NULL_AT_MOST = 1.2  # times tagsplit to a file in /dev/shm, as a median of pairwise ratios
FLOOR = "floor: tagsplit's calls replayed"

PERL = r"""
binmode STDIN;
binmode STDOUT;
$/ = \65536;
while (<STDIN>) {
    tr/\t\r\n//d;
    s/>/>\r\n/g;
    print;
}
"""
PYTHON = r"""
import sys
r = sys.stdin.buffer
w = sys.stdout.buffer
while True:
    chunk = r.read(65536)
    if not chunk:
        break
    w.write(chunk.translate(None, b'\t\r\n').replace(b'>', b'>\r\n'))
"""

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


LAUNCHER_SOURCE = r"""
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
/* launcher REPORT COMMAND...: runs COMMAND, writes its peak RSS in KB to REPORT. */
int main(int argc, char** argv) {
    if (argc < 3) return 2;
    pid_t child = fork();
    if (child == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status;
    struct rusage usage;
    wait4(child, &status, 0, &usage);
    FILE* report = fopen(argv[1], "w");
    if (report != NULL) {
        fprintf(report, "%ld\n", usage.ru_maxrss);
        fclose(report);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}
"""


def read_text(path):
    with open(path) as f:
        return f.read()


def compiled(name, source_text):
    """The C program `source_text`, built in the cache unless already built from the same text."""
    path = os.path.join(CACHE, name)
    source = path + ".c"
    if os.path.exists(path) and read_text(source) == source_text:
        return path
    os.makedirs(CACHE, exist_ok=True)
    with open(source, "w") as f:
        f.write(source_text)
    # Static, so that the launcher's own pages stay few; dynamic where no static C library is.
    if subprocess.run(["cc", "-O2", "-static", source, "-o", path]).returncode != 0:
        subprocess.run(["cc", "-O2", source, "-o", path], check=True)
    return path


REPORT = os.path.join(OUT_DIR, f"tagsplit-bench-{os.getpid()}.rss")


def launched(command):
    """The command run by the launcher, which writes its peak RSS to REPORT."""
    return [compiled("launcher", LAUNCHER_SOURCE), REPORT] + command


def reported_peak():
    with open(REPORT) as f:
        peak = int(f.read())
    os.unlink(REPORT)
    return peak


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


def random_bytes(size_mb):
    """Random bytes with every 0x1A taken out, which would end the input: the worst case for a
    kernel that looks its bytes up in a table."""
    path = os.path.join(CACHE, f"random-{size_mb}mb.bin")
    if not os.path.exists(path):
        os.makedirs(CACHE, exist_ok=True)
        data = random.Random(size_mb).randbytes(size_mb * 1_000_000).replace(b"\x1a", b"")
        with open(path + ".part", "wb") as out:
            out.write(data)
        os.replace(path + ".part", path)
    return path


def run(command, input_path, output_path):
    """Runs one command with the files as stdin/stdout; returns (seconds, peak RSS in KB)."""
    with open(input_path, "rb") as src, open(output_path, "wb") as dst:
        start = time.perf_counter()
        status = subprocess.run(launched(command), stdin=src, stdout=dst).returncode
        elapsed = time.perf_counter() - start
    if status != 0:
        sys.exit(f"{command} ended with status {status}")
    return elapsed, reported_peak()


def peak_rss_streaming(tagsplit, corpus_path, repeats):
    """tagsplit's peak RSS with `repeats` copies of the corpus fed through a
    pipe and its output drained through another, as in a shell pipeline."""
    feed = f'for i in $(seq {repeats}); do cat "{corpus_path}"; done'
    feeder = subprocess.Popen(["sh", "-c", feed], stdout=subprocess.PIPE)
    child = subprocess.Popen(launched([tagsplit]), stdin=feeder.stdout, stdout=subprocess.PIPE)
    feeder.stdout.close()
    drain = subprocess.Popen(["cat"], stdin=child.stdout, stdout=subprocess.DEVNULL)
    child.stdout.close()
    for process in (child, feeder, drain):
        process.wait()
    return reported_peak()


def recorded_calls(tagsplit, corpus_path):
    """tagsplit's reads, writes and step backs on the corpus, recorded with
    strace, as the list the replay program takes."""
    log = os.path.join(CACHE, "calls.log")
    calls = os.path.join(CACHE, "calls.bin")
    output = os.path.join(OUT_DIR, "tagsplit-bench.rec")
    strace = ["strace", "-o", log, "-s", "0", "-e", "trace=read,write,lseek", "-e", "signal=none"]
    with open(corpus_path, "rb") as src, open(output, "wb") as dst:
        subprocess.run(strace + [tagsplit], stdin=src, stdout=dst, check=True)
    os.unlink(output)
    sizes = []
    with open(log) as lines:
        for line in lines:
            call = re.match(r"(read|write|lseek)\(([01]), .*, (\S+)\)\s+= (-?\d+)", line)
            if call is None:
                continue
            if call.group(1) == "read":
                sizes.append(int(call.group(3)))
            elif call.group(1) == "write":
                sizes.append(-int(call.group(3)))
            else:
                sizes.append(0)
    with open(calls, "wb") as f:
        f.write(array.array("i", sizes).tobytes())
    return calls


def byte_path(tagsplit, corpus_path):
    """The in-memory measurement of the byte path, built beside tagsplit."""
    build = os.path.dirname(tagsplit)
    subprocess.run(["cmake", "--build", build, "--target", "byte_path"], check=True,
                   capture_output=True)
    timed = subprocess.run([os.path.join(build, "byte_path"), corpus_path], check=True,
                           capture_output=True, text=True)
    return timed.stdout.strip()


def capped(level):
    """tagsplit built with its byte path capped at `level`, in a build folder of its own."""
    build = os.path.join(HERE, "..", "build", f"bench-{level}")
    configure = ["cmake", "-S", os.path.join(HERE, ".."), "-B", build, "-DBUILD_TESTING=OFF",
                 f"-DTAGSPLIT_MOST_BYTE_PATH={level}"]
    subprocess.run(configure, check=True, capture_output=True)
    subprocess.run(["cmake", "--build", build, "--target", "tagsplit"], check=True,
                   capture_output=True)
    return os.path.join(build, "tagsplit")


def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        while True:
            block = f.read(1 << 20)
            if not block:
                break
            h.update(block)
    return h.hexdigest()


def pairwise_median(times, other_times):
    """The median of the ratios of two tools' times in the same rounds."""
    return statistics.median([t / o for t, o in zip(times, other_times)])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size-mb", type=int, default=100)
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--tagsplit", default=os.path.join(HERE, "..", "build", "tagsplit"))
    parser.add_argument("--most", help="the widest level of the byte path tagsplit may take")
    args = parser.parse_args()
    tagsplit = os.path.abspath(capped(args.most) if args.most else args.tagsplit)
    source = corpus(args.size_mb)
    size = os.path.getsize(source)
    output = os.path.join(OUT_DIR, f"tagsplit-bench-{os.getpid()}.out")
    replay = compiled("replay", read_text(os.path.join(HERE, "replay.c")))

    tools = [  # name, command, output, whether it must write tagsplit's bytes
        ("tagsplit", [tagsplit], output, True),
        (TO_DEV_NULL, [tagsplit], os.devnull, False),
        ("tr -d", ["tr", "-d", "\\t\\r\\n"], output, False),
        ("tr | sed", ["sh", "-c", "tr -d '\\t\\r\\n' | sed 's/>/>\\r\\n/g'"], output, True),
        ("perl", ["perl", "-e", PERL], output, True),
        ("python3", [sys.executable, "-c", PYTHON], output, True),
        ("cat", ["cat"], output, False),
        (FLOOR, [replay, recorded_calls(tagsplit, source)], output, False),
    ]
    times = {name: [] for name, _, _, _ in tools}
    rss = {name: 0 for name, _, _, _ in tools}
    expected = None
    for round_number in range(args.rounds):
        for name, command, out, checked in tools:
            seconds, peak = run(command, source, out)
            times[name].append(seconds)
            rss[name] = max(rss[name], peak)
            if round_number == 0 and checked:
                got = digest(out)
                if expected is None:
                    expected = got
                if got != expected:
                    sys.exit(f"{name} wrote other bytes than tagsplit")
            if out != os.devnull:
                os.unlink(out)

    base = statistics.median(times["tagsplit"])
    print(f"corpus: {size / 1e6:.0f} MB, {args.rounds} rounds, output to {OUT_DIR}\n")
    print("| tool | median s | MB/s | time / tagsplit | peak RSS |")
    print("|---|---:|---:|---:|---:|")
    for name, _, _, _ in tools:
        median = statistics.median(times[name])
        label = name.replace("|", "\\|")  # a bare | would split the Markdown cell
        rate = size / 1e6 / median
        print(f"| {label} | {median:.3f} | {rate:.0f} | {median / base:.2f} | "
              f"{rss[name] / 1024:.1f} MB |")
    print()
    floor = pairwise_median(times["tagsplit"], times[FLOOR])
    print(f"median of pairwise tagsplit / floor: {floor:.2f}")
    python = pairwise_median(times["tagsplit"], times["python3"])
    print(f"median of pairwise tagsplit / python3: {python:.2f}")
    tr = pairwise_median(times["tagsplit"], times["tr -d"])
    print(f"median of pairwise tagsplit / tr -d: {tr:.2f}")
    dev_null = pairwise_median(times[TO_DEV_NULL], times["tagsplit"])
    print(f"median of pairwise {TO_DEV_NULL} / tagsplit to a file: {dev_null:.2f} "
          f"(at most {DEV_NULL_AT_MOST:.2f} wanted)")
    print(byte_path(tagsplit, source))
    print("on 32 MB of random bytes, every 0x1A taken out:")
    print(byte_path(tagsplit, random_bytes(32)))
    small = peak_rss_streaming(tagsplit, corpus(1), 1)
    large = peak_rss_streaming(tagsplit, source, max(1, 1000 // args.size_mb))
    print(f"tagsplit peak RSS: 1 MB input {small:.0f} KB, 1 GB input {large:.0f} KB")


if __name__ == "__main__":
    main()
