#!/usr/bin/env python3
"""Soak: ventrim replacing headers under attack, in parallel and under signals.

Run as root on Linux, with a C compiler (cc) for the attacker: tools/soak.py
TOOL [RUNS]. Makes a private folder in the temporary folder, removes it after,
and prints four counts, each of which must be 0:

  writes into another user's file  root's header found in a file an attacker
                                   (uid 65534) kept renaming onto its name in
                                   a sticky folder
  torn reads                       reads of the header (a run of identical
                                   ones counted once), by a reader running
                                   alongside, that were not byte for byte one
                                   of the headers the runs wrote (each run has
                                   a SOURCE_DATE_EPOCH of its own, so what it
                                   writes is known before it starts), or that
                                   found no header; replaced by root in a
                                   folder it may write, and rewritten in place
                                   by a runner not root in one it may not
                                   (that reader takes the lock the rewrites
                                   take turns by)
  temporaries left                 temporary files left beside the headers
                                   after runs that random signals (all that
                                   end a process, 32 and 33 too) cut short
  rights gained                    runs by a runner who is not root after which
                                   a header of another owner changed owner,
                                   group, mode or ACL
"""
import fcntl
import os
import random
import signal
import subprocess
import sys
import tempfile
import time

NOBODY = 65534
SIGNALS = [signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGUSR1, signal.SIGUSR2, signal.SIGALRM,
           signal.SIGVTALRM, signal.SIGPROF, 32, 33, signal.SIGRTMIN, signal.SIGRTMIN + 5]


def as_nobody(groups=()):
    def become():
        os.setgroups(list(groups))
        os.setresgid(NOBODY, NOBODY, NOBODY)
        os.setresuid(NOBODY, NOBODY, NOBODY)
    return become


def made(base, name, mode, text=None):
    """A folder of that mode in base, or with text a file."""
    path = os.path.join(base, name)
    if text is None:
        os.mkdir(path)
    else:
        with open(path, "w") as f:
            f.write(text)
    os.chmod(path, mode)
    return path


def run(tool, path, cwd, preexec=None, epoch=None):
    env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch)) if epoch else None
    return subprocess.Popen([tool, path], cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            preexec_fn=preexec, env=env)


# The attacker, in C to be fast enough to land in a window of microseconds:
# renames files of its own onto h.h, keeping each open to look into later, and
# when its standard input closes prints how many of them held root's header.
ATTACKER = r"""
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
static int kept[512], found;
static void look(int fd) {
    char b[4096] = {0};
    if (pread(fd, b, sizeof b - 1, 0) > 0 && strstr(b, "VENTRIM_H")) found++;
    close(fd);
}
int main(void) {
    struct pollfd in = {0, POLLIN, 0};
    umask(0);
    for (unsigned i = 0;; i++) {
        if (i % 256 == 0 && poll(&in, 1, 0) > 0) break;
        int fd = open("a", O_RDWR | O_CREAT | O_TRUNC, 0666);
        if (fd < 0) continue;
        if (write(fd, "attacker\n", 9) != 9 || rename("a", "h.h") != 0) { close(fd); continue; }
        if (kept[i % 512]) look(kept[i % 512]);
        kept[i % 512] = fd;
    }
    for (int i = 0; i < 512; i++) if (kept[i]) look(kept[i]);
    printf("%d\n", found);
    return 0;
}
"""


def compiled(base, name, source):
    subprocess.run(["cc", "-O2", "-o", os.path.join(base, name), made(base, name + ".c", 0o644, source)], check=True)
    return os.path.join(base, name)


# The reader, in C to read often enough to land between two writes of a rewrite in place: reads the file
# argv[1] over and over (with argv[2], under a shared lock) until its standard input closes, and writes
# each read that differs from the one before (a length, -1 where there was no file, then the bytes),
# then the number of reads.
READER = r"""
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>
int main(int argc, char **argv) {
    static char now[8192], before[8192];
    long long n, last = -2, reads = 0;
    struct pollfd in = {0, POLLIN, 0};
    for (;; reads++) {
        if (reads % 256 == 0 && poll(&in, 1, 0) > 0) break;
        int fd = open(argv[1], O_RDONLY);
        n = -1;
        if (fd >= 0) {
            if (argc > 2) flock(fd, LOCK_SH);
            n = read(fd, now, sizeof now);
            close(fd);
        }
        if (n != last || (n > 0 && memcmp(now, before, (size_t)n) != 0)) {
            fwrite(&n, sizeof n, 1, stdout);
            if (n > 0) fwrite(now, 1, (size_t)n, stdout), memcpy(before, now, (size_t)n);
            last = n;
        }
    }
    fwrite(&reads, sizeof reads, 1, stdout);
    return 0;
}
"""


def attack(tool, base, runs):
    """Root's runs in a sticky folder while another user renames files onto the header's name."""
    folder = made(base, "sticky", 0o1777)
    attacker = subprocess.Popen([compiled(base, "attacker", ATTACKER)], cwd=folder, stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, preexec_fn=as_nobody())
    for _ in range(runs):
        run(tool, "h.h", folder).wait()
    written = int(attacker.communicate(b"done")[0])
    # The header itself, if it belongs to the attacker, must not hold root's text.
    path = os.path.join(folder, "h.h")
    with open(path, "rb") as f:
        if os.stat(path).st_uid == NOBODY and b"VENTRIM_H" in f.read():
            written += 1
    left = sum(1 for n in os.listdir(folder) if n.startswith(".h.h."))
    return written, left


def parallel(tool, base, runs, in_place):
    """Overlapping runs on one header, a reader alongside, random signals: reads that were not one of the
    headers the runs wrote (or found none), reads, temporaries left. In place: runs by a runner who may
    write the header but not its folder, which take turns by flock, as the reader does."""
    folder = made(base, "in-place" if in_place else "parallel", 0o755)
    header = os.path.join(folder, "h.h")
    preexec = as_nobody() if in_place else None
    if in_place:
        made(folder, "h.h", 0o666, "old\n")
    # What each run writes, made beforehand by a run of the same epoch on its own.
    reference = made(base, "reference-" + os.path.basename(folder), 0o755)
    written = set()
    epochs = iter(range(1700000000, 1800000000))

    def start(count):
        # The header's path spelt "h.h", "./h.h" or "././h.h", which its comment shows: headers of three
        # lengths, which a rewrite in place writes in two steps and a cut. The runs start together, once
        # what each writes is known.
        batch = [(next(epochs), "./" * random.randrange(3) + "h.h") for _ in range(count)]
        for epoch, path in batch:
            run(tool, path, reference, epoch=epoch).wait()
            with open(os.path.join(reference, "h.h"), "rb") as f:
                written.add(f.read())
        return [run(tool, path, folder, preexec, epoch) for epoch, path in batch]
    start(1)[0].wait()
    inode = os.stat(header).st_ino
    reads = os.path.join(base, os.path.basename(folder) + ".reads")
    with open(reads, "wb") as out:
        reader = subprocess.Popen([compiled(base, "reader", READER), header] + (["lock"] if in_place else []),
                                  stdin=subprocess.PIPE, stdout=out)
    done = 0
    while done < runs:
        procs = start(3)
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
    reader.communicate(b"done")
    torn = 0
    with open(reads, "rb") as f:
        data = f.read()
    at = 0
    while at + 8 < len(data):  # the last number is the count of reads
        n = int.from_bytes(data[at:at + 8], sys.byteorder, signed=True)
        read = data[at + 8:at + 8 + max(n, 0)] if n >= 0 else None
        torn += read not in written
        at += 8 + max(n, 0)
    if reader.returncode or at + 8 != len(data):
        sys.exit("soak: the reader failed")
    left = [n for n in os.listdir(folder) if n != "h.h"]
    with open(header, "rb") as f:
        torn += f.read() not in written
    if in_place and os.stat(header).st_ino != inode:
        sys.exit("soak: the runs in place replaced the header: the soak took the wrong path")
    return torn, int.from_bytes(data[at:at + 8], sys.byteorder), len(left)


def state(path):
    st = os.stat(path)
    try:
        acl = os.getxattr(path, "system.posix_acl_access")
    except OSError:
        acl = None
    return st.st_uid, st.st_gid, st.st_mode, acl


def rights(tool, base, runs):
    """A runner who is not root writing, through an ACL entry, a header of another owner and group."""
    folder = made(base, "shared", 0o777)
    header = made(folder, "h.h", 0o660, "old\n")
    os.chown(header, 1000, 50)
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
        torn, reads, more = parallel(tool, base, runs, False)
        torn_in_place, reads_in_place, more_in_place = parallel(tool, base, runs, True)
        torn += torn_in_place
        reads += reads_in_place
        left += more + more_in_place
        gained = rights(tool, base, runs // 3)
        print("runs: %d attacked, %d overlapping and %d in place (3 at a time, signals at random), %d by a runner not root"
              % (runs, runs, runs, runs // 3 * 2))
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
