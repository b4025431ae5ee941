#!/usr/bin/env bash
# README's first command, as written there, where neither GoogleTest nor GDAL
# can be found: it configures with a one-line notice for each, builds the two
# demo programs and runs them. Only the configure step is told to ignore the
# installed GoogleTest and GDAL.
#
#   tests/check_demo_without_gtest.sh SOURCE_DIR CMAKE
set -euo pipefail
src=$1 cmake=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "check_demo_without_gtest: $*"; exit 1; }

line=$(grep -m1 -e '--target Morvane morvane-sample' "$src/README.md" | sed 's/^ *//') ||
  fail "README.md has no demo command"
[[ $line == *'cmake -S . '* ]] || fail "the demo command does not configure with 'cmake -S .': $line"

mkdir "$work/bin"
cat >"$work/bin/cmake" <<EOF
#!/bin/sh
case "\$1" in
  -S) exec "$cmake" -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_GDAL=ON "\$@" ;;
  *) exec "$cmake" "\$@" ;;
esac
EOF
chmod +x "$work/bin/cmake"

# The command runs in an empty folder, its source folder being this tree.
cd "$work"
configure="cmake -S $(printf %q "$src") "
PATH="$work/bin:$PATH" bash -c "${line/"cmake -S . "/"$configure"}" >log 2>&1 || { cat log; fail "the demo command failed"; }

notices=$(grep -c 'GoogleTest not found' log || true)
[ "$notices" = 1 ] || { cat log; fail "expected one notice that GoogleTest is missing, got $notices"; }
notices=$(grep -c 'GDAL >= 3.6 not found' log || true)
[ "$notices" = 1 ] || { cat log; fail "expected one notice that GDAL is missing, got $notices"; }
! grep -q 'warning:' log || { cat log; fail "the build printed warnings"; }
[ -s sample/above-ground.las ] || { cat log; fail "no sample/above-ground.las"; }
[ ! -e build/CTestTestfile.cmake ] || fail "the tests were configured all the same"
help=$(./build/morvane-sample --help) || fail "morvane-sample --help exited $?"
[[ $help == *--points* ]] || fail "morvane-sample --help does not list its options: $help"
echo "demo command without GoogleTest and GDAL: $(grep 'not found' log)"
