#!/usr/bin/env bash
# Morvane benchmark: generates a survey, checks that Morvane's output equals
# the record-at-a-time baseline's byte for byte, then times Morvane against
# the machine's I/O floor and the baseline, the grid loaders against an
# fscanf loop, and measures peak resident memory on a LAS file of 2 GB or
# more. See bench/README.md.
#
# Exits non-zero only when a program fails or an output differs, never on
# a timing.
set -euo pipefail

usage() {
  cat <<'EOF'
usage: bench/run.sh [options]
  --points N     points in the LAS file (default 20000000)
  --rows R       raster rows (default 4000)
  --cols C       raster columns (default 4000)
  --repeat K     timed runs of each program; the median is reported (default 5)
  --big-gb G     size of the LAS file for the memory run, in GiB; 0 skips it (default 2)
  --low L        lower limit of the elevation window (default -0.05)
  --high H       upper limit of the elevation window (default 0.05)
  --sort-keys N  keys of the library's sort timings (default 1000000)
  --dir D        working directory for generated files (default /tmp/morvane-bench)
  --build B      CMake build directory (default build-bench, configured if missing)
  --against C    also time the build of commit C ("today's build"), built from a git archive
                 of it into B-against-C, in turns with this one (default 5cf32c7, the commit
                 before this round of speed work; "none" skips it)
  --keep         keep the generated files (default: removed at the end)
  --quick        tiny sizes (200000 points, 400 x 500 raster, 100000 sort keys), one
                 run each, no big file, no other build timed, targets not judged: for
                 CI. Other options still apply.
EOF
}

ROOT=$(cd "$(dirname "$0")/.." && pwd)
POINTS="" ROWS="" COLS="" REPEAT="" BIG_GB="" SORT_KEYS="" LOW=-0.05 HIGH=0.05 DIR="" BUILD=$ROOT/build-bench KEEP=0 QUICK=0 AGAINST=""
while [ $# -gt 0 ]; do
  case $1 in
    --points) POINTS=$2; shift ;;
    --rows) ROWS=$2; shift ;;
    --cols) COLS=$2; shift ;;
    --repeat) REPEAT=$2; shift ;;
    --big-gb) BIG_GB=$2; shift ;;
    --low) LOW=$2; shift ;;
    --high) HIGH=$2; shift ;;
    --sort-keys) SORT_KEYS=$2; shift ;;
    --dir) DIR=$2; shift ;;
    --build) BUILD=$2; shift ;;
    --against) AGAINST=$2; shift ;;
    --keep) KEEP=1 ;;
    --quick) QUICK=1 ;;
    -h|--help) usage; exit 0 ;;
    *) echo "run.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done
if [ "$QUICK" = 1 ]; then
  : "${POINTS:=200000}" "${ROWS:=400}" "${COLS:=500}" "${REPEAT:=1}" "${BIG_GB:=0}" "${SORT_KEYS:=100000}"
  : "${DIR:=/tmp/morvane-bench-quick}" "${AGAINST:=none}"
else
  : "${POINTS:=20000000}" "${ROWS:=4000}" "${COLS:=4000}" "${REPEAT:=5}" "${BIG_GB:=2}" "${SORT_KEYS:=1000000}"
  : "${DIR:=/tmp/morvane-bench}" "${AGAINST:=5cf32c7}"
fi
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
RERUN_AGE=31; [ "$QUICK" = 1 ] && RERUN_AGE=0

die() { echo "run.sh: $*" >&2; exit 1; }

# --- build ------------------------------------------------------------------
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD" -j2 --target Morvane morvane-sample morvane-baseline morvane-floor morvane-timer \
  morvane-parts >/dev/null || die "build failed"
BUILD_TYPE=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$BUILD/CMakeCache.txt")
MORVANE=$BUILD/Morvane SAMPLE=$BUILD/morvane-sample
BASELINE=$BUILD/bench/morvane-baseline FLOOR=$BUILD/bench/morvane-floor
TIMER=$BUILD/bench/morvane-timer PARTS=$BUILD/bench/morvane-parts

# Today's build: the commit given, from a git archive of it (no worktree
# touched), configured alike in a build directory of its own, kept for the
# next run. Only Morvane is built.
TODAY="" TODAY_NAME=""
if [ "$AGAINST" != none ]; then
  TODAY_NAME=$(git -C "$ROOT" rev-parse --short "$AGAINST^{commit}") || die "no commit $AGAINST"
  TODAY_BUILD=$BUILD-against-$TODAY_NAME
  if [ ! -x "$TODAY_BUILD/build/Morvane" ]; then
    echo "building Morvane of commit $TODAY_NAME in $TODAY_BUILD ..."
    rm -rf "$TODAY_BUILD"
    mkdir -p "$TODAY_BUILD/src"
    git -C "$ROOT" archive "$TODAY_NAME" | tar -x -C "$TODAY_BUILD/src" || die "git archive $TODAY_NAME failed"
    cmake -S "$TODAY_BUILD/src" -B "$TODAY_BUILD/build" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DMORVANE_TESTS=OFF \
      -DMORVANE_BENCH=OFF >/dev/null || die "configuring commit $TODAY_NAME failed"
    cmake --build "$TODAY_BUILD/build" -j2 --target Morvane >/dev/null || die "building commit $TODAY_NAME failed"
  fi
  TODAY=$TODAY_BUILD/build/Morvane
fi

# --- workload ---------------------------------------------------------------
mkdir -p "$DIR"
W=$DIR/survey
STAMP="$POINTS $ROWS $COLS"
if [ "$(cat "$W/params" 2>/dev/null)" != "$STAMP" ]; then
  echo "generating $POINTS points over a $ROWS x $COLS raster in $W ..."
  rm -rf "$W"
  "$SAMPLE" --dir "$W" --points "$POINTS" --rows "$ROWS" --cols "$COLS" >/dev/null || die "morvane-sample failed"
  echo "$STAMP" >"$W/params"
  sync "$W"/*  # no write-back of the new files while timing
fi
# The same survey in a scanner's order: sweeps across each flight line, a
# cell from one point to the next (in the survey above, consecutive points
# lie anywhere across the swath).
WS=$DIR/survey-scan
if [ "$(cat "$WS/params" 2>/dev/null)" != "$STAMP" ]; then
  echo "generating the same survey in a scanner's order in $WS ..."
  rm -rf "$WS"
  "$SAMPLE" --dir "$WS" --points "$POINTS" --rows "$ROWS" --cols "$COLS" --order scan >/dev/null ||
    die "morvane-sample failed"
  rm -f "$WS/terrain.asc" "$WS/terrain.flt" "$WS/terrain.hdr"  # the survey's own serve
  echo "$STAMP" >"$WS/params"
  sync "$WS"/*
fi
LAS=$W/points.las FLT=$W/terrain.flt ASC=$W/terrain.asc LAS_SCAN=$WS/points.las
cleanup() {
  rm -f "$DIR"/out-*.las "$DIR"/base-*.las "$DIR"/floor-*.bin "$DIR"/time-*.las "$DIR"/today-*.las "$DIR"/this-*.las "$DIR/times.txt"
  if [ "$KEEP" = 0 ]; then rm -rf "$W" "$WS" "$DIR/big"; rmdir "$DIR" 2>/dev/null || true; fi
}
trap cleanup EXIT

warm() { cat "$@" >/dev/null; }
size() { stat -c %s "$1"; }

# --- outputs must agree before anything is timed ------------------------------
warm "$LAS" "$FLT" "$ASC"
run_once() {  # program raster output [las]: runs it, fails unless it selected points
  local status=0
  "$1" "$2" "${4:-$LAS}" "$3" "$LOW" "$HIGH" >/dev/null || status=$?
  [ "$status" = 0 ] || die "$(basename "$1") $(basename "$2") exited with status $status"
}
run_once "$BASELINE" "$FLT" "$DIR/base-flt.las"
run_once "$BASELINE" "$ASC" "$DIR/base-asc.las"
run_once "$MORVANE" "$FLT" "$DIR/out-flt.las"
run_once "$MORVANE" "$ASC" "$DIR/out-asc.las"
for f in base-asc out-flt out-asc; do
  cmp -s "$DIR/base-flt.las" "$DIR/$f.las" || die "MISMATCH: $f.las differs from base-flt.las"
done
OUT_BYTES=$(size "$DIR/base-flt.las")
SELECTED=$(od -An -t u4 -j 107 -N 4 "$DIR/base-flt.las" | tr -d ' ')
echo "outputs identical: Morvane .flt, Morvane .asc, baseline .flt, baseline .asc ($SELECTED points, $OUT_BYTES bytes)"
warm "$LAS_SCAN"
run_once "$BASELINE" "$FLT" "$DIR/base-flt-scan.las" "$LAS_SCAN"
run_once "$MORVANE" "$FLT" "$DIR/out-flt-scan.las" "$LAS_SCAN"
run_once "$MORVANE" "$ASC" "$DIR/out-asc-scan.las" "$LAS_SCAN"
for f in out-flt-scan out-asc-scan; do
  cmp -s "$DIR/base-flt-scan.las" "$DIR/$f.las" || die "MISMATCH: $f.las differs from base-flt-scan.las"
done
# Each build's first outputs in each order, two of them, which its reruns
# then write over in turn.
for o in survey scan; do
  las=$LAS; [ $o = scan ] && las=$LAS_SCAN
  run_once "$MORVANE" "$FLT" "$DIR/this-flt-$o-0.las" "$las"
  cp "$DIR/this-flt-$o-0.las" "$DIR/this-flt-$o-1.las"
done
if [ -n "$TODAY" ]; then
  for o in survey scan; do
    las=$LAS; [ $o = scan ] && las=$LAS_SCAN
    ref=$DIR/base-flt.las; [ $o = scan ] && ref=$DIR/base-flt-scan.las
    run_once "$TODAY" "$FLT" "$DIR/today-flt-$o.las" "$las"
    run_once "$TODAY" "$ASC" "$DIR/today-asc-$o.las" "$las"
    for f in today-flt-$o today-asc-$o; do
      cmp -s "$ref" "$DIR/$f.las" || die "MISMATCH: $f.las (commit $TODAY_NAME) differs from $(basename "$ref")"
    done
    cp "$DIR/today-flt-$o.las" "$DIR/today-flt-$o-0.las"
    cp "$DIR/today-flt-$o.las" "$DIR/today-flt-$o-1.las"
  done
  echo "outputs identical to the build of commit $TODAY_NAME's, on both point orders"
fi

# --- timings ------------------------------------------------------------------
fields() {  # timer line -> "median_s maxrss_kib cpu_s"
  sed -E 's/.*median_s=([0-9.]+).*cpu_s=([0-9.]+).*maxrss_kib=([0-9]+).*/\1 \3 \2/' <<<"$1"
}
TIMES=$DIR/times.txt
: >"$TIMES"
at_least_old() {  # seconds file: waits until the file was last written that long ago
  local age=$(($(date +%s) - $(stat -c %Y "$2")))
  [ "$age" -ge "$1" ] || sleep $(($1 - age))
}
time_one() {  # name: one timed run, appended to $TIMES as "name wall_s maxrss_kib cpu_s"
  local name=$1 out line
  case $name in
    floor) out=$DIR/floor-flt.bin; set -- "$FLOOR" "$out" "$OUT_BYTES" "$FLT" "$LAS" ;;
    floor_asc) out=$DIR/floor-asc.bin; set -- "$FLOOR" "$out" "$OUT_BYTES" "$ASC" "$LAS" ;;
    morvane_flt) out=$DIR/time-flt.las; set -- "$MORVANE" "$FLT" "$LAS" "$out" "$LOW" "$HIGH" ;;
    morvane_rerun)  # over the output of the run before, as a batch rerun does
      out=$DIR/out-flt.las; set -- "$MORVANE" "$FLT" "$LAS" "$out" "$LOW" "$HIGH"
      line=$("$TIMER" --repeat 1 -- "$@") || die "$name failed"
      echo "$name $(fields "$line")" >>"$TIMES"
      return ;;
    morvane_asc) out=$DIR/time-asc.las; set -- "$MORVANE" "$ASC" "$LAS" "$out" "$LOW" "$HIGH" ;;
    baseline_flt) out=$DIR/time-bflt.las; set -- "$BASELINE" "$FLT" "$LAS" "$out" "$LOW" "$HIGH" ;;
    # This build and today's, on either point order: .flt with the output
    # removed first, .flt over the output of the run before, .asc.
    this_*|today_*)
      local prog=$MORVANE las=$LAS order=${name##*_} kind
      kind=${name#*_}; kind=${kind%_*}
      [ "${name%%_*}" = today ] && prog=$TODAY
      [ "$order" = scan ] && las=$LAS_SCAN
      case $kind in
        flt) out=$DIR/time-${name}.las; set -- "$prog" "$FLT" "$las" "$out" "$LOW" "$HIGH" ;;
        asc) out=$DIR/time-${name}.las; set -- "$prog" "$ASC" "$las" "$out" "$LOW" "$HIGH" ;;
        rerun)
          # Over its own output of two rounds before, which no other run
          # writes, at least 31 s old (any age with --quick), as a batch
          # rerun finds its outputs: written back to disk, their pages clean.
          out=$DIR/${name%%_*}-flt-$order-$((k % 2)).las
          at_least_old "$RERUN_AGE" "$out"
          line=$("$TIMER" --repeat 1 -- "$prog" "$FLT" "$las" "$out" "$LOW" "$HIGH") || die "$name failed"
          echo "$name $(fields "$line")" >>"$TIMES"
          return ;;
      esac ;;
    baseline_asc) out=$DIR/time-basc.las; set -- "$BASELINE" "$ASC" "$LAS" "$out" "$LOW" "$HIGH" ;;
  esac
  line=$("$TIMER" --repeat 1 --rm "$out" -- "$@") || die "$name failed"
  echo "$name $(fields "$line")" >>"$TIMES"
}
median_of() {  # name column: median of that column over the name's runs
  awk -v n="$1" -v c="$2" '$1 == n { print $c }' "$TIMES" | sort -g |
    awk '{ a[NR] = $1 } END { print NR % 2 ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}
summary() {  # name -> "name median_wall_s maxrss_kib median_cpu_s"
  echo "$1 $(median_of "$1" 2) $(awk -v n="$1" '$1 == n && $3 > m { m = $3 } END { print m }' "$TIMES") $(median_of "$1" 4)"
}
echo "timing, $REPEAT round(s), the programs taking turns ..."
warm "$LAS" "$FLT" "$ASC"
LOADAVG=$(cut -d' ' -f1-3 /proc/loadavg)
for ((k = 0; k < REPEAT; k++)); do
  for name in floor morvane_flt morvane_rerun floor_asc morvane_asc baseline_flt baseline_asc; do
    time_one "$name"
  done
  # The two builds change places every round: whichever runs first of a
  # pair pays for what the run before left to the system (a rerun timed
  # first took up to 1 s more system time, whichever build it was).
  first=this second=today
  [ $((k % 2)) = 1 ] && first=today second=this
  for order in survey scan; do
    for kind in flt rerun asc; do
      for build in $first $second; do
        [ "$build" = today ] && [ -z "$TODAY" ] && continue
        time_one "${build}_${kind}_$order"
      done
    done
  done
done
R_FLOOR=$(summary floor) R_FLOOR_ASC=$(summary floor_asc)
R_FLT=$(summary morvane_flt) R_RERUN=$(summary morvane_rerun) R_ASC=$(summary morvane_asc)
R_BFLT=$(summary baseline_flt) R_BASC=$(summary baseline_asc)
GRID=$("$PARTS" grid "$ASC" "$FLT" "$REPEAT") || die "grid values differ between loaders: $GRID"
REFRESH=$("$PARTS" refresh "$DIR/out-flt.las" "$REPEAT") || die "header refresh failed"
SELECT=$("$PARTS" select "$FLT" "$LAS" "$LOW" "$HIGH" "$REPEAT") || die "the record kernels disagree: $SELECT"
cmp -s "$DIR/base-flt.las" "$DIR/out-flt.las" || die "MISMATCH: a second header refresh changed out-flt.las"
SORT=$("$PARTS" sort "$SORT_KEYS" "$REPEAT") || die "a sort left keys unsorted or companions astray: $SORT"

# --- peak memory on a big file -------------------------------------------------
R_BIG=""
if [ "$BIG_GB" != 0 ]; then
  BIG_POINTS=$(awk -v g="$BIG_GB" 'BEGIN { printf "%.0f", int(g * 1073741824 / 28) + 1 }')
  echo "generating $BIG_POINTS points ($BIG_GB GiB) in $DIR/big ..."
  rm -rf "$DIR/big"
  "$SAMPLE" --dir "$DIR/big" --points "$BIG_POINTS" --rows "$ROWS" --cols "$COLS" >/dev/null ||
    die "morvane-sample failed"
  rm -f "$DIR/big/terrain.asc"
  sync "$DIR/big"/*
  warm "$DIR/big/points.las" "$DIR/big/terrain.flt"
  # One run untimed: the first over freshly written files is slow to start.
  "$MORVANE" "$DIR/big/terrain.flt" "$DIR/big/points.las" "$DIR/big/out.las" "$LOW" "$HIGH" >/dev/null ||
    die "Morvane failed on the big file"
  line=$("$TIMER" --repeat 1 --rm "$DIR/big/out.las" -- "$MORVANE" "$DIR/big/terrain.flt" "$DIR/big/points.las" \
    "$DIR/big/out.las" "$LOW" "$HIGH") || die "Morvane failed on the big file"
  R_BIG="$(size "$DIR/big/points.las") $BIG_POINTS $(fields "$line")"
  rm -rf "$DIR/big"
fi

# --- report -------------------------------------------------------------------
CORES=$(nproc)
CPU=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
awk -v points="$POINTS" -v las="$(size "$LAS")" -v flt="$(size "$FLT")" -v asc="$(size "$ASC")" \
  -v rows="$ROWS" -v cols="$COLS" -v sel="$SELECTED" -v outb="$OUT_BYTES" -v low="$LOW" -v high="$HIGH" \
  -v repeat="$REPEAT" -v cores="$CORES" -v cpu="$CPU" -v buildtype="$BUILD_TYPE" -v quick="$QUICK" \
  -v floor="$R_FLOOR" -v floorasc="$R_FLOOR_ASC" -v mflt="$R_FLT" -v rerun="$R_RERUN" -v masc="$R_ASC" \
  -v bflt="$R_BFLT" -v basc="$R_BASC" -v big="$R_BIG" -v grid="$GRID" -v refresh="$REFRESH" -v select="$SELECT" -v sort="$SORT" -v loadavg="$LOADAVG" '
function field(s, i,   a) { split(s, a, " "); return a[i] }
function kv(text, key,   n, lines, i, a) {
  n = split(text, lines, "\n")
  for (i = 1; i <= n; i++) { split(lines[i], a, " "); if (a[1] == key) return a[2] }
  return ""
}
function row(name, r, inbytes,   t) {
  t = field(r, 2)
  printf "  %-36s %9.3f %9.0f %10.2f %9.2f %8.3f\n", name, t, inbytes / t / 1e6, points / t / 1e6, t / tfloor, \
    field(r, 4)
}
function sortrow(name, key,   ti, td) {
  ti = kv(sort, "sort_int_" key "_s"); td = kv(sort, "sort_double_" key "_s")
  printf "    %-28s %8.3f %9.2f %9.3f %9.2f\n", name, ti, ti / kv(sort, "sort_int_random_s"), td, \
    td / kv(sort, "sort_double_random_s")
}
function verdict(ok) { return quick ? "(quick run: not judged)" : ok ? "met" : "MISSED" }
BEGIN {
  MB = 1e6; MiB = 1048576
  tfloor = field(floor, 2); tflt = field(mflt, 2); tasc = field(masc, 2)
  tbflt = field(bflt, 2); tbasc = field(basc, 2)
  printf "\nMorvane benchmark (%s build), %d cores (%s), page cache warm, median of %d run(s) each\n", \
    buildtype, cores, cpu, repeat
  printf "  load average when the timings began: %s\n", loadavg
  printf "  LAS 1.2 format 1: %d points, %.1f MB; raster %d x %d: .flt %.1f MB, .asc %.1f MB\n", \
    points, las / MB, rows, cols, flt / MB, asc / MB
  printf "  window %s .. %s selects %d points (%.1f%%), output %.1f MB; all outputs byte-identical\n\n", \
    low, high, sel, 100 * sel / points, outb / MB
  printf "  %-36s %9s %9s %10s %9s %8s\n", "end to end", "median s", "MB/s", "Mpoints/s", "x floor", "cpu s"
  row("I/O floor (read .flt + LAS, write)", floor, las + flt)
  row("I/O floor (read .asc + LAS, write)", floorasc, las + asc)
  row("Morvane, .flt raster", mflt, las + flt)
  row("Morvane, .flt, over its last output", rerun, las + flt)
  row("Morvane, .asc raster", masc, las + asc)
  row("baseline, .flt raster (stdio)", bflt, las + flt)
  row("baseline, .asc raster (fscanf)", basc, las + asc)
  printf "  (MB/s: bytes read, LAS + raster, per second of wall time; cpu s: user + system time, all threads)\n\n"
  printf "  %-44s %7.2f   target <= 2.5: %s\n", "Morvane .flt / I/O floor", tflt / tfloor, verdict(tflt / tfloor <= 2.5)
  printf "  %-44s %7.2f   target <= 4: %s\n", "Morvane .asc / I/O floor (.asc)", tasc / field(floorasc, 2), \
    verdict(tasc / field(floorasc, 2) <= 4)
  printf "  %-44s %7.2f\n", "Morvane .flt over its last output / removed", field(rerun, 2) / tflt
  printf "  %-44s %7.2f   target >= 6: %s\n", "baseline .flt / Morvane .flt", tbflt / tflt, verdict(tbflt / tflt >= 6)
  printf "  %-44s %7.2f\n\n", "baseline .asc / Morvane .asc", tbasc / tasc
  ga = kv(grid, "grid_asc_load_s"); gf = kv(grid, "grid_flt_load_s"); gs = kv(grid, "grid_fscanf_load_s")
  printf "  grid load alone, %d cells:\n", kv(grid, "grid_cells")
  printf "    .asc, Morvane loader %8.3f s   (%.1f Mvalues/s)\n", ga, kv(grid, "grid_cells") / ga / 1e6
  printf "    .asc, fscanf loop    %8.3f s   fscanf / Morvane %.1f   target >= 8: %s\n", gs, gs / ga, verdict(gs / ga >= 8)
  gr = kv(grid, "grid_flt_read_s")
  printf "    .flt, Morvane loader %8.3f s   fscanf / Morvane .flt %.1f\n", gf, gs / gf
  printf "    .flt, plain read     %8.3f s   Morvane .flt / plain read %.2f   target <= 3: %s\n", gr, gf / gr, \
    verdict(gf / gr <= 3)
  printf "    values bit-identical to the fscanf loop: .asc %s, .flt %s\n\n", kv(grid, "grid_asc_identical"), \
    kv(grid, "grid_flt_identical")
  printf "  record classification alone, %d points in memory (1 MiB blocks, block copy %.3f s not counted):\n", \
    kv(select, "select_points"), kv(select, "select_copy_s")
  printf "    portable kernel %6.2f ns/point   target <= 8: %s\n", kv(select, "select_portable_ns_per_point"), \
    verdict(kv(select, "select_portable_ns_per_point") <= 8)
  vk = kv(select, "select_vector_kernel")
  if (vk != "none")
    printf "    %-8s kernel %6.2f ns/point   %s   portable / %s %.2f, results identical: %s\n", \
      vk, kv(select, "select_vector_ns_per_point"), \
      vk == "AVX-512" ? "target <= 4: " verdict(kv(select, "select_vector_ns_per_point") <= 4) : "(no target)", vk, \
      kv(select, "select_portable_ns_per_point") / kv(select, "select_vector_ns_per_point"), kv(select, "select_kernels_agree")
  else
    printf "    (no vector kernel for this processor: Morvane runs the portable kernel)\n"
  printf "\n"
  rs = kv(refresh, "refresh_s"); rr = kv(refresh, "refresh_read_s")
  printf "  update_header (one pass; Morvane takes the statistics from its record loop) on the output (%.1f MB):\n    %.3f s, a plain read of it %.3f s (%.2f x, %.0f MB/s)\n\n", \
    outb / MB, rs, rr, rs / rr, outb / rs / MB
  printf "  library sort (l_quicksort, d_quicksort), %d keys, every result sorted with its companions: %s\n", \
    kv(sort, "sort_keys"), kv(sort, "sort_sorted")
  printf "    %-28s %8s %9s %9s %9s\n", "keys", "int32 s", "x random", "double s", "x random"
  sortrow("random (baseline)", "random")
  sortrow("organ pipe", "organ_pipe")
  sortrow("organ pipe with ties", "organ_pipe_ties")
  sortrow("sawtooth", "sawtooth")
  worst = 0
  split("organ_pipe organ_pipe_ties sawtooth", shapes, " ")
  for (s in shapes) {
    r = kv(sort, "sort_int_" shapes[s] "_s") / kv(sort, "sort_int_random_s"); if (r > worst) worst = r
    r = kv(sort, "sort_double_" shapes[s] "_s") / kv(sort, "sort_double_random_s"); if (r > worst) worst = r
  }
  printf "    %-44s %7.2f   target <= 25: %s\n\n", "slowest worst case / random", worst, verdict(worst <= 25)
  limit = flt + 32 * MiB
  printf "  peak resident memory (limit: raster %.1f MiB + 32 MiB = %.1f MiB)\n", flt / MiB, limit / MiB
  printf "    Morvane .flt, %.1f MB LAS:  %7.1f MiB   %s\n", las / MB, field(mflt, 3) / 1024, \
    field(mflt, 3) * 1024 <= limit ? "within" : "OVER"
  if (big != "") {
    printf "    Morvane .flt, %.1f MB LAS: %7.1f MiB   %s   (%d points in %.2f s, %.0f MB/s)\n", \
      field(big, 1) / MB, field(big, 4) / 1024, field(big, 4) * 1024 <= limit ? "within" : "OVER", \
      field(big, 2), field(big, 3), field(big, 1) / field(big, 3) / MB
  }
}'

# --- this build against today's, on both point orders ---------------------------
echo
printf '  %-46s %9s %9s %8s %8s   %s\n' "this build$([ -n "$TODAY" ] && echo " and commit $TODAY_NAME's (today's)")" \
  "this s" "today s" "/ today" "x floor" "target"
for kind in flt rerun asc; do
  for order in survey scan; do
    case $kind in
      flt) label=".flt, output removed"; fl=$(median_of floor 2); target=0.75 ;;
      rerun) label=".flt, over an earlier output"; fl=$(median_of floor 2); target=0.6 ;;
      asc) label=".asc"; fl=$(median_of floor_asc 2); target=0.8 ;;
    esac
    t=$(median_of "this_${kind}_$order" 2)
    today=""; [ -z "$TODAY" ] || today=$(median_of "today_${kind}_$order" 2)
    awk -v label="$label, $([ $order = scan ] && echo "scanner's order" || echo "survey's order")" -v t="$t" \
      -v today="$today" -v fl="$fl" -v target="$target" -v kind="$kind" -v quick="$QUICK" 'BEGIN {
      if (today == "") { printf "  %-46s %9.3f %9s %8s %8.2f\n", label, t, "-", "-", t / fl; exit }
      ok = t / today <= target && (kind != "flt" || t / fl <= 1.4)
      printf "  %-46s %9.3f %9.3f %8.2f %8.2f   <= %s x today%s: %s\n", label, t, today, t / today, t / fl, target, \
        kind == "flt" ? ", <= 1.4 x floor" : "", quick ? "(quick run: not judged)" : ok ? "met" : "MISSED"
    }'
  done
done
printf '  (x floor: over the I/O floor of the same raster kind; peak memory above)\n'
