#!/bin/sh
# SPDX-License-Identifier: ISC
# Compares filedigest, and the same program pinned to its portable
# compression (SIGNCHECK_CPU=baseline), with `openssl dgst -sha256` and
# `sha256sum` on a 500,000,000-byte file: whole process times from one
# hyperfine run, the ratios ours / reference, and the peak memory of each.
# The unpinned filedigest runs under the caller's SIGNCHECK_CPU, if any.
#
#   bench/filedigest-vs-standard.sh [build-dir]
#
# Without a build directory, builds the release preset first.  The file is
# made in a temporary directory and removed afterwards.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -ge 1 ]; then
  build=$1
else
  build=$root/build/release
  (cd "$root" && cmake --preset release >/dev/null &&
    cmake --build --preset release --target filedigest)
fi
fast=$build/filedigest/filedigest
[ -x "$fast" ] || { echo "missing $fast (build the release preset)" >&2; exit 1; }
# The program as shipped, on the compression every CPU runs.
portable="env SIGNCHECK_CPU=baseline $fast"

need() {
  command -v "$1" >/dev/null 2>&1 && return 0
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    apt-get install -y "$2" >/dev/null
  fi
  command -v "$1" >/dev/null 2>&1 || { echo "needs $1 (package $2)" >&2; exit 1; }
}
need hyperfine hyperfine
need openssl openssl
need sha256sum coreutils
[ -x /usr/bin/time ] || need /usr/bin/time time

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
file=$work/input.bin
# Random content, so that no file system or cache can shortcut it.
head -c 500000000 /dev/urandom >"$file"

# All four must agree before their speed means anything.
reference=$(sha256sum "$file" | cut -d' ' -f1)
for program in "$fast" "$portable"; do
  got=$($program "$file")
  [ "$got" = "$reference" ] || { echo "$program printed $got, expected $reference" >&2; exit 1; }
done

hyperfine --warmup 2 --runs 10 --export-csv "$work/times.csv" \
  -n filedigest "$fast $file" \
  -n filedigest-portable "$portable $file" \
  -n openssl "openssl dgst -sha256 $file" \
  -n sha256sum "sha256sum $file"

echo
# The ratios hold for this CPU only.
echo "CPU: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)," \
  "SHA extensions: $(grep -qw sha_ni /proc/cpuinfo && echo yes || echo no)"
# The CSV holds one line per command: name,mean,stddev,... in seconds.
awk -F, 'NR > 1 { mean[$1] = $2 }
  function ratio(ours, ref) {
    printf "%20s / %-9s = %.3f   (%.1f ms / %.1f ms)\n", ours, ref,
      mean[ours] / mean[ref], mean[ours] * 1000, mean[ref] * 1000
  }
  END {
    ratio("filedigest", "openssl")
    ratio("filedigest", "sha256sum")
    ratio("filedigest-portable", "sha256sum")
    ratio("filedigest-portable", "openssl")
    split("filedigest filedigest-portable openssl sha256sum", names, " ")
    for (i = 1; i <= 4; i++)
      printf "%20s: %5.0f MB/s whole process\n", names[i], 500 / mean[names[i]]
  }' "$work/times.csv"

echo
echo "peak memory (the file is 500,000,000 bytes = 476.8 MiB)"
peak() {
  name=$1
  shift
  kib=$(/usr/bin/time -v "$@" 2>&1 >/dev/null | sed -n 's/.*Maximum resident set size (kbytes): //p')
  awk -v n="$name" -v k="$kib" 'BEGIN { printf "%20s: %8.1f MiB\n", n, k / 1024 }'
}
peak filedigest "$fast" "$file"
peak filedigest-portable $portable "$file"
peak openssl openssl dgst -sha256 "$file"
peak sha256sum sha256sum "$file"
