#!/bin/sh
# SPDX-License-Identifier: ISC
# 100,000 files signed and verified in one call each, their names given by
# --files-from, past the argument limit: NUL-separated to sign, one a line
# to verify.
#   many_files.sh SIGNTOOL SOURCE_DIR
set -eu
signtool=$1
source_dir=$2
count=100000
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in" "$work/out"
cd "$work/in"
awk -v n=$count 'BEGIN { for (i = 1; i <= n; i++) { f = "f" i; printf "url=https://example.invalid/%d\r\n", i > f; close(f) } }'
find . -type f -print0 >"$work/list0"
cd "$work"
fail() { echo "many_files: $*" >&2; exit 1; }
out=$(cd in && "$signtool" sign -m nvl --output-dir "$work/out" --files-from "$work/list0" --null \
  "$source_dir/keys/development.key" 2>/dev/null) || fail "sign failed: $out"
[ "$out" = "signed $count of $count files into $work/out" ] || fail "sign said: $out"
find out -type f >list
out=$("$signtool" verify -m nvl --files-from list "$source_dir/keys/development.pub") || fail "verify failed: $out"
[ "$out" = "$count files checked: $count accepted, 0 refused" ] || fail "verify said: $out"
sed -i "s/example/exomple/" out/f77
if out=$("$signtool" verify -m nvl --files-from list "$source_dir/keys/development.pub" 2>"$work/err"); then
  fail "verify accepted a changed file"
fi
[ "$out" = "$count files checked: $((count - 1)) accepted, 1 refused" ] || fail "verify said: $out"
grep -q "out/f77 does not contain a valid" "$work/err" || fail "the refused file is not named: $(cat "$work/err")"
