#!/usr/bin/env bash
# Measures what a stamp costs a build: a whole run of the installed ventrim
# replacing a header, against /bin/true and against the usual shell and CMake
# recipes for the same stamp. Needs cmake, a C++ compiler, valgrind, python3
# and GNU time.
#   bench/run.sh [runs]        (default 500 runs a command)
# Every command runs in one fixed, minimal environment: the loader and the C
# library scan the environment at start-up, so its size moves the counts.
set -euo pipefail
if [ "${1:-}" != --fixed-environment ]; then
  exec env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=/nonexistent USER="$(id -un)" LC_ALL=C bash "$0" --fixed-environment "$@"
fi
shift
cd "$(dirname "$0")/.."
runs=${1:-500}
. bench/common.sh
needs cmake valgrind python3 /usr/bin/time

build=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$build" "$work"' EXIT
release_build "$build"
# The binary as installed, which is the one the Debian package ships.
cmake --install "$build" --prefix "$work/usr" >/dev/null
ventrim=$work/usr/bin/ventrim

# Instructions in user space, counted by callgrind: the same for the same
# binary and inputs however busy the machine is.
instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null | sed -n 's/.*Collected : //p'
}
"$ventrim" "$work/v.h" >/dev/null  # every measured run replaces a header
ins_true=$(instructions /bin/true)
ins_ventrim=$(instructions "$ventrim" "$work/v.h")

names=("true" "ventrim" "shell recipe" "cmake -P recipe")
commands=("/bin/true" "$ventrim $work/v.h" "sh bench/recipe.sh $work/s.h" "cmake -DOUT=$work/c.h -P bench/recipe.cmake")

# Peak resident memory in KiB, the median of 21 runs started by GNU time (a
# child of the Python below would count the Python it was forked from).
peak() {
  for _ in $(seq 21); do /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; done | sort -n | sed -n 11p
}
args=()
for i in "${!names[@]}"; do
  # shellcheck disable=SC2086
  args+=("${names[$i]}" "${commands[$i]}" "$(peak ${commands[$i]})")
done

# Median wall and CPU times (bench/medians.py).
python3 - "$runs" "$ins_true" "$ins_ventrim" "${args[@]}" <<'PY'
import sys
sys.dont_write_bytecode = True
sys.path.insert(0, 'bench')
from medians import medians
runs, ins_true, ins_ventrim = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
names, commands, peaks = sys.argv[4::3], [c.split() for c in sys.argv[5::3]], sys.argv[6::3]
# The recipes a tenth as often, after the small two (run among these slow
# ones, the small two would start cold).
medians = medians(commands[:2], runs) + medians(commands[2:], max(runs // 10, 1))
true_wall, true_cpu = medians[0]
# Ratios first: they carry to another machine, the times do not.
print("| command | time vs /bin/true | CPU time vs /bin/true | median time | median CPU time | peak memory |")
print("|---|---|---|---|---|---|")
for name, (wall, cpu), peak in zip(names, medians, peaks):
    print(f"| {name} | {wall / true_wall:.2f}x | {cpu / true_cpu:.2f}x | {wall * 1e3:.2f} ms | {cpu * 1e3:.2f} ms | {peak} KiB |")
print()
print(f"Instructions per run (callgrind): ventrim {ins_ventrim:,}, /bin/true {ins_true:,}, "
      f"ratio {ins_ventrim / ins_true:.2f}.")
PY
echo
echo "Machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1), $(uname -sr)," \
  "glibc $(getconf GNU_LIBC_VERSION | cut -d' ' -f2), $(c++ --version | head -n 1); environment: $(env | sort | tr '\n' ' ')"
