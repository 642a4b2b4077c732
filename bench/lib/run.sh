#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# 10,000 signed 4 KiB nvl files checked in one process through the library,
# against the least a check of them costs (the digest of each file's signed
# bytes and the verification of its signature, in memory): files per second
# of each, their ratio (target >= 0.8) and each one's peak memory; one
# signcheck process per file is measured beside them, for the record.  With python3 the same
# files go through the Python package (bench/python/bench_python.py) too,
# against the C loop (target >= 0.5x); the processes' rate is for the record
# only, as how fast a host starts processes is no measure of the library.
#
#   bench/lib/run.sh [BUILD_DIR]      (default build/release; part of make bench)
#
# Signs with BUILD_DIR/signtool/signtool and keys/development.key, or the key in
# SIGNCHECK_TEST_PRIVATE_KEY for a build with a key of its own.  100 lists are
# signed, each copied 100 times under a different unsigned comment line, so
# that every file is distinct and every check verifies a signature.  The last
# line is "library/verification RATIO".
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build/release}" && pwd)
signcheck=$build/signcheck/signcheck
signtool=$build/signtool/signtool
bench=$build/bench/lib/bench_lib
key=${SIGNCHECK_TEST_PRIVATE_KEY:-$here/../../keys/development.key}
if [[ ! -x /usr/bin/time && $(id -u) == 0 ]] && command -v apt-get > /dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q time > /dev/null
fi
for program in "$signcheck" "$signtool" "$bench" /usr/bin/time; do
  [[ -x $program ]] || { echo "bench/lib/run.sh: missing $program (make build; apt-get install time)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/signcheck-lib-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/files"
for ((l = 0; l < 100; l++)); do
  for ((i = 0; i < 70; i++)); do
    printf 'url=https://mirror%03d.example.net/pub/norvu/list%03d/\r\n' "$i" "$l"
  done > "$work/list.in"
  "$signtool" sign --mode nvl "$key" "$work/list.in" 2>/dev/null > "$work/list.nvl"
  signed=$(<"$work/list.nvl")
  signed=${signed%$'\r'}$'\r\n'  # $(<) took the line feed off
  for ((c = 0; c < 100; c++)); do
    # An unsigned comment line brings each file to 4096 bytes exactly.
    comment="# copy $c of list $l "
    pad=$((4096 - ${#signed} - ${#comment} - 2))
    ((pad >= 0)) || { echo "bench/lib/run.sh: the signed list is over 4 KiB" >&2; exit 1; }
    printf '%s%*s\r\n%s' "$comment" "$pad" "" "$signed" > "$work/files/$l-$c.nvl"
  done
done
find "$work/files" -name '*.nvl' | sort > "$work/list"
[[ $(wc -l < "$work/list") == 10000 && $(stat -c %s "$work/files/0-0.nvl") == 4096 ]]
"$signcheck" nvl "$work/files/0-0.nvl" > /dev/null

# The library and the verification twice around the processes (and Python
# twice), the faster run of each counting, so that a change in the machine's
# other load does not favour either.
"$bench" library "$work/list" > /dev/null  # the files into the page cache
python=$(command -v /usr/bin/python3 python3 | head -n 1 || true)
order=(library verification reading processes reading verification library)
[[ -n $python ]] && order=(library verification reading python processes python reading verification library)
for how in "${order[@]}"; do
  args=("$bench" "$how")
  [[ $how == processes ]] && args+=("$signcheck")
  [[ $how == python ]] && args=(env PYTHONPATH="$here/../../python" SIGNCHECK_LIBRARY="$build/lib/libsigncheck.so.1"
                                "$python" "$here/../python/bench_python.py")
  /usr/bin/time -f '%M' -o "$work/kib" "${args[@]}" "$work/list" >> "$work/$how.out"
  cat "$work/kib" >> "$work/$how.kib"
done
# bench_lib prints "HOW files N passed N seconds S files_per_second R".
rate() { awk '{ print $9 }' "$work/$1.out" | sort -g | tail -1; }
peak() { sort -g "$work/$1.kib" | tail -1; }

cpu() { awk -F': *' -v k="$1" '$1 ~ "^" k "[ \t]*$" { print $2; exit }' /proc/cpuinfo; }
echo "CPU: $(cpu vendor_id), family $(cpu 'cpu family'), model $(cpu model), $(cpu 'model name'); $(nproc) CPUs"
printf '%-12s %10.0f files/s  peak %6d KiB\n' library "$(rate library)" "$(peak library)"
printf '%-12s %10.0f files/s  peak %6d KiB (digest and verification alone)\n' verification \
  "$(rate verification)" "$(peak verification)"
printf '%-12s %10.0f files/s  peak %6d KiB (open, read and close alone)\n' reading "$(rate reading)" \
  "$(peak reading)"
printf '%-12s %10.0f files/s  peak %6d KiB (the driver; each signcheck process apart)\n' processes \
  "$(rate processes)" "$(peak processes)"
if [[ -n $python ]]; then
  printf '%-12s %10.0f files/s  peak %6d KiB\n' python "$(rate python)" "$(peak python)"
  awk -v p="$(rate python)" -v c="$(rate library)" -v b="$(rate processes)" 'BEGIN {
    printf "python/library %.2fx  target >= 0.5x %s\n", p / c, (p / c >= 0.5 ? "met" : "MISSED")
    printf "python/processes %.1fx\n", p / b }'
fi
awk -v a="$(rate library)" -v b="$(rate processes)" 'BEGIN { printf "library/processes %.1fx\n", a / b }'
# The most the library can reach on this host: verification and reading,
# each at its own rate, one after the other.
awk -v v="$(rate verification)" -v r="$(rate reading)" \
  'BEGIN { printf "(verification then reading)/verification %.2fx, the ceiling on this host\n", (1 / (1 / v + 1 / r)) / v }'
awk -v a="$(rate library)" -v b="$(rate verification)" \
  'BEGIN { r = a / b; printf "library/verification %.2fx  target >= 0.8x %s\n", r, (r >= 0.8 ? "met" : "MISSED") }'
