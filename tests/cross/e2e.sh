#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# End-to-end cases for a build of another CPU, compared with the native build:
# every case runs both programs of both builds on the same files, and the
# output and exit status of each must be the same byte for byte.
#   tests/cross/e2e.sh NATIVE_BUILD TARGET_BUILD [RUNNER...]
# RUNNER goes before each run of the target's programs (an emulator such as
# qemu-s390x-static).  With a native signtool the cases include freshly signed
# files of many sizes in every layout, and a tampered copy of each.
set -euo pipefail

native=$(cd "${1:?usage: e2e.sh NATIVE_BUILD TARGET_BUILD [RUNNER...]}" && pwd)
target=$(cd "${2:?usage: e2e.sh NATIVE_BUILD TARGET_BUILD [RUNNER...]}" && pwd)
shift 2
runner=("$@")
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
for program in "$native/signcheck/signcheck" "$native/filedigest/filedigest" "$target/signcheck/signcheck" "$target/filedigest/filedigest"; do
  [[ -x $program ]] || { echo "e2e.sh: no $program (build it first)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/signcheck-e2e.XXXXXX")
trap 'rm -rf "$work"' EXIT
data=$work/data
mkdir "$data"
cp "$source_dir"/examples/*.{nvl,msg,lst,url} "$source_dir"/tests/hash/data/*.rsp "$data"/

# Inputs around the 64-byte block boundaries of both digests, and larger ones.
for size in 0 1 55 56 57 63 64 65 119 120 128 1000 65536 3000001; do
  head -c "$size" /dev/urandom > "$data/random-$size.bin"
done

signtool=$native/signtool/signtool
if [[ -x $signtool ]]; then
  key=$source_dir/keys/development.key
  sign() { "$signtool" sign --mode "$1" "$key" "$2" > "$3"; }
  # The tagged lists: 1 to 300 entries, lines of many lengths.
  for entries in 1 7 300; do
    for tag in url msg; do
      for ((i = 0; i < entries; i++)); do
        printf '%s=entry %d %*s\r\n' "$tag" "$i" $((i % 97)) "x"
      done > "$work/list.in"
      sign "${tag/url/nvl}" "$work/list.in" "$data/list-$tag-$entries.${tag/url/nvl}"
    done
    { printf '; comment\r\n[NorvuUpdateList]\r\n'
      for ((i = 0; i < entries; i++)); do printf 'File%d=part-%d.bin,%d\r\n' "$i" "$i" $((i * 4099)); done
      printf '[NorvuUpdateListEnd]\r\n'; } > "$work/list.in"
    sign lst "$work/list.in" "$data/update-$entries.lst"
  done
  # URL lists hash their content straight from the mapping: sizes around blocks.
  for size in 1 55 56 64 65 4096 1000003 3000001; do
    { printf 'x'; head -c $((size - 1)) /dev/urandom; } > "$work/url.in"
    sign url "$work/url.in" "$data/content-$size.url"
  done
  # One changed byte, at the end of each signed file, must fail the same way.
  for file in "$data"/list-* "$data"/update-* "$data"/content-*; do
    cp "$file" "$file.tampered"
    printf 'Y' | dd of="$file.tampered" bs=1 seek=$(($(stat -c %s "$file") / 2)) conv=notrunc status=none
  done
fi

# One line per case: the command, its status and its output's digest.  Each
# build's programs are called as bin/NAME from a folder of their own, so the
# usage text, which names the program as called, is the same for both.
cases=(
  "signcheck" "signcheck nvl" "signcheck nvl data/mirrors.nvl extra" "signcheck foo data/mirrors.nvl"
  "signcheck NVList data/mirrors.nvl" "signcheck Url data/mirrors.url" "signcheck lst data/missing"
  "signcheck url data/missing" "signcheck msg data/missing" "signcheck url data" "signcheck lst data"
  "filedigest" "filedigest data/missing" "filedigest data" "filedigest data/mirrors.nvl extra")
for file in "$data"/*; do
  for mode in nvl msg lst url; do cases+=("signcheck $mode data/${file##*/}"); done
  cases+=("filedigest data/${file##*/}")
done

run_cases() {
  local build=$1 dir=$work/$(basename "$1")-$2 case status
  shift 2
  mkdir -p "$dir/bin"
  ln -s "$build/signcheck/signcheck" "$build/filedigest/filedigest" "$dir/bin/"
  ln -s "$data" "$dir/data"
  cd "$dir"
  for case in "${cases[@]}"; do
    status=0
    # shellcheck disable=SC2086  # a case is a command line of plain words
    "$@" bin/$case > out 2>&1 || status=$?
    printf '%s -> %s %s\n' "$case" "$status" "$(sha256sum < out | cut -c1-16)"
  done
}

run_cases "$native" native > "$work/native.txt"
run_cases "$target" target "${runner[@]}" > "$work/target.txt"
if ! diff -u "$work/native.txt" "$work/target.txt"; then
  echo "e2e: $target differs from $native (lines: command -> status output digest)"
  exit 1
fi
echo "e2e: $(wc -l < "$work/native.txt") cases give the same output and status on $target as natively"
