#!/usr/bin/env bash
# Installs Morvane into a temporary prefix, checks what lands there, then
# builds and runs the consumer program in this directory against the
# installed library twice: with find_package(LiDAR) and with pkg-config.
#
#   tests/consumer/check_install.sh [BUILD_DIR]
#
# BUILD_DIR is an already built tree to install from; without it a fresh
# release build (no tests, no benchmarks) is made in the temporary directory.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() { echo "check_install: $*" >&2; exit 1; }
for tool in cmake cc pkg-config readelf; do
  command -v "$tool" >/dev/null || fail "$tool is needed"
done

if [ $# -ge 1 ]; then
  build="$(cd "$1" && pwd)"
  cmake --build "$build" -j2 --target Morvane morvane-batch lidar >/dev/null
else
  build="$work/build"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMORVANE_TESTS=OFF -DMORVANE_BENCH=OFF >/dev/null
  cmake --build "$build" -j2 --target Morvane morvane-batch lidar >/dev/null
fi

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
echo "== installed into a temporary prefix"
(cd "$prefix" && find . -type f -o -type l | sort)

libdir="$(cd "$prefix" && dirname "$(find . -name 'liblidar.so' | head -1)")"
libdir="${libdir#./}"
[ -n "$libdir" ] && [ "$libdir" != "." ] || fail "liblidar.so is not installed"
for f in bin/Morvane bin/morvane-batch include/LiDAR.h share/man/man1/Morvane.1 share/man/man1/morvane-batch.1 \
         "$libdir/liblidar.so" "$libdir/liblidar.so.1" "$libdir/pkgconfig/lidar.pc" \
         "$libdir/cmake/LiDAR/LiDARConfig.cmake" "$libdir/cmake/LiDAR/LiDARConfigVersion.cmake" \
         "$libdir/cmake/LiDAR/LiDARTargets.cmake"; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done
soname="$(readelf -d "$prefix/$libdir/liblidar.so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')"
[ "$soname" = "liblidar.so.1" ] || fail "SONAME is '$soname', not liblidar.so.1"
echo "SONAME $soname"

# The installed program runs: without arguments it prints its usage, status 255.
set +e
usage="$("$prefix/bin/Morvane")"
status=$?
set -e
[ "$status" -eq 255 ] || fail "Morvane without arguments exited $status, not 255"
grep -q "Usage:" <<<"$usage" || fail "Morvane without arguments printed no usage"
"$prefix/bin/morvane-batch" --version | grep -q "^morvane-batch " || fail "morvane-batch --version failed"
if command -v man >/dev/null; then
  for page in Morvane morvane-batch; do
    MANWIDTH=80 man -l "$prefix/share/man/man1/$page.1" 2>/dev/null | grep -q "EXIT STATUS" ||
      fail "the installed man page $page.1 does not render"
  done
fi

echo "== consumer built with find_package(LiDAR)"
cmake -S "$here" -B "$work/consumer-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer-cmake" >/dev/null
(cd "$work" && "$work/consumer-cmake/lidar_consumer" "$work/cmake-scratch.las")

# Moved elsewhere, the tree still describes itself correctly.
moved="$work/moved"
mv "$prefix" "$moved"
echo "== consumer built with pkg-config (installed tree moved)"
export PKG_CONFIG_PATH="$moved/$libdir/pkgconfig"
pkg-config --exists lidar || fail "pkg-config does not find lidar"
[ "$(pkg-config --modversion lidar)" = "$(sed -n 's/^Version: //p' "$moved/$libdir/pkgconfig/lidar.pc")" ] ||
  fail "pkg-config reports another version"
read -r -a cflags <<<"$(pkg-config --cflags lidar)"
read -r -a libs <<<"$(pkg-config --libs lidar)"
cc -std=c11 -Wall -Wextra -Wpedantic -Werror "${cflags[@]}" "$here/main.c" "${libs[@]}" \
  -Wl,-rpath,"$(pkg-config --variable=libdir lidar)" -o "$work/consumer-pc"
(cd "$work" && "$work/consumer-pc" "$work/pc-scratch.las")

echo "check_install: ok"
