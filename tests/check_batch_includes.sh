#!/usr/bin/env bash
# morvane-batch stands beside the tool: it includes its own headers and the
# library's (LiDAR.h by name, the internals by path, lidar/internal/...),
# never a file of tool/.
#
#   tests/check_batch_includes.sh [BATCH_DIR]   (default: batch/ beside this script)
set -euo pipefail
BATCH=${1:-$(cd "$(dirname "$0")/../batch" && pwd)}
ROOT=$(cd "$BATCH/.." && pwd)
bad=0
for file in "$BATCH"/*.h "$BATCH"/*.cpp; do
  while IFS= read -r inc; do
    case $inc in
      LiDAR.h) ;;
      lidar/*) [ -f "$ROOT/$inc" ] || { echo "$(basename "$file") includes $inc, which the library lacks"; bad=1; } ;;
      */*) echo "$(basename "$file") includes $inc, which is not batch/'s"; bad=1 ;;
      *) [ -f "$BATCH/$inc" ] || { echo "$(basename "$file") includes $inc, which is not batch/'s"; bad=1; } ;;
    esac
  done < <(sed -nE 's/^#include "([^"]+)".*/\1/p' "$file")
done
[ "$bad" = 0 ] && echo "batch: every include is batch/'s or the library's"
exit "$bad"
