#!/usr/bin/env python3
"""Time commands; print one line per run: command index, wall seconds, peak memory, CPU seconds.

Usage: timed.py [--runs N] [--warmup N] [--before SHELL] [--quiet-output] [--no-memory] -- COMMAND [ARGS...] [::: COMMAND [ARGS...]]...

With several commands (separated by ":::") the runs alternate, A B A B ..., so
that a change in the machine's load falls on all of them alike. Wall time comes
from the monotonic clock, taken just before the child is started and just after
it is reaped; the child is started with posix_spawn, which costs far less than
a fork of this Python process. Peak memory is the child's maximum resident set
size in KiB from GNU time's %M (/usr/bin/time runs the command when it is
installed, which adds a few milliseconds to every run); with --no-memory or
without GNU time the figure is -1 (unknown), because a child spawned from
Python is charged with Python's own resident set before it execs.
CPU seconds are the child's user and system time from wait4 (with GNU time,
its own few milliseconds included): on a busy machine they tell work from
waiting for a core.
Output lines: "INDEX SECONDS KIB CPU", INDEX counting the commands from 0.
--before runs a shell command, untimed, before every run (clearing outputs,
sync, dropping the page cache). A run that exits non-zero stops the whole
measurement.
"""
import os
import subprocess
import sys
import tempfile
import time

GNU_TIME = "/usr/bin/time"


def run_once(command, quiet, memory_file):
    """Run command; return (exit status, wall seconds, peak KiB, CPU seconds)."""
    if memory_file:
        command = [GNU_TIME, "-f", "%M", "-o", memory_file] + command
    actions = []
    if quiet:
        actions = [(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0),
                   (os.POSIX_SPAWN_OPEN, 2, os.devnull, os.O_WRONLY, 0)]
    began = time.monotonic_ns()
    pid = os.posix_spawnp(command[0], command, os.environ, file_actions=actions)
    _, status, usage = os.wait4(pid, 0)
    ended = time.monotonic_ns()
    peak = -1
    if memory_file:
        with open(memory_file) as f:
            lines = f.read().split()
        peak = int(lines[-1]) if lines else -1
    cpu = usage.ru_utime + usage.ru_stime
    return os.waitstatus_to_exitcode(status), (ended - began) / 1e9, peak, cpu


def main() -> int:
    args = sys.argv[1:]
    runs, warmup, quiet, before, memory = 1, 0, False, None, True
    while args and args[0] != "--":
        opt = args.pop(0)
        if opt == "--runs":
            runs = int(args.pop(0))
        elif opt == "--warmup":
            warmup = int(args.pop(0))
        elif opt == "--before":
            before = args.pop(0)
        elif opt == "--quiet-output":
            quiet = True
        elif opt == "--no-memory":
            memory = False
        else:
            print(f"timed.py: unknown option {opt}", file=sys.stderr)
            return 2
    commands = [[]]
    for word in args[1:]:
        if word == ":::":
            commands.append([])
        else:
            commands[-1].append(word)
    if not all(commands):
        print(__doc__.splitlines()[2], file=sys.stderr)
        return 2
    memory_file = None
    if memory and os.access(GNU_TIME, os.X_OK):
        fd, memory_file = tempfile.mkstemp(prefix="timed-", suffix=".txt")
        os.close(fd)
    try:
        return measure(commands, runs, warmup, quiet, before, memory_file)
    finally:
        if memory_file:
            os.unlink(memory_file)


def measure(commands, runs, warmup, quiet, before, memory_file):
    for i in range(warmup + runs):
        for index, command in enumerate(commands):
            if before:
                subprocess.run(["sh", "-c", before], check=True)
            code, seconds, peak, cpu = run_once(command, quiet, memory_file)
            if code != 0:
                print(f"timed.py: {command[0]} exited with status {code}", file=sys.stderr)
                return 1
            if i >= warmup:
                print(f"{index} {seconds:.6f} {peak} {cpu:.6f}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
