#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer (+ ASan, UBSan) into
# build-fuzz and runs them. See fuzz/README.md.
#
#   fuzz/run.sh --ci                        every target ~15 s from the seeds
#   fuzz/run.sh --long TARGET [SECS] [RUNS] one target, one worker, until SECS
#   fuzz/run.sh --build                     build only
#   fuzz/run.sh --seeds                     rewrite the generated seeds in fuzz/corpus
#   fuzz/run.sh --merge TARGET              add a long run's new coverage to the seeds
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=$ROOT/build-fuzz
TARGETS=(las_header_fuzzer asc_raster_fuzzer flt_raster_fuzzer run_fuzzer)
CI_SECONDS=${FUZZ_CI_SECONDS:-15}

usage() {
  sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
}

# clang with its fuzzer runtime, installed from Debian when missing.
ensure_clang() {
  local probe
  probe=$(mktemp -d)
  echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' >"$probe/p.cpp"
  if command -v clang++ >/dev/null &&
     clang++ -fsanitize=fuzzer,address,undefined "$probe/p.cpp" -o "$probe/p" >/dev/null 2>&1; then
    rm -rf "$probe"
    return
  fi
  rm -rf "$probe"
  echo "installing clang and its fuzzer runtime"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-14-dev
}

build() {
  ensure_clang
  cmake -S fuzz -B "$BUILD" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$BUILD" -j2
}

# run_target TARGET CORPUS_DIR [libFuzzer options...]
run_target() {
  local target=$1 corpus=$2
  shift 2
  mkdir -p "$corpus" "$BUILD/artifacts/$target"
  "$BUILD/$target" "$corpus" "fuzz/corpus/$target" \
    -dict=fuzz/morvane.dict -close_fd_mask=1 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$BUILD/artifacts/$target/" -print_final_stats=1 "$@"
}

case "${1:-}" in
  --ci)
    build
    status=0
    for t in "${TARGETS[@]}"; do
      # Inputs that once failed are replayed first.
      if compgen -G "fuzz/regressions/$t/*" >/dev/null; then
        echo "== $t: regression inputs"
        "$BUILD/$t" -close_fd_mask=1 fuzz/regressions/"$t"/* || status=1
      fi
      echo "== $t: ${CI_SECONDS} s"
      rm -rf "$BUILD/ci-corpus/$t"
      if ! run_target "$t" "$BUILD/ci-corpus/$t" -max_total_time="$CI_SECONDS" \
          2>"$BUILD/$t-ci.log"; then
        tail -n 60 "$BUILD/$t-ci.log"
        status=1
      fi
      grep -E '^(stat::number_of_executed_units|Done )' "$BUILD/$t-ci.log" || true
    done
    [ $status -eq 0 ] && echo "fuzz: every target ran clean" || echo "fuzz: FAILED"
    exit $status
    ;;
  --long)
    [ $# -ge 2 ] || usage
    target=$2 seconds=${3:-3600} runs=${4:-10000000}
    build
    run_target "$target" "$BUILD/corpus/$target" -max_total_time="$seconds" -runs="$runs"
    ;;
  --build)
    build
    ;;
  --seeds)
    build
    "$BUILD/make_seeds" fuzz/corpus
    ;;
  --merge)
    # Adds to the committed seeds what a long run found that they lack.
    [ $# -ge 2 ] || usage
    build
    "$BUILD/$2" -merge=1 -close_fd_mask=1 "fuzz/corpus/$2" "$BUILD/corpus/$2"
    ;;
  *)
    usage
    ;;
esac
