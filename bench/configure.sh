#!/usr/bin/env bash
# What link stamps cost a configure: a project of N executables, each with a
# link stamp or none, configured afresh with Ninja (generation included), for
# N = 400, 800 and 1,600, so that the growth shows whether it stays linear.
# Median wall time of each. Needs cmake, ninja and a C compiler (cc) and python3.
#   bench/configure.sh [runs]        (default 5 configures a case)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
. bench/common.sh
needs cmake ninja cc python3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

install_release "$work"
src=$work/src
mkdir -p "$src"
echo 'int main(void) { return 0; }' > "$src/main.c"
echo 'const char *stamp(void) { return ""; }' > "$src/stamp.c"
cat > "$src/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.20)
project(Bench LANGUAGES C)
find_package(Ventrim REQUIRED)
foreach(i RANGE 1 ${COUNT})
  add_executable(app${i} main.c)
  if(STAMP)
    ventrim_add_link_stamp(app${i} stamp.c stamp${i}/build_stamp.h)
  endif()
endforeach()
EOF

# configure COUNT STAMP: the wall time of one fresh configure, in milliseconds.
configure() {
  local b=$work/build start end
  rm -rf "$b"
  start=$(date +%s%N)
  cmake -S "$src" -B "$b" -G Ninja -DCOUNT="$1" -DSTAMP="$2" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
  end=$(date +%s%N)
  echo $(( (end - start) / 1000000 ))
}
median() { tr ' ' '\n' | grep . | sort -n | sed -n "$(( (runs + 1) / 2 ))p"; }

echo "| executables | no stamp | link stamps | link stamps vs no stamp |"
echo "|---|---|---|---|"
for count in 400 800 1600; do
  none="" link=""
  for _ in $(seq "$runs"); do  # in turn, so that a busy moment falls on both
    none+="$(configure "$count" OFF) "
    link+="$(configure "$count" ON) "
  done
  none=$(median <<<"$none") link=$(median <<<"$link")
  echo "| $count | $none ms | $link ms | $(python3 -c "print(f'{$link / $none:.2f}x')") |"
done
echo
echo "Machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1), $(uname -sr); median of $runs configures."
