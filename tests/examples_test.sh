#!/bin/sh
# The examples the documents mark, run as they stand with the built tool on PATH (the markers: CONTRIBUTING.md);
# "blocks" checks a document's markers. Stamp sources and main.c: the document's, else the build guide's and ours.
#   examples_test.sh DOCUMENT KIND TOOL BUILD_DIR
set -eu
export LC_ALL=C
doc=$1 kind=$2 guide=$(cd "$(dirname "$0")/../docs" && pwd)/build-integration.md n=0
if [ "$kind" = blocks ]; then
  awk -v md="$(case $doc in *.md) echo 1;; esac)" -v re='(example: [a-z-]+(, any user)?|exempt: [^ ](.*[^ ])?)' '
    function bad(why) { printf "%s:%d: %s: %s\n", FILENAME, FNR, why, $0; failed = 1 }
    block { block = !(md ? /^[ \t]*```[ \t]*$/ : $0 == ".fi"); next }
    md ? /^[ \t]*```/ : $0 == ".nf" { if (!marked) bad("a code block neither marked as an example nor exempt"); marked = 0; block = 1; next }
    marked { bad("not a code block directly after its marker"); marked = 0 }
    tolower($0) ~ /^[ \t]*(<!--|\.\\")[ \t]*(example|exempt)/ {
      if (!(marked = $0 ~ (md ? "^<!-- " re " -->$" : "^\\.\\\\\" " re "$"))) bad("a marker this test cannot read") }
    END { if (block || marked) bad("the document ends inside a code block or after a marker"); exit failed }' "$doc"
  exit
fi
S=$(mktemp -d "${TMPDIR:-/tmp}/ventrim-example-XXXXXX")
trap 'rm -rf "$S"' EXIT
mkdir "$S/bin" && cp "$3" "$S/bin/ventrim" && PATH=$S/bin:$PATH && cd "$S"
fail() { echo "$doc: $kind example $n: $*"; exit 1; }
# example KIND N FILE: the Nth example of KIND in FILE, roff's escapes undone; its marker line into ./marker.
example() {
  awk -v k="$1" -v n="$2" '$0 == "<!-- example: " k " -->" || $0 == "<!-- example: " k ", any user -->" ||
      $0 == ".\\\" example: " k || $0 == ".\\\" example: " k ", any user" { if (want = ++i == n) print > "marker"; next }
    want && !on && (/^```/ || $0 == ".nf") { on = 1; next } on && ($0 == "```" || $0 == ".fi") { exit }
    on && $0 != ".RS" && $0 != ".RE"' "$3" | sed 's/\\f[BIPR]//g; s/\\-/-/g; s/\\e/\\/g; s/\\(dq/"/g; s/\\&//g'
}
# stamped HEADER OUTPUT: the program's OUTPUT shows the date HEADER holds.
stamped() { date=$(sed -n 's/^#define COMPILE_TIME_DATE_STR "\(.*\)"$/\1/p' "$1") && [ -n "$date" ] && grep -qF "$date" "$2" ||
  fail "the program lacks the stamp of $1"; }
printf '#include <stdio.h>\nextern const char build_date[];\nextern const unsigned char build_guid[8];\n%s%s\n' \
  'int main(void) { const unsigned char *g = build_guid; printf("%s %02X%02X%02X%02X%02X%02X%02X%02X\n", build_date, ' \
  'g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7]); return 0; }' > main.c
echo 'int util(void) { return 1; }' > util.c
for x in c cpp; do example stamp-$x 1 "$doc" > stamp.$x && [ -s stamp.$x ] || example stamp-$x 1 "$guide" > stamp.$x; done
example main-c 1 "$doc" > doc_main.c && [ ! -s doc_main.c ] || mv doc_main.c main.c
run() {
  case $kind in
  header)
    path=$(sed -n '2s/^ \* \(.*[^ ]\) *$/\1/p' block)
    mkdir -p "$(dirname "$path")" && secs=$((0x$(sed -n 's/^#define COMPILE_TIME_DATE_INT 0x//p' block))) &&
      SOURCE_DATE_EPOCH=$secs ventrim "$path" > /dev/null || fail "the tool failed"
    # The GUID as the tool could write it, whatever it is; the user too where the marker says so.
    any='#define CODE_GUID \{0x[89AB][0-9A-F](,0x[0-9A-F]{2}){7}\}'
    ! grep -q ', any user' marker || any="$any|#define USER_NAME \"[^\"\\]*\""
    for f in block "$path"; do sed -E "s/^($any)\$/(any)/" "$f" > "$f.same"; done
    diff block.same "$path.same" || fail "the tool writes otherwise" ;;
  stderr)
    while IFS= read -r line; do p=${line#ventrim: } && ventrim "${p%%: *}" 2>&1 > /dev/null | grep -qxF "$line" ||
      fail "the tool says otherwise than: $line"; done < block ;;
  banner)
    [ "$(ventrim --version | head -n 1)" = "$(cat block)" ] || fail "the tool prints $(ventrim --version | head -n 1)" ;;
  help)
    ventrim --help | tail -n +2 | diff block - || fail "--help prints otherwise" ;;
  stamp-c | stamp-cpp | main-c)
    cc=cc clang=clang lang=c && [ $kind != stamp-cpp ] || cc=c++ clang=clang++ lang=c++
    main=main.c stamp=block && [ $kind != main-c ] || main=block stamp=stamp.c
    ventrim build_stamp.h > /dev/null && $cc -x $lang -c $stamp -o stamp.o && cc -o app -x c $main -x none stamp.o && ./app > out
    stamped build_stamp.h out
    ! command -v clang > /dev/null || $clang -x $lang -Weverything -Werror -c block -o /dev/null ||
      fail "it does not compile under clang -Weverything -Werror" ;;
  cmake)
    # A part of a project: in one that sets no policy version, which warns of that alone.
    warnings=0 && if ! grep -q '^project(' block; then
      printf 'project(app C)\nfind_package(Ventrim 1.0 REQUIRED)\n' > CMakeLists.txt && warnings=1
      grep -q '^add_executable(' block || echo 'add_executable(app main.c stamp.c)' >> CMakeLists.txt
    fi
    cat block >> CMakeLists.txt
    # Ventrim's build folder is a package too.
    cmake -S . -B b -DCMAKE_PREFIX_PATH="$4" > /dev/null 2> err || fail "configuring failed: $(cat err)"
    [ "$(grep -c '^CMake [A-Za-z ]*Warning' err)" = $warnings ] || fail "configuring warned: $(cat err)"
    cmake --build b > /dev/null && b/app > out || fail "the build failed"
    stamped "$(find b -name build_stamp.h)" out
    # A link stamp: nothing to do, then a link with a new stamp; a stamp header: a new stamp every build.
    cmake --build b > log && b/app > again || fail "the second build failed"
    if grep -q ventrim_add_link_stamp block; then
      ! grep -Eq 'Building|Linking' log && cmp -s out again || fail "a build with nothing to do did work: $(cat log)"
      touch main.c && cmake --build b > /dev/null && b/app > again || fail "the rebuild failed"
    fi
    ! cmp -s out again || fail "the program was built again with the old stamp"
    stamped "$(find b -name build_stamp.h)" again ;;
  output)
    ventrim build_stamp.h > /dev/null && cc -o app main.c stamp.c && ./app > out || fail "main.c did not build or run"
    # The shown output but for the date and GUID, which differ each build.
    for f in block out; do sed -E 's/[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9:]{8} [0-9]{4}/(date)/g; s/[0-9A-F]{16}/(guid)/g' \
      "$f" > "$f.same"; done
    diff block.same out.same || fail "the program prints otherwise" ;;
  make | meson)
    # Compilers named, so meson starts no compiler cache (sccache runs a server that outlives the test).
    git="git -c user.name=t -c user.email=t@t" && export HOME=$S GIT_CONFIG_GLOBAL=$S/gitconfig GIT_CONFIG_NOSYSTEM=1 CC=cc CXX=c++
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
  mkdir "$n" && cp main.c util.c stamp.c stamp.cpp block marker "$n" && (cd "$n" && run "$@") || exit 1
done
[ $n -gt 1 ] || fail "none in the document"
