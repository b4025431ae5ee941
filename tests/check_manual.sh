#!/usr/bin/env bash
# Renders every man/<page>.md again and compares it with the man/<page>.1
# kept beside it; skipped (77) where go-md2man is not installed.
set -euo pipefail
src=${1:?usage: check_manual.sh SOURCE_DIR}
command -v go-md2man >/dev/null || { echo "go-md2man not found (Debian: go-md2man): not checked"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for md in "$src"/man/*.md; do
  page=$(basename "$md" .md)
  "$src/man/render.sh" "$md" "$work/$page.1"
  if ! diff -u "$src/man/$page.1" "$work/$page.1" >"$work/$page.diff"; then
    echo "man/$page.1 is not what man/$page.md renders to; run man/render.sh man/$page.md man/$page.1"
    head -n 40 "$work/$page.diff"
    status=1
  fi
done
exit $status
