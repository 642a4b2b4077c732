#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# A publisher's build: own_key_test.sh CMAKE SOURCE_DIR SIGNTOOL CXX
# Configure must refuse a SIGNCHECK_PUBLIC_KEY that does not exist, print the
# ID that `signtool id` gives for a fresh key (configured with the options
# keygen prints), and the signcheck built with it must carry that ID, accept
# a file that key signs and refuse the shipped examples.  The packages of the
# next key, the serial raised, must upgrade those of the first, and the first
# those of a build that named its key alone (+key<ID>).  Status 77:
# dpkg is not there to compare the versions.
set -euo pipefail

cmake=$1 source=$2 signtool=$3 cxx=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/signcheck-own-key.XXXXXX")
work=$(cd "$work" && pwd -P)  # as keygen prints it
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

configure() {
  "$cmake" -S "$source" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$cxx" \
    -DSIGNCHECK_BUILD_TESTS=OFF -DSIGNCHECK_BUILD_BENCH=OFF "$@" > "$work/configure.log" 2>&1
}

if configure -DSIGNCHECK_PUBLIC_KEY="$work/missing.pub"; then
  fail "configure accepted a key file that does not exist"
fi
# CMake wraps its messages: join the lines before looking.
tr -s ' \n' '  ' < "$work/configure.log" | grep -qF "SIGNCHECK_PUBLIC_KEY=$work/missing.pub: no such key file" ||
  { cat "$work/configure.log" >&2; fail "configure did not name the missing key file"; }
rm -rf "$work/build"

"$signtool" keygen --no-passphrase "$work/own.key" "$work/own.pub" > "$work/keygen.log" 2> /dev/null
id=$("$signtool" id "$work/own.pub")
grep -q "^key ID: $id$" "$work/keygen.log" || fail "keygen printed: $(cat "$work/keygen.log")"
read -r -a options < <(grep -o ' -DSIGNCHECK_PUBLIC_KEY=.*' "$work/keygen.log")
[[ ${options[*]} == "-DSIGNCHECK_PUBLIC_KEY=$work/own.pub -DSIGNCHECK_TEST_PRIVATE_KEY=$work/own.key" ]] ||
  fail "keygen printed the options: ${options[*]}"
configure "${options[@]}" || { cat "$work/configure.log" >&2; fail "configure failed"; }
grep -q "signcheck key: $id ($work/own.pub)" "$work/configure.log" ||
  { cat "$work/configure.log" >&2; fail "configure did not print the key ID $id"; }
! grep -q "development key" "$work/configure.log" || fail "configure warned about the development key"

"$cmake" --build "$work/build" -j 2 --target signcheck > "$work/build.log" 2>&1 ||
  { tail -n 30 "$work/build.log" >&2; fail "the build failed"; }
signcheck=$work/build/signcheck/signcheck
[[ $("$signtool" id "$signcheck") == "$id" ]] || fail "signtool id on the signcheck built gave $("$signtool" id "$signcheck")"
printf 'url=https://updates.example.com/\r\n' > "$work/list"
"$signtool" sign --mode nvl -o "$work/list.nvl" "$work/own.key" "$work/list"
status=0
"$signcheck" nvl "$work/list.nvl" > "$work/out" || status=$?
[[ $status == 0 ]] || fail "signcheck refused a file signed with its key: $(cat "$work/out")"
status=0
"$signcheck" nvl "$source/examples/mirrors.nvl" > "$work/out" || status=$?
[[ $status == 70 ]] || fail "signcheck with its own key gave $status for a development-key file"

# A rotation: the next key, with the serial raised, packages as an upgrade
# even when its ID sorts first.
package_version() {
  sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$work/build/CPackConfig.cmake"
}
old_version=$(package_version)
[[ $old_version == *+keyset1.$id ]] || fail "the first key's packages have version $old_version"
for ((draw = 0; draw < 100; ++draw)); do
  rm -f "$work/new.key" "$work/new.pub"
  "$signtool" keygen --no-passphrase "$work/new.key" "$work/new.pub" > /dev/null 2>&1
  [[ $("$signtool" id "$work/new.pub") < "$id" ]] && break
done
configure -DSIGNCHECK_PUBLIC_KEY="$work/new.pub" -DSIGNCHECK_TEST_PRIVATE_KEY="$work/new.key" -DSIGNCHECK_KEY_SERIAL=2 ||
  { cat "$work/configure.log" >&2; fail "configure failed for the next key"; }
new_version=$(package_version)
command -v dpkg > /dev/null || { echo "SKIP: dpkg is not installed to compare $old_version with $new_version"; exit 77; }
dpkg --compare-versions "$new_version" gt "$old_version" || fail "$new_version does not upgrade $old_version"
# Nor may the first serial downgrade a build of the scheme without one.
dpkg --compare-versions "$old_version" gt "${old_version%%+*}+keyffffffffffffffff" ||
  fail "$old_version does not upgrade the versions +key<ID>"
echo "PASS"
