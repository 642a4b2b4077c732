#!/usr/bin/env bash
# SPDX-License-Identifier: ISC
# Installs the build into a prefix of its own and builds examples/c/check.c
# against the installed libsigncheck as its users do: with pkg-config
# (shared, and static into a program that needs no shared library), and in a
# CMake project outside the tree through find_package(signcheck).  Each
# program checks a shipped example as signcheck does.  (The manual page is
# linted in install.debian_lint.)
#   install_test.sh CMAKE BUILD_DIR CONFIG LIBDIR SOURCE_DIR EXAMPLES_DIR
# install_manifest.txt, which installing leaves in the build directory, is
# put back as it was.  Status 77 means skipped.
set -euo pipefail
cmake=$1 build=$2 config=$3 libdir=$4 source=$5 examples=${6#-}
[[ -n $examples ]] || { echo "SKIP: no examples signed for the compiled-in key (configure with SIGNCHECK_TEST_PRIVATE_KEY)"; exit 77; }

for tool in cc:gcc pkg-config:pkgconf; do
  command -v "${tool%:*}" > /dev/null || { echo "SKIP: ${tool%:*} is not installed (apt-get install ${tool#*:})"; exit 77; }
done
# shellcheck source=tests/install/setup.sh
source "$(dirname "$0")/../install/setup.sh"
install_setup "$build" lib-install

prefix=$work/prefix lib=$work/prefix/$libdir
config_args=()
[[ -n $config ]] && config_args=(--config "$config")
quietly "$cmake" --install "$build" "${config_args[@]}" --prefix "$prefix"
for file in include/signcheck.h "$libdir"/libsigncheck.a "$libdir"/libsigncheck.so.1 "$libdir"/libsigncheck.so \
  "$libdir"/pkgconfig/signcheck.pc "$libdir"/cmake/signcheck/signcheckConfig.cmake; do
  [[ -e $prefix/$file ]] || fail "$file is not installed"
done
[[ $(readelf -d "$lib/libsigncheck.so.1") == *"Library soname: [libsigncheck.so.1]"* ]] || fail "no SONAME libsigncheck.so.1"
exported=$(nm -D --defined-only "$lib/libsigncheck.so.1" | awk '{print $3}' | grep -v '^signcheck_.*@@LIBSIGNCHECK_1\.[012]$' || true)
[[ $exported == $'LIBSIGNCHECK_1.0\nLIBSIGNCHECK_1.1\nLIBSIGNCHECK_1.2' ]] || fail "libsigncheck.so.1 exports more than the interface: $exported"

[[ -f $prefix/share/man/man3/libsigncheck.3 || -f $prefix/share/man/man3/libsigncheck.3.gz ]] ||
  fail "libsigncheck(3) is not installed"

# run PROGRAM: checks the shipped nvl example as signcheck does.
"$prefix/bin/signcheck" nvl "$examples/mirrors.nvl" > "$work/expected" || true
run() {
  local status=0
  "$1" nvl "$examples/mirrors.nvl" > "$work/out" 2> "$work/err" || status=$?
  [[ $status == 0 ]] || fail "$1 exited with $status: $(cat "$work/err")"
  cmp -s "$work/out" "$work/expected" || fail "$1 printed: $(cat "$work/out")"
}

export PKG_CONFIG_PATH=$lib/pkgconfig
check=$source/examples/c/check.c
cflags=(-std=c11 -Wall -Wextra -Wpedantic -Werror)
# shellcheck disable=SC2046
quietly cc "${cflags[@]}" "$check" $(pkg-config --cflags --libs signcheck) -Wl,-rpath,"$lib" -o "$work/check-shared"
readelf -d "$work/check-shared" | grep -q 'NEEDED.*libsigncheck\.so\.1' || fail "check-shared needs no libsigncheck.so.1"
run "$work/check-shared"
# shellcheck disable=SC2046
quietly cc "${cflags[@]}" -static "$check" $(pkg-config --static --cflags --libs signcheck) -o "$work/check-static"
! readelf -d "$work/check-static" | grep -q NEEDED || fail "check-static needs a shared library"
run "$work/check-static"

quietly "$cmake" -S "$source/tests/lib_clients/consumer" -B "$work/client" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCHECK_SOURCE="$check" -DCMAKE_BUILD_RPATH="$lib"
quietly "$cmake" --build "$work/client"
run "$work/client/check_shared"
run "$work/client/check_static"
echo "PASS"
