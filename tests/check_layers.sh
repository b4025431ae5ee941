#!/usr/bin/env bash
# The tool's folders are layers: a file includes only its own folder and the
# folders below it, and of the raster layer the selection layer sees only
# what its record loop and its context need. Root files: run_failure.h sits
# below everything; Morvane.cpp (main) above everything. The library lies
# below every layer: its public LiDAR.h by name, its internals by path
# (lidar/internal/...).
#
#   tests/check_layers.sh [TOOL_DIR]   (default: tool/ beside this script)
set -euo pipefail
TOOL=${1:-$(cd "$(dirname "$0")/../tool" && pwd)}
rank() {
  case $1 in
    text) echo 1 ;; grid_header) echo 2 ;; raster) echo 3 ;; select) echo 4 ;; run) echo 5 ;; *) echo 0 ;;
  esac
}
bad=0
while IFS= read -r file; do
  rel=${file#"$TOOL"/}
  folder=${rel%%/*}
  [ "$folder" = "$rel" ] && folder=root
  [ "$rel" = Morvane.cpp ] && continue
  own=$(rank "$folder")
  while IFS= read -r inc; do
    target=${inc%%/*}
    if [ "$target" = "$inc" ]; then
      # A root header, or the library's public one.
      if [ "$inc" != run_failure.h ] && [ "$inc" != LiDAR.h ]; then
        echo "$rel includes $inc by bare name: neither run_failure.h nor LiDAR.h"; bad=1
      fi
      continue
    fi
    [ "$target" = lidar ] && continue
    if [ ! -d "$TOOL/$target" ]; then
      echo "$rel includes $inc, which names no layer"; bad=1
      continue
    fi
    if [ "$(rank "$target")" -gt "$own" ]; then
      echo "$rel ($folder) includes $inc from the layer above it ($target)"; bad=1
    fi
    if [ "$folder" = select ] && [ "$target" = raster ]; then
      case $(basename "$rel") in
        record_loop.*|selection_context.*) ;;
        *) echo "$rel includes $inc: only the record loop and the context see the raster"; bad=1 ;;
      esac
    fi
  done < <(sed -nE 's/^#include "([^"]+)".*/\1/p' "$file")
done < <(find "$TOOL" -name '*.h' -o -name '*.cpp' | sort)
if [ "$bad" = 0 ]; then
  echo "layers: every include of $(find "$TOOL" -name '*.h' -o -name '*.cpp' | wc -l) files points down"
fi
exit "$bad"
