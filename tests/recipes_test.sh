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
# The first fenced block of the kind in the guide.
awk -v k="$kind" '$0 == "```" k { on = 1; next } on && $0 == "```" { exit } on' "$2" > recipe
fail() { echo "$kind recipe: $*"; exit 1; }
printf '#include <stdio.h>\nextern const char build_date[];\nextern const unsigned char build_guid[8];\n%s\n' \
  'void util(void) { printf("%s %02X%02X%02X%02X\n", build_date, build_guid[0], build_guid[1], build_guid[2], build_guid[7]); }' > util.c
printf 'void util(void);\nint main(void) { util(); return 0; }\n' > main.c
printf '#include "stamp.h"\nconst char build_date[] = COMPILE_TIME_DATE_STR;\nconst unsigned char build_guid[8] = CODE_GUID;\n' > stamp.c

case $kind in
make)
  mv recipe Makefile
  make -j8 > /dev/null && ./app > first || fail "the first build failed"
  [ -z "$(make -j8 | grep -v 'is up to date')" ] && make -q || fail "a second make did work"
  ./app > again && cmp -s first again || fail "the stamp changed without a link"
  touch util.c && make -j8 > /dev/null && ./app > second || fail "the rebuild failed"
  cmp -s first second && fail "a relink kept the old stamp" ;;
meson)
  command -v meson > /dev/null || exit 77
  mv recipe meson.build
  printf '#include <stdio.h>\n#include "build_stamp.h"\n%s\n' \
    'int main(void) { static const unsigned char g[8] = CODE_GUID; printf("%02X%02X\n", g[0], g[7]); return 0; }' > main.c
  meson setup b > /dev/null && meson compile -C b > /dev/null && b/app > first || fail "the first build failed"
  [ "$(sed -n 2p b/build_stamp.h)" = " * build_stamp.h " ] || fail "line 2: $(sed -n 2p b/build_stamp.h)"
  meson compile -C b > /dev/null && b/app > second || fail "the second build failed"
  cmp -s first second && fail "the header was not stamped afresh" ;;
esac
exit 0
