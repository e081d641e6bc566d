#!/bin/sh
# End to end: the built tool run as a build runs it, one row a test (cli_test.sh NAME), with TOOL the command that starts it (W set under Wine),
# REVISION and VERSION the project's. A row: row NAME WHERE STATUS OUTPUT ERROR BEFORE CHECK [ARG...]. WHERE: all, posix or windows; ",root", ",mount"
# (own mount namespace), ",strace", ",systemd" or ",git" name what the row needs (see need). BEFORE runs in the case's folder, then the tool, started
# by $AS, with the ARGs, must exit with STATUS. OUTPUT is a pattern for what follows the banner on standard output ("-": no output). ERROR is standard
# error: "-" nothing, else one line, "ventrim: " and text the pattern ERROR matches whole (under Wine in Windows' words, see words). CHECK runs there
# after and looks at the files; $T is a folder beside. The longer programs are functions above the table.
ROW=$1
# A row whose need is missing says so and exits 77: a skip by hand; under ctest, which registers only rows it can run, a failure.
need() { echo "$ROW: needs $1, which is missing here"; exit 77; }
if [ -z "$VENTRIM_OWN_NAMESPACE" ] && grep -q "^row $ROW [a-z,]*mount" "$0"; then
  [ "$(id -u)" = 0 ] || need root
  VENTRIM_OWN_NAMESPACE=1 exec unshare -m sh "$0" "$ROW"
fi
S=$(mktemp -d "${TMPDIR:-/tmp}/ventrim-test-XXXXXX") && chmod 755 "$S" || exit 1
trap 'cd /; findmnt -rno TARGET | grep "^$S/" | xargs -r umount; chattr -R -ia "$S" 2>/dev/null; rm -rf "$S"' EXIT
if [ -z "$W" ]; then cp "$TOOL" "$S/ventrim" && TOOL=$S/ventrim; fi
nobody="setpriv --reuid=65534 --regid=65534 --clear-groups"
[ -z "$W" ] || trap '' XFSZ  # Windows has no such signal, only a failed write

# lines: how many lines the tool writes for a plain name (asked once).
lines() { [ -s "$S/lines" ] || (cd "$T" && $TOOL plain.h > /dev/null && tr -d '\r' < plain.h | wc -l > "$S/lines" && rm plain.h)
  cat "$S/lines"; }
# header FILE PATH [EXTRA]: FILE is a whole stamp header whose comment names PATH, with EXTRA lines more.
header() { tr -d '\r' < "$1" > "$T/h"
  [ "$(wc -l < "$T/h")" -eq $(($(lines) + ${3:-0})) ] && [ "$(sed -n 2p "$T/h")" = " * $2 " ] &&
    [ "$(sed -n '$p' "$T/h")" = "#endif" ] || { echo "not the header for $2: $1"; cat "$1"; return 1; }; }
# note FILE, then same FILE: the file noted (! same: a new one).
note() { stat -c %i "$1" > "$T/inode"; }
same() { [ "$(stat -c %i "$1")" = "$(cat "$T/inode")" ]; }
# only NAME...: the folder holds exactly these entries.
only() { [ "$(ls -A | tr '\n' ' ')" = "${*:+$* }" ] || { echo "folder holds: $(ls -A)"; return 1; }; }
# clock ZONE FILE: FILE carries the time of the run in ZONE and a new GUID with the variant bits.
clock() { t=$((0x$(sed -n 's/^#define COMPILE_TIME_DATE_INT 0x\([0-9A-F]*\).*/\1/p' $2)))
  [ $t -ge $(cat "$T/before") ] && [ $t -le $(date +%s) ] || { echo "clock $t out of range"; return 1; }
  grep -q "^#define COMPILE_TIME_DATE_STR \"$(TZ=$1 date -d @$t '+%a %b %d %H:%M:%S %Y')\"" $2 &&
    grep -Eq '^#define CODE_GUID \{0x[89AB][0-9A-F],' $2 && [ "$(grep CODE_GUID $2)" != "$(grep CODE_GUID first.h)" ]; }
# long LENGTH: a relative path of LENGTH bytes, folders of 200 bytes, then a name of 255.
long() { awk -v n="$1" 'function run(c, k) { s = sprintf("%*s", k, ""); gsub(/ /, c, s); return s }
    BEGIN { while (n - length(p) - 256 > 200) p = p run("d", 199) "/"; print p run("e", n - length(p) - 256) "/" run("n", 255) }'; }
# accounts CONFIG LINE...: here the name services' configuration is CONFIG, the passwd file the LINEs.
accounts() { nssFiles "$@" && mount --bind "$T/nsswitch.conf" /etc/nsswitch.conf && mount --bind "$T/passwd" /etc/passwd; }
nssFiles() { printf '%b\n' "$1" > "$T/nsswitch.conf" && shift && printf '%b\n' "$@" > "$T/passwd"; }
user() { grep -qx "#define USER_NAME \"$1\"" h.h || { grep USER_NAME h.h; return 1; }; }
# again NAME CONFIG LINE...: a run with these in the files accounts bound names NAME.
again() { u=$1 && shift && nssFiles "$@" && $TOOL h.h > /dev/null && user "$u"; }
# repo [OPTION...]: a repository r (git init's OPTIONs) holding a commit of f.
repo() { exec 2> "$T/git" && git init -q "$@" r && echo a > r/f && git -C r add f && git -C r commit -qm 1; }
# revision COMMIT MODIFIED [FILE]: h.h (or FILE) is a header with the revision's lines, which say so.
revision() { f=${3:-h.h} && header "$f" "$f" "$(grep -c '^#define CODE_REVISION' "$f")" && grep -qx "#define CODE_REVISION \"$1\"" "$T/h" &&
    grep -qx "#define CODE_REVISION_MODIFIED $2" "$T/h" || { cat "$f" "$T/stderr"; return 1; }; }
# unread CAUSE: h.h holds an unknown revision, and standard error says why.
unread() { revision "" -1 && grep -q "^ventrim: revision of .* not read: $1" "$T/stderr"; }
at() { git -c safe.directory="*" -C "${1:-r}" rev-parse HEAD; }
# standin MODE: Wine's PATH has the stand-in git.exe (git_standin_win32.c) doing MODE, or text (no program); the variables it checks set.
standin() { mkdir -p bin && w=$(pwd | tr / '\\')\\bin && export WINEPATH="Z:$w" GIT_CONFIG_GLOBAL=g GIT_DIR=x PAGER=less && echo $1 > bin/mode && t=${TOOL##* } &&
    if [ $1 = text ]; then echo text > bin/git.exe; else cp "${t%ventrim.exe}standin/git.exe" bin; fi; }
# spy: bin/git writes who it runs as, its input and its whole environment to $T/as, then runs git.
spy() { mkdir -p bin && printf '#!/bin/sh\ncase $* in *status*) { id -u; id -g; id -G; readlink /proc/self/fd/0; grep -E "^(Cap(Prm|Eff|Amb)|NoNewPrivs)" \
    /proc/self/status; tr "\\0" "\\n" < /proc/$$/environ | sort; } > "%s/as"; esac\nexec %s "$@"\n' "$T" "$(command -v git)" > bin/git && chmod 755 bin/git; }
# stop SIGNAL NUMBER: a run stopped by SIGNAL while git runs ends at once as SIGNAL ends it, and git's child with it.
stop() { rm -f "$T/child" && { env --default-signal=$1 $TOOL --revision=. s.h > /dev/null 2>&1 & } && p=$! i=0 &&
    until [ -s "$T/child" ] || [ $((i += 1)) = 500 ]; do sleep 0.01; done && kill -$1 $p; t=$(date +%s); wait $p 2> /dev/null
  [ $? = $((128 + $2)) ] && [ $(($(date +%s) - t)) -le 2 ] && gone; }
# gone: the child git's wrapper started has ended (or waits to be reaped), within a second.
gone() { i=0 && while ps -o stat= -p $(cat "$T/child") | grep -q "^[^Z]"; do [ $((i += 1)) = 100 ] && return 1; sleep 0.01; done; }
# hold SECONDS: a shared lock on fixed/h.h for SECONDS, its holder's pid in $T/holder.
hold() { rm -f "$T/holder" && { flock -s fixed/h.h sh -c "echo \$\$ > \"$T/holder\"; exec sleep $1" > /dev/null 2>&1 & } &&
  until [ -s "$T/holder" ]; do sleep 0.01; done; }

# server: the pid of Wine's server for TOOL's prefix, the one whose folder is in TOOL's TMPDIR (a run of the tool starts one).
server() { $TOOL --version > /dev/null && w=${TOOL#*TMPDIR=} && for p in $(pgrep ^wineserver); do
  readlink /proc/$p/cwd | grep -q "^${w%% *}/" && echo $p && break; done; }
# serverFull NAME: Wine's server, which makes every file, finds no space for NAME's temporary file here (strace attached, 20 s at most).
serverFull() { s=$(server) && f=$(printf '%s\n' $TOOL | sed -n 's/^WINEPREFIX=//p')/dosdevices/z:$(pwd)/.$1.ventrim.tmp && i=0 &&
  { timeout 20 strace -p "$s" -P "$f" -e trace=openat -e inject=openat:error=ENOSPC -o "$T/full" > /dev/null 2> "$T/attach" & } && echo $! > "$T/strace" &&
  until [ -s "$T/attach" ] || [ $((i += 1)) = 500 ]; do sleep 0.01; done && { grep -q attached "$T/attach" || { cat "$T/attach" >&2; false; }; }; }
# race PATTERN STEP ARG...: a window made certain between two of the tool's looks at its header (the last ARG): the tool ($AS $TOOL) runs on the ARGs,
# held by strace for a second at the first system call whose trace matches PATTERN after one that named the header, while STEP runs; the tool's status
# is in $T/raced. Fails closed: no such call, or one never reached or never held, fails the row (the window never opened).
race() { p=$1 s=$2 c=${1%%[!a-z0-9]*} && shift 2 && export ASAN_OPTIONS=detect_leaks=0 && eval "h=\${$#}" && h=${h##*/}
  strace -qq -o "$T/trace" -e trace=%file,%desc,$c $AS $TOOL "$@" > /dev/null 2>&1
  n=$(awk -v p="^$p" -v c="$c(" -v h="[\"/]$h\"" 'index($0, c) == 1 { k++ } $0 ~ p && seen { print k; exit } $0 ~ h && !/^execve/ { seen = 1 }' "$T/trace")
  [ -n "$n" ] || fail "race: no call matches $p after a first look at $h"
  : > "$T/trace" && i=0
  { strace -qq -o "$T/trace" -e trace=$c -e inject=$c:delay_enter=1000000:when=$n $AS $TOOL "$@" > /dev/null 2>&1; echo $? > "$T/raced"; } &
  until grep -qE "^$p" "$T/trace" || [ $((i += 1)) = 500 ]; do sleep 0.01; done
  [ $i != 500 ] && (eval "$s") || { wait $!; fail "race: $p never reached, or the step failed: $s"; }; wait $!
  grep -qE "^$p.* \(DELAYED\)$" "$T/trace" || fail "race: $p not held: $(cat "$T/trace")"; }
fail() { echo "$ROW: $*"; exit 1; }
# words PATTERN: a row's ERROR as this build prints it: under Wine with Windows' words (FormatMessage's) for Linux's.
words() { printf '%s\n' "$1" | if [ -z "$W" ]; then cat; else sed 's/No such file or directory$/Path not found/; s/Is a directory$/Access denied/
    s/Permission denied$/Access denied/; s/File too large$/General failure/; s/No space left on device$/Disk full/'; fi; }
row() {
  [ "$1" = "$ROW" ] || return 0
  case $2 in windows*) [ -n "$W" ] || exit 77 ;; posix*) [ -z "$W" ] || exit 77 ;; esac
  case $2 in *root*) [ "$(id -u)" = 0 ] || need root ;; esac
  case $2 in *strace*) command -v strace > /dev/null || need strace ;; esac
  case $2 in *systemd*) PATH=$PATH:/sbin ldconfig -p | grep -q libnss_systemd || need "systemd's NSS module" ;; esac
  # Rows with git: git settings of the test's own, never the machine's; no search leaves the test's folder.
  case $2 in *git*) command -v git > /dev/null || need git
    export HOME=$S/notes GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=$S/notes/gitconfig GIT_CEILING_DIRECTORIES=$S \
      GIT_AUTHOR_NAME=a GIT_AUTHOR_EMAIL=a@b GIT_COMMITTER_NAME=a GIT_COMMITTER_EMAIL=a@b ;; esac
  status=$3 out=$4 err=$5 before=$6 check=$7 && shift 7
  T=$S/notes && mkdir -m 777 "$S/case" "$T" && cd "$S/case" || exit 1
  # Standard error through a pipe, which a size limit set before does not cut; opened only by the tool.
  mkfifo "$T/err" && { tr -d '\r' < "$T/err" > "$T/stderr" & }
  { (AS= && eval "$before" && exec $AS $TOOL "$@" 2> "$T/err"); echo $? > "$T/status"; } | tr -d '\r' > "$T/stdout"
  exec 9<> "$T/err" 9>&- && wait $!
  got=$(cat "$T/status") actual=$(cat "$T/stdout") error=$(cat "$T/stderr")
  [ $got = $status ] || fail "status $got, expected $status; output: $actual"
  banner="Ventrim Rev $REVISION - build stamps for C and C++" && [ "$out" != - ] || banner= out=
  case $actual in "$banner"$out) ;; *) fail "output: $actual" ;; esac
  e=$(words "$err")
  case $err in -) [ ! -s "$T/stderr" ] ;; *) [ "$(wc -l < "$T/stderr")" = 1 ] && case $error in "ventrim: "$e) ;; *) false ;; esac ;; esac ||
    fail "standard error: $error; expected: ventrim: $e"
  (AS= && eval "$check") || fail "check failed: $check"
  exit 0; }

ok= open=$(printf '\nCan%st open: ' "'") write=$(printf '\nCan%st write: ' "'")
usage=$(printf '\nVentrim <headerFileName>\nArguments provided:\n- *ventrim*')
locked='mkdir fixed && echo old > fixed/h.h && chattr +i fixed'
held='echo old > h.h && note h.h && { ${TOOL%ventrim.exe*}hold.exe h.h $HOLD > "$T/held" & } && while [ ! -s "$T/held" ]; do sleep 0.05; done'
pipe='{ ${TOOL%ventrim.exe*}hold.exe "$1" > "$T/piped" 2> "$T/ready" & } && while [ ! -s "$T/ready" ]; do sleep 0.05; done'
# The tool's own words that rows share (ug: $u as a pattern).
u='; usage: ventrim [--revision=DIR] <headerFileName>' named='; a header so named is written as' ug="${u%%\[*}\\[${u#*\[}"
needs='--revision needs a folder: --revision=DIR, before the header path' notime=' is not a time: set it to whole seconds since 1970, from 0 to 253402300799'
sticky="refused: in a sticky folder others may write, the file belongs to neither you nor the folder's owner"
# wrong LINE ARG...: given the ARGs the tool exits with 2, writes nothing, and says "ventrim: LINE" on standard error.
wrong() { l=$1 && shift && { $TOOL "$@" > /dev/null 2> "$T/e"; [ $? = 2 ]; } && [ "$(tr -d '\r' < "$T/e")" = "ventrim: $l" ] && only ||
  { echo "$*: $(cat "$T/e")"; return 1; }; }

# lookAlikes: fullwidth options, digits and zones are names; a folder after --revision= may have any name.
lookAlikes() { header －－help --help && cp －－help first.h && TZ=ＡＢＣ-3 $TOOL z.h > /dev/null && clock UTC z.h && TZ=ABC-５ $TOOL f.h > /dev/null &&
  clock UTC f.h && ! SOURCE_DATE_EPOCH=１２３ $TOOL e.h > "$T/e" && grep -q 'EPOCH="１２３" is not' "$T/e" &&
  { $TOOL －－revision=. r.h > /dev/null; [ $? = 2 ]; } && $TOOL --revision=ā a.h > /dev/null 2>&1 && only a.h f.h first.h z.h －－help; }
# filtersThatWouldRun: r has an fsmonitor and filters, each of which would leave $T/ran; its index holds git's token.
filtersThatWouldRun() { repo && echo a > r/g && printf 'f filter=x\ng filter=y\n' > r/.gitattributes && git -C r add . && git -C r commit -qm 2 &&
  for s in core.fsmonitor filter.x.clean filter.y.process; do git -C r config $s "touch \"$T/ran\"; cat"; done &&
  git -C r config filter.x.required true && git -C r status > /dev/null 2>&1; rm "$T/ran" && touch -d @1 r/f r/g; }
# asOwner: git ran as r's owner on /dev/null, clean (the spy's record); other owners are refused; root's own gets root's variables but the risky.
asOwner() { export PATH=$PWD/no:$PWD/bin:$PATH && revision $(at) 0 && printf "%s\n" $(id -u 65534) $(id -g 65534) "$(id -G 65534)" /dev/null \
  "CapPrm:	0000000000000000" "CapEff:	0000000000000000" "CapAmb:	0000000000000000" "NoNewPrivs:	1" GIT_CONFIG_GLOBAL=/dev/null \
  GIT_CONFIG_NOSYSTEM=1 GIT_PAGER=cat GIT_TERMINAL_PROMPT=0 PAGER=cat "PATH=$PATH" | cmp - "$T/as" && mkdir r/sub && touch r/sub/HEAD &&
  git config --global safe.directory "*" && $TOOL --revision=r/sub h.h 2> "$T/stderr" > /dev/null && unread "detected dubious" &&
  chown 0 r/.git && $TOOL --revision=r h.h 2> "$T/stderr" > /dev/null && unread "its work tree and its git folder belong to different" &&
  chown -R 4242 r && ! id 4242 2> /dev/null && $TOOL --revision=r h.h 2> "$T/stderr" > /dev/null &&
  unread "its owner, user id 4242, has no account git could run as" && chown -R 0:0 r && c=$(at) && export PAGER=less GIT_DIR=/x \
  GIT_WORK_TREE=/ GIT_CONFIG_SYSTEM=/dev/null GIT_DISCOVERY_ACROSS_FILESYSTEM=1 SUDO_UID=1 && $TOOL --revision=r h.h > /dev/null &&
  revision $c 0 && { printf "%s\n" GIT_PAGER=cat GIT_TERMINAL_PROMPT=0 PAGER=cat && env | grep -v "^GIT_\|^PAGER=\|^SUDO_UID=\|^_=" &&
  env | grep -E "^GIT_(CONFIG_(GLOBAL|SYSTEM|NOSYSTEM)|CEILING_DIRECTORIES|DISCOVERY_ACROSS_FILESYSTEM)="; } | sort > "$T/e" &&
  sed 1,8d "$T/as" | grep -v "^_=" | cmp "$T/e" - && sed -n 1,4p "$T/as" | tr "\n" " " | grep -qx "0 0 0 /dev/null "; }
# longListings: r's f has a filter configured after 6,000 other settings, its branch an upstream of 70,000 characters.
longListings() { repo && echo "f filter=evil" > r/.gitattributes && git -C r add . && git -C r commit -qm 2 && { echo '[filter "pad"]' &&
  seq -f "k%g = 1" 6000 && echo '[filter "evil"]' && echo "clean = touch \"$T/ran\"; cat"; } >> r/.git/config && echo b >> r/f &&
  b=$(git -C r symbolic-ref --short HEAD) && git -C r config branch.$b.remote . && git -C r config branch.$b.merge refs/heads/$(printf %070000d 0); }
# filterX: r, nobody's, has f filtered by x; $T/x the settings that make x a filter noting who ran it in $T/ran.
filterX() { repo && echo "f filter=x" > r/.gitattributes && git -C r add . && git -C r commit -qm 2 && chown -R 65534:65534 r && touch -d @1 r/f &&
  printf '[filter "x"]\n\tclean = id -u > "%s"; cat\n' "$T/ran" > "$T/x"; }
# settingsChanged: x becomes a filter between the tool's two runs of git (held apart by strace at the second's clone).
settingsChanged() { revision $(at) 0 && { ASAN_OPTIONS=detect_leaks=0 strace -qq -e signal=none -o "$T/trace" -e trace=clone \
  -e inject=clone:delay_enter=1000000:when=2 $TOOL --revision=r h.h > /dev/null 2> "$T/stderr" & } && i=0 &&
  until [ "$(grep -c ^clone "$T/trace" 2> /dev/null)" = 2 ] || [ $((i += 1)) = 500 ]; do sleep 0.01; done &&
  cat "$T/x" >> r/.git/config && wait $! && grep -q DELAYED "$T/trace" &&
  unread "its filter or protocol settings changed while it was read" && [ "$(cat "$T/ran")" = 65534 ]; }
# fakeGit: bin/git, first on PATH, does what $T/mode says (hang without one): fail, flood, leave a child behind, or end its output late.
fakeGit() { exec 2> "$T/git" && mkdir bin && PATH=$PWD/bin:$PATH && cat > bin/git << EOF && chmod +x bin/git; }
#!/bin/sh
m=\$(cat "$T/mode" 2> /dev/null) || m=hang; [ \$m = fail ] && { echo "fatal: no"; echo more; } >&2 && exit 1
[ \$m = late ] && exec sleep 1 > /dev/null 2>&1
sleep 60 > /dev/null 2>&1 & echo \$! > "$T/child"; [ \$m = flood ] && exec head -c 67108865 /dev/zero
[ \$m = leave ] && echo fatal: left >&2 && exit 1; wait
EOF
# killedGit: after the hang, git is killed with what it started when the tool stops, it floods, fails or leaves a child; a late exit is not spun on.
killedGit() { revision "" -1 && gone && export PATH=$PWD/bin:$PATH && for s in TERM:15 INT:2 HUP:1; do stop ${s%:*} ${s#*:} || exit 1; done &&
  for m in flood:"git wrote more than 64 MiB" leave:"left$" fail:"no$"; do echo ${m%%:*} > "$T/mode" &&
    $TOOL --revision=. h.h 2> "$T/stderr" > /dev/null && unread "${m#*:}" && gone || exit 1; done && echo late > "$T/mode" &&
  ASAN_OPTIONS=detect_leaks=0 strace -qq -c -o "$T/polls" -e trace=poll $TOOL --revision=. h.h > /dev/null 2>&1 &&
  [ "$(awk '$NF == "poll" { print $4 }' "$T/polls")" -lt 3000 ]; }
# standInRuns: the stand-in git in each mode, and none of its processes left after.
standInRuns() { c=0123456789abcdef0123456789abcdef01234567 && revision $c 1 &&
  for m in late: input: "hang:git did not finish within 10 seconds" "flood:git wrote more than 64 MiB" text:"git cannot be started: [^%]*$" \
    fail:"not a git repository (or any of the parent directories): .git"; do standin ${m%%:*} &&
    $TOOL --revision=. h.h 2> "$T/stderr" > /dev/null < bin/mode && if [ -z "${m#*:}" ]; then revision $c 1
    else unread "${m#*:}" && [ $(wc -l < "$T/stderr") = 1 ]; fi && i=0 &&
    while ps -eo stat=,args= | grep -F "$w" | grep -qv "^Z\|grep"; do [ $((i += 1)) = 100 ] && exit 1; sleep 0.05; done || exit 1; done; }
# endingSignals: each signal ends the tool held by strace before its temporary file has a name (at fchmod), or at the rename.
endingSignals() { ulimit -c 0 && export ASAN_OPTIONS=detect_leaks=0 && chmod 640 s.h &&
  for s in fchmod INT TERM HUP QUIT USR1 USR2 ALRM VTALRM PROF XCPU SYS 32 33 RTMIN; do c=${s%%[A-Z0-9]*}
    { env --default-signal strace -qq -o /dev/null -e inject=${c:-renameat2}:delay_enter=2000000 $TOOL s.h > /dev/null & } &&
    until [ "$(ls -A)" != s.h ] || f=$(ls -l /proc/$(pgrep -P $!)/fd 2> /dev/null | grep "#.*(deleted)") || ! kill -0 $!; do :; done
    if [ $c ]; then only s.h && [ $(stat -Lc %a "/proc/$(pgrep -P $!)/fd/$(echo $f | cut -d" " -f9)") = 600 ] && wait $! && continue; exit 1; fi
    [ $(stat -c %a .s.h.*) = 640 ] && kill -s $s $(pgrep -P $!); wait $!; [ "$(kill -l $?)" = $s ] && only s.h && header s.h s.h || exit 1; done; }
# attack: nobody's evil/stamp.h links to a deleted file of nobody's process, whose "(deleted)" name links to secret.h.
attack() { mkdir -m 755 safe && echo secret > safe/secret.h && chmod 600 safe/secret.h && mkdir evil && chown 65534:65534 evil &&
  { $nobody sh -c 'cd evil; exec 3> f; chmod 666 f; rm f; ln -s /proc/$$/fd/3 stamp.h; ln -s "$0/safe/secret.h" "f (deleted)"
    exec sleep 30' "$PWD" > /dev/null 2>&1 & } && echo $! > "$T/attacker" && while [ ! -L "evil/f (deleted)" ]; do sleep 0.01; done; }
# renamedOnto: another user renames a file onto t/h.h between the tool's looks at h.h in its folder and at t/h.h, then between those and its open.
renamedOnto() { for p in 'newfstatat.AT_FDCWD, "t/h.h"' 'openat.[0-9]+, "h.h"'; do $nobody sh -c "echo a1 > t/h.h; echo a2 > t/a2" &&
  race "$p" "$nobody mv t/a2 t/h.h" t/h.h && [ $(cat "$T/raced") = 1 ] && [ $(cat t/h.h) = a2 ] || exit 1; done; }
# overlapping: another run replaces h.h between the tool's looks at it in its folder and at its path, then before its open, then before its rename.
overlapping() { for p in 'newfstatat.AT_FDCWD, "h.h"' renameat2 'openat.[0-9]+, "h.h"'; do echo old > h.h && race "$p" "$TOOL h.h > /dev/null && note h.h" h.h &&
  [ $(cat "$T/raced") = 0 ] && header h.h h.h && ! same h.h && only h.h x.h || exit 1; done; }
# replacedMidRun: another run replaces f/h.h between the tool's first looks at it and the in-place rewrite's look again.
replacedMidRun() { AS=$nobody && race 'newfstatat.[0-9]+, "h.h"' 'cp f/h.h "$T/was" && $TOOL f/h.h > /dev/null && note f/h.h' f/h.h &&
  [ $(cat "$T/raced") = 0 ] && cmp "$T/old" "$T/was" && header f/h.h f/h.h && same f/h.h && only f x.h; }
# killAtRename: k.h's run is killed between its rename of the header and Wine's server's answer (held 3 seconds by strace).
killAtRename() { echo old > k.h && note k.h && s=$(server) && [ "$s" ] &&
  { strace -p $s -o /dev/null -e trace=rename,renameat,renameat2 -e inject=rename,renameat,renameat2:delay_exit=3000000 2> "$T/strace" & } &&
  t=$! && until [ -s "$T/strace" ]; do :; done && { $TOOL k.h > /dev/null & } && until [ ! -e k.h ] || grep -q endif k.h; do :; done; kill -9 $!; kill $t; }

# The command line. A wrong one says on standard error what was wrong and the right form, one line.
row NoArgument all 2 "$usage" "no header path given$ug" '' 'only && wrong "2 header paths given, where one is written$u" a.h b.h'
row ArgumentsListedLiterally all 2 "$usage$(printf '\n- a%%sb.h\n- \n- -x')" "unknown option -x$named ./-x" '' 'only' 'a%sb.h' '' '-x'
row DashWordsAreNoFiles all 2 "$usage$(printf '\n- -v')" "unknown option -v$named ./-v" '' 'wrong "unknown option -\033$named ./-\033" "-$(printf "\033")" &&
  for a in -help -V "-?" -; do wrong "unknown option $a$named ./$a" "$a" || exit 1; done' -v
# The help's whole text is an example in the guide, which the examples test runs.
row HelpWritesNoFile all 0 "$(printf '\nVentrim <headerFileName>\nWrites ')*" - '' 'only && [ "$($TOOL -h)" = "$($TOOL --help)" ] && only' --help
row HelpSwitchOfWindows windows 0 "$(printf '\nVentrim <headerFileName>\nWrites ')*" - '' \
  '[ "$($TOOL --help | tr -d "\r")" = "$(cat "$T/stdout")" ] && only && wrong "/? goes alone, as in ventrim /?" "/?" h.h' '/?'
row VersionWritesNoFile all 0 "$(printf '\nventrim %s' "$VERSION")" - '' 'only' --version
row HeaderNamedLikeAnOption all 0 "$ok" - '' 'header ./--help ./--help && only --help' ./--help
row RevisionWithAFolderNamedOutsideASCIIAlone all 2 "$usage*" "no header path after --revision=DIR$ug" '' 'only' --revision=ā
row RevisionWithoutAFolderOrHeader all 2 "$usage$(printf '\n- --revision=\n- h.h')" "$needs" '' 'wrong "$needs" --revision h.h &&
  wrong "no header path after --revision=DIR$u" --revision=. && wrong "2 header paths given, where one is written$u" --revision=. a.h b.h &&
  wrong "--revision=DIR comes first, before the header path" h.h --revision=. &&
  wrong "--help goes alone, as in ventrim --help$named ./--help" --revision=. --help' --revision= h.h
# Under Windows an option, a number or a zone is judged by the text the system received: a fullwidth look-alike, which argv's
# ANSI text shows as ASCII, is a name, no digit and no zone (then UTC, Wine's); a folder's name after --revision= may be any.
row LookAlikesAreNoOptionsNumbersOrZones windows 0 "$ok" - 'date +%s > "$T/before"' lookAlikes －－help

# SOURCE_DATE_EPOCH (on Windows in any case): the header depends only on it and the path, in UTC
# whatever TZ says, with the GUID every version gives them; one that holds it already is not touched.
row ReproducibleStampLeftAsItIs all 0 "$ok" - 'e=SOURCE_DATE_EPOCH && [ -z "$W" ] || e=Source_Date_Epoch
  export $e=1700000000 TZ=IST-5:30 && mkdir o && (cd o && $TOOL h.h) > /dev/null && cp o/h.h h.h && touch -d @946684800 h.h && note h.h' \
  'same h.h && [ $(stat -c %Y h.h) = 946684800 ] && header h.h h.h && grep -qx "#define USER_NAME \"\"" "$T/h" &&
  grep -qx "#define COMPILE_TIME_DATE_STR \"Tue Nov 14 22:13:20 2023\"" "$T/h" && grep -q "_INT 0x6553F100" h.h &&
  grep -q "GUID {0xB8,0x1C,0xD6,0xF0,0x91,0x19,0x1D,0xB1}" h.h' h.h
# ... and when it is no time, standard error says so, with the value cut and escaped (standard output shows a control byte as '?').
row SourceDateEpochNotATime all 2 "$(printf '\nSOURCE_DATE_EPOCH="+1\\?" is not a whole number of seconds from 0 to 253402300799')" "SOURCE_DATE_EPOCH=\"+1\\\\011\"$notime" \
  'echo old > h.h && export SOURCE_DATE_EPOCH="$(printf "+1\t")"' '[ $(cat h.h) = old ] && rm h.h &&
  SOURCE_DATE_EPOCH="$(printf "1\n%050d" 0)" wrong "SOURCE_DATE_EPOCH=\"1\\012$(printf %038d 0)...\"$notime" h.h' h.h

# --revision: the commit checked out in DIR's work tree (in any subfolder, a worktree, detached, SHA-256), and whether tracked files
# differ from it (not for a touch or an untracked file), as git reads it from DIR's repository, whatever GIT_DIR says, under the runner's settings.
row RevisionOfACleanTree posix,git 0 "$ok" - 'repo && mkdir r/sub && touch -d @1 r/f && echo new > r/new && note r/.git/index &&
  export GIT_DIR=/nonexistent' 'revision $(at) 0 && same r/.git/index' --revision=r/sub h.h
row RevisionOfAModifiedTree posix,git 0 "$ok" - 'repo && echo b >> r/f' 'revision $(at) 1 && git -C r add f &&
  $TOOL --revision=r h.h > /dev/null && revision $(at) 1 && git -C r commit -qm 2 && $TOOL --revision=r h.h > /dev/null && revision $(at) 0' --revision=r h.h
row RevisionOfAWorktree posix,git 0 "$ok" - 'repo --object-format=sha256 && git -C r worktree add -q --detach ../w &&
  git -C w commit -q --allow-empty -m 2 && echo b >> w/f && at w | grep -Eqx "[0-9a-f]{64}"' \
  'revision $(at w) 1 && $TOOL --revision=r h.h > /dev/null && revision $(at) 0' --revision=w h.h
# Even with SOURCE_DATE_EPOCH the lines depend on the tree alone (an fsmonitor runs once git's status left its token in the index).
row RevisionRunsNoProgramTheRepositoryNames posix,git 0 "$ok" - 'filtersThatWouldRun && export SOURCE_DATE_EPOCH=1700000000' \
  '[ ! -e "$T/ran" ] && revision $(at) 0 && { git -C r diff > /dev/null 2>&1; [ -e "$T/ran" ]; }' --revision=r h.h
# Unknown, with the cause on standard error, where git cannot give it.
row RevisionOutsideAWorkTree posix,git 0 "$ok" "revision of . not read: not a git repository*" 'repo && git clone -q --bare r b && export GIT_DIR=$PWD/r/.git' \
  'revision "" -1 && $TOOL --revision=b h.h 2> "$T/stderr" > /dev/null && unread "this operation must be run in a work tree"' --revision=. h.h
row RevisionWithoutGitOnPath all 0 "$ok" "revision of . not read: git is not found on PATH" 'exec 2> "$T/git" && mkdir no && { [ -n "$W" ] || PATH=$PWD/no; }' \
  'revision "" -1' --revision=. h.h
# As root, git runs as the owner of the repository (its work tree and git folder): its ids and groups, no capabilities, none of root's
# settings or variables; a repository of two owners, or of one without an account, is not read, nor one only root's settings trust.
# Otherwise as the runner, with its variables but those naming another repository, a pager or an account to trust. Always on /dev/null;
# a git on PATH that is no program is passed over.
row RevisionReadAsTheRepositorysOwner posix,git,root 0 "$ok" - 'repo && chown -R 65534:65534 r && spy && mkdir no && touch no/git &&
  export PATH=$PWD/no:$PWD/bin:$PATH && exec < bin/git && AS="setpriv --groups 7"' asOwner --revision=r h.h
# ... nor one whose work tree cannot be examined, whose .git names no folder, or whose owner's account cannot be taken (65,537 groups).
row RevisionOfAnOwnerNotExaminedOrNotTaken posix,git,root,strace,mount 0 "$ok" "revision of r not read: its work tree cannot be examined: Input/output error" \
  'repo && chown -R 65534:65534 r && mkdir w && echo "gitdir: /nonexistent" > w/.git && export ASAN_OPTIONS=detect_leaks=0 &&
  AS="strace -qq -o /dev/null -P $PWD/r -e inject=newfstatat:error=EIO"' 'revision "" -1 && $TOOL --revision=w h.h 2> "$T/stderr" > /dev/null &&
  unread "its .git names no folder that can be examined" && ASAN_OPTIONS=detect_leaks=0 strace -f -qq -o /dev/null -e inject=setgroups:error=EPERM \
  $TOOL --revision=r h.h 2> "$T/stderr" > /dev/null && unread "git cannot be run as $(id -un 65534): Operation not permitted" &&
  seq 1000 66536 | sed "s/.*/g&:x:&:$(id -un 65534)/" > "$T/g" && mount --bind "$T/g" /etc/group && $TOOL --revision=r h.h 2> "$T/stderr" > /dev/null &&
  unread "its owner, user id 65534, has no account git could run as"' --revision=r h.h
row RevisionOwnerNotTakenSaysWhy posix,git,root,strace 0 "$ok" "revision of r not read: git cannot be run as $(id -un 65534): Resource temporarily unavailable" \
  'repo && chown -R 65534:65534 r && export ASAN_OPTIONS=detect_leaks=0 && AS="strace -f -qq -o /dev/null -e inject=setuid:error=EAGAIN"' 'revision "" -1' --revision=r h.h
# All of git's output is read: a filter set after 6,000 other settings is turned off; a change after a 70,000-character upstream counts.
row RevisionOfLongListingsReadWhole posix,git 0 "$ok" - longListings \
  'revision $(at) 1 && [ ! -e "$T/ran" ] && [ $(git -C r config --get-regexp "^filter" | wc -l) = 6001 ]' --revision=r h.h
# The status runs with the settings made for the filters listed before it: a filter configured between the
# two runs (held apart by strace) leaves the revision unread, and ran, if at all, as the repository's owner.
row RevisionSettingsChangedBetweenTheRuns posix,git,root,strace 0 "$ok" - filterX settingsChanged --revision=r h.h
# git is killed with what it started when it takes too long, writes over 64 MiB, has ended (a child left) or the tool is stopped; it may fail.
row RevisionOfAGitThatHangsOrFails posix,strace 0 "$ok" "revision of . not read: git did not finish within 10 seconds" fakeGit killedGit --revision=. h.h
# The runner on Windows, with a stand-in git: a status read (given the runner's variables but GIT_DIR, and PAGER=cat); output that ends
# a moment before git exits; NUL as its input; one that hangs, killed with the child it started; one that floods; fails; no program.
row RevisionOfAStandInGit windows 0 "$ok" - 'standin status' standInRuns --revision=. h.h

# A header is written, stamped afresh, and replaces whatever was there.
row NewHeader posix 0 "$ok" - 'umask 027' 'header new.h new.h && [ $(stat -c %a new.h) = 640 ] && grep -qx "#define USER_NAME \"$(id -un)\"" new.h && only new.h' new.h
# The local zone: TZ where the C runtime reads it as meant (to the second), else (a zone name, hours out of range) the system's, Wine's from TZ.
row StampedAfreshInTheLocalZone all 0 "$ok" - 'date +%s > "$T/before" && $TOOL first.h > /dev/null &&
  TZ=Europe/Berlin $TOOL b.h > /dev/null && TZ=XXX99 $TOOL x.h > /dev/null && export TZ=XYZ-5:17:30' \
  'clock XYZ-5:17:30 t.h && clock Europe/Berlin b.h && clock XXX99 x.h' t.h
# Under Wine (its zone: the TZ it started with) a TZ set for the tool alone is honoured if UTC, GMT or with hours (below 99, no 4th part).
row UTCAndGMTHonouredUnderWine windows 0 "$ok" - 'date +%s > "$T/before"' 'export TZ=Europe/Berlin &&
  for z in UTC GMT XYZ-9:07:30 XXX99@Europe/Berlin EST@Europe/Berlin ESTA@Europe/Berlin XYZ-5:17:30:10@Europe/Berlin; do
  ${TOOL% *} cmd /c "set TZ=${z%@*}&& ${TOOL##* } z.h" > /dev/null && clock ${z#*@} z.h || exit 1; done' first.h
# Without getrandom: /dev/urandom, closed after use (6 descriptors suffice); without it too (an empty file), two runs' GUIDs still differ.
row NoRandomSource posix,mount,strace 0 "$ok" - 'exec 3>&- 4>&- && export ASAN_OPTIONS=detect_leaks=0 && AS="strace -qq -o $T/calls
  -e trace=getrandom,openat -e inject=getrandom:error=ENOSYS" && $AS prlimit --nofile=6 -- $TOOL u.h > /dev/null && header u.h u.h &&
  grep -q "^openat(.*\"/dev/urandom\".* = [0-9]" "$T/calls" && touch "$T/e" && mount --bind "$T/e" /dev/urandom && $AS $TOOL a.h > /dev/null' \
  '[ "$(grep GUID a.h)" != "$(grep GUID b.h)" ]' b.h
# The account name: read from the passwd file where the name services make it the deciding source, whatever
# other lines hold (then the name-service cache's socket is not tried), else asked of them (systemd names uid 0 "root").
row AccountFromThePasswdFile posix,mount,strace 0 "$ok" - '
  accounts "  passwd:files systemd # (a comment)\n#x: files [BOGUS\nhosts: files [Success = return !NOTFOUND=continue unavail=MERGE \
    tryagain=Return] [BOGUS" "#old:x:0:0::/:" "+x:x:0:0::/:" "a:x:10:1::/:" " zed:x:0:0::/:" &&
  export ASAN_OPTIONS=detect_leaks=0 && AS="strace -qq -o $T/calls -e trace=socket"' 'user zed && [ ! -s "$T/calls" ]' h.h
# Else the C library is asked: '#' in a word, an action it cannot read, a NUL byte, an entry over 1 MiB, no entry; it skips non-numeric ids.
row AccountsAsTheCLibraryReadsThem posix,mount 0 "$ok" - 'accounts "passwd: files" "a:x:1:1::/:"' 'user 0 &&
  for a in "#local" "\nhosts: x [BOGUS=return]" "\nhosts: x [NOTFOUND=return" "\nhosts: x [NOTFOUND return]" \
    "\nhosts: x [SUCCESS=RETURX]"; do again 0 "passwd: files$a" "zed:x:0:0::/:" || exit 1; done &&
  again zed "passwd: files" "a\0:x:0:0::/:" "zed:x:0:0::/:" && again zed "passwd: files" "a:x:0:x::/:" "b:x:0x:0::/:" "zed:x:0:0::/:" &&
  again zed "passwd: files [SUCCESS=return]" "zed:x:0:0:$(head -c 1100000 /dev/zero | tr "\0" g):/:"' h.h
row AccountFromAnotherSourceFirst posix,mount,systemd 0 "$ok" - 'accounts "passwd: systemd files" "zed:x:0:0::/:"' 'user root' h.h
row LongestNameNearPathMaxGetsATemporaryFile posix 0 "$ok" - 'mkdir -p "$(dirname "$1")" && touch "$1" && note "$1"' '! same "$1"' "$(long 4090)"
row PathPastMaxPathUnderWine windows 0 "$ok" - 'mkdir -p "$(dirname "$1")" && echo old > "$1"' 'header "$1" "$1"' "$(dirname "$(long 700)")/h.h"
# A signal that ends the process while the temporary file has a name (held there by strace) leaves a
# whole header and none. 32 and 33: the C library's own. Before, it has no name, and mode 600.
row EndingSignalsLeaveNoTemporaryFile posix,strace 0 "$ok" - '' endingSignals s.h
# What a SIGKILL leaves at the temporary file's name the next run removes, but not a live run's (locked), nor what is no regular file.
row KilledRunsTemporaryRemovedByTheNext posix 0 "$ok" - 'echo old > h.h && echo killed > .h.h.ventrim.tmp' 'only h.h &&
  echo live > .h.h.ventrim.tmp && flock .h.h.ventrim.tmp $TOOL h.h > /dev/null && [ $(cat .h.h.ventrim.tmp) = live ] &&
  rm .h.h.ventrim.tmp && mkfifo .h.h.ventrim.tmp && timeout -s KILL 10 $TOOL h.h > /dev/null && [ -p .h.h.ventrim.tmp ] && header h.h h.h' h.h
row OwnerAndModeKept posix,root 0 "$ok" - 'echo old > kept.h && chown 65534:65534 kept.h && chmod 2604 kept.h' \
  'header kept.h kept.h && [ $(stat -c %u:%g:%a kept.h) = 65534:65534:2604 ]' kept.h
# ACLs as a plain write leaves them: a replaced header keeps its own (71 entries), a new one gets the folder's default.
row AccessControlListsAsAPlainWriteLeavesThem posix 0 "$ok" - 'echo old > a.h && echo old > b.h && chmod 640 b.h &&
  setfacl -m "$(seq -s, -f u:%g:rw- 1000 1070)" a.h && setfacl -d -m u:65534:rw- . && getfacl -c a.h b.h > "$T/acl"' '$TOOL b.h > /dev/null &&
  [ "$(getfacl -c a.h b.h)" = "$(cat "$T/acl")" ] && umask 077 && $TOOL c.h > /dev/null && touch plain.h &&
  [ "$(getfacl -c c.h)" = "$(getfacl -c plain.h)" ] && header a.h a.h' a.h
# Where the runner may not give a new file the owner and group (its own group it may), a plain write's way.
row OwnerNotKeptRewrittenInPlace posix,root 0 "$ok" - 'mkdir -m 777 o && touch g.h o/h.h && chgrp 100 g.h && note g.h &&
  chmod 2666 g.h && chown 65534:100 o/h.h && ls -i o > "$T/o" && AS="setpriv --reuid=65534 --regid=65534 --groups=100" &&
  $AS $TOOL o/h.h > /dev/null' '[ "$(ls -i o)" != "$(cat "$T/o")" ] && [ "$(stat -c %u:%g:%a o/h.h g.h)" = "65534:100:644
0:100:2666" ] && header o/h.h o/h.h && header g.h g.h && same g.h' g.h

# Where two names cannot be exchanged (as strace makes it seem) the header comes by a rename. Links: the file a link names is replaced, the link kept.
row RenameWhereNamesCannotBeExchanged posix,strace 0 "$ok" - 'echo old > h.h && note h.h &&
  export ASAN_OPTIONS=detect_leaks=0 && AS="strace -qq -o /dev/null -e inject=renameat2:error=EINVAL:when=1"' 'header h.h h.h && ! same h.h && only h.h' h.h
row AbsoluteAndRelativeLinks posix 0 "$ok" - 'mkdir real sub && ln -s "$PWD/real/stamp.h" abs.h && echo old > sub/stamp.h &&
  ln -s stamp.h sub/rel.h' '$TOOL sub/rel.h > /dev/null && [ -L abs.h ] && [ -L sub/rel.h ] && header real/stamp.h abs.h &&
  header sub/stamp.h sub/rel.h && cd real && only stamp.h && cd ../sub && only rel.h stamp.h' abs.h
row LinkToAHeaderUnderWine windows 0 "$ok" - 'mkdir sub && echo old > sub/stamp.h && ln -s stamp.h sub/rel.h' \
  '[ -L sub/rel.h ] && header sub/stamp.h sub/rel.h && cd sub && only rel.h stamp.h' sub/rel.h
row LinkLoop posix 1 "${open}loop.h " "loop.h: Too many levels of symbolic links" 'ln -s loop.h loop.h' '[ -L loop.h ]' loop.h
row UnreadableLink posix,strace 1 "${open}l.h " "l.h: Input/output error" 'echo old > t.h && ln -s t.h l.h && export ASAN_OPTIONS=detect_leaks=0 &&
  AS="strace -qq -o /dev/null -e inject=readlinkat:error=EIO"' '[ $(cat t.h) = old ]' l.h
# As the kernel follows them: 40 links (41 is a loop), a link text over 2 KiB that passes PATH_MAX joined to its folder.
row LinksAsTheKernelFollowsThem posix 0 "$ok" - 'echo old > t.h && ln -s t.h 1 && for i in $(seq 40); do ln -s $i $((i + 1)); done &&
  d=$(dirname "$(long 3000)") && mkdir -p $d && ln -s "$(printf ./%.0s $(seq 1100))$(echo $d | sed "s|[^/]*|..|g")/t.h" $d/x.h' \
  'header t.h 40 && ! $TOOL 41 > /dev/null && d=$(dirname "$(long 3000)") && $TOOL $d/x.h > /dev/null && header t.h $d/x.h' 40
row StandardOutputAsAPipe posix 0 '
/\**/dev/stdout *#endif' - '' 'only' /dev/stdout
row StandardOutputThroughProcWithoutStandardInput posix 0 '
/\**/proc/self/fd/1 *#endif' - 'exec 0<&-' 'only' /proc/self/fd/1
row StandardOutputToALongPath posix 0 - - 'mkdir -p "$T/$(dirname "$(long 600)")" && exec > "$T/$(long 600)"' 'header "$T/$(long 600)" /dev/stdout' /dev/stdout
# The tool inherits fd 3 of a deleted file: no file named as /proc names it is made.
row LinkToADeletedFile posix 0 "$ok" - 'exec 3> f && rm f && ln -s /proc/self/fd/3 stamp.h' 'only stamp.h' stamp.h
row RootRunInAHostileFolderHandsNoFileOver posix,root 0 "$ok" - attack \
  'kill $(cat "$T/attacker") && [ $(stat -c %u:%a safe/secret.h) = 0:600 ] && [ $(cat safe/secret.h) = secret ]' evil/stamp.h
# Races made certain: a file another user renames onto the header's name in a sticky folder between the
# tool's looks is never written; a run that replaces the header meanwhile is not rewritten in place.
row RenamedOntoInAStickyFolderMidRun posix,root,strace 0 "$ok" - 'mkdir -m 1777 t' renamedOnto x.h
row OverlappingRunsLeaveAWholeHeader posix,strace 0 "$ok" - '' overlapping x.h
row FolderPutAtTheNameMidExchange posix,strace 0 "$ok" - '' 'echo old > h.h && race renameat2 "rm h.h && mkdir h.h" h.h && [ -d h.h ] && only h.h x.h' x.h
# A runner who may not write the folder rewrites the header in place; the file another run put there
# meanwhile gets the header, the one it replaced (linked as $T/old) is left as it was then.
row ReplacedMidRunNotRewrittenInPlace posix,root,strace 0 "$ok" - 'mkdir -m 755 f && echo old > f/h.h && chmod 666 f/h.h && ln f/h.h "$T/old"' replacedMidRun x.h

# Paths that cannot be opened are reported and left alone; control bytes in a path are printed escaped, as in the header's comment.
row MissingFolderPrintedLiterally all 1 "${open}a%sb/x.h " "a%sb/x.h: No such file or directory" '' 'only &&
  { $TOOL "$(printf "a\nb\033/x.h")" > "$T/o" 2> "$T/e"; [ $? = 1 ]; } && tr -d "\r" < "$T/o" | grep -qxF "${open#?}a\012b\033/x.h " &&
  [ $(wc -l < "$T/e") = 1 ] && grep -q "^ventrim: a.012b.033/x.h: " "$T/e"' a%sb/x.h
row AFolder all 1 "${open}sub " "sub: Is a directory" 'mkdir sub' 'cd sub && only' sub
# In one log the cause follows the report it explains.
row CauseAfterTheReportInOneLog all 1 "${open}no/x.h " "no/x.h: No such file or directory" '' '$TOOL no/x.h 2>&1 | tr -d "\r" > "$T/log"
  [ $(wc -l < "$T/log") = 3 ] && [ "$(sed 2q "$T/log")" = "$banner${open}no/x.h " ] && sed -n 3p "$T/log" | grep -q "^ventrim: no/x.h: "' no/x.h
# Causes of the tool's own, where the system's would mislead.
row EmptyPath all 1 "${open} " ": an empty path names no file: give the header's path" '' 'only' ''
row PathEndingInASeparator all 1 "${open}h.h/ " "h.h/: the path ends in '/', which names a folder: give the header's file name" 'touch h.h' \
  '[ ! -s h.h ] && only h.h' h.h/
row ReadOnlyHeader all,root 1 "${open}ro.h " "ro.h: Permission denied" 'echo keep > ro.h && chmod 444 ro.h && { [ -n "$W" ] || AS=$nobody; }' \
  '[ $(cat ro.h) = keep ] && only ro.h' ro.h
row TooManyOpenFiles posix 1 "${open}h.h " "h.h: Too many open files" 'echo old > h.h && exec 3>&- 4>&- && AS="prlimit --nofile=5 --"' \
  '[ $(cat h.h) = old ] && only h.h' h.h
row FileInAFolderThatTakesNoNewFile posix,root 1 "${write}/proc/version " \
  "/proc/version: refused: its folder takes no new file, which replacing the file needs" '' '' /proc/version
row LockedFolder posix,root 1 "${open}locked/x.h " "locked/x.h: Permission denied" 'mkdir -m 555 locked && AS=$nobody' 'cd locked && only' locked/x.h

# Where the folder takes no new entry a writable header is rewritten in place (a longer one keeps no tail); a failed write leaves it.
row WritableHeaderInALockedFolder all,root 0 "$ok" - "$locked"' && seq 1000 > fixed/h.h && note fixed/h.h' \
  'header fixed/h.h fixed/h.h && same fixed/h.h && cd fixed && only h.h' fixed/h.h
# A lock another process holds on it (a reader's shared one too) is waited for 2 seconds at most.
row LockWaitedForTwoSecondsAtMost posix,root 1 "${write}fixed/h.h " "fixed/h.h: refused: another process kept the file locked for 2 seconds" \
  "$locked"' && hold 5' 'kill $(cat "$T/holder") && [ $(cat fixed/h.h) = old ] && hold 0.5 && $TOOL fixed/h.h > /dev/null && header fixed/h.h fixed/h.h' fixed/h.h
# A folder that takes new files but refuses renames and deletions (under Wine, Linux's append-only one).
row AppendOnlyFolder all,root 0 "$ok" - 'mkdir a && echo old > a/h.h && note a/h.h && chattr +a a' \
  'same a/h.h && header a/h.h a/h.h && $TOOL a/n.h > /dev/null && header a/n.h a/n.h && { [ -n "$W" ] || { cd a && only h.h n.h; }; }' a/h.h
row AnotherUsersHeaderInAStickyFolder posix,root 0 "$ok" - 'mkdir -m 1777 t && seq 1000 > t/h.h && chmod 666 t/h.h && note t/h.h && AS=$nobody' \
  'header t/h.h t/h.h && same t/h.h && [ $(stat -c %u t/h.h) = 0 ] && cd t && only h.h' t/h.h
# A header or pipe of neither the runner nor the folder's owner is refused, as protected_regular and protected_fifos do (not the owner's pipe).
row OthersHeaderInAStickyFolder posix,root 1 "${open}t/h.h " "t/h.h: $sticky" 'mkdir -m 1777 t && echo old > t/h.h && chown 65534 t/h.h' '[ $(cat t/h.h) = old ]' t/h.h
row OthersPipeInAGroupStickyFolder posix,root 1 "${open}t/p " "t/p: $sticky" 'mkdir -m 1770 t && mkfifo t/p && chown 65534 t/p && exec 3<> t/p' \
  '[ -p t/p ] && chown 0 t/p && exec 3<> t/p && $TOOL t/p > /dev/null && timeout 5 head -n $(lines) <&3 > "$T/p" && header "$T/p" t/p' t/p
row HeaderMountedOnItsOwn posix,root,mount 0 "$ok" - 'echo old > h.h && note h.h && mount --bind h.h h.h' 'header h.h h.h && same h.h && only h.h && umount h.h' h.h
row FileSystemWithoutAcls posix,mount 0 "$ok" - 'mkdir r && mount -t ramfs ramfs r && echo old > r/h.h && note r/h.h' 'header r/h.h r/h.h && ! same r/h.h' r/h.h
row FailedWriteInPlaceKeepsTheOldHeader all,root 1 "${write}fixed/h.h " "fixed/h.h: File too large" "$locked"' && AS="prlimit --fsize=100"' \
  '[ $(cat fixed/h.h) = old ] && { [ -n "$W" ] || { seq 1000 > fixed/h.h && { prlimit --fsize=100 $TOOL fixed/h.h > /dev/null 2>&1; [ $? = 1 ]; } &&
  [ "$(cat fixed/h.h)" = "$(seq 1000)" ]; }; }' fixed/h.h

# Any other failure: "Can't write", the old header as it was, no temporary file.
row SizeLimit all 1 "${write}h.h " "h.h: File too large" 'echo old > h.h && ulimit -f 0' '[ $(cat h.h) = old ] && only h.h' h.h
# A failed rename; no space for the temporary file; every temporary name taken: nothing is written but the report.
row FailedRename posix,strace 1 "${write}h.h " "h.h: Input/output error" 'echo old > h.h && export ASAN_OPTIONS=detect_leaks=0 &&
  AS="strace -qq -o /dev/null -e inject=renameat2,renameat:error=EIO"' '[ $(cat h.h) = old ] && only h.h &&
  { ASAN_OPTIONS=detect_leaks=0 strace -qq -o /dev/null -e inject=write:error=ENOSPC:when=2 $TOOL h.h > "$T/e" 2>&1; [ $? = 1 ]; } &&
  grep -q "write: h.h" "$T/e" && grep -qx "ventrim: h.h: No space left on device" "$T/e" && [ $(cat h.h) = old ] && only h.h' h.h
# An ACL that cannot be read (other than on a file system without them) fails the run.
row UnreadableAccessControlList posix,strace 1 "${write}h.h " "h.h: Input/output error" 'echo old > h.h && export ASAN_OPTIONS=detect_leaks=0 &&
  AS="strace -qq -o /dev/null -e inject=fgetxattr:error=EIO"' '[ $(cat h.h) = old ] && only h.h' h.h
row EveryTemporaryNameTaken posix,strace 1 "${write}h.h " "h.h: File exists" 'export ASAN_OPTIONS=detect_leaks=0 && echo old > h.h &&
  AS="strace -qq -o $T/t -e trace=openat,linkat -e inject=linkat:error=EEXIST" && $AS $TOOL h.h > /dev/null && echo old > h.h &&
  AS="$AS -e inject=openat:error=EEXIST:when=$(grep ^openat "$T/t" | grep -n O_EXCL | sed "s/:.*//;q")+"' '[ $(cat h.h) = old ] && only h.h' h.h
# As root, a device node of the test's own: never the machine's /dev/full.
row FullDevice all 1 "${write}full " "full: No space left on device" 'if [ $(id -u) = 0 ]; then mknod full c 1 7; else ln -s /dev/full full; fi' '' full
# A temporary file the disk has no room for: "Can't write", as for a write that fails.
row ServerFindsNoSpaceUnderWine windows,root,strace 1 "${write}new.h " "new.h: No space left on device" 'serverFull new.h' \
  'kill $(cat "$T/strace") && grep -q "(INJECTED)$" "$T/full" && only' new.h
# Devices are opened once: a one-instance pipe server gets the header; a console the tool lacks is not.
row NulDevice windows 0 "$ok" - '' 'only' NUL
row PipeServerWithOneInstance windows 0 "$ok" - "$pipe" \
  'until grep -q endif "$T/piped" || [ $((i += 1)) = 50 ]; do sleep 0.1; done; header "$T/piped" "$1"' '\\.\pipe\ventrim-'$$
row PipeWithoutServer windows 1 "${open}*pipe*nobody-$$ " '\\\\.\\pipe\\nobody-'$$': File not found' '' 'only' '\\.\pipe\nobody-'$$
row ConsoleNotOpened windows 1 "${open}CON " "CON: Invalid handle" '! $TOOL CONOUT\$ > "$T/out"' 'grep -q "open: CONOUT" "$T/out" && only' CON

# The file is the one the argument names, though the ANSI text printed and written into the header shows a look-alike; so is the
# GUID of a reproducible stamp (the one ā.h gets on Linux). A replaced header keeps the system attribute.
row NameOutsideTheCodePage windows 0 "$ok" - 'export SOURCE_DATE_EPOCH=1700000000' \
  'only ā.h && header ā.h a.h && grep -q "GUID {0xB6,0x55,0xFA,0xC1,0x9D,0x4E,0x47,0x89}" ā.h' ā.h
row FullwidthSolidusStaysInTheFolder windows 0 "$ok" - 'mkdir sub && cd sub' 'only sub && cd sub && only ..／fw.h' ..／fw.h
# A run killed at the rename (Wine's server, which makes it, held there by strace) leaves a whole header.
row KilledAtTheRenameLeavesAWholeHeader windows,strace 0 "$ok" - killAtRename 'header k.h k.h && ! same k.h && only k.h ok.h' ok.h
# What a run killed while its temporary file had no mark for removal left there, the next run removes;
# one a process holds open (sharing all, as a live run does) it passes over for a name of its own.
row KilledRunsTemporaryRemovedUnderWine windows 0 "$ok" - 'echo old > h.h && echo killed > .h.h.ventrim.tmp' 'only h.h &&
  echo live > .h.h.ventrim.tmp && note h.h && { ${TOOL%ventrim.exe*}hold.exe .h.h.ventrim.tmp 2000 all > "$T/held" & } &&
  until [ -s "$T/held" ]; do sleep 0.05; done && $TOOL h.h > /dev/null && ! same h.h && [ $(cat .h.h.ventrim.tmp) = live ] && wait && only .h.h.ventrim.tmp h.h' h.h
# Only the bits Wine's ACL shows (the owner's and others' read and write) tell a mode from a new file's.
row ModeKeptUnderWine windows 0 "$ok" - 'echo old > h.h && chmod 640 h.h && umask 022 && echo old > g.h && chmod 664 g.h' \
  '[ $(stat -c %a h.h) = 640 ] && header h.h h.h && $TOOL g.h > /dev/null && [ $(stat -c %a g.h) = 644 ]' h.h
row SystemAttributeKept windows 0 "$ok" - 'echo old > h.h && ${TOOL% *} attrib +s h.h' '${TOOL% *} attrib h.h | cut -c1-12 | grep -q S && header h.h h.h' h.h

# A holder that does not share writing (a compiler, a virus scanner) is waited for, briefly; one that shares
# writing but not deletion (an editor) blocks only the replacement: the header is rewritten in place at once.
row HeldBrieflyByAnotherProcess windows 0 "$ok" - "HOLD=800 && $held" 'header h.h h.h && only h.h' h.h
row HeldLongByAnotherProcess windows 1 "${open}h.h " "h.h: Sharing violation" "HOLD=4000 && $held" '[ $(cat h.h) = old ] && only h.h' h.h
# i686: a header over 4 GiB whose rewrite in place fails keeps its size.
row HugeHeaderKeptWhenTheRewriteFails windows 1 "${write}h.h " "h.h: General failure" "HOLD='3000 shared' &&
  truncate -s 4294967396 h.h && ${held#echo old > h.h && } && ulimit -f 0" '[ $(stat -c %s h.h) = 4294967396 ] && only h.h' h.h
# A compile that holds it for a moment when the rename comes: the rename is tried again, the header replaced.
row HeldWhenTheRenameComes windows 0 "$ok" - "HOLD=temp && $held" 'header h.h h.h && ! same h.h && only h.h' h.h
row HeldSharingWritingByAnotherProcess windows 0 "$ok" - "HOLD='1800 shared' && $held" 'header h.h h.h && same h.h && only h.h && ! grep -q released "$T/held"' h.h
# One killed while that rename waits (it is tried again for half a second) leaves no temporary file.
row KilledWhileTheRenameWaitsLeavesNone windows 0 "$ok" - "HOLD='4000 shared' && $held" '{ $TOOL h.h > /dev/null & } && i=0 &&
  until ls -A | grep -q "tmp$"; do [ $((i += 1)) = 1000 ] && exit 1; sleep 0.01; done && sleep 0.2 && kill -9 $! && i=0 &&
  while ls -A | grep -q "tmp$"; do [ $((i += 1)) = 100 ] && exit 1; sleep 0.02; done; wait' ok.h

# Standard output and error are reports: the header is written without them (an unread revision's cause is written after git ran).
row StandardOutputWithoutReader posix,git 0 - - 'mkfifo "$T/p" && exec 3<> "$T/p" > "$T/p" 3<&-' 'header h.h h.h &&
  head -c 512 /dev/zero > "$T/out" && (ulimit -f 1 && exec $TOOL g.h >> "$T/out") && header g.h g.h && [ $(stat -c %s "$T/out") = 512 ] &&
  (exec 3<> "$T/p" 2> "$T/p" 3<&- && exec $TOOL --revision=. r.h > /dev/null) && revision "" -1 r.h' h.h

fail "no such row"
