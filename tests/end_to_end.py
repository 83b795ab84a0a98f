#!/usr/bin/env python3
"""The built program over real files, pipes, terminals, sockets and closed
handles: the exact bytes it writes and its exit status, a row a case.
Usage: end_to_end.py PROGRAM EINTR_SHIM | --wine LOADER PREFIX EXE [OBJDUMP]"""
import os, random, re, socket, subprocess, sys, threading, time, tty

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
    ("readme example, files", [], README, "file", "file", None, 0, True),
    ("readme example, pipes", [], README, "pipe", "pipe", None, 0, True),
    ("empty input", [], b"", "file", "file", None, 0, True),
    ("an argument prints the usage without reading", ["x"], b"<a>", "pty", "file", USAGE, 2, False),
    ("any arguments, empty ones too, print the usage", ["a", "", "b c"], b"", "file", "pipe", USAGE, 2, True),
    ("0x1A ends a file", [], b"<a>\x1a<b>", "file", "file", None, 0, True),
    ("0x1A ends a pipe", [], b"<a>b\x1a<b>", "pipe", "file", None, 0, True),
    ("NUL and bytes 128 to 255 pass", [], b"\0\x80\xfe\xff>", "file", "pipe", None, 0, True),
    ("a console gets each byte as it is made", [], b"<a>\tb>c", "pipe", "console", None, 0, True),
    ("many blocks, files", [], LARGE, "file", "file", None, 0, True),
    ("many blocks, pipes", [], LARGE, "pipe", "pipe", None, 0, True),
    ("a CR on every block edge of a file", [], CR_ON_BLOCK_EDGES, "file", "file", None, 0, True),
    ("closed output, nothing to write", [], b"\t\r\n", "file", "closed", b"", 0, False),
    ("closed output, bytes to write", [], b"<a>", "file", "closed", b"", 1, False),
    ("usage to a closed output", ["x"], b"", "file", "closed", b"", 2, False),
    ("closed input", [], b"", "closed", "file", b"", 1, False),
    ("full device", [], LARGE[:50000], "file", "full", b"", 1, True),
    ("reader gone", [], LARGE, "pipe", "gone", b"", 1, True),
    ("non-blocking output drained slowly", [], LARGE, "file", "nonblocking", None, 0, False),
    ("non-blocking input", [], LARGE, "nonblocking", "pipe", None, 0, False),
    ("reads interrupted while a slow writer feeds them", [], LARGE[:200000], "slow", "pipe", None, 0, False),
    ("writes to a slow socket split by signals", [], LARGE[:300000], "file", "tcp", None, 0, False),
]


def ends(kind, data, reading):
    """(the child's descriptor, ours) for one standard handle."""
    if kind == "file":
        path = f"/tmp/tagsplit-e2e-{os.getpid()}-{reading}"
        with open(path, "wb") as f:
            f.write(data)
        return os.open(path, os.O_RDONLY if reading else os.O_WRONLY), path
    if kind in ("pty", "console"):
        ours, child = os.openpty()
        tty.setraw(child)
        return child, ours
    if kind == "tcp":
        with socket.create_server(("127.0.0.1", 0)) as server:
            ours = socket.create_connection(server.getsockname())
            child = server.accept()[0]
        ours.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        child.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4096)
        return child.detach(), ours.detach()
    if kind == "full":
        return os.open("/dev/full", os.O_WRONLY), None
    if kind == "closed":
        return None, None
    read_end, write_end = os.pipe()
    child, ours = (read_end, write_end) if reading else (write_end, read_end)
    os.set_blocking(child, kind != "nonblocking")
    if kind == "gone":
        os.close(ours)
    return child, None if kind == "gone" else ours


def run(command, row, env):
    """What is wrong with the row's run, if anything."""
    _, arguments, data, src, dst, want, status, _ = row
    want = tagsplit(data) if want is None else want
    (child_in, feed), (child_out, drain) = ends(src, data, True), ends(dst, b"", False)
    process = subprocess.Popen(command + arguments, stdin=child_in, stdout=child_out, env=env,
                               preexec_fn=lambda: [os.close(fd) for fd, c in ((0, child_in), (1, child_out)) if c is None])
    for fd in (child_in, child_out):
        if fd is not None:
            os.close(fd)
    got, problems = bytearray(), []

    def fill():  # a console row waits for each byte's output before it gives the next
        size = 1 if dst == "console" else 4096 if src == "slow" else max(len(data), 1)
        try:
            for at in range(0, len(data), size):
                os.write(feed, data[at:at + size])
                time.sleep(0.002 if src == "slow" else 0)
                deadline = time.monotonic() + 10
                while dst == "console" and re.sub(WRAPPED, rb"\1", bytes(got)) != tagsplit(data[:at + 1]):
                    if time.monotonic() > deadline:
                        return problems.append(f"console output held back after input byte {at}")
                    time.sleep(0.001)
        except OSError:
            pass  # the program stopped reading, as on the usage path
        finally:
            if src != "pty":
                os.close(feed)

    def empty():
        slow = dst in ("tcp", "nonblocking")
        while True:
            try:
                chunk = os.read(drain, 512 if slow else 65536)
            except OSError:
                chunk = b""  # a terminal whose last user has gone
            if not chunk:
                return os.close(drain)
            got.extend(chunk)
            time.sleep(0.0002 if slow else 0)

    threads = [threading.Thread(target=f) for f, fd in ((fill, feed), (empty, drain)) if type(fd) is int]
    for thread in threads:
        thread.start()
    try:
        code = process.wait(timeout=60)
    except subprocess.TimeoutExpired:
        process.kill()
        code = "a hang"
    for thread in threads:
        thread.join()
    if src == "pty":
        os.close(feed)
    for path in (feed, drain):
        if type(path) is str:
            got = open(path, "rb").read() if path == drain else got
            os.unlink(path)
    if dst == "console":
        problems += [f"a console write of {w!r}" for w in re.findall(WRAPPED, bytes(got), re.S) if len(w) != 1]
        got = re.sub(WRAPPED, rb"\1", bytes(got))
    if code != status:
        problems.append(f"status {code}, not {status}")
    if bytes(got) != want:
        problems.append(f"{len(got)} bytes out, not the {len(want)} expected")
    return problems


def main(args):
    env, rows, command = dict(os.environ), ROWS, args[:1]
    if args[0] == "--wine":
        loader, prefix, exe = args[1:4]
        dump = subprocess.run([args[4], "-p", exe], capture_output=True, text=True).stdout if args[4:] else ""
        if args[4:] and not ("pei-i386" in dump and re.search(r"Magic\s+010b", dump)
                             and re.findall(r"DLL Name: (\S+)", dump) == ["KERNEL32.dll"]):
            return print(f"FAILED: {exe} is not PE32 for i386 importing KERNEL32.dll alone") or 1
        env.update(WINEDEBUG="-all", WINEPREFIX=prefix)
        command, rows = [loader, exe], [row for row in ROWS if row[7]]
        try:
            runs = subprocess.run(command + ["x"], env=env, capture_output=True).returncode == 2
        except OSError:
            runs = False
        if not runs:
            return print(f"SKIPPED: {loader} cannot run {exe} on this machine") or 77
    failed = 0
    for row in rows:
        interrupted = row[3] == "slow" or row[4] == "tcp"
        problems = run(command, row, dict(env, LD_PRELOAD=args[1]) if interrupted else env)
        failed += bool(problems)
        print(("FAILED: " if problems else "ok: ") + row[0] + "".join("\n    " + p for p in problems))
    print(f"{len(rows) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
