#!/usr/bin/env bash
# Renders a manual page from its Markdown source: man/render.sh SOURCE.md PAGE.1
# go-md2man (Debian: go-md2man) does the rendering; a text line that begins
# with a dot or an apostrophe, which roff would take for a request (a path
# such as ./build/Morvane in a code block, a wrapped line beginning with .las),
# is escaped with \& afterwards, and a table cell's text block closed with
# its T} on the line of the cells after it, as tbl wants.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 SOURCE.md PAGE.1" >&2; exit 2; }
command -v go-md2man >/dev/null || { echo "$0: go-md2man not found (Debian: go-md2man)" >&2; exit 77; }
go-md2man -in "$1" |
  awk '/^[.'"'"']/ && !/^\.(TH|SH|SS|PP|RS|RE|IP|TP|nh|nf|fi|TS|TE|br|sp)( |$)/ { $0 = "\\&" $0 } { print }' |
  sed -z 's/\nT}\n\t/\nT}\t/g' >"$2.tmp"
mv "$2.tmp" "$2"
