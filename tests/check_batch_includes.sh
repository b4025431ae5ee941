#!/usr/bin/env bash
# morvane-batch stands beside the tool: it includes its own headers and the
# library's, never a file of tool/ (its include path lacks tool/, and no
# relative include may reach it either).
#
#   tests/check_batch_includes.sh [BATCH_DIR]   (default: batch/ beside this script)
set -euo pipefail
BATCH=${1:-$(cd "$(dirname "$0")/../batch" && pwd)}
LIDAR=$(cd "$BATCH/../lidar" && pwd)
bad=0
for file in "$BATCH"/*.h "$BATCH"/*.cpp; do
  while IFS= read -r inc; do
    if [ ! -f "$BATCH/$inc" ] && [ ! -f "$LIDAR/$inc" ]; then
      echo "$(basename "$file") includes $inc, which is neither batch/'s nor the library's"; bad=1
    fi
  done < <(sed -nE 's/^#include "([^"]+)".*/\1/p' "$file")
done
[ "$bad" = 0 ] && echo "batch: every include is batch/'s or the library's"
exit "$bad"
