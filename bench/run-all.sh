#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# All the speed targets in one run, each as a ratio of our time to a
# reference's time measured in the same run, printed beside its target:
#   1-4. the kernels, from Google Benchmark (bench_verify's JSON output):
#        the verification under the compiled-in and a loaded key, the
#        reference verification, and SHA-0, each against OpenSSL;
#   5-8. whole processes, with hyperfine: signcheck url over 400 MB against
#        `openssl dgst -sha1`, filedigest over 500,000,000 B against
#        `openssl dgst -sha256`, and signcheck nvl on a 4 KiB list against an
#        empty C program linked -static-pie (the floor of a process) and
#        against `minisign -V` on 4 KiB.
#   7. the library (bench/lib/run.sh): 4 KiB lists through signcheck_check_file
#      against their digest and verification alone, target >= 0.8 of that rate.
#
#   bench/run-all.sh [BUILD_DIR]      (default build/release; make bench)
#
# Needs the release build with signtool and the benchmarks, a C compiler, and
# hyperfine, minisign and openssl, which it installs with apt-get when run as
# root.  The input files, about 900 MB, live in a temporary directory that is
# removed afterwards.  On a machine shared with other work the figures move
# by several percent from run to run: compare ratios from one run only.
# SIGNCHECK_CPU in the environment pins the variants of every kernel and
# program measured (cpu/cpu.h); the variants line names what ran.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build/release}" && pwd)
signcheck=$build/signcheck/signcheck
filedigest=$build/filedigest/filedigest
signtool=$build/signtool/signtool
bench_verify=$build/bench/verify/bench_verify
key=$here/../keys/development.key

for program in "$signcheck" "$filedigest" "$signtool" "$bench_verify"; do
  [[ -x $program ]] || { echo "run-all.sh: missing $program: build the release preset first (make build)" >&2; exit 2; }
done
for tool in hyperfine:hyperfine minisign:minisign openssl:openssl; do
  command -v "${tool%%:*}" > /dev/null && continue
  if [[ $(id -u) == 0 ]] && command -v apt-get > /dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${tool#*:}" > /dev/null
  fi
  command -v "${tool%%:*}" > /dev/null || { echo "run-all.sh: needs ${tool%%:*} (apt-get install ${tool#*:})" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/signcheck-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "preparing inputs in $work"
# The floor of a process: an empty C program, static and position-independent
# like our programs.
printf 'int main(void) { return 0; }\n' > "$work/empty.c"
"${CC:-cc}" -O2 -static-pie -o "$work/empty" "$work/empty.c"

# A signed list of update locations just under 4 KiB.
for ((i = 0; i < 100; i++)); do
  printf 'url=https://mirror%03d.example.net/pub/norvu/updates/\r\n' "$i"
done | head -c $((4096 - 100)) | sed '$d' > "$work/list.in"
"$signtool" sign --mode nvl "$key" "$work/list.in" > "$work/list.nvl"
"$signcheck" nvl "$work/list.nvl" > /dev/null

# 4 KiB signed with a throw-away minisign key without a password.
head -c 4096 /dev/urandom > "$work/file4k"
minisign -G -W -p "$work/minisign.pub" -s "$work/minisign.key" > /dev/null
minisign -S -s "$work/minisign.key" -m "$work/file4k" > /dev/null
minisign -V -q -p "$work/minisign.pub" -m "$work/file4k"

# A 400 MB URL list file (its content must not begin with whitespace) and a
# 500,000,000-byte file, of random bytes so that nothing can shortcut them.
{ printf 'x'; head -c $((400 * 1000 * 1000 - 1)) /dev/urandom; } > "$work/big.in"
"$signtool" sign --mode url "$key" "$work/big.in" > "$work/big.url"
rm "$work/big.in"
"$signcheck" url "$work/big.url" > /dev/null
head -c 500000000 /dev/urandom > "$work/file500m"
[[ $("$filedigest" "$work/file500m") == $(openssl dgst -sha256 -r "$work/file500m" | cut -d' ' -f1) ]] ||
  { echo "run-all.sh: filedigest and openssl disagree on the 500,000,000-byte file" >&2; exit 1; }

echo "== kernels (Google Benchmark)"
# Five repetitions of each; the medians of their CPU time, which the other
# work of a shared machine moves least.
"$bench_verify" --benchmark_filter='^BM_(VerifySignature|VerifyCompiledKey|VerifyLoadedKey|OpenSslDsaVerify|Sha0|OpenSslSha1)$' \
  --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$work/kernels.json" --benchmark_out_format=json > /dev/null
# Every benchmark's median CPU time in seconds, one "name seconds" line each.
awk -F'"' '
  /"name":/ { name = $4 }
  /"cpu_time":/ { split($0, v, ": "); time = v[2] + 0 }
  /"time_unit":/ && name ~ /_median$/ {
    scale = $4 == "ns" ? 1 : $4 == "us" ? 1e3 : $4 == "ms" ? 1e6 : 1e9
    sub(/_median$/, "", name)
    print name, time * scale / 1e9
  }' "$work/kernels.json" > "$work/kernels.txt"
cat "$work/kernels.txt"

echo "== whole processes (hyperfine)"
# The machine's other load moves by more than the differences measured, and
# hyperfine runs one command's batch after another's: five rounds of three
# runs each, the commands' order alternating, and the median of the five
# rounds' ratios.
large() {
  local name=$1 ours=$2 reference=$3 reference_command=$4
  for round in 1 2 3 4 5; do
    local args=(-n "$name" "$ours" -n "$reference" "$reference_command")
    ((round % 2)) || args=(-n "$reference" "$reference_command" -n "$name" "$ours")
    hyperfine -N --warmup 1 --runs 3 --style basic --export-csv "$work/$name-$round.csv" "${args[@]}" 2>&1 |
      grep -E '^Benchmark|Time \('
  done
}
large url "$signcheck url $work/big.url" "openssl dgst -sha1" "openssl dgst -sha1 $work/big.url"
large digest "$filedigest $work/file500m" "openssl dgst -sha256" "openssl dgst -sha256 $work/file500m"
# A process of a few milliseconds feels every change in the machine's other
# load, and hyperfine runs one command's batch after another's: five short
# rounds in alternating order, and the median of the five rounds' ratios.
small=("signcheck nvl" "$signcheck nvl $work/list.nvl" "empty -static-pie" "$work/empty"
       "minisign -V" "minisign -V -q -p $work/minisign.pub -m $work/file4k")
for round in 1 2 3 4 5; do
  args=()
  for ((i = 0; i < ${#small[@]}; i += 2)); do
    if ((round % 2)); then args+=(-n "${small[i]}" "${small[i + 1]}"); else args=(-n "${small[i]}" "${small[i + 1]}" "${args[@]}"); fi
  done
  hyperfine -N --warmup 20 --min-runs 200 --style basic --export-csv "$work/small-$round.csv" "${args[@]}" 2>&1 |
    grep -E '^Benchmark|Time \('
done
# hyperfine's CSV: command,mean,stddev,median,... in seconds.  The median
# stands up better than the mean to the other work of a shared machine.
median() { awk -F, -v n="$2" '$1 == n { print $4 }' "$1"; }
# The median over the rounds of signcheck nvl's time over the reference's,
# then of each command's time, for the record.
small_ratio() {
  for csv in "$work"/small-?.csv; do
    awk -F, -v r="$1" '$1 == "signcheck nvl" { a = $4 } $1 == r { b = $4 } END { print a / b }' "$csv"
  done | sort -g | sed -n 3p
}
small_time() { for csv in "$work"/small-?.csv; do median "$csv" "$1"; done | sort -g | sed -n 3p; }
# The same for the large inputs: large_ratio NAME REFERENCE, large_time NAME COMMAND.
large_ratio() {
  for csv in "$work/$1"-?.csv; do
    awk -F, -v o="$1" -v r="$2" '$1 == o { a = $4 } $1 == r { b = $4 } END { print a / b }' "$csv"
  done | sort -g | sed -n 3p
}
large_time() { for csv in "$work/$1"-?.csv; do median "$csv" "$2"; done | sort -g | sed -n 3p; }
kernel() { awk -v n="$1" '$1 == n { print $2 }' "$work/kernels.txt"; }
# row WHAT OURS REFERENCE LIMIT [NOTE [RATIO]]: times in seconds; RATIO, when
# given, replaces OURS / REFERENCE.
row() {
  awk -v what="$1" -v a="$2" -v b="$3" -v limit="$4" -v note="${5:-}" -v given="${6:-}" 'BEGIN {
    r = given != "" ? given : a / b
    printf "%-55s %5.2fx  target <= %.2fx %-15s %-6s (%s / %s)\n", what, r, limit, note,
      r <= limit ? "met" : "MISSED", human(a), human(b)
  }
  function human(t) {
    return t >= 1 ? sprintf("%.3f s", t) : t >= 1e-3 ? sprintf("%.2f ms", t * 1e3) : sprintf("%.1f us", t * 1e6)
  }'
}

echo
echo "== ratios, ours / reference: kernels by median CPU time, processes by median wall time"
# Every figure is of this CPU and these variants of the kernels.
cpuinfo() { sed -n "s/^$1[[:space:]]*: //p" /proc/cpuinfo | head -n 1; }
echo "   CPU: $(cpuinfo vendor_id), family $(cpuinfo 'cpu family'), model $(cpuinfo model), $(cpuinfo 'model name'), SHA extensions: $(grep -qw sha_ni /proc/cpuinfo && echo yes || echo no)"
echo "   variants: $(awk -F'"' '$2 ~ /^(sha0|sha256|mont_mul32)$/ { printf "%s %s  ", $2, $4 }' "$work/kernels.json")${SIGNCHECK_CPU+(SIGNCHECK_CPU=$SIGNCHECK_CPU)}"
echo "   (process rows: median of five rounds' ratios; times are medians for the record)"
row "verification, compiled-in key, 4 KiB / OpenSSL DSA with SHA-1" \
  "$(kernel BM_VerifyCompiledKey)" "$(kernel BM_OpenSslDsaVerify)" 0.25
row "verification, loaded key, 4 KiB / OpenSSL DSA with SHA-1" \
  "$(kernel BM_VerifyLoadedKey)" "$(kernel BM_OpenSslDsaVerify)" 0.25
row "reference verification 4 KiB / OpenSSL DSA with SHA-1" \
  "$(kernel BM_VerifySignature)" "$(kernel BM_OpenSslDsaVerify)" 0.5
row "SHA-0 64 MiB / OpenSSL SHA-1" "$(kernel BM_Sha0)" "$(kernel BM_OpenSslSha1)" 1.05
row "signcheck url 400 MB / openssl dgst -sha1" "$(large_time url url)" \
  "$(large_time url "openssl dgst -sha1")" 1.0 "" "$(large_ratio url "openssl dgst -sha1")"
row "filedigest 500,000,000 B / openssl dgst -sha256" "$(large_time digest digest)" \
  "$(large_time digest "openssl dgst -sha256")" 0.9 "" "$(large_ratio digest "openssl dgst -sha256")"
row "signcheck nvl 4 KiB / empty C program -static-pie" \
  "$(small_time "signcheck nvl")" "$(small_time "empty -static-pie")" 1.2 "" "$(small_ratio "empty -static-pie")"
row "signcheck nvl 4 KiB / minisign -V 4 KiB" \
  "$(small_time "signcheck nvl")" "$(small_time "minisign -V")" 0.6 "" "$(small_ratio "minisign -V")"

echo
echo "== the library: 10,000 signed 4 KiB nvl files in one process / their digest and verification alone"
"$here/lib/run.sh" "$build"
