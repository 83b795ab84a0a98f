#!/usr/bin/env python3
"""The built program over real files, pipes, terminals and sockets: its exact output and
status, a row a case.

Usage: end_to_end.py native PROGRAM EINTR_SHIM
       end_to_end.py qemu LOADER SYSROOT PROGRAM
       end_to_end.py wine ARCH LOADER PREFIX EXE LAUNCHER OBJDUMP
"""
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import tty
from typing import NamedTuple

USAGE = b"a simple pretty html formatter\r\nusage: tagsplit <input >output\r\n"
README = b'<ul>\n\t<li><a href="/a">First</a></li>\r\n\t<li>Second</li>\n</ul>\n'
BYTES = b"<>>\t\r\n  ab" + bytes(range(256)).replace(b"\x1a", b"")
LARGE = bytes(random.Random(7).choices(BYTES, k=1 << 20))
CR_ON_BLOCK_EDGES = b"".join(c * 4095 + b"\r" for c in (b"a", b">") * 2) + b"x"
# Standard input starts just below 4 GiB in a sparse file: its first read ends in a CR, and the
# peek and the step back after it cross the 4 GiB line, far past 2 GiB.
FAR = 2**32 - 4097
CR_BELOW_4_GIB = b"a" * 4095 + b"\r" + b"x>y"
WRAPPED = rb"\x1b\[\?25l(.*?)\x1b\[\?25h"  # how wine shows each write to a console
GONE = {"posix": -signal.SIGPIPE, "wine": 1}  # a reader that went away ends the run on POSIX
ALL = ("native", "qemu", "wine")
NOT_WINE = ("native", "qemu")


def tagsplit(data):
    kept = data.split(b"\x1a")[0].translate(None, b"\t\r\n")
    return kept.replace(b">", b">\r\n")


class Row(NamedTuple):
    name: str
    arguments: list
    data: bytes
    stdin: str
    stdout: str
    want: bytes  # None: tagsplit(data)
    status: object  # an int, or one for POSIX and one for wine
    where: tuple


# A "slow" input or a "tcp" output has a preloaded shim's signal interrupting all along, so
# those rows run natively alone.
ROWS = [
    Row("readme example, pipes", [], README, "pipe", "pipe", None, 0, ALL),
    Row("any arguments, empty ones too, print the usage", ["a", "", "b c"], b"",
        "file", "pipe", USAGE, 2, ALL),
    Row("a console gets each byte as it is made", [], b"<a>\tb>c", "pipe", "console",
        None, 0, ALL),
    Row("many blocks, files", [], LARGE, "file", "file", None, 0, ALL),
    Row("a CR on every block edge of a file", [], CR_ON_BLOCK_EDGES, "file", "file", None, 0, ALL),
    Row("a CR read just below 4 GiB of a sparse file", [], CR_BELOW_4_GIB, "sparse", "pipe",
        None, 0, ALL),
    Row("full device", [], LARGE[:50000], "file", "full", b"", 1, ALL),
    Row("reader gone", [], LARGE, "pipe", "gone", b"", GONE, ALL),
    Row("non-blocking pipes, drained slowly", [], LARGE, "nonblocking", "nonblocking",
        None, 0, NOT_WINE),
    Row("signals, a slow writer, a slow socket", [], LARGE[:300000], "slow", "tcp",
        None, 0, ("native",)),
    # Under wine through tests/windows_pipes.c, whose arguments are the pipe mode and the sizes
    # of the pieces it feeds.
    Row("no-wait pipes in and out, small pieces, drained slowly", ["nowait", "1000"],
        LARGE[:300000], "file", "pipe", None, 0, ("launcher",)),
    Row("messages: a CR ends one, the peek takes the next one's first byte", ["message", "7,4,3"],
        b"<a>abc\rxyz><b>", "file", "pipe", None, 0, ("launcher",)),
    Row("one message longer than a read", ["message", "10000"], LARGE[:10000], "file", "pipe",
        None, 0, ("launcher",)),
]
# What objdump -p shows of each Windows build besides KERNEL32.dll alone: format and flags.
PE_HEADERS = {
    "i686": ["pei-i386", "(PE32)", "NX_COMPAT", "DYNAMIC_BASE", "TERMINAL_SERVICE_AWARE", "NO_SEH"],
    "x86_64": ["pei-x86-64", "(PE32+)", "NX_COMPAT", "DYNAMIC_BASE", "HIGH_ENTROPY_VA",
               "TERMINAL_SERVICE_AWARE"],
}


def ends(kind, data, reading):
    """(the child's descriptor, ours) for one standard handle; ours is None where there is none."""
    if kind in ("file", "sparse"):
        ours = tempfile.TemporaryFile()
        start = FAR if kind == "sparse" else 0
        ours.seek(start)
        ours.write(data)
        ours.seek(start)
        return os.dup(ours.fileno()), ours
    if kind == "console":
        ours, child = os.openpty()
        tty.setraw(child)
        return child, ours
    if kind == "tcp":  # small buffers, so that a write blocks and a signal splits it
        with socket.create_server(("127.0.0.1", 0)) as server:
            ours = socket.create_connection(server.getsockname())
            child = server.accept()[0]
        ours.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        child.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4096)
        return child.detach(), ours.detach()
    if kind == "full":
        return os.open("/dev/full", os.O_WRONLY), None
    read_end, write_end = os.pipe()
    child, ours = (read_end, write_end) if reading else (write_end, read_end)
    os.set_blocking(child, kind != "nonblocking")
    if kind == "gone":
        os.close(ours)
        return child, None
    return child, ours


def unwrapped(output):
    return re.sub(WRAPPED, rb"\1", bytes(output))


def feed(row, descriptor, got, problems):
    """Writes the row's input; a console row waits for each byte's output before the next."""
    slow = row.stdin in ("slow", "nonblocking")  # so that the program finds the pipe empty
    size = max(len(row.data), 1)
    if slow:
        size = 4096
    if row.stdout == "console":
        size = 1
    try:
        for at in range(0, len(row.data), size):
            os.write(descriptor, row.data[at:at + size])
            if slow:
                time.sleep(0.002)
            deadline = time.monotonic() + 10
            while row.stdout == "console" and unwrapped(got) != tagsplit(row.data[:at + 1]):
                if time.monotonic() > deadline:
                    problems.append(f"console output held back after input byte {at}")
                    return
                time.sleep(0.001)
    except BrokenPipeError:
        pass  # the program has ended; its status tells whether it should have
    finally:
        os.close(descriptor)


def drain(row, descriptor, got):
    """Reads the output, slowly from a socket or non-blocking pipe, so that it fills."""
    slow = row.stdout in ("tcp", "nonblocking")
    size = 512 if slow else 65536
    try:
        while chunk := os.read(descriptor, size):
            got.extend(chunk)
            if slow:
                time.sleep(0.0002)
    except OSError:
        pass  # a terminal whose last user has gone
    os.close(descriptor)


def run(command, row, env, platform):
    """What is wrong with the row's run, if anything."""
    want = tagsplit(row.data) if row.want is None else row.want
    status = row.status
    if isinstance(status, dict):
        status = status["wine" if platform == "wine" else "posix"]
    child_in, feed_end = ends(row.stdin, row.data, True)
    child_out, drain_end = ends(row.stdout, b"", False)
    process = subprocess.Popen(command + row.arguments, stdin=child_in, stdout=child_out, env=env)
    os.close(child_in)
    os.close(child_out)
    got = bytearray()
    problems = []
    threads = []
    if type(feed_end) is int:
        threads.append(threading.Thread(target=feed, args=(row, feed_end, got, problems)))
    if type(drain_end) is int:
        threads.append(threading.Thread(target=drain, args=(row, drain_end, got)))
    for thread in threads:
        thread.start()
    code = process.wait(timeout=60)  # a hang fails the whole table
    for thread in threads:
        thread.join()
    if row.stdout == "file":
        got = os.pread(drain_end.fileno(), 1 << 30, 0)
    if row.stdout == "console":
        for write in re.findall(WRAPPED, bytes(got), re.S):
            if len(write) != 1:
                problems.append(f"console write {write!r}")
        got = unwrapped(got)
    if code != status:
        problems.append(f"status {code}, not {status}")
    if bytes(got) != want:
        problems.append(f"{len(got)} bytes out, not the {len(want)} expected")
    return problems


def wine_commands(arch, loader, prefix, exe, launcher, objdump, env):
    """The commands that run the exe under wine, directly and through the launcher, or the
    status to end with first."""
    dump = subprocess.run([objdump, "-p", exe], capture_output=True, text=True).stdout
    missing = [word for word in PE_HEADERS[arch] if word not in dump]
    if re.findall(r"DLL Name: (\S+)", dump) != ["KERNEL32.dll"]:
        missing.append("KERNEL32.dll alone")
    if missing:
        print(f"FAILED: {exe} lacks {', '.join(missing)}")
        return 1
    env.update(WINEDEBUG="-all", WINEPREFIX=prefix)
    if shutil.which(loader) is None:
        print(f"SKIPPED: no {loader}")
        return 77
    # Another program for the same machine shows whether wine can run one at all, so that a
    # broken exe fails its rows rather than skipping them.
    probe = subprocess.run([loader, launcher, "probe"], env=env, capture_output=True)
    if probe.returncode != 0:
        print(f"SKIPPED: {loader} cannot run {launcher} on this machine")
        return 77
    return {"wine": [loader, exe], "launcher": [loader, launcher, exe]}


def main(platform, args):
    env = dict(os.environ)
    shim = None
    if platform == "native":
        commands = {"native": args[:1]}
        shim = args[1]
    elif platform == "qemu":
        commands = {"qemu": [args[0], "-L", args[1], args[2]]}
    else:
        commands = wine_commands(*args, env)
        if type(commands) is int:
            return commands
    failed = 0
    runs = []
    for row in ROWS:
        for where in row.where:
            if where in commands:
                runs.append((commands[where], row))
    for command, row in runs:
        row_env = env
        if row.stdin == "slow" or row.stdout == "tcp":
            row_env = dict(env, LD_PRELOAD=shim)
        problems = run(command, row, row_env, platform)
        if problems:
            failed += 1
            print("FAILED: " + row.name + "".join("\n    " + p for p in problems))
        else:
            print("ok: " + row.name)
    print(f"{len(runs) - failed} passed, {failed} failed")
    if failed:
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))
