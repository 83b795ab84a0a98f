#!/usr/bin/env python3
"""The built program over real files, pipes, terminals and sockets: its exact output and
status, a row a case. Usage: end_to_end.py PROGRAM EINTR_SHIM | --wine LOADER PREFIX EXE [OBJDUMP]"""
import os, random, re, shutil, signal, socket, subprocess, sys, tempfile, threading, time, tty

USAGE = b"a simple pretty html formatter\r\nusage: tagsplit <input >output\r\n"
README = b'<ul>\n\t<li><a href="/a">First</a></li>\r\n\t<li>Second</li>\n</ul>\n'
BYTES = b"<>>\t\r\n  ab" + bytes(range(256)).replace(b"\x1a", b"")
LARGE = bytes(random.Random(7).choices(BYTES, k=1 << 20))
CR_ON_BLOCK_EDGES = b"".join(c * 4095 + b"\r" for c in (b"a", b">") * 2) + b"x"
KILLED_BY_SIGPIPE = -signal.SIGPIPE  # as Popen reports it; a Windows program ends with status 1
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
    ("reader gone", [], LARGE, "pipe", "gone", b"", KILLED_BY_SIGPIPE, True),
    ("non-blocking pipes, drained slowly", [], LARGE, "nonblocking", "nonblocking", None, 0, False),
    ("signals, a slow writer, a slow socket", [], LARGE[:300000], "slow", "tcp", None, 0, False),
]


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


def run(command, row, env, windows):
    """What is wrong with the row's run, if anything."""
    _, arguments, data, src, dst, want, status, _ = row
    if windows and status == KILLED_BY_SIGPIPE:
        status = 1
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
    env, rows, command = dict(os.environ), ROWS, args[:1]
    if args[0] == "--wine":
        loader, prefix, exe = args[1:4]
        dump = subprocess.run([args[4], "-p", exe], capture_output=True, text=True).stdout if args[4:] else ""
        dlls = re.findall(r"DLL Name: (\S+)", dump)
        if args[4:] and not (re.search(r"pei-i386[\s\S]*Magic\s+010b", dump) and dlls == ["KERNEL32.dll"]):
            return print(f"FAILED: {exe} is not PE32 for i386 importing KERNEL32.dll alone") or 1
        env.update(WINEDEBUG="-all", WINEPREFIX=prefix)
        command, rows = [loader, exe], [row for row in ROWS if row[7]]
        probe = shutil.which(loader) and subprocess.run(command + ["x"], env=env, capture_output=True)
        if not probe or probe.returncode != 2:
            return print(f"SKIPPED: {loader} cannot run {exe} on this machine") or 77
    failed = 0
    for row in rows:
        interrupted = row[3] == "slow" or row[4] == "tcp"
        row_env = dict(env, LD_PRELOAD=args[1]) if interrupted else env
        problems = run(command, row, row_env, args[0] == "--wine")
        failed += bool(problems)
        print(("FAILED: " if problems else "ok: ") + row[0] + "".join("\n    " + p for p in problems))
    print(f"{len(rows) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
