#!/usr/bin/env bash
# Every library function must be exported unmangled, by name, from each binary given.
set -u
names="file_access check_file_extension error_msg check_las update_header
initialize_header10 initialize_header11 initialize_header12 check_numeric_argument
check_YN check_DEM credits l_qs l_quicksort d_qs d_quicksort l_parallel_qs
l_parallel_quicksort d_parallel_qs d_parallel_quicksort"
status=0
for binary in "$@"; do
  exported=$(nm -D --defined-only "$binary" | awk '$2 == "T" { print $3 }')
  for name in $names; do
    if ! grep -qx "$name" <<<"$exported"; then
      echo "$binary does not export $name"
      status=1
    fi
  done
done
[ $status -eq 0 ] && echo "all 20 functions exported from: $*"
exit $status
