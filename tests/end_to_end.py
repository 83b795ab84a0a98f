#!/usr/bin/env python3
"""The built program over real files, pipes, terminals and sockets: its exact output and
status, a row a case.
Usage: end_to_end.py PROGRAM EINTR_SHIM | --wine ARCH LOADER PREFIX EXE LAUNCHER OBJDUMP"""
import os, random, re, shutil, socket, subprocess, sys, tempfile, threading, time, tty

USAGE = b"a simple pretty html formatter\r\nusage: tagsplit <input >output\r\n"
README = b'<ul>\n\t<li><a href="/a">First</a></li>\r\n\t<li>Second</li>\n</ul>\n'
BYTES = b"<>>\t\r\n  ab" + bytes(range(256)).replace(b"\x1a", b"")
LARGE = bytes(random.Random(7).choices(BYTES, k=1 << 20))
CR_ON_BLOCK_EDGES = b"".join(c * 4095 + b"\r" for c in (b"a", b">") * 2) + b"x"
WRAPPED = rb"\x1b\[\?25l(.*?)\x1b\[\?25h"  # how wine shows each write to a console


def tagsplit(data):
    return data.split(b"\x1a")[0].translate(None, b"\t\r\n").replace(b">", b">\r\n")


# name, arguments, input, standard input, standard output, output (None: tagsplit(input)),
# status, also under wine. A "slow" input or "tcp" output has a signal interrupting all along.
ROWS = [
    ("readme example, pipes", [], README, "pipe", "pipe", None, 0, True),
    ("any arguments, empty ones too, print the usage", ["a", "", "b c"], b"", "file", "pipe", USAGE, 2, True),
    ("a console gets each byte as it is made", [], b"<a>\tb>c", "pipe", "console", None, 0, True),
    ("many blocks, files", [], LARGE, "file", "file", None, 0, True),
    ("a CR on every block edge of a file", [], CR_ON_BLOCK_EDGES, "file", "file", None, 0, True),
    ("full device", [], LARGE[:50000], "file", "full", b"", 1, True),
    ("reader gone", [], LARGE, "pipe", "gone", b"", 1, True),
    ("non-blocking pipes, drained slowly", [], LARGE, "nonblocking", "nonblocking", None, 0, False),
    ("signals, a slow writer, a slow socket", [], LARGE[:300000], "slow", "tcp", None, 0, False),
]

# Under wine only, through tests/windows_pipes.c: name, pipe mode, piece sizes, input.
LAUNCHED = [
    ("no-wait pipes in and out, small pieces, drained slowly", "nowait", "1000", LARGE[:300000]),
    ("messages: a CR ends one, the peek takes the next one's first byte", "message", "7,4,3",
     b"<a>abc\rxyz><b>"),
    ("one message longer than a read", "message", "10000", LARGE[:10000]),
]
# What objdump -p shows of each Windows build besides KERNEL32.dll alone: format and flags.
PE_HEADERS = {
    "i686": ["pei-i386", "(PE32)", "NX_COMPAT", "DYNAMIC_BASE", "TERMINAL_SERVICE_AWARE", "NO_SEH"],
    "x86_64": ["pei-x86-64", "(PE32+)", "NX_COMPAT", "DYNAMIC_BASE", "HIGH_ENTROPY_VA",
               "TERMINAL_SERVICE_AWARE"],
}


def ends(kind, data, reading):
    """(the child's descriptor, ours) for one standard handle."""
    if kind == "file":
        ours = tempfile.TemporaryFile()
        ours.write(data), ours.seek(0)
        return os.dup(ours.fileno()), ours
    if kind == "console":
        ours, child = os.openpty()
        tty.setraw(child)
        return child, ours
    if kind == "tcp":  # small buffers, so that a write blocks and a signal splits it
        with socket.create_server(("127.0.0.1", 0)) as server:
            ours, child = socket.create_connection(server.getsockname()), server.accept()[0]
        ours.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        child.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4096)
        return child.detach(), ours.detach()
    if kind == "full":
        return os.open("/dev/full", os.O_WRONLY), None
    child, ours = os.pipe()[:: 1 if reading else -1]
    os.set_blocking(child, kind != "nonblocking")
    if kind == "gone":
        os.close(ours)
    return child, None if kind == "gone" else ours


def run(command, row, env):
    """What is wrong with the row's run, if anything."""
    _, arguments, data, src, dst, want, status, _ = row
    want = tagsplit(data) if want is None else want
    (child_in, feed), (child_out, drain) = ends(src, data, True), ends(dst, b"", False)
    process = subprocess.Popen(command + arguments, stdin=child_in, stdout=child_out, env=env)
    os.close(child_in), os.close(child_out)
    got, problems = bytearray(), []

    def fill():  # a console row waits for each byte's output before it gives the next
        slow = src in ("slow", "nonblocking")  # so that the program finds the pipe empty
        size = 1 if dst == "console" else 4096 if slow else max(len(data), 1)
        try:
            for at in range(0, len(data), size):
                os.write(feed, data[at:at + size])
                time.sleep(0.002 if slow else 0)
                deadline = time.monotonic() + 10
                while dst == "console" and re.sub(WRAPPED, rb"\1", bytes(got)) != tagsplit(data[:at + 1]):
                    if time.monotonic() > deadline:
                        return problems.append(f"console output held back after input byte {at}")
                    time.sleep(0.001)
        finally:
            os.close(feed)

    def empty():  # slowly from a socket or non-blocking pipe, so that it fills
        slow = dst in ("tcp", "nonblocking")
        try:
            while chunk := os.read(drain, 512 if slow else 65536):
                got.extend(chunk)
                time.sleep(0.0002 if slow else 0)
        except OSError:
            pass  # a terminal whose last user has gone
        os.close(drain)

    threads = [threading.Thread(target=f) for f, end in ((fill, feed), (empty, drain)) if type(end) is int]
    [thread.start() for thread in threads]
    code = process.wait(timeout=60)  # a hang fails the whole table
    [thread.join() for thread in threads]
    got = os.pread(drain.fileno(), 1 << 30, 0) if dst == "file" else got
    if dst == "console":
        problems += [f"console write {w!r}" for w in re.findall(WRAPPED, bytes(got), re.S) if len(w) != 1]
        got = re.sub(WRAPPED, rb"\1", bytes(got))
    problems += [f"status {code}, not {status}"] if code != status else []
    problems += [f"{len(got)} bytes out, not the {len(want)} expected"] if bytes(got) != want else []
    return problems


def main(args):
    env, runs = dict(os.environ), [(args[:1], row) for row in ROWS]
    if args[0] == "--wine":
        arch, loader, prefix, exe, launcher, objdump = args[1:7]
        dump = subprocess.run([objdump, "-p", exe], capture_output=True, text=True).stdout
        missing = [word for word in PE_HEADERS[arch] if word not in dump]
        if re.findall(r"DLL Name: (\S+)", dump) != ["KERNEL32.dll"]:
            missing.append("KERNEL32.dll alone")
        if missing:
            print(f"FAILED: {exe} lacks {', '.join(missing)}")
            return 1
        env.update(WINEDEBUG="-all", WINEPREFIX=prefix)
        # Another program of the same machine shows whether wine can run one at all.
        if not shutil.which(loader):
            print(f"SKIPPED: no {loader}")
            return 77
        probe = subprocess.run([loader, launcher, "probe"], env=env, capture_output=True)
        if probe.returncode != 0:
            print(f"SKIPPED: {loader} cannot run {launcher} on this machine")
            return 77
        runs = [([loader, exe], row) for row in ROWS if row[7]]
        for name, mode, sizes, data in LAUNCHED:
            row = (name, [mode, sizes, exe], data, "file", "pipe", None, 0, True)
            runs.append(([loader, launcher], row))
    failed = 0
    for command, row in runs:
        interrupted = row[3] == "slow" or row[4] == "tcp"
        problems = run(command, row, dict(env, LD_PRELOAD=args[1]) if interrupted else env)
        failed += bool(problems)
        print(("FAILED: " if problems else "ok: ") + row[0] + "".join("\n    " + p for p in problems))
    print(f"{len(runs) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
