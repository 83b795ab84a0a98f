#!/usr/bin/env python3
"""The built program over real files, pipes, terminals and sockets: exact output and status;
with --level-probe, the level of the byte path the program's start-up chooses, at most --most and
what the processor runs (--processor, or /proc/cpuinfo's). `level` prints the processor's level.
Usage: end_to_end.py native PROGRAM | qemu EMULATOR PROGRAM
       | wine ARCH LOADER PREFIX EXE LAUNCHER OBJDUMP VERSION | level
       [--level-probe=PROBE --most=LEVEL [--processor=LEVEL]]"""
import os, random, re, resource, shutil, signal, socket, subprocess, sys, tempfile, threading
import time, tty

USAGE = b"a simple pretty html formatter\r\nusage: tagsplit <input >output\r\n"
README = b'<ul>\n\t<li><a href="/a">First</a></li>\r\n\t<li>Second</li>\n</ul>\n'
BYTES = b"<>>\t\r\n  ab" + bytes(range(256)).replace(b"\x1a", b"")
LARGE = bytes(random.Random(7).choices(BYTES, k=1 << 20))
# Standard input starts just below 4 GiB in a sparse file: its first read ends in a CR, and the
# peek and the step back after it cross the 4 GiB line, far past 2 GiB.
FAR = 2**32 - 4097
CR_BELOW_4_GIB = b"a" * 4095 + b"\r" + b"x>y"
LINES = b"<a>one\n<b>two\n<c>three\n<d>four>\n"
# Bytes after a 0x1A in a file: read, since they share its first read, but never used.
PAST_CTRL_Z = b"<p>" + LARGE[:100] + b"\x1a" + LARGE[100:5100]
WRAPPED = rb"\x1b\[\?25l(.*?)\x1b\[\?25h"  # how wine shows each write to a console
# A row that waits on slow handles may spend at most this share of its time on a processor. Under
# wine each wait of the exe's own costs more, and a spin less, since every read of a pipe asks
# wine's server: 3 to 8 % against 25 to 37 % for a spin, measured on a quiet and a loaded machine.
BUSY_AT_MOST = 0.25
EXE_BUSY_AT_MOST = 0.15
SIGPIPE_STATUS = 128 + signal.SIGPIPE  # as a shell shows a run that SIGPIPE ended
READ_SIZE = 4096  # what the program asks of a file at a time
ROW_LIMIT = 60  # seconds after which a row hangs
SAMPLE_EVERY = 0.02  # seconds between two readings of a process's processor time
ALL = ("native", "qemu", "wine")
LEVELS = ["scalar", "sse2", "avx2", "avx512"]  # the byte path's, by the probe's status
# The features each level's kernels use, widest level first, as /proc/cpuinfo names them.
LEVEL_FEATURES = [
    ("avx512", ["avx512f", "avx512bw", "avx512vl", "avx512vbmi", "avx512_vbmi2", "bmi2", "popcnt"]),
    ("avx2", ["avx2", "bmi1", "popcnt"]),
]


def tagsplit(data):
    kept = data.split(b"\x1a")[0].translate(None, b"\t\r\n")
    return kept.replace(b">", b">\r\n")


# name, arguments, input, standard input, standard output, output (None: tagsplit(input)),
# status, where it runs. "launcher" rows run under wine through tests/windows_pipes.c, whose
# arguments are the kind of input handle and the piece sizes.
ROWS = [
    ("any arguments, empty ones too, print the usage", ["a", "", "b c"], LINES, "file", "pipe",
     USAGE, 2, ALL),
    ("readme example, pipes", [], README, "pipe", "pipe", None, 0, ALL),
    ("a console gets each byte as it is made", [], b"<a>\tb>c", "pipe", "console", None, 0, ALL),
    ("a CR read just below 4 GiB of a sparse file", [], CR_BELOW_4_GIB, "sparse", "pipe",
     None, 0, ALL),
    ("full device", [], LARGE[:50000], "file", "full", b"", 1, ALL),
    ("a file, its bytes past a 0x1A unused, to a file", [], PAST_CTRL_Z, "file", "file", None,
     0, ALL),
    ("a reader gone ends the run by SIGPIPE, though the parent ignored and blocked it", [],
     LARGE, "file", "gone", b"", SIGPIPE_STATUS, ("native", "qemu")),
    ("a reader gone: the input is still read to its end", [], LARGE, "file", "gone", b"", 1,
     ("wine",)),
    ("non-blocking pipes, input fed slowly", [], LARGE, "nonblocking", "nonblocking", None, 0,
     ("native", "qemu")),
    ("a non-blocking socket, drained slowly", [], LARGE[:300000], "file", "socket", None, 0,
     ("native", "qemu")),
    ("no-wait pipes in and out, small pieces, drained slowly", ["nowait", "1000"],
     LARGE[:300000], "file", "pipe", None, 0, ("launcher",)),
    ("messages: a CR ends one, the peek takes the next one's first byte", ["message", "7,4,3"],
     b"<a>abc\rxyz><b>", "file", "pipe", None, 0, ("launcher",)),
    ("an empty message after the first is not the end", ["message", "8,0,8"], LINES, "file",
     "pipe", None, 0, ("launcher",)),
    ("nor is it when the pipe is read as bytes", ["bytes", "8,0,8"], LINES, "file", "pipe", None,
     0, ("launcher",)),
    ("a socket ends at its peer's shutdown", ["socket", "8"], LINES, "file", "pipe", None, 0,
     ("launcher",)),
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
    if kind == "socket":  # small buffers, so that writes come back short and then would block
        with socket.create_server(("127.0.0.1", 0)) as server:
            ours = socket.create_connection(server.getsockname())
            child = server.accept()[0]
        ours.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        child.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4096)
        child.setblocking(False)
        return child.detach(), ours.detach()
    if kind == "full":
        return os.open("/dev/full", os.O_WRONLY), None
    if kind == "gone":  # a pipe whose reader has gone before the first write
        read_end, write_end = os.pipe()
        os.close(read_end)
        return write_end, None
    read_end, write_end = os.pipe()
    child, ours = (read_end, write_end) if reading else (write_end, read_end)
    os.set_blocking(child, kind != "nonblocking")
    return child, ours


def processor_seconds():
    """The processor time of the children waited for so far."""
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    return used.ru_utime + used.ru_stime


def processor_seconds_of(program):
    """The processor time so far of the running process started as `program`, or None: how the
    exe is measured that wine starts for the launcher, since no process of ours waits for it."""
    for entry in os.scandir("/proc"):
        try:
            with open(os.path.join(entry.path, "cmdline"), "rb") as f:
                started_as = f.read().split(b"\0")[0]
            if started_as != os.fsencode(program):
                continue
            with open(os.path.join(entry.path, "stat")) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        except (OSError, ValueError, IndexError):
            continue
    return None


def waited(process, watched):
    """The status of the process, once it has ended, and the processor time of the process
    started as `watched` while it ran, None if it was never seen; a hang fails its row, and the
    table goes on."""
    deadline = time.monotonic() + ROW_LIMIT
    used = None
    while process.poll() is None and time.monotonic() < deadline:
        sampled = processor_seconds_of(watched) if watched else None
        used = used if sampled is None else sampled
        time.sleep(SAMPLE_EVERY)
    if process.poll() is None:
        process.kill()
    code = process.wait()
    return (128 - code if code < 0 else code), used


def unwelcoming_signals():
    """Run in the child before the program: SIGPIPE ignored and blocked, as some parents leave it
    for their children, so that every row goes through the program's own start-up. Safe between
    fork and exec because the threads of a row start after its child, and end before the next."""
    signal.signal(signal.SIGPIPE, signal.SIG_IGN)
    signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGPIPE])


def unwrapped(output):
    return re.sub(WRAPPED, rb"\1", bytes(output))


def feed(data, descriptor, console, slow, got, problems):
    """Writes the input, slowly so that the program finds the pipe empty; to a console row a
    byte at a time, each once the output of the one before has arrived."""
    size = 1 if console else 4096 if slow else max(len(data), 1)
    try:
        for at in range(0, len(data), size):
            os.write(descriptor, data[at:at + size])
            time.sleep(0.002 if slow else 0)
            deadline = time.monotonic() + 10
            while console and unwrapped(got) != tagsplit(data[:at + 1]):
                if time.monotonic() > deadline:
                    problems.append(f"console output held back after input byte {at}")
                    return
                time.sleep(0.001)
    except BrokenPipeError:
        pass  # the program has ended; its status tells whether it should have
    finally:
        os.close(descriptor)


def drain(descriptor, slow, got):
    """Reads the output, slowly so that it fills."""
    try:
        while True:
            chunk = os.read(descriptor, 512 if slow else 65536)
            if not chunk:
                break
            got.extend(chunk)
            time.sleep(0.0002 if slow else 0)
    except OSError:
        pass  # a terminal whose last user has gone
    os.close(descriptor)


def input_problems(read_to, data, status):
    """What is wrong with how far the program read a file: the usage reads nothing, and a run
    that filters reads it to its end, failed writes or not, or to the end of the read that meets
    its first 0x1A, and no further."""
    if status == 2 and read_to != 0:
        return [f"{read_to} bytes read for the usage"]
    end = len(data)
    if b"\x1a" in data:
        end = min(end, (data.index(b"\x1a") // READ_SIZE + 1) * READ_SIZE)
    if status in (0, 1) and read_to != end:
        return [f"{read_to} bytes of the input read, not {end}"]
    return []


def run(command, row, env):
    """What is wrong with the row's run, if anything."""
    name, arguments, data, src, dst, want, status, _ = row
    want = tagsplit(data) if want is None else want
    child_in, feed_end = ends(src, data, True)
    child_out, drain_end = ends(dst, b"", False)
    process = subprocess.Popen(command + arguments, stdin=child_in, stdout=child_out, env=env,
                               restore_signals=False, preexec_fn=unwelcoming_signals)
    os.close(child_in)
    os.close(child_out)
    got = bytearray()
    problems = []
    slow_in = src == "nonblocking"
    slow_out = dst == "socket"
    # The launcher's no-wait row waits in the exe, which wine starts out of our children's reach.
    watched = command[-1] if arguments[:1] == ["nowait"] else None
    threads = []
    if type(drain_end) is int:
        threads.append(threading.Thread(target=drain, args=(drain_end, slow_out, got)))
    if type(feed_end) is int:
        feeding = (data, feed_end, dst == "console", slow_in, got, problems)
        threads.append(threading.Thread(target=feed, args=feeding))
    started = time.monotonic()
    used_before = processor_seconds()
    for thread in threads:
        thread.start()
    code, used_by_watched = waited(process, watched)
    elapsed = time.monotonic() - started
    busy = (processor_seconds() - used_before) / elapsed
    limit = BUSY_AT_MOST
    if watched and used_by_watched is None:
        problems.append(f"{watched} never seen running, so its processor time is unknown")
    if watched and used_by_watched is not None:
        busy = used_by_watched / elapsed
        limit = EXE_BUSY_AT_MOST
    if (slow_in or slow_out or watched) and busy > limit:
        problems.append(f"busy {busy:.0%} of the time while waiting: a spin, not a wait")
    for thread in threads:
        thread.join()
    if dst == "file":
        drain_end.seek(0)
        got.extend(drain_end.read())
    if src == "file":
        problems += input_problems(os.lseek(feed_end.fileno(), 0, os.SEEK_CUR), data, code)
    if dst == "console":
        writes = re.findall(WRAPPED, bytes(got), re.S)
        problems += [f"console write {write!r}" for write in writes if len(write) != 1]
        got = unwrapped(got)
    if code != status:
        problems.append(f"status {code}, not {status}")
    if bytes(got) != want:
        problems.append(f"{len(got)} bytes out, not the {len(want)} expected")
    return problems


def wine_commands(arch, loader, prefix, exe, launcher, objdump, version, env):
    """The commands that run the exe under wine, directly and through the launcher, or the
    status to end with at once."""
    dump = subprocess.run([objdump, "-p", exe], capture_output=True, text=True).stdout
    missing = [word for word in PE_HEADERS[arch] if word not in dump]
    if re.findall(r"DLL Name: (\S+)", dump) != ["KERNEL32.dll"]:
        missing.append("KERNEL32.dll alone")
    resource = open(exe, "rb").read()  # the version resource holds its words in UTF-16
    words = ("ProductName", "FileDescription", "MIT License", version)
    missing += [word for word in words if word.encode("utf-16-le") not in resource]
    if missing:
        print(f"FAILED: {exe} lacks {', '.join(missing)}")
        return 1
    env.update(WINEDEBUG="-all", WINEPREFIX=prefix)
    # Another program for the same machine shows whether wine can run one at all, so that a
    # broken exe fails its rows rather than skipping them.
    probe = None
    if shutil.which(loader):
        probe = subprocess.run([loader, launcher, "probe"], env=env, capture_output=True)
    if probe is None or probe.returncode != 0:
        print(f"SKIPPED: {loader} cannot run {launcher} on this machine")
        return 77
    return {"wine": [loader, exe], "launcher": [loader, launcher, exe]}


def processor_level():
    """The widest level of the byte path whose features /proc/cpuinfo lists; scalar on a
    processor other than x86_64, which lists no SSE2."""
    with open("/proc/cpuinfo") as f:
        found = re.search(r"^flags\s*:(.*)$", f.read(), re.M)
    flags = set(found.group(1).split()) if found else set()
    if "sse2" not in flags:
        return "scalar"
    return next((level for level, needs in LEVEL_FEATURES if flags.issuperset(needs)), "sse2")


def level_problems(command, options, env):
    """What is wrong with the level of the byte path that the program's start-up chose; under
    qemu, also where the processor lacks any one feature of its level and the start-up must take
    the level below."""
    processor = options.get("processor", processor_level())
    cases = [(env, processor)]
    features = dict(LEVEL_FEATURES).get(processor, []) if "QEMU_CPU" in env else []
    for feature in features:
        model = f"{env['QEMU_CPU']},-{feature}"
        cases.append((dict(env, QEMU_CPU=model), LEVELS[LEVELS.index(processor) - 1]))
    problems = []
    for case_env, level in cases:
        wanted = LEVELS[min(LEVELS.index(options["most"]), LEVELS.index(level))]
        code = subprocess.run(command, stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              env=case_env).returncode
        chosen = LEVELS[code] if 0 <= code < len(LEVELS) else f"status {code}"
        if chosen != wanted:
            processor_named = case_env.get("QEMU_CPU", "this processor")
            problems.append(f"chose the {chosen} level, not {wanted}, on {processor_named}")
    return problems


def main(platform, args):
    options = dict(arg[2:].split("=", 1) for arg in args if arg.startswith("--"))
    args = [arg for arg in args if not arg.startswith("--")]
    if platform == "level":
        print(processor_level())
        return 0
    env = dict(os.environ)
    commands = {"native": args[:1]}
    if platform == "qemu":
        commands = {"qemu": args[:2]}
    if platform == "wine":
        commands = wine_commands(*args, env)
        if type(commands) is int:
            return commands
    runs = [(commands[where], row) for row in ROWS for where in row[7] if where in commands]
    checks = [(row[0], lambda command=command, row=row: run(command, row, env))
              for command, row in runs]
    if "level-probe" in options:
        program = commands.get("wine", next(iter(commands.values())))
        probe = program[:-1] + [options["level-probe"]]
        name = "the start-up chooses the widest level of the byte path it may"
        checks.insert(0, (name, lambda: level_problems(probe, options, env)))
    failed = 0
    for name, check in checks:
        problems = check()
        failed += 1 if problems else 0
        details = "".join("\n    " + problem for problem in problems)
        print(("FAILED: " if problems else "ok: ") + name + details)
    print(f"{len(checks) - failed} passed, {failed} failed")
    if platform == "wine" and shutil.which("wineserver"):
        # wine's server and services outlive the exe, busy, unless told to end.
        subprocess.run(["wineserver", "-k"], env=env)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2:]))
