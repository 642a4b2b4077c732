#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# A publisher's build: own_key_test.sh CMAKE SOURCE_DIR SIGNTOOL CXX
# Configure must refuse a SIGNCHECK_PUBLIC_KEY that does not exist, a
# private key (naming the public file to give instead) and any file the key
# reader refuses, asking that reader rather than reading the file itself; it
# must print
# the ID that `signtool id` gives for a fresh key (configured with the options
# keygen prints).  A rotation's build, that key and the next (old;new), prints
# both IDs, and the signcheck built with them carries both, accepts a file
# either key signs and refuses a third key's and the shipped examples; the
# package installs both public keys.  Each step of the rotation (old,
# old;new, new), the serial raised, must upgrade the packages of the step
# before, and the first those of a build that named its key alone
# (+key<ID>).  Status 77: dpkg is not there to compare the versions.
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
[[ ${options[*]} == "-DSIGNCHECK_PUBLIC_KEY=$work/own.pub -DSIGNCHECK_KEY_SERIAL=N -DSIGNCHECK_TEST_PRIVATE_KEY=$work/own.key" ]] ||
  fail "keygen printed the options: ${options[*]}"
options[1]=-DSIGNCHECK_KEY_SERIAL=1  # the serial a publisher gives a first key
configure "${options[@]}" || { cat "$work/configure.log" >&2; fail "configure failed"; }
grep -qxF "signcheck key: $id ($work/own.pub)" "$work/configure.log" ||
  { cat "$work/configure.log" >&2; fail "configure did not print the key ID $id"; }
! grep -q "development key" "$work/configure.log" || fail "configure warned about the development key"
cmp -s <("$signtool" id "$work/build/keys/$id.pub") <(echo "$id") || fail "the key written back is not key $id"
! grep -q '^x' "$work/build/keys/$id.pub" || fail "the key written back holds x"

# Rows through configure: each key text and the refusal configure must give.
# The two-faced files hold a second key's y behind a control character that
# an earlier parser of the build took for a line end.
cp "$work/own.pub" "$work/two-faced.pub"
printf '#\001y = 2\n' >> "$work/two-faced.pub"
cp "$source/keys/development.pub" "$work/dev-copy.pub"
printf '#\001y = 2\n' >> "$work/dev-copy.pub"
rows=("$work/own.key|$work/own.key: a private key, not a public one: give its public key file ($work/own.pub) instead"
      "$work/two-faced.pub|$work/two-faced.pub:7: a comment holds a control character"
      "$work/own.pub;$work/dev-copy.pub|$work/dev-copy.pub:7: a comment holds a control character")
for row in "${rows[@]}"; do
  if configure -DSIGNCHECK_PUBLIC_KEY="${row%%|*}"; then
    fail "configure accepted SIGNCHECK_PUBLIC_KEY=${row%%|*}"
  fi
  tr -s ' \n' '  ' < "$work/configure.log" | grep -qF "${row#*|}" ||
    { cat "$work/configure.log" >&2; fail "configure did not refuse with: ${row#*|}"; }
done

package_version() {
  sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$work/build/CPackConfig.cmake"
}
old_version=$(package_version)
[[ $old_version == *+keyset1.$id ]] || fail "the first key's packages have version $old_version"

# The next key, drawn until its ID sorts first, so that only the serial can
# make the rotation's packages upgrades; and a key the build does not know.
for ((draw = 0; draw < 100; ++draw)); do
  rm -f "$work/new.key" "$work/new.pub"
  "$signtool" keygen --no-passphrase "$work/new.key" "$work/new.pub" > /dev/null 2>&1
  new_id=$("$signtool" id "$work/new.pub")
  [[ $new_id < "$id" ]] && break
done
"$signtool" keygen --no-passphrase "$work/stranger.key" "$work/stranger.pub" > /dev/null 2>&1

configure -DSIGNCHECK_PUBLIC_KEY="$work/own.pub;$work/new.pub" -DSIGNCHECK_KEY_SERIAL=2 ||
  { cat "$work/configure.log" >&2; fail "configure failed for the ring of both keys"; }
if ! grep -qxF "signcheck key 1 of 2: $id ($work/own.pub)" "$work/configure.log" ||
  ! grep -qxF "signcheck key 2 of 2: $new_id ($work/new.pub)" "$work/configure.log"; then
  cat "$work/configure.log" >&2
  fail "configure did not print both key IDs, a line each"
fi
ring_version=$(package_version)
[[ $ring_version == *+keyset2.$id.$new_id ]] || fail "the ring's packages have version $ring_version"
for key_id in "$id" "$new_id"; do
  grep -q "RENAME \"$key_id.pub\"" "$work/build/cmake_install.cmake" || fail "the package does not install $key_id.pub"
done

"$cmake" --build "$work/build" -j 2 --target signcheck > "$work/build.log" 2>&1 ||
  { tail -n 30 "$work/build.log" >&2; fail "the build failed"; }
signcheck=$work/build/signcheck/signcheck
[[ $("$signtool" id "$signcheck") == "$id"$'\n'"$new_id" ]] ||
  fail "signtool id on the signcheck built gave $("$signtool" id "$signcheck")"
printf 'url=https://updates.example.com/\r\n' > "$work/list"
expect_status() {  # status, file, what
  local status=0
  "$signcheck" nvl "$2" > "$work/out" || status=$?
  [[ $status == "$1" ]] || fail "signcheck gave $status for $3: $(cat "$work/out")"
}
for key in own new stranger; do
  "$signtool" sign --mode nvl -o "$work/list.$key.nvl" "$work/$key.key" "$work/list"
done
expect_status 0 "$work/list.own.nvl" "a file signed with the first key"
expect_status 0 "$work/list.new.nvl" "a file signed with the second key"
expect_status 70 "$work/list.stranger.nvl" "a file signed with a key it does not have"
expect_status 70 "$source/examples/mirrors.nvl" "a development-key file"

# The rotation's end: the new key alone.
configure -DSIGNCHECK_PUBLIC_KEY="$work/new.pub" -DSIGNCHECK_TEST_PRIVATE_KEY="$work/new.key" -DSIGNCHECK_KEY_SERIAL=3 ||
  { cat "$work/configure.log" >&2; fail "configure failed for the next key"; }
new_version=$(package_version)
command -v dpkg > /dev/null || { echo "SKIP: dpkg is not installed to compare $old_version, $ring_version and $new_version"; exit 77; }
dpkg --compare-versions "$ring_version" gt "$old_version" || fail "$ring_version does not upgrade $old_version"
dpkg --compare-versions "$new_version" gt "$ring_version" || fail "$new_version does not upgrade $ring_version"
# Nor may the first serial downgrade a build of the scheme without one.
dpkg --compare-versions "$old_version" gt "${old_version%%+*}+keyffffffffffffffff" ||
  fail "$old_version does not upgrade the versions +key<ID>"
echo "PASS"
