#!/usr/bin/env bash
# Whole-process times of signcheck against standard tools, in one run on one
# machine, with hyperfine:
#   1. signcheck nvl on a 4 KiB signed list  vs  minisign -V of a 4 KiB file
#      goal: ratio below 1.0
#   2. signcheck url over a 400 MB signed file  vs  sha1sum of the same file
#      goal: ratio at most 1.0
# Usage: bench/signcheck-vs-standard.sh [BUILD_DIR]   (default build/release)
# Set URL_SIZE_MB to use another size for the second comparison.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build_dir=${1:-$here/../build/release}
signcheck="$build_dir/nvl/signcheck"
signtool="$build_dir/tools/signtool"
key="$here/../keys/development.key"
url_size_mb=${URL_SIZE_MB:-400}

for program in "$signcheck" "$signtool"; do
  [[ -x $program ]] || { echo "missing $program: build the release preset first" >&2; exit 2; }
done
if ! command -v hyperfine > /dev/null || ! command -v minisign > /dev/null; then
  if [[ $(id -u) == 0 ]]; then
    apt-get install -y hyperfine minisign > /dev/null
  else
    echo "hyperfine and minisign are needed: apt-get install -y hyperfine minisign" >&2
    exit 2
  fi
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A 4 KiB list of update locations, signed.
{
  i=0
  while :; do
    line=$(printf 'url=https://mirror%03d.example.net/pub/norvu/updates/\r\n' "$i")
    (( $(stat -c %s "$work/list.in" 2>/dev/null || echo 0) + ${#line} + 87 > 4096 )) && break
    printf '%s\n' "$line" >> "$work/list.in"
    i=$((i + 1))
  done
}
"$signtool" sign --mode nvl "$key" "$work/list.in" > "$work/list.nvl"
"$signcheck" nvl "$work/list.nvl" > /dev/null

# A 4 KiB file with a throwaway minisign key pair without password.
head -c 4096 /dev/urandom > "$work/file4k"
minisign -G -W -p "$work/minisign.pub" -s "$work/minisign.key" > /dev/null
minisign -S -s "$work/minisign.key" -m "$work/file4k" > /dev/null
minisign -V -q -p "$work/minisign.pub" -m "$work/file4k"

# A large URL list file, signed; its content must not begin with whitespace.
{ printf 'x'; head -c "$((url_size_mb * 1000 * 1000 - 1))" /dev/urandom; } > "$work/big.in"
"$signtool" sign --mode url "$key" "$work/big.in" > "$work/big.url"
rm "$work/big.in"
"$signcheck" url "$work/big.url" > /dev/null

echo "list: $(stat -c %s "$work/list.nvl") bytes; minisign file: 4096 bytes; url file: $(stat -c %s "$work/big.url") bytes"
hyperfine -N --warmup 20 --min-runs 200 --export-csv "$work/small.csv" \
  -n "signcheck nvl (4 KiB)" "$signcheck nvl $work/list.nvl" \
  -n "minisign -V (4 KiB)" "minisign -V -q -p $work/minisign.pub -m $work/file4k"
hyperfine -N --warmup 2 --min-runs 10 --export-csv "$work/large.csv" \
  -n "signcheck url (${url_size_mb} MB)" "$signcheck url $work/big.url" \
  -n "sha1sum (${url_size_mb} MB)" "sha1sum $work/big.url"

# The mean of each command, in the CSV's second column.
ratio() {
  awk -F, 'NR == 2 { a = $2 } NR == 3 { b = $2 } END { printf "%.3f", a / b }' "$1"
}
goal() { awk -v r="$1" -v limit="$2" -v strict="$3" 'BEGIN { ok = strict ? r < limit : r <= limit; print ok ? "goal met" : "goal missed" }'; }

small=$(ratio "$work/small.csv")
large=$(ratio "$work/large.csv")
echo
echo "signcheck nvl / minisign -V : $small  (goal < 1.0: $(goal "$small" 1.0 1))"
echo "signcheck url / sha1sum     : $large  (goal <= 1.0: $(goal "$large" 1.0 0))"
