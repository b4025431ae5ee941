#!/usr/bin/env bash
# Batch benchmark: TILES tiles of POINTS points against one .flt, two at a
# time, run by the manual's xargs line and by morvane-batch -j 2 (every output
# must be the same, byte for byte), then morvane-batch again with nothing
# left to do, and morvane-batch's own peak resident memory (its tiles' not
# counted). Median wall times of K rounds taken in turns. Exits non-zero only
# when a run fails or an output differs; no timing is judged by the status.
#
#   bench/batch.sh [--tiles T] [--points N] [--repeat K] [--dir D] [--build B] [--keep] [--quick]
#   (defaults: 200 tiles of 100000 points, 3 rounds, /tmp/morvane-batch-bench, build-bench;
#   --quick: 20 tiles of 20000 points, 1 round)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
TILES=200 POINTS=100000 REPEAT=3 DIR=/tmp/morvane-batch-bench BUILD=$ROOT/build-bench KEEP=0
while [ $# -gt 0 ]; do
  case $1 in
    --tiles) TILES=$2; shift ;;
    --points) POINTS=$2; shift ;;
    --repeat) REPEAT=$2; shift ;;
    --dir) DIR=$2; shift ;;
    --build) BUILD=$2; shift ;;
    --keep) KEEP=1 ;;
    --quick) TILES=20 POINTS=20000 REPEAT=1 ;;
    *) sed -n '2,13p' "$0"; exit 2 ;;
  esac
  shift
done
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
die() { echo "batch.sh: $*" >&2; exit 1; }

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" -j2 --target Morvane morvane-batch morvane-sample >/dev/null || die "build failed"
export PATH="$BUILD:$PATH"  # the manual's line runs Morvane from the PATH

# The survey: one sample tile, linked under TILES names in ten folders (the
# tiles are equal; every run reads them from the page cache alike).
STAMP="$TILES $POINTS"
if [ "$(cat "$DIR/params" 2>/dev/null)" != "$STAMP" ]; then
  echo "generating $TILES tiles of $POINTS points in $DIR ..."
  rm -rf "$DIR" && mkdir -p "$DIR"
  "$BUILD/morvane-sample" --dir "$DIR/sample" --points "$POINTS" >/dev/null || die "morvane-sample failed"
  ln -s sample/terrain.flt "$DIR/dem.flt" && ln -s sample/terrain.hdr "$DIR/dem.hdr"
  for ((i = 0; i < TILES; i++)); do
    mkdir -p "$DIR/tiles/d$((i % 10))"
    ln "$DIR/sample/points.las" "$DIR/tiles/d$((i % 10))/tile_$i.las"
  done
  echo "$STAMP" >"$DIR/params"
fi
cleanup() {
  rm -rf "$DIR"/out "$DIR"/out-*
  if [ "$KEEP" = 0 ]; then rm -rf "$DIR"; fi
}
trap cleanup EXIT
cd "$DIR"
cat sample/* tiles/d0/tile_0.las >/dev/null  # the page cache warm

XARGS_LINE=$(grep -m1 -- 'xargs -0 -P' "$ROOT/man/Morvane.md" | sed -e 's/^ *//' -e 's/-P "$(nproc)"/-P 2/')
[ -n "$XARGS_LINE" ] || die "man/Morvane.md has no xargs line"
xargs_run() { sh -c "$XARGS_LINE"; }
batch_run() { morvane-batch -q -j 2 dem.flt tiles out-batch 2 30; }

# Outputs first: morvane-batch's must be the xargs line's.
rm -rf out && xargs_run || die "the xargs line failed"
rm -rf out-batch && batch_run || die "morvane-batch failed"
n=0
while IFS= read -r -d '' f; do
  rel=${f#out/}
  cmp -s "$f" "out-batch/$rel" || die "MISMATCH: out-batch/$rel differs from the xargs line's"
  n=$((n + 1))
done < <(find out -name '*.las' -print0)
[ "$n" = "$TILES" ] || die "the xargs line left $n outputs of $TILES"
echo "outputs identical: $n tiles"

seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null || die "$* failed"; t1=$(date +%s.%N); awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
XARGS=() BATCH=() RERUN=()
for ((k = 0; k < REPEAT; k++)); do
  rm -rf out
  XARGS+=("$(seconds xargs_run)")
  rm -rf out-batch
  BATCH+=("$(seconds batch_run)")
  RERUN+=("$(seconds batch_run)")
done

# morvane-batch's own high-water mark, read from /proc while it runs.
rm -rf out-batch
morvane-batch -q -j 2 dem.flt tiles out-batch 2 30 &
pid=$! hwm=0
while kill -0 "$pid" 2>/dev/null; do
  h=$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
  [ -n "$h" ] && [ "$h" -gt "$hwm" ] && hwm=$h
  sleep 0.02
done
wait "$pid" || die "morvane-batch failed"

x=$(median "${XARGS[@]}") b=$(median "${BATCH[@]}") r=$(median "${RERUN[@]}")
printf '\n%-48s %10s %10s   %s\n' "$TILES tiles x $POINTS points, 2 at a time" "median s" "x xargs" "target"
printf '%-48s %10.3f %10.2f\n' "the manual's xargs line (-P 2)" "$x" 1
printf '%-48s %10.3f %10.2f   <= 1.1 x\n' "morvane-batch -j 2" "$b" "$(awk -v a="$b" -v b="$x" 'BEGIN { print a / b }')"
printf '%-48s %10.3f %10s   <= 0.5 s\n' "morvane-batch again, nothing to do" "$r" ""
printf '%-48s %10s %10s   <= 16384 KiB\n' "morvane-batch peak resident memory (KiB)" "$hwm" ""
