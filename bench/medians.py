"""Median wall and CPU time of commands run in turn, for the bench scripts."""
import os
import statistics
import sys
import time


def medians(commands, runs):
    """Runs the commands in turn, runs times over, so that a busy moment of the
    machine falls on each alike, with standard output to /dev/null. Returns
    (wall, cpu) medians a command: wall time from start to exit, CPU time (user
    and system) from the kernel's account of the child and its children."""
    null = os.open(os.devnull, os.O_WRONLY)
    samples = [([], []) for _ in commands]
    for _ in range(runs):
        for command, (wall, cpu) in zip(commands, samples):
            start = time.perf_counter()
            pid = os.posix_spawnp(command[0], command, os.environ, file_actions=[(os.POSIX_SPAWN_DUP2, null, 1)])
            _, status, usage = os.wait4(pid, 0)
            wall.append(time.perf_counter() - start)
            if status != 0:
                sys.exit(f"bench: {' '.join(command)} failed")
            cpu.append(usage.ru_utime + usage.ru_stime)
    os.close(null)
    return [tuple(statistics.median(s) for s in sample) for sample in samples]
