#!/usr/bin/env bash
# What --revision costs a run: ventrim with and without it on a git
# repository of 10,000 files in 100 folders (made here, one commit), against
# git status alone, as a user runs it and as the tool runs it, and the git
# config listing the tool runs before it and again after it. Median wall time of each, run in
# turn; the page cache is warm (each runs once first).
# Needs cmake, a C++ compiler, git and python3.
#   bench/revision.sh [runs]        (default 100 runs a command)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-100}
. bench/common.sh
needs cmake git python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
release_build "$work/build"
ventrim=$work/build/ventrim

# None of this machine's git settings: the repository is the same everywhere.
export HOME=$work GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=$work/gitconfig
repo=$work/repo
mkdir -p "$repo"
for d in $(seq 0 99); do
  mkdir "$repo/d$d"
  for f in $(seq 0 99); do echo "file $d/$f" > "$repo/d$d/f$f.c"; done
done
git -C "$repo" init -q
# No gc in the background after the commit of 10,000 loose objects: it would
# run beside the timings, and into the folder's removal.
git -C "$repo" config gc.auto 0
git -C "$repo" add .
git -C "$repo" -c user.name=bench -c user.email=bench@example.com commit -qm files

python3 - "$runs" "$ventrim" "$repo" "$work/h.h" <<'PY'
import os, statistics, subprocess, sys, time
runs, ventrim, repo, header = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
commands = [
    ("ventrim", [ventrim, header]),
    ("ventrim --revision", [ventrim, "--revision=" + repo, header]),
    ("git status", ["git", "-C", repo, "status"]),
    ("git status as ventrim runs it", ["git", "-C", repo, "--no-optional-locks", "status", "--porcelain=v2",
                                       "--branch", "-z", "--untracked-files=no", "--ignore-submodules=dirty",
                                       "--no-renames"]),
    ("git config as ventrim runs it", ["git", "-C", repo, "-c", "protocol.allow=never", "config", "-z",
                                       "--name-only", "--get-regexp", "^(filter|protocol)\\."]),
]
times = [[] for _ in commands]
for round in range(runs + 1):
    for (name, command), samples in zip(commands, times):
        start = time.perf_counter()
        done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        if done.returncode != 0 or done.stderr:
            sys.exit(f"bench: {name} failed: {done.stderr.decode()}")
        if round > 0:
            samples.append(time.perf_counter() - start)
print(f"| command | median time | vs git status |")
print("|---|---|---|")
status = statistics.median(times[2])
for (name, _), samples in zip(commands, times):
    median = statistics.median(samples)
    print(f"| {name} | {median * 1e3:.2f} ms | {median / status:.2f}x |")
PY
echo
echo "Machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1), $(uname -sr), $(git --version)."
