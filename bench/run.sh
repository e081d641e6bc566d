#!/usr/bin/env bash
# Measures what a stamp costs a build: a whole run of ventrim writing a header
# against /bin/true and against the usual shell and CMake recipes for the same
# stamp. Needs cmake, a C++ compiler, hyperfine, valgrind and GNU time.
#   bench/run.sh [runs]        (default 500 timed runs a command)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-500}
for tool in hyperfine valgrind /usr/bin/time python3; do
  command -v "$tool" >/dev/null || { echo "bench: needs $tool (apt-get install hyperfine valgrind time)" >&2; exit 1; }
done

build=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$build" "$work"' EXIT
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --parallel >/dev/null
ventrim=$build/ventrim
export USER=${USER:-$(id -un)}

names=("true" "ventrim" "shell recipe" "cmake -P recipe")
commands=("/bin/true" "$ventrim $work/v.h" "sh bench/recipe.sh $work/s.h" "cmake -DOUT=$work/c.h -P bench/recipe.cmake")

# Wall time: hyperfine without an intermediate shell.
args=()
for i in "${!names[@]}"; do args+=(-n "${names[$i]}" "${commands[$i]}"); done
hyperfine -N --warmup 20 --runs "$runs" --export-json "$work/times.json" "${args[@]}" >/dev/null

# Instructions in user space, counted by callgrind: the same for the same
# binary and inputs however busy the machine is.
instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null | sed -n 's/.*Collected : //p'
}
ins_true=$(instructions /bin/true)
ins_ventrim=$(instructions "$ventrim" "$work/v.h")

# Peak resident memory in KiB, the median of 21 runs.
peak() {
  for _ in $(seq 21); do /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; done | sort -n | sed -n 11p
}
peaks=()
for i in "${!names[@]}"; do
  # shellcheck disable=SC2086
  peaks+=("$(peak ${commands[$i]})")
done

python3 - "$work/times.json" "$ins_true" "$ins_ventrim" "${peaks[@]}" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
ins_true, ins_ventrim = int(sys.argv[2]), int(sys.argv[3])
peaks = [int(p) for p in sys.argv[4:]]
median = {r["command"]: r["median"] for r in results}
t_true, t_ventrim = median["true"], median["ventrim"]
print("| command | median time | vs /bin/true | vs ventrim | peak memory |")
print("|---|---|---|---|---|")
for r, peak in zip(results, peaks):
    m = r["median"]
    print(f"| {r['command']} | {m * 1e3:.2f} ms | {m / t_true:.2f}x | {m / t_ventrim:.2f}x | {peak} KiB |")
print()
print(f"Instructions per run (callgrind): ventrim {ins_ventrim:,}, /bin/true {ins_true:,}, "
      f"ratio {ins_ventrim / ins_true:.2f}.")
PY
echo
echo "Machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1), $(uname -sr)."
