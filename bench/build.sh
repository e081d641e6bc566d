#!/usr/bin/env bash
# What a stamp costs a whole build: a project of 200 C files, one of which
# prints the stamp, built without a stamp, with ventrim_add_stamp_header and
# with ventrim_add_link_stamp, by Ninja and by Make. Measured: a build with
# nothing changed (no-op) and a build after one file changed, median wall time
# of each against the project without a stamp. Needs cmake, ninja, make, a C
# compiler (cc), a C++ compiler and python3.
#   bench/build.sh [runs]        (default 15 builds a case)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-15}
. bench/common.sh
needs cmake ninja make cc c++ python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

install_release "$work"

# The project: f0.c .. f199.c, each a few functions; main.c calls them all and
# prints the stamp, from the header or from the link stamp's source.
src=$work/src
mkdir -p "$src"
for i in $(seq 0 199); do
  printf 'int f%d(int x) { int s = 0; for (int i = 0; i < x; ++i) s += i * %d; return s; }\n' "$i" "$i" > "$src/f$i.c"
done
{
  echo '#include <stdio.h>'
  echo '#ifdef HEADER'
  echo '#include "build_stamp.h"'
  echo 'static const char build_date[] = COMPILE_TIME_DATE_STR;'
  echo '#elif defined(LINKED)'
  echo 'extern const char build_date[];'
  echo '#else'
  echo 'static const char build_date[] = "";'
  echo '#endif'
  for i in $(seq 0 199); do echo "int f$i(int);"; done
  echo 'int main(void) { int s = 0;'
  for i in $(seq 0 199); do echo "  s += f$i(3);"; done
  echo '  printf("%s %d\n", build_date, s); return 0; }'
} > "$src/main.c"
printf '#include "build_stamp.h"\nconst char build_date[] = COMPILE_TIME_DATE_STR;\n' > "$src/stamp.c"
cat > "$src/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.20)
project(Bench LANGUAGES C)
file(GLOB sources f*.c)
add_executable(app main.c ${sources})
if(STAMP STREQUAL "header")
  find_package(Ventrim REQUIRED)
  target_compile_definitions(app PRIVATE HEADER)
  ventrim_add_stamp_header(app stamp/build_stamp.h)
elseif(STAMP STREQUAL "link")
  find_package(Ventrim REQUIRED)
  target_compile_definitions(app PRIVATE LINKED)
  ventrim_add_link_stamp(app stamp.c stamp/build_stamp.h)
endif()
EOF

# build DIR: the wall time of one build, in microseconds.
build() {
  local start end
  start=$(date +%s%N)
  cmake --build "$1" >/dev/null
  end=$(date +%s%N)
  echo $(( (end - start) / 1000 ))
}
median() { tr ' ' '\n' | grep . | sort -n | sed -n "$(( (runs + 1) / 2 ))p"; }  # no blank line counted

# The three projects of a generator built in turn, runs times over, so that a
# busy moment of the machine falls on all of them alike.
results=()
for gen in Ninja "Unix Makefiles"; do
  declare -A noop=() change=()
  for stamp in none header link; do
    b="$work/build-$stamp-${gen// /_}"
    cmake -S "$src" -B "$b" -G "$gen" -DSTAMP=$stamp -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
    cmake --build "$b" --parallel >/dev/null
  done
  # The three share the sources: all build with nothing changed, then all
  # after the one change.
  for _ in $(seq "$runs"); do
    for stamp in none header link; do
      noop[$stamp]+="$(build "$work/build-$stamp-${gen// /_}") "
    done
    touch "$src/f7.c"
    for stamp in none header link; do
      change[$stamp]+="$(build "$work/build-$stamp-${gen// /_}") "
    done
  done
  for stamp in none header link; do
    results+=("$gen|$stamp|$(median <<<"${noop[$stamp]}")|$(median <<<"${change[$stamp]}")")
  done
done

python3 - "${results[@]}" <<'PY'
import sys
rows = [r.split("|") for r in sys.argv[1:]]
base = {g: (int(n), int(c)) for g, s, n, c in rows if s == "none"}
names = {"none": "no stamp", "header": "ventrim_add_stamp_header", "link": "ventrim_add_link_stamp"}
print("| generator | stamp | no-op build vs no stamp | one file changed vs no stamp | no-op build | one file changed |")
print("|---|---|---|---|---|---|")
for g, s, n, c in rows:
    n, c = int(n), int(c)
    print(f"| {g} | {names[s]} | {n / base[g][0]:.2f}x | {c / base[g][1]:.2f}x | {n / 1000:.1f} ms | {c / 1000:.1f} ms |")
PY
echo
echo "Machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1), $(uname -sr); median of $runs builds."
