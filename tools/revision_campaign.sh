#!/bin/sh
# A hostile campaign against --revision, run as root: a repository that user 65534 owns, root trusting
# every repository in its own git settings. The owner flips its settings between a clean and an evil
# version (a filter and an fsmonitor that log who runs them) while the tool runs RUNS times; then pads
# the settings before a filter and sets an upstream of 70,000 characters before a change. Prints the
# revisions read and unread, the causes, and who ran the owner's programs; exits non-zero if root did.
#   tools/revision_campaign.sh TOOL [RUNS]   (default 160)
[ "$(id -u)" = 0 ] || { echo "revision_campaign: run it as root" >&2; exit 2; }
tool=$(realpath "$1") runs=${2:-160}
S=$(mktemp -d "${TMPDIR:-/tmp}/ventrim-campaign-XXXXXX") && chmod 755 "$S" && cd "$S" || exit 1
trap 'kill $flipper 2> /dev/null; cd /; rm -rf "$S"' EXIT
export HOME=$S GIT_CONFIG_NOSYSTEM=1 GIT_CONFIG_GLOBAL=$S/gitconfig GIT_AUTHOR_NAME=a GIT_AUTHOR_EMAIL=a@b \
  GIT_COMMITTER_NAME=a GIT_COMMITTER_EMAIL=a@b
git config --global safe.directory '*'
: > log && chmod 666 log
git init -q r && echo a > r/f && echo "f filter=evil" > r/.gitattributes && git -C r add . && git -C r commit -qm 1
cp r/.git/config clean
evil="[filter \"evil\"]\n\tclean = id -u >> $S/log; cat\n\tsmudge = id -u >> $S/log; cat\n"
{ cat clean && printf "$evil[core]\n\tfsmonitor = id -u >> $S/log; true\n"; } > evil
{ cat clean && echo '[filter "pad"]' && seq -f "k%g = 1" 6000 && printf "$evil"; } > padded
chown -R 65534:65534 r clean evil padded
owner="setpriv --reuid=65534 --regid=65534 --clear-groups"
$owner sh -c 'while :; do for c in evil clean; do cp $c r/.git/new && mv r/.git/new r/.git/config && touch -d @1 r/f; done; done' &
flipper=$!
read=0 i=0
while [ $i -lt "$runs" ]; do
  i=$((i + 1)) && "$tool" --revision=r h.h > /dev/null 2>> causes && ! grep -q 'REVISION ""' h.h && read=$((read + 1))
done
kill $flipper
echo "flipped settings: $runs runs, $read read, $((runs - read)) unread"
sort causes | uniq -c
: > causes
$owner sh -c 'cp padded r/.git/config && b=$(git -C r symbolic-ref --short HEAD) && git -C r config branch.$b.remote . &&
  git -C r config branch.$b.merge refs/heads/$(printf %070000d 0) && echo b >> r/f'
"$tool" --revision=r h.h > /dev/null 2>> causes
echo "padded settings, long upstream, a change: CODE_REVISION_MODIFIED $(sed -n 's/.*MODIFIED //p' h.h) $(cat causes)"
echo "the owner's programs ran $(wc -l < log) times: as root $(grep -c '^0$' log), as the owner $(grep -c '^65534$' log)"
! grep -q '^0$' log
