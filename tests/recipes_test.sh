#!/bin/sh
# The build guide's Make and Meson recipes, taken from it as they stand and run
# on a small program with the built tool on PATH:
#   recipes_test.sh make|meson GUIDE TOOL
set -eu
export LC_ALL=C
kind=$1
S=$(mktemp -d "${TMPDIR:-/tmp}/ventrim-recipe-XXXXXX")
trap 'rm -rf "$S"' EXIT
mkdir "$S/bin" && cp "$3" "$S/bin/ventrim" && PATH=$S/bin:$PATH && cd "$S"
# The first fenced block of a kind in the guide: the recipe, and the stamp's
# C and C++ sources.
block() { awk -v k="$1" '$0 == "```" k { on = 1; next } on && $0 == "```" { exit } on' "$2"; }
block "$kind" "$2" > recipe && block c "$2" > stamp.c && block cpp "$2" > stamp.cpp
fail() { echo "$kind recipe: $*"; exit 1; }
printf '#include <stdio.h>\nextern const char build_date[];\nextern const unsigned char build_guid[8];\n%s\n' \
  'void util(void) { printf("%s %02X%02X%02X%02X\n", build_date, build_guid[0], build_guid[1], build_guid[2], build_guid[7]); }' > util.c
printf 'void util(void);\nint main(void) { util(); return 0; }\n' > main.c

# The program linked again exactly when its code changes, with a fresh stamp.
case $kind in
make)
  mv recipe Makefile
  build() { make -j8 > /dev/null; }
  noop() { [ -z "$(make -j8 | grep -v 'is up to date')" ] && make -q; }
  app=./app ;;
meson)
  command -v meson > /dev/null || exit 77
  mv recipe meson.build
  meson setup b > /dev/null || fail "meson setup failed"
  build() { meson compile -C b > /dev/null; }
  noop() { meson compile -C b | grep -q 'no work to do'; }
  app=b/app ;;
esac
build && $app > first || fail "the first build failed"
noop || fail "a second build did work"
$app > again && cmp -s first again || fail "the stamp changed without a link"
touch util.c && build && $app > second || fail "the rebuild failed"
cmp -s first second && fail "a relink kept the old stamp"
if [ "$kind" = make ]; then
  # The README shows the guide's C stamp; the C++ stamp serves a C program; both
  # compile without a warning clang has.
  awk '$0 == "```c" { on = 1; n = 0; next } on && $0 == "```" { if (hit) exit; on = 0 } on && !n++ { hit = /^\/\* stamp/ }
    on && hit' "$(dirname "$2")/../README.md" | cmp -s - stamp.c || fail "the README's stamp is not the guide's"
  c++ -c stamp.cpp && cc -o app2 main.c util.c stamp.o && ./app2 > /dev/null || fail "the C++ stamp is not the program's"
  ! command -v clang > /dev/null || { clang -Weverything -Werror -c stamp.c && clang++ -Weverything -Werror -c stamp.cpp; } ||
    fail "the stamp sources do not compile under clang -Weverything -Werror"
else
  [ "$(sed -n 2p b/build_stamp.h)" = " * build_stamp.h " ] || fail "line 2: $(sed -n 2p b/build_stamp.h)"
  meson install -C b --destdir "$S/d" > /dev/null && cmp -s b/app d/usr/local/bin/app || fail "install did not copy the program built"
fi
exit 0
