#!/bin/sh
# Run by ctest after the tests (CTestCustom.cmake in the build folder): ctest
# names the tests that skipped but not why, so each one's reason is printed
# from the XML report GoogleTest wrote for it in DIR.
#
#   tests/print_skip_reasons.sh DIR
[ -d "$1" ] || exit 0
find "$1" -name '*.xml' -exec grep -l 'result="skipped"' {} + 2>/dev/null | sort | while read -r report; do
  name=${report#"$1"/}
  awk -v name="${name%.xml}" '
    function show() { print "  " name ": " why }
    # The message follows the file:line the skip is at, up to the CDATA end.
    /<skipped message=/ { why = ""; if (/\]\]><\/skipped>/) show(); else reading = 1; next }
    reading {
      line = $0
      last = sub(/\]\]><\/skipped>.*/, "", line)
      why = why (why == "" ? "" : " ") line
      if (last) { reading = 0; show() }
    }
  ' "$report"
done | awk 'NR == 1 { print "Why the skipped tests did not run:" } 1'
exit 0
