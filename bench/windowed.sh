#!/usr/bin/env bash
# Large-DEM benchmark: one 1 km x 1 km tile against its own 1,000 x 1,000
# crop, against a 100,000 x 100,000-cell .flt (40 GB, sparse), an 8,000 x
# 8,000-cell .flt and a 20,000 x 20,000-cell .asc; the tile with header
# bounds covering a quarter of its points, all zero, elsewhere in the big
# DEM, or every grid; the tile and one stray point at the far corner of the
# big and of the 8,000^2 DEM; and a 300,000-point strip along the big DEM's
# diagonal. Every output must equal the crop run's byte for byte (the
# strip's: its run against one cell over the same extent); times and peak
# memory are reported against the crop run of the same session. Exits
# non-zero only when a run fails or an output differs.
#
#   bench/windowed.sh [--points N] [--repeat K] [--dir D] [--build B] [--no-asc] [--keep] [--quick]
#   (defaults: 10000000 points, 5 runs, /tmp/morvane-windowed, build-bench; --quick: 200000
#   points, 1 run, no .asc)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
POINTS=10000000 REPEAT=5 DIR=/tmp/morvane-windowed BUILD=$ROOT/build-bench ASC=1 KEEP=0
while [ $# -gt 0 ]; do
  case $1 in
    --points) POINTS=$2; shift ;;
    --repeat) REPEAT=$2; shift ;;
    --dir) DIR=$2; shift ;;
    --build) BUILD=$2; shift ;;
    --no-asc) ASC=0 ;;
    --keep) KEEP=1 ;;
    --quick) POINTS=200000 REPEAT=1 ASC=0 ;;
    *) sed -n '2,15p' "$0"; exit 2 ;;
  esac
  shift
done
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
die() { echo "windowed.sh: $*" >&2; exit 1; }

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" -j2 --target Morvane morvane-timer morvane-bigdem >/dev/null || die "build failed"
MORVANE=$BUILD/Morvane TIMER=$BUILD/bench/morvane-timer BIGDEM=$BUILD/bench/morvane-bigdem

mkdir -p "$DIR"
STAMP="$POINTS $ASC"
if [ "$(cat "$DIR/params" 2>/dev/null)" != "$STAMP" ]; then
  echo "generating a $POINTS-point tile, its crop, a strip, sparse 100,000 x 100,000 and 8,000 x 8,000 .flt$([ "$ASC" = 1 ] && echo ' and a 20,000 x 20,000 .asc') in $DIR ..."
  rm -f "$DIR"/*
  "$BIGDEM" "$DIR" --points "$POINTS" $([ "$ASC" = 1 ] && echo --asc) || die "morvane-bigdem failed"
  echo "$STAMP" >"$DIR/params"
  sync "$DIR"/*.las "$DIR"/crop.flt "$DIR"/one.flt
fi
cleanup() {
  rm -f "$DIR"/out-*.las
  if [ "$KEEP" = 0 ]; then rm -rf "$DIR"; fi
}
trap cleanup EXIT

LOW=0 HIGH=10
cases=("crop crop.flt tile.las" "big_flt big.flt tile.las" "stale_flt big.flt stale.las" "stale_crop crop.flt stale.las"
  "zero_flt big.flt zero.las" "elsewhere_flt big.flt elsewhere.las" "inflated_flt big.flt inflated.las"
  "stray_flt big.flt stray.las" "county_flt county.flt tile.las" "stray_county county.flt stray_county.las"
  "strip_one one.flt strip.las" "strip_flt big.flt strip.las")
[ "$ASC" = 1 ] && cases+=("big_asc big.asc tile.las")

# Outputs first: every one must be the crop run's.
for c in "${cases[@]}"; do
  set -- $c
  "$MORVANE" "$DIR/$2" "$DIR/$3" "$DIR/out-$1.las" "$LOW" "$HIGH" >/dev/null || die "$1 failed"
done
for c in "${cases[@]}"; do
  set -- $c
  case $1 in
    strip_one) ;;
    strip_flt) cmp -s "$DIR/out-strip_one.las" "$DIR/out-$1.las" || die "MISMATCH: $1 differs from the one-cell run" ;;
    *) cmp -s "$DIR/out-crop.las" "$DIR/out-$1.las" || die "MISMATCH: $1 differs from the crop run" ;;
  esac
done
echo "outputs identical: $(for c in "${cases[@]}"; do set -- $c; printf '%s ' "$1"; done)"

# The runs take turns, K rounds; median wall time and the largest peak RSS.
declare -A WALL RSS
for ((k = 0; k < REPEAT; k++)); do
  for c in "${cases[@]}"; do
    set -- $c
    line=$("$TIMER" --repeat 1 --rm "$DIR/out-$1.las" -- "$MORVANE" "$DIR/$2" "$DIR/$3" "$DIR/out-$1.las" "$LOW" "$HIGH") ||
      die "$1 failed"
    WALL[$1]="${WALL[$1]:-} $(sed -E 's/.*median_s=([0-9.]+).*/\1/' <<<"$line")"
    r=$(sed -E 's/.*maxrss_kib=([0-9]+).*/\1/' <<<"$line")
    [ "${RSS[$1]:-0}" -ge "$r" ] || RSS[$1]=$r
  done
done
calc() { awk "BEGIN { print $* }"; }
median() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{ a[NR] = $1 } END { print NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

tc=$(median "${WALL[crop]}") rc=${RSS[crop]}
printf '\nLarge DEM, %s points (LAS 1.2 format 1, %.0f MB), window %s .. %s, median of %s run(s)\n' \
  "$POINTS" "$(calc "$(stat -c %s "$DIR/tile.las") / 1000000")" "$LOW" "$HIGH" "$REPEAT"
printf '  %-46s %9s %9s %12s %10s\n' run "median s" "x crop" "peak MiB" "- crop MiB"
row() {  # name label
  local t r
  t=$(median "${WALL[$1]}") r=${RSS[$1]}
  printf '  %-46s %9.3f %9.2f %12.1f %10.1f\n' "$2" "$t" "$(calc "$t / $tc")" "$(calc "$r / 1024")" \
    "$(calc "($r - $rc) / 1024")"
}
row crop "tile vs its 1,000 x 1,000 crop (.flt)"
row big_flt "tile vs 100,000 x 100,000 .flt (40 GB)"
[ "$ASC" = 1 ] && row big_asc "tile vs 20,000 x 20,000 .asc"
row stale_flt "stale header bounds, 100,000 x 100,000 .flt"
row stale_crop "stale header bounds, crop (.flt)"
row zero_flt "zero header bounds, 100,000 x 100,000 .flt"
row elsewhere_flt "bounds 30 km x 30 km elsewhere, 100,000^2 .flt"
row inflated_flt "bounds over every grid, 100,000^2 .flt"
row stray_flt "tile + stray point, 100,000^2 .flt"
row county_flt "tile vs 8,000 x 8,000 .flt"
row stray_county "tile + stray point, 8,000^2 .flt"
row strip_one "300,000-point strip vs one cell"
row strip_flt "300,000-point strip, 100,000^2 .flt"
tb=$(median "${WALL[big_flt]}")
printf '\n  big .flt / crop: %.2f (target <= 1.2), peak RSS over the crop run: %.1f MiB (target <= 32)\n' \
  "$(calc "$tb / $tc")" "$(calc "(${RSS[big_flt]} - $rc) / 1024")"
if [ "$ASC" = 1 ]; then
  printf '  big .asc peak RSS over the crop run: %.1f MiB (target <= 32)\n' "$(calc "(${RSS[big_asc]} - $rc) / 1024")"
fi
worst=0
for c in stale_flt zero_flt elsewhere_flt inflated_flt; do
  [ "${RSS[$c]}" -le "$worst" ] || worst=${RSS[$c]}
done
printf '  stale, zero, elsewhere or inflated bounds, peak RSS over the crop run: at most %.1f MiB (target <= 32)\n' \
  "$(calc "($worst - $rc) / 1024")"
blocks=$(cat "$DIR/strip_blocks")
printf '  strip: %.3f s (target <= 10), peak RSS over the crop run %.1f MiB (target <= %s blocks crossed x 64 KiB + 32 = %.1f)\n' \
  "$(median "${WALL[strip_flt]}")" "$(calc "(${RSS[strip_flt]} - $rc) / 1024")" "$blocks" "$(calc "$blocks / 16 + 32")"
printf '  stray point, peak RSS over the tile alone: %.1f MiB on 100,000^2, %.1f MiB on 8,000^2 (target <= 8.06)\n' \
  "$(calc "(${RSS[stray_flt]} - ${RSS[big_flt]}) / 1024")" "$(calc "(${RSS[stray_county]} - ${RSS[county_flt]}) / 1024")"
