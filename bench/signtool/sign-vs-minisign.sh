#!/bin/sh
# SPDX-License-Identifier: ISC
# Signs N small nvl files (default 2000) into a fresh output directory with
# `signtool sign --output-dir`, durably, and the same files with
# `minisign -S -m`, in alternating rounds on the file system of WORK_DIR
# (default: a directory under the build tree), and prints each round's
# wall time and the median of each tool, with files/s.
#
#   bench/signtool/sign-vs-minisign.sh SIGNTOOL [FILES] [ROUNDS] [WORK_DIR]
#
# The machine may be shared: alternating rounds put both tools under the
# same load, and the medians are compared, never a single round.
set -eu
signtool=${1:?usage: $0 SIGNTOOL [FILES] [ROUNDS] [WORK_DIR]}
signtool=$(cd "$(dirname "$signtool")" && pwd)/$(basename "$signtool")
files=${2:-2000}
rounds=${3:-3}
work=${4:-$(dirname "$signtool")/bench-sign}
mkdir -p "$work" && work=$(cd "$work" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
key=$source_dir/keys/development.key
command -v minisign >/dev/null || { echo "$0: minisign is not installed" >&2; exit 2; }

rm -rf "$work"
mkdir -p "$work/in"
i=1
while [ "$i" -le "$files" ]; do
  printf 'url=https://example.invalid/file%d\r\nversion=1.%d\r\n' "$i" "$i" >"$work/in/f$i.txt"
  i=$((i + 1))
done
minisign -G -W -p "$work/m.pub" -s "$work/m.key" >/dev/null 2>&1
(cd "$work/in" && find . -name '*.txt' -print0 >"$work/list")
sync

now() { date +%s.%N; }
seconds() { echo "$2 - $1" | bc; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: >"$work/signtool.times"
: >"$work/minisign.times"
round=1
while [ "$round" -le "$rounds" ]; do
  rm -rf "$work/out" && mkdir "$work/out"
  start=$(now)
  (cd "$work/in" && "$signtool" sign --mode nvl --output-dir "$work/out" --files-from "$work/list" --null \
    "$key" >/dev/null 2>"$work/signtool.err") || { cat "$work/signtool.err" >&2; exit 1; }
  t=$(seconds "$start" "$(now)")
  echo "$t" >>"$work/signtool.times"
  find "$work/in" -name '*.minisig' -delete
  start=$(now)
  # The argument list of 100,000 names is past the limit: xargs splits it.
  (cd "$work/in" && find . -name '*.txt' -print0 | xargs -0 minisign -S -s "$work/m.key" -m >/dev/null)
  m=$(seconds "$start" "$(now)")
  echo "$m" >>"$work/minisign.times"
  echo "round $round: signtool $t s, minisign $m s"
  round=$((round + 1))
done
s=$(median <"$work/signtool.times")
m=$(median <"$work/minisign.times")
echo "median of $rounds, $files files: signtool $s s ($(echo "$files / $s" | bc) files/s)," \
  "minisign $m s ($(echo "$files / $m" | bc) files/s), ratio signtool/minisign $(echo "scale=2; $s / $m" | bc)"
rm -rf "$work"
