#!/bin/sh
# A long random campaign of the link stamp's differential test: RUNS runs of
# COUNT projects each, seeds SEED, SEED+1, ...; prints each run's figures and
# what departed, and exits non-zero if anything did.
#   tools/stamp_campaign.sh [SEED] [RUNS] [COUNT] [WORK_DIR]   (default: the time, 10, 60, build/campaign)
root=$(cd "$(dirname "$0")/.." && pwd)
seed=${1:-$(date +%s)} runs=${2:-10} count=${3:-60} work=${4:-$root/build/campaign}
mkdir -p "$work" && work=$(cd "$work" && pwd) || exit 1
# The generators at hand, as the ctest run draws them.
generators="Unix Makefiles"
command -v ninja >/dev/null && generators="$generators;Ninja;Ninja Multi-Config"
status=0
i=0
while [ "$i" -lt "$runs" ]; do
  echo "seed $((seed + i)):"
  out=$(cmake -DSEED=$((seed + i)) -DCOUNT="$count" -DWORK_DIR="$work" -DVENTRIM_SOURCE_DIR="$root" -DGENERATORS="$generators" \
    -P "$root/tests/stamp_diff_test.cmake" 2>&1) || status=1
  printf '%s\n' "$out" | grep -v '^\s*$'
  i=$((i + 1))
done
exit $status
