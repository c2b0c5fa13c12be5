#!/usr/bin/env bash
# Runs both fuzz targets for a bounded time each and fails on any finding
# (crash, leak, sanitizer report, timeout, memory blow-up).
#
#   fuzz/run.sh BUILD_DIR [SECONDS] [extra libFuzzer flags...]
#
# BUILD_DIR is a build configured with -DDATTOOL_FUZZ=ON. The corpora grow
# in BUILD_DIR/corpus/<target>; a finding is written to BUILD_DIR/findings/.
# Seeds: every archive in tests/data/ and archives "c" makes of a few sample
# trees.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
build=$(cd "$1" && pwd)
seconds=${2:-60}
shift $(( $# > 1 ? 2 : 1 ))

# The targets make and delete files for every input; a memory file system
# keeps that fast where the disk is slow to reuse freed inodes.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

seeds="$build/seeds"
rm -rf "$seeds"
mkdir -p "$seeds/read" "$seeds/round_trip" "$build/findings"
find "$repo/tests/data" -name '*.dat' -exec cp {} "$seeds/read/" \;

# Archives of sample trees, made by the tool itself.
trees=$(mktemp -d)
trap 'rm -rf "$trees"' EXIT
cp -R "$repo/sample/tree" "$trees/tree"
mkdir -p "$trees/two/empty" "$trees/two/deep/er/est"
printf 'abc' >"$trees/two/deep/a.txt"
printf '' >"$trees/two/deep/er/zero.bin"
printf 'plain' >"$trees/two/deep/er/est/x.TEX"
(
  cd "$trees"
  "$build/dattool" c "$seeds/read/sample-tree.dat" tree >/dev/null
  "$build/dattool" c "$seeds/read/two-tops.dat" tree two >/dev/null
  "$build/dattool" c "$seeds/read/empty-dir.dat" two/empty >/dev/null
)
# The round trip takes any bytes; a few of different lengths start it off.
for n in 16 64 256 1024; do head -c "$n" /dev/urandom >"$seeds/round_trip/random-$n"; done

status=0
for target in read round_trip; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  echo "== fuzzing ${target}_fuzz for ${seconds}s"
  # -timeout: one input taking 10 s is a hang. -rss_limit_mb: a blow-up.
  if ! "$build/fuzz/${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/findings/${target}-" "$@" \
      "$corpus" "$seeds/$target" 2>"$build/fuzz-$target.log"; then
    status=1
  fi
  # Keep the closing statistics and any report in the run's output.
  grep -E '^(stat::|Done|#[0-9]+ *DONE)' "$build/fuzz-$target.log" || true
  if grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error:|SUMMARY:' \
      "$build/fuzz-$target.log"; then
    status=1
  fi
  if [ "$status" -ne 0 ]; then
    echo "${target}_fuzz found a problem:"
    tail -n 60 "$build/fuzz-$target.log"
    break
  fi
done
exit "$status"
