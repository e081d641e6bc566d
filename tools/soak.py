#!/usr/bin/env python3
"""Soak: ventrim replacing headers under attack, in parallel and under signals.

Run as root on Linux: tools/soak.py TOOL [RUNS]. Makes a private folder in the
temporary folder, removes it after, and prints four counts, each of which must
be 0:

  writes into another user's file  root's header found in a file an attacker
                                   (uid 65534) kept renaming onto its name in
                                   a sticky folder
  torn reads                       reads of a replaced header, by a reader
                                   running alongside, that were not one whole
                                   header
  temporaries left                 temporary files left beside the headers
                                   after runs that random signals (all that
                                   end a process, 32 and 33 too) cut short
  rights gained                    runs by a runner who is not root after which
                                   a header of another owner changed owner,
                                   group, mode or ACL
"""
import os
import random
import signal
import subprocess
import sys
import tempfile
import threading
import time

NOBODY = 65534
SIGNALS = [signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGUSR1, signal.SIGUSR2, signal.SIGALRM,
           signal.SIGVTALRM, signal.SIGPROF, 32, 33, signal.SIGRTMIN, signal.SIGRTMIN + 5]


def whole(data):
    lines = data.split(b"\n")
    return len(lines) == 15 and lines[0] == b"/*" and lines[13] == b"#endif" and lines[14] == b""


def as_nobody(groups=()):
    def become():
        os.setgroups(list(groups))
        os.setresgid(NOBODY, NOBODY, NOBODY)
        os.setresuid(NOBODY, NOBODY, NOBODY)
    return become


def run(tool, path, cwd, preexec=None):
    return subprocess.Popen([tool, path], cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            preexec_fn=preexec)


def attacker(folder, stop, found):
    """Renames files of its own onto h.h, keeping each open to look into later."""
    os.umask(0)
    kept, i = [], 0
    target = os.path.join(folder, "h.h")
    while not stop.is_set():
        name = os.path.join(folder, "a%d" % (i % 64))
        i += 1
        try:
            fd = os.open(name, os.O_RDWR | os.O_CREAT | os.O_TRUNC, 0o666)
            os.write(fd, b"attacker\n")
            os.rename(name, target)
        except OSError:
            continue
        kept.append(fd)
        if len(kept) > 500:
            fd = kept.pop(0)
            found[0] += b"VENTRIM_H" in os.pread(fd, 4096, 0)
            os.close(fd)
    found[0] += sum(1 for fd in kept if b"VENTRIM_H" in os.pread(fd, 4096, 0))


def attack(tool, base, runs):
    """Root's runs in a sticky folder while another user renames files onto the header's name."""
    folder = os.path.join(base, "sticky")
    os.mkdir(folder)
    os.chmod(folder, 0o1777)
    read, write = os.pipe()
    done_read, done_write = os.pipe()
    pid = os.fork()
    if pid == 0:  # the attacker, as its own process and user
        os.close(read)
        os.close(done_write)
        as_nobody()()
        stop, found = threading.Event(), [0]
        t = threading.Thread(target=attacker, args=(folder, stop, found))
        t.start()
        os.read(done_read, 1)  # until root is done
        stop.set()
        t.join()
        os.write(write, b"%d\n" % found[0])
        os._exit(0)
    os.close(write)
    os.close(done_read)
    for _ in range(runs):
        run(tool, "h.h", folder).wait()
    os.close(done_write)
    written = int(os.read(read, 64))
    os.waitpid(pid, 0)
    # The header itself, if it belongs to the attacker, must not hold root's text.
    path = os.path.join(folder, "h.h")
    with open(path, "rb") as f:
        if os.stat(path).st_uid == NOBODY and b"VENTRIM_H" in f.read():
            written += 1
    left = sum(1 for n in os.listdir(folder) if n.startswith(".h.h."))
    return written, left


def parallel(tool, base, runs):
    """Overlapping runs on one header, a reader alongside, random signals; torn reads and temporaries left."""
    folder = os.path.join(base, "parallel")
    os.mkdir(folder)
    header = os.path.join(folder, "h.h")
    run(tool, "h.h", folder).wait()
    stop = threading.Event()
    counts = {"reads": 0, "torn": 0}

    def reader():
        while not stop.is_set():
            try:
                with open(header, "rb") as f:
                    data = f.read()
            except OSError:
                continue
            counts["reads"] += 1
            if not whole(data):
                counts["torn"] += 1
    threads = [threading.Thread(target=reader) for _ in range(2)]
    for t in threads:
        t.start()
    done = 0
    while done < runs:
        procs = [run(tool, "h.h", folder) for _ in range(3)]
        if random.random() < 0.5:
            time.sleep(random.random() * 0.004)
            victim = random.choice(procs)
            try:
                os.kill(victim.pid, random.choice(SIGNALS))
            except ProcessLookupError:
                pass
        for p in procs:
            p.wait()
        done += len(procs)
    stop.set()
    for t in threads:
        t.join()
    left = [n for n in os.listdir(folder) if n != "h.h"]
    with open(header, "rb") as f:
        counts["torn"] += 0 if whole(f.read()) else 1
    return counts["torn"], counts["reads"], len(left)


def state(path):
    st = os.stat(path)
    try:
        acl = os.getxattr(path, "system.posix_acl_access")
    except OSError:
        acl = None
    return st.st_uid, st.st_gid, st.st_mode, acl


def rights(tool, base, runs):
    """A runner who is not root writing, through an ACL entry, a header of another owner and group."""
    folder = os.path.join(base, "shared")
    os.mkdir(folder)
    os.chmod(folder, 0o777)
    header = os.path.join(folder, "h.h")
    with open(header, "w") as f:
        f.write("old\n")
    os.chown(header, 1000, 50)
    os.chmod(header, 0o660)
    subprocess.run(["setfacl", "-m", "u:%d:rw-" % NOBODY, header], check=True)
    before = state(header)
    gained = 0
    for i in range(runs):
        procs = [run(tool, "h.h", folder, as_nobody((100,))) for _ in range(2)]
        for p in procs:
            p.wait()
        gained += state(header) != before
    return gained


def main():
    if os.geteuid() != 0:
        sys.exit("soak: run as root (the attacker and the runner are other users)")
    tool = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3000
    base = tempfile.mkdtemp(prefix="ventrim-soak-")
    os.chmod(base, 0o755)
    try:
        subprocess.run(["cp", tool, os.path.join(base, "ventrim")], check=True)
        tool = os.path.join(base, "ventrim")
        os.chmod(tool, 0o755)
        started = time.time()
        written, left = attack(tool, base, runs)
        torn, reads, more = parallel(tool, base, runs)
        left += more
        gained = rights(tool, base, runs // 3)
        print("runs: %d attacked, %d overlapping (3 at a time, signals at random), %d by a runner not root"
              % (runs, runs, runs // 3 * 2))
        print("reads by the validating reader: %d; seconds: %.0f" % (reads, time.time() - started))
        print("writes into another user's file: %d" % written)
        print("torn reads: %d" % torn)
        print("temporaries left: %d" % left)
        print("rights gained: %d" % gained)
        return 1 if written or torn or left or gained else 0
    finally:
        subprocess.run(["rm", "-rf", base])


if __name__ == "__main__":
    sys.exit(main())
