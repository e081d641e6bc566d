#!/usr/bin/env bash
# Measures a run of the Windows executable under Wine against a graphical
# hello-world built by the same cross-compiler: the 64-bit build, and the
# 32-bit one where this machine runs 32-bit code. Lists the modules each
# loads. Needs cmake, mingw-w64, Wine (wine64; wine and wine32 for 32-bit)
# and python3. Wine runs in a prefix of its own made for the run (about a
# minute), or in WINEPREFIX when that is set.
#   bench/windows.sh [runs]        (default 200 runs a command)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-200}
arches=x86_64
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then arches="i686 x86_64"; fi

work=$(mktemp -d)
export TMPDIR=$work WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=${WINEPREFIX:-$work/prefix}
server=/usr/lib/wine/wineserver64
[ -x $server ] || server=/usr/lib/wine/wineserver32
# The server is this script's own (its socket is in TMPDIR), kept between runs
# as in a build that runs many programs.
trap '$server -k 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$WINEPREFIX"
$server -p >/dev/null 2>&1 </dev/null

cat > "$work/hello.c" <<'EOF'
#include <stdio.h>
int main(void) { puts("Hello, world"); return 0; }
EOF

for arch in $arches; do
  wine=/usr/lib/wine/wine64
  [ $arch = x86_64 ] || wine=/usr/lib/wine/wine
  # Starts Wine's services here, away from any pipe of the caller's.
  $wine wineboot --init >/dev/null 2>&1 </dev/null
  build=$work/build-$arch
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$build" --parallel --target ventrim >/dev/null
  $arch-w64-mingw32-gcc -O2 -s -mwindows -o "$build/hello.exe" "$work/hello.c"

  echo "== $arch, $($wine --version)"
  for exe in hello.exe "ventrim.exe v.h"; do
    # To a file: services Wine starts may keep a pipe open.
    # shellcheck disable=SC2086
    (cd "$build" && WINEDEBUG=+loaddll $wine $exe >/dev/null 2>"$work/loaded")
    modules=$(sed -n 's/.*Loaded L"[^"]*\\\([^"\\]*\)".*/\1/p' "$work/loaded")
    echo "${exe%% *} loads $(wc -l <<<"$modules") modules: $(tr '\n' ' ' <<<"$modules")"
  done
  (cd "$build" && python3 - "$runs" "$wine" "$OLDPWD/bench" <<'PY'
import sys
sys.dont_write_bytecode = True
sys.path.insert(0, sys.argv[3])
from medians import medians
runs, wine = int(sys.argv[1]), sys.argv[2]
names = ["GUI hello-world", "ventrim (a header replaced)", "ventrim --version"]
commands = [[wine, "hello.exe"], [wine, "ventrim.exe", "v.h"], [wine, "ventrim.exe", "--version"]]
medians = medians(commands, runs)  # Wine's server, which every Windows program uses, is not counted
hello_wall, hello_cpu = medians[0]
print("| command | median time | vs hello-world | median CPU time | vs hello-world |")
print("|---|---|---|---|---|")
for name, (wall, cpu) in zip(names, medians):
    print(f"| {name} | {wall * 1e3:.1f} ms | {wall / hello_wall:.2f}x | {cpu * 1e3:.1f} ms | {cpu / hello_cpu:.2f}x |")
PY
  )
done
echo
echo "Machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1), $(uname -sr)."
