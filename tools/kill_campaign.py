#!/usr/bin/env python3
"""Kill campaign: what SIGKILL at a random moment leaves beside a header.

    tools/kill_campaign.py TOOL [RUNS] [MAX_MS]

TOOL is a command line (e.g. "wine build/tests/windows-i686/ventrim.exe",
with Wine's variables set, and MAX_MS long enough to cover a run). Runs it
on one header in a private folder of the temporary folder RUNS times (1500),
each killed by SIGKILL after a random delay of 0 to MAX_MS (3) milliseconds
(with "temp", as soon as a temporary file appears), and counts: runs killed
before they ended; headers found missing or not whole after a run; runs that
left a temporary file beside the header (one not there before it); the most
temporaries seen at once; and those left after one last run that is not
killed. Removes its folder.
"""
import os
import random
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time


def main():
    tool = shlex.split(sys.argv[1])
    tool[-1] = os.path.abspath(tool[-1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 1500
    max_ms = sys.argv[3] if len(sys.argv) > 3 else "3"
    folder = tempfile.mkdtemp(prefix="ventrim-kill-")
    try:
        header = os.path.join(folder, "h.h")
        subprocess.run(tool + ["h.h"], cwd=folder, stdout=subprocess.DEVNULL, check=True)
        lines = open(header).read().count("\n")
        killed = broken = left = most = 0
        before = set()
        for _ in range(runs):
            p = subprocess.Popen(tool + ["h.h"], cwd=folder, stdout=subprocess.DEVNULL)
            if max_ms == "temp":  # the moment a temporary file appears, or the run ends
                while p.poll() is None and all(n.endswith(".h") for n in os.listdir(folder)):
                    pass
            else:
                time.sleep(random.random() * float(max_ms) / 1000)
            p.send_signal(signal.SIGKILL)
            killed += p.wait() == -signal.SIGKILL
            try:
                text = open(header).read()
                broken += text.count("\n") != lines or not text.endswith("#endif\n")
            except FileNotFoundError:
                broken += 1
            now = {(e.name, e.inode()) for e in os.scandir(folder) if e.name != "h.h"}
            left += bool(now - before)
            most = max(most, len(now))
            before = now
        subprocess.run(tool + ["h.h"], cwd=folder, stdout=subprocess.DEVNULL, check=True)
        after = len(os.listdir(folder)) - 1
        print(f"runs {runs}, killed {killed}, missing or not whole {broken}, "
              f"runs that left a temporary {left}, most at once {most}, left after a last run {after}")
    finally:
        shutil.rmtree(folder)


if __name__ == "__main__":
    main()
