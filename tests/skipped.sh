#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Prints every test that a ctest run skipped, one line each with the reason
# it gave, from the JUnit file ctest wrote (--output-junit).  ctest itself
# shows only "Skipped".  The reason is the test's "SKIP: ..." line, a
# GoogleTest skip's message, or else its last line of output.
#   tests/skipped.sh JUNIT_FILE
set -euo pipefail
[[ -f $1 ]] || exit 0
awk '
  function unescape(text) {
    gsub(/&lt;/, "<", text); gsub(/&gt;/, ">", text); gsub(/&quot;/, "\"", text)
    gsub(/&apos;/, "\047", text); gsub(/&amp;/, "\\&", text)
    return text
  }
  function take(line) {
    if (line ~ /^[ \t]*$/) return
    line = unescape(line)
    last = line
    if (reason != "") return
    if (after_gtest_skip) { reason = line; return }
    if (line ~ /: Skipped$/) { after_gtest_skip = 1; return }
    if (line ~ /^(SKIP|[Ss]kipped): /) { sub(/^[^:]*: /, "", line); reason = line }
  }
  /<testcase / {
    skipped = $0 ~ /status="notrun"/
    match($0, /name="[^"]*"/)
    name = unescape(substr($0, RSTART + 6, RLENGTH - 7))
    reason = ""; last = ""; after_gtest_skip = 0; in_output = 0
  }
  skipped && /<system-out>/ { in_output = 1; sub(/.*<system-out>/, "") }
  skipped && in_output {
    line = $0
    ended = sub(/<\/system-out>.*/, "", line)
    take(line)
    if (ended) in_output = 0
  }
  skipped && /<\/testcase>/ {
    if (!count++) print "Skipped, with the reason:"
    print "  " name ": " (reason != "" ? reason : last != "" ? last : "(no output)")
    skipped = 0
  }
' "$1"
