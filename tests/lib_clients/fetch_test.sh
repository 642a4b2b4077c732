#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Runs the download-into-memory example (fetch MODE NAME < FILE) beside the
# file one (check MODE FILE), itself held to signcheck by examples_test.sh:
#   fetch_test.sh EXAMPLES_DIR CHECK FETCH   ("-" for no EXAMPLES_DIR)
# On every shipped example both give the same status, stdout and stderr; the
# valid ones print their signed bytes, the tampered ones give 70, and an
# input far larger than fetch's first buffer is read whole.
set -euo pipefail
examples=${1#-} check=$2 fetch=$3
[[ -n $examples ]] || { echo "SKIP: no examples signed for the compiled-in key (configure with SIGNCHECK_TEST_PRIVATE_KEY)"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/signcheck-fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# compare MODE FILE STATUS: fetch on FILE through stdin exits with STATUS
# and prints what check prints for FILE.
compare() {
  local fetched=0 checked=0
  "$fetch" "$1" "$2" < "$2" > "$work/fetch.out" 2> "$work/fetch.err" || fetched=$?
  "$check" "$1" "$2" > "$work/check.out" 2> "$work/check.err" || checked=$?
  [[ $fetched == "$3" && $checked == "$3" ]] || fail "$1 $2: fetch $fetched, check $checked, not $3"
  cmp -s "$work/fetch.out" "$work/check.out" || fail "$1 $2: printed '$(cat "$work/fetch.out")', not check's"
  cmp -s "$work/fetch.err" "$work/check.err" || fail "$1 $2: message '$(cat "$work/fetch.err")', not check's"
  if (($3 == 0)); then
    [[ -s $work/fetch.out ]] || fail "$1 $2: valid, yet printed nothing"
  fi
}
compare nvl "$examples/mirrors.nvl" 0
compare msg "$examples/messages.msg" 0
compare lst "$examples/updates.lst" 0
compare url "$examples/mirrors.url" 0
compare nvl "$examples/tampered-entry.nvl" 70
compare msg "$examples/missing-signature.msg" 70
compare url "$examples/tampered-content.url" 70
compare xyz "$examples/mirrors.nvl" 64

# Unsigned lines ahead of the signed region leave an update list valid.
for ((i = 0; i < 20000; ++i)); do printf 'File%d=unsigned.bin,1,0\r\n' "$i"; done > "$work/large.lst"
cat "$examples/updates.lst" >> "$work/large.lst"
compare lst "$work/large.lst" 0
"$check" lst "$examples/updates.lst" | cmp -s - "$work/fetch.out" || fail "large.lst: not the signed bytes of updates.lst"
echo "PASS"
