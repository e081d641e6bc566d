#!/bin/sh
# The examples a document marks ("<!-- example: KIND -->" before a code block, '.\" example: KIND' before .nf),
# run as they stand with the built tool on PATH (stamp sources: the document's, else the build guide's):
#   examples_test.sh DOCUMENT KIND TOOL BUILD_DIR
set -eu
export LC_ALL=C
doc=$1 kind=$2 guide=$(cd "$(dirname "$0")/../docs" && pwd)/build-integration.md n=0
S=$(mktemp -d "${TMPDIR:-/tmp}/ventrim-example-XXXXXX")
trap 'rm -rf "$S"' EXIT
mkdir "$S/bin" && cp "$3" "$S/bin/ventrim" && PATH=$S/bin:$PATH && cd "$S"
fail() { echo "$doc: $kind example $n: $*"; exit 1; }
# example KIND N FILE: the Nth example of KIND in FILE, roff's escapes undone.
example() {
  awk -v k="$1" -v n="$2" '$0 == "<!-- example: " k " -->" || $0 == ".\\\" example: " k { want = ++i == n; next }
    want && !on && (/^```/ || $0 == ".nf") { on = 1; next } on && ($0 == "```" || $0 == ".fi") { exit }
    on && $0 != ".RS" && $0 != ".RE"' "$3" | sed 's/\\f[BIPR]//g; s/\\-/-/g; s/\\e/\\/g; s/\\(dq/"/g'
}
# stamped HEADER OUTPUT: the program's OUTPUT shows the date HEADER holds.
stamped() { grep -q "^#define COMPILE_TIME_DATE_STR \"$(cut -c1-24 "$2")\"" "$1" || fail "the program lacks the stamp of $1"; }
printf '#include <stdio.h>\nextern const char build_date[];\nextern const unsigned char build_guid[8];\n%s\n' \
  'int main(void) { printf("%s %02X%02X\n", build_date, build_guid[0], build_guid[7]); return 0; }' > main.c
echo 'int util(void) { return 1; }' > util.c
for x in c cpp; do example stamp-$x 1 "$doc" > stamp.$x && [ -s stamp.$x ] || example stamp-$x 1 "$guide" > stamp.$x; done

run() {
  case $kind in
  header)
    path=$(sed -n '2s/^ \* \(.*[^ ]\) *$/\1/p' block)
    mkdir -p "$(dirname "$path")" && secs=$((0x$(sed -n 's/^#define COMPILE_TIME_DATE_INT 0x//p' block))) &&
      SOURCE_DATE_EPOCH=$secs ventrim "$path" > /dev/null || fail "the tool failed"
    # The GUID and user as the tool could write them, whatever they are.
    for f in block "$path"; do sed -E 's/ *$//; s/^(#define CODE_GUID \{0x[89AB][0-9A-F](,0x[0-9A-F]{2}){7}\}|#define USER_NAME "[^"\]*")$/(any)/' \
      "$f" > "$f.same"; done
    diff block.same "$path.same" || fail "the tool writes otherwise" ;;
  stderr)
    while IFS= read -r line; do p=${line#ventrim: } && ventrim "${p%%: *}" 2>&1 > /dev/null | grep -qxF "$line" ||
      fail "the tool says otherwise than: $line"; done < block ;;
  banner)
    [ "$(ventrim --version | head -n 1)" = "$(cat block)" ] || fail "the tool prints $(ventrim --version | head -n 1)" ;;
  stamp-c | stamp-cpp)
    cc=cc clang=clang lang=c && [ $kind = stamp-c ] || cc=c++ clang=clang++ lang=c++
    ventrim build_stamp.h > /dev/null && $cc -x $lang -c block -o stamp.o && cc -o app main.c stamp.o && ./app > out
    stamped build_stamp.h out
    ! command -v clang > /dev/null || $clang -x $lang -Weverything -Werror -c block -o /dev/null ||
      fail "it does not compile under clang -Weverything -Werror" ;;
  cmake)
    [ -d "$S/prefix" ] || cmake --install "$4" --prefix "$S/prefix" > /dev/null
    # A part of a project: in one that sets no policy version, which warns of that alone.
    warnings=0 && if ! grep -q '^project(' block; then
      printf 'project(app C)\nfind_package(Ventrim 1.0 REQUIRED)\n' > CMakeLists.txt && warnings=1
      grep -q '^add_executable(' block || echo 'add_executable(app main.c stamp.c)' >> CMakeLists.txt
    fi
    cat block >> CMakeLists.txt
    cmake -S . -B b -DCMAKE_PREFIX_PATH="$S/prefix" > /dev/null 2> err || fail "configuring failed: $(cat err)"
    [ "$(grep -c '^CMake [A-Za-z ]*Warning' err)" = $warnings ] || fail "configuring warned: $(cat err)"
    cmake --build b > /dev/null && b/app > out || fail "the build failed"
    stamped "$(find b -name build_stamp.h)" out ;;
  make | meson)
    git="git -c user.name=t -c user.email=t@t" && export HOME=$S GIT_CONFIG_GLOBAL=$S/gitconfig GIT_CONFIG_NOSYSTEM=1
    ! grep -q -- --revision block || { git init -q && $git commit -q --allow-empty -m one; } || fail "git failed"
    if [ $kind = make ]; then
      mv block Makefile && app=./app
      build() { make -j2 > /dev/null; }
      noop() { [ -z "$(make -j2 | grep -v 'is up to date')" ] && make -q; }
    else
      mv block meson.build && app=b/app && { meson setup b > /dev/null || fail "meson setup failed"; }
      build() { meson compile -C b > /dev/null; }
      noop() { meson compile -C b | grep -q 'no work to do'; }
    fi
    build && $app > first || fail "the first build failed"
    stamped "$(find . -name build_stamp.h)" first
    noop || fail "a second build did work"
    $app > again && cmp -s first again || fail "the stamp changed without a link"
    touch util.c && build && $app > second || fail "the rebuild failed"
    cmp -s first second && fail "a relink kept the old stamp"
    [ ! -d .git ] || { $git commit -q --allow-empty -m two && build && $app > third && ! cmp -s second third && noop &&
      grep -q "CODE_REVISION \"$(git rev-parse HEAD)\"" "$(find . -name build_stamp.h)"; } ||
      fail "a commit did not link the program again once with its revision"
    [ $kind = make ] || { meson install -C b --destdir "$S/d" > /dev/null && cmp -s b/app "$S"/d/usr/local/bin/app; } ||
      fail "install did not copy the program built" ;;
  *) fail "no way to run it" ;;
  esac
}
while n=$((n + 1)) && example "$kind" $n "$doc" > block && [ -s block ]; do
  mkdir "$n" && cp main.c util.c stamp.c stamp.cpp block "$n" && (cd "$n" && run "$@") || exit 1
done
[ $n -gt 1 ] || fail "none in the document"
